// SPDX-License-Identifier: MIT
#include "link/event_pump.h"

#include <chrono>
#include <cmath>
#include <thread>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>

#include "link/serial_control.h"

namespace vorla {

QtEventPump::QtEventPump(SerialControl* port) : port_(port) { clock_.start(); }

double QtEventPump::now() const { return double(clock_.nsecsElapsed()) * 1e-9; }

void QtEventPump::waitForEvents(double deadline) {
    QTimer wake;
    if (deadline != kNoDeadline) {
        const double remainingMs = (deadline - now()) * 1000.0;
        if (remainingMs <= 0) return;
        if (remainingMs < 2.0) {
            // Timers count whole milliseconds and may fire a little late:
            // the last stretch (under 2 ms) is slept precisely, then
            // whatever came meanwhile is handled.
            std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(remainingMs));
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            return;
        }
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        wake.start(int(remainingMs) - 1);  // wakes before the deadline
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void QtEventPump::blockingWait(int ms) {
    if (ms <= 0) return;
    if (port_) port_->holdEvents();
    const double deadline = now() + ms / 1000.0;
    while (!stopping()) {
        const double remainingMs = (deadline - now()) * 1000.0;
        if (remainingMs <= 0) break;
        QTimer wake;
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        wake.start(int(std::ceil(remainingMs)));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents);
    }
    if (port_) port_->releaseEvents();
    // Input held back meanwhile stays queued until the dispatcher wakes up;
    // wake it so that input runs as soon as the current handler returns.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) dispatcher->wakeUp();
}

}  // namespace vorla
