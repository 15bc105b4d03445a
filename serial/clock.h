// SPDX-License-Identifier: MIT
// Time for the conversation with the chip: a monotonic clock and alarms
// that ring at a moment on it. Every wait of the conversation is an alarm
// and a state, never a loop that handles events inside a handler. Tests
// use a virtual clock that moves only when they move it.
#pragma once

#include <functional>
#include <memory>

#include <QElapsedTimer>

namespace vorla {

class Alarm {
public:
    virtual ~Alarm() = default;
    // Rings once at `at` (seconds on the clock); setting it again moves it.
    virtual void setAt(double at) = 0;
    virtual void cancel() = 0;
    virtual bool pending() const = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds on a monotonic clock.
    virtual double now() const = 0;
    // An alarm that runs `ring` on the clock's thread when it rings, never
    // inside another handler.
    virtual std::unique_ptr<Alarm> makeAlarm(std::function<void()> ring) = 0;
};

// The event loop's clock: alarms are precise timers.
class QtClock : public Clock {
public:
    QtClock() { clock_.start(); }
    double now() const override { return double(clock_.nsecsElapsed()) * 1e-9; }
    std::unique_ptr<Alarm> makeAlarm(std::function<void()> ring) override;

private:
    QElapsedTimer clock_;
};

}  // namespace vorla
