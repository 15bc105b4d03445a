// SPDX-License-Identifier: MIT
// The virtual chip without a transport: its protocol model, the line its
// bytes travel on, and the timers that drive both. Whatever carries bytes to
// and from a port (a pseudo-terminal, or a serial control in the same
// program) feeds hear() and passes on what delivered() hands over.
#pragma once

#include <atomic>
#include <deque>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "sim/chip_model.h"
#include "sim/voice.h"

namespace vorla::sim {

class ChipCore : public QObject {
    Q_OBJECT
public:
    explicit ChipCore(const ChipOptions& options = {}, QObject* parent = nullptr);

    ChipModel& model() { return model_; }
    // What the chip has done so far, readable from any thread without
    // disturbing it (updated after every event it handles).
    struct Counters {
        std::atomic<int> framesHeard{0};
        std::atomic<int> accepted{0};
        std::atomic<int> rejected{0};
        std::atomic<int> finished{0};
        std::atomic<bool> playing{false};
    };
    const Counters& counters() const { return counters_; }

    // Bytes from the port, sent at `portBaud` with `portFormatOk` telling
    // whether the port is 8 data bits, no parity, 1 stop bit. At another
    // rate or format than the chip's the chip hears only noise.
    void hear(const QByteArray& bytes, int portBaud, bool portFormatOk);
    // Fault injection: noise bytes, or any bytes, sent now.
    void injectNoise(int count);
    void sendRaw(const QByteArray& bytes);
    // The chip is switched off: nothing more goes out.
    void switchOff();

signals:
    // Bytes that reach the port now, as the line hands them over.
    void delivered(const QByteArray& bytes);
    // One line per frame heard and per event, in words.
    void note(const QString& line);
    // What the operator should know about the chip's voice (no sound
    // output, a recording that failed), said once.
    void voiceNotice(const QString& line);

private:
    void onTick();
    void hearDue();
    void runModel();
    void putOnLine(const ChipModel::Output& out);
    void sendDue();
    double now() const { return double(clock_.nsecsElapsed()) * 1e-9; }

    void voiceReady(int id, double seconds);

    ChipModel model_;
    Voice* voice_ = nullptr;  // when plays are timed by their audio
    LineModel line_;
    int lineBaud_ = 1200;                          // the rate of the next bytes put on the line
    std::deque<std::pair<double, int>> switches_;  // (when, baud): the chip's rate changes
    // Bytes from the port reach the chip once they have crossed the wire:
    // (when their last bit is in, bytes, the port's rate, its format right).
    struct Inbound {
        double at;
        QByteArray bytes;
        int baud;
        bool formatOk;
    };
    std::deque<Inbound> inbound_;
    double inboundFree_ = 0;  // when the wire from the port is free
    QTimer hearing_;
    QTimer tick_;
    QTimer pace_;
    QElapsedTimer clock_;
    bool noiseReported_ = false;
    Counters counters_;
};

}  // namespace vorla::sim
