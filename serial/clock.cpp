// SPDX-License-Identifier: MIT
#include "serial/clock.h"

#include <cmath>

#include <QTimer>

namespace vorla {

namespace {
class TimerAlarm : public Alarm {
public:
    TimerAlarm(const QtClock& clock, std::function<void()> ring) : clock_(clock), ring_(std::move(ring)) {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { check(); });
    }
    void setAt(double at) override {
        at_ = at;
        arm(std::floor((at_ - clock_.now()) * 1000.0));
    }
    void cancel() override { timer_.stop(); }
    bool pending() const override { return timer_.isActive(); }

private:
    // Timers count whole milliseconds, and the event loop rounds its own
    // sleep up: the first wait is rounded down, and a wake-up before the
    // time waits for the rest, rounded up, so an alarm never rings early and
    // rarely more than a millisecond late.
    void arm(double ms) { timer_.start(int(std::max(0.0, ms))); }
    void check() {
        const double remaining = at_ - clock_.now();
        if (remaining > 0) {
            arm(std::ceil(remaining * 1000.0));
            return;
        }
        ring_();
    }

    const QtClock& clock_;
    std::function<void()> ring_;
    QTimer timer_;
    double at_ = 0;
};
}  // namespace

std::unique_ptr<Alarm> QtClock::makeAlarm(std::function<void()> ring) {
    return std::make_unique<TimerAlarm>(*this, std::move(ring));
}

}  // namespace vorla
