// SPDX-License-Identifier: MIT
// A capture replayed as a chip: each frame the tool sends is matched with the
// next frame the capture recorded, and what the chip sent after that frame
// goes out at its recorded gap (scaled by the speed). Strict: a frame that
// differs from the recorded one stops the replay, saying both frames and
// where. Lenient: whatever the frame, the next recorded answer follows.
// Rate changes in the capture are followed: in strict mode a port left at
// another rate than the capture's stops it too. Pure: the host feeds bytes
// and time and sends what is due.
#pragma once

#include <deque>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "protocol/capture.h"

namespace vorla::sim {

class Replay {
public:
    struct Options {
        bool strict = true;
        double speed = 1.0;  // recorded gaps divided by this
    };
    static constexpr double kNever = 1e300;
    // A frame the tool sends ends at its tail and check byte, or after this
    // much quiet (a frame without a tail).
    static constexpr double kQuietSeconds = 0.05;

    Replay(const capture::Capture& capture, Options options);

    // Bytes the tool wrote, heard at `now` with its port at `baud` (0: unknown).
    void hear(const QByteArray& bytes, double now, int baud);
    // Time moves on: a frame without a tail ends after quiet.
    void poll(double now);
    // The chip's bytes due by `now`, to send; when the next are due.
    QByteArray takeDue(double now);
    double nextDue() const;
    // Why the replay stopped; empty while it goes on.
    const QString& stopped() const { return stopped_; }
    // What happened, a line each, since last asked.
    QStringList takeNotes();

private:
    struct Exchange {
        QByteArray frame;  // the tool's frame as recorded; empty for what came before the first
        int packet = 0;    // its packet's number in the capture, from 1
        int baud = 0;      // the capture's rate when it was sent
        std::vector<std::pair<double, QByteArray>> answer;  // seconds after the frame, the chip's bytes
    };
    void frameHeard(const QByteArray& frame, double now, int baud);
    void stop(const QString& why);

    Options options_;
    std::deque<Exchange> script_;
    QByteArray heard_;
    double lastHeard_ = 0;
    std::deque<std::pair<double, QByteArray>> due_;  // absolute times
    QString stopped_;
    QStringList notes_;
    bool started_ = false;
};

}  // namespace vorla::sim
