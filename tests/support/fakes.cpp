// SPDX-License-Identifier: MIT
#include "support/fakes.h"

#include <algorithm>
#include <limits>

namespace vorla::test {

QString FakeSerial::device(int16_t port) const {
    const auto it = devices_.find(port);
    return it != devices_.end() ? it->second : QStringLiteral("fake%1").arg(port);
}

bool FakeSerial::setSettings(const LineSettings& s) {
    if (!s.valid()) return false;
    settings_ = s;
    setLineRate(s.baud);
    return true;
}

bool FakeSerial::setPortOpen(bool open) {
    if (open == open_) return true;
    if (open && failOpen) {
        fault_ = PortFault{port_, deviceName(), PortFault::Stage::Open, PortFault::Kind::NotFound};
        return false;
    }
    open_ = open;
    if (!open) receiverClosed();
    ops.push_back(Op{open ? Op::Open : Op::Close, port_, settings_, {}, deviceName()});
    return true;
}

bool FakeSerial::output(const QByteArray& bytes) {
    if (!open_) return false;
    ops.push_back(Op{Op::Output, port_, settings_, bytes, deviceName()});
    if (journal) journal->push_back("send");
    frameWritten(bytes);
    if (onOutput) onOutput(bytes);
    return true;
}

void FakeSerial::vanish() {
    failOpen = true;
    if (!open_) return;
    open_ = false;
    receiverClosed();
    ops.push_back(Op{Op::Close, port_, settings_, {}, deviceName()});
    fault_ = PortFault{port_, deviceName(), PortFault::Stage::Line, PortFault::Kind::Disconnected};
    emit faulted(fault_);
}

std::vector<QByteArray> FakeSerial::sent() const {
    std::vector<QByteArray> out;
    for (const Op& op : ops)
        if (op.kind == Op::Output) out.push_back(op.bytes);
    return out;
}

class VirtualClock::VirtualAlarm : public Alarm {
public:
    VirtualAlarm(VirtualClock& clock, std::function<void()> ring) : clock_(clock), ring_(std::move(ring)) {
        clock_.alarms_.push_back(this);
    }
    ~VirtualAlarm() override { std::erase(clock_.alarms_, this); }
    void setAt(double at) override {
        at_ = at;
        pending_ = true;
    }
    void cancel() override { pending_ = false; }
    bool pending() const override { return pending_; }
    double at() const { return at_; }
    void ring() {
        pending_ = false;
        ring_();
    }

private:
    VirtualClock& clock_;
    std::function<void()> ring_;
    double at_ = 0;
    bool pending_ = false;
};

std::unique_ptr<Alarm> VirtualClock::makeAlarm(std::function<void()> ring) {
    return std::make_unique<VirtualAlarm>(*this, std::move(ring));
}

double VirtualClock::next(VirtualAlarm** alarm) const {
    double when = script_.empty() ? std::numeric_limits<double>::infinity() : script_.begin()->first;
    *alarm = nullptr;
    for (VirtualAlarm* a : alarms_)
        if (a->pending() && a->at() + lateness_ <= when) {  // an alarm before a script event at the same time
            when = a->at() + lateness_;
            *alarm = a;
        }
    return when;
}

void VirtualClock::advanceTo(double until) {
    while (true) {
        VirtualAlarm* alarm = nullptr;
        const double when = next(&alarm);
        if (when > until) break;
        t_ = std::max(t_, when);
        if (alarm) {
            alarm->ring();
        } else {
            auto first = script_.begin();
            auto action = std::move(first->second);
            script_.erase(first);
            action();
        }
    }
    t_ = std::max(t_, until);
}

void VirtualClock::runAll(double limit) {
    const double end = t_ + limit;
    VirtualAlarm* alarm = nullptr;
    for (double when = next(&alarm); when <= end; when = next(&alarm)) advanceTo(when);
}

bool VirtualClock::idle() const {
    VirtualAlarm* alarm = nullptr;
    return next(&alarm) == std::numeric_limits<double>::infinity();
}

void VectorListBox::addItem(const QString& text, int index) {
    if (index < 0 || index > listCount()) index = listCount();
    items_.insert(items_.begin() + index, Item{text, 0});
    if (index_ >= index) ++index_;
}

void VectorListBox::removeItem(int index) {
    if (!valid(index)) return;
    items_.erase(items_.begin() + index);
    if (index_ == index) index_ = -1;
    else if (index_ > index) --index_;
}

}  // namespace vorla::test
