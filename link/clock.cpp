// SPDX-License-Identifier: MIT
#include "link/clock.h"

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
        arm();
    }
    void cancel() override { timer_.stop(); }
    bool pending() const override { return timer_.isActive(); }

private:
    // Timers count whole milliseconds: rounded up, so an alarm never rings
    // before its time; one that wakes early waits for the rest.
    void arm() { timer_.start(int(std::max(0.0, std::ceil((at_ - clock_.now()) * 1000.0)))); }
    void check() {
        if (clock_.now() < at_) {
            arm();
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
