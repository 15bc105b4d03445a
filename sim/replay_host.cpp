// SPDX-License-Identifier: MIT
#include "sim/replay_host.h"

#include <algorithm>
#include <cmath>

namespace vorla::sim {

ReplayHost::ReplayHost(const capture::Capture& capture, Replay::Options options, QObject* parent)
    : QObject(parent), pty_(this), replay_(capture, options), timer_(this) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &ReplayHost::pump);
    connect(&pty_, &PtyEnd::received, this, [this](const QByteArray& bytes) {
        replay_.hear(bytes, now(), pty_.portLine().first);
        pump();
    });
    clock_.start();
}

bool ReplayHost::start(QString* error) { return pty_.open(error); }

// Sends what is due, says what happened, and wakes when the next is due.
void ReplayHost::pump() {
    const double t = now();
    replay_.poll(t);
    const QByteArray due = replay_.takeDue(t);
    if (!due.isEmpty()) pty_.write(due);
    for (const QString& line : replay_.takeNotes()) emit note(line);
    if (!replay_.stopped().isEmpty() && !stopSaid_) {
        stopSaid_ = true;
        emit stopped(replay_.stopped());
        return;
    }
    const double next = replay_.nextDue();
    if (next < Replay::kNever) timer_.start(int(std::max(0.0, std::ceil((next - now()) * 1000.0))));
}

}  // namespace vorla::sim
