// SPDX-License-Identifier: MIT
// A capture replayed as a chip on the master side of a pseudo-terminal.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "sim/pty_end.h"
#include "sim/replay.h"

namespace vorla::sim {

class ReplayHost : public QObject {
    Q_OBJECT
public:
    ReplayHost(const capture::Capture& capture, Replay::Options options, QObject* parent = nullptr);

    bool start(QString* error = nullptr);
    QString devicePath() const { return pty_.devicePath(); }

signals:
    // A line for every frame heard and for the stop.
    void note(const QString& line);
    // The replay stopped (a strict replay met a frame that differs).
    void stopped(const QString& why);

private:
    void pump();
    double now() const { return double(clock_.nsecsElapsed()) * 1e-9; }

    PtyEnd pty_;
    Replay replay_;
    QTimer timer_;
    QElapsedTimer clock_;
    bool stopSaid_ = false;
};

}  // namespace vorla::sim
