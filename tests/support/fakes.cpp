// SPDX-License-Identifier: MIT
#include "support/fakes.h"

#include <algorithm>

namespace vorla::test {

QString FakeSerial::device(int16_t port) const {
    const auto it = devices_.find(port);
    return it != devices_.end() ? it->second : QStringLiteral("fake%1").arg(port);
}

bool FakeSerial::setSettings(const QString& s) {
    const auto parsed = ParseLineSettings(s);
    if (!parsed) return false;
    settings_ = s;
    setLineRate(parsed->baud);
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

void FakePump::waitForEvents(double deadline) {
    ++waits;
    if (!script_.empty() && script_.begin()->first <= deadline) {
        auto next = script_.begin();
        if (next->first > t_) t_ = next->first;
        auto action = std::move(next->second);
        script_.erase(next);
        maxDepth = std::max(maxDepth, ++depth_);
        action();
        --depth_;
        return;
    }
    if (deadline == kNoDeadline) {
        starved_ = true;
        requestStop();
        return;
    }
    if (deadline > t_) t_ = deadline;
}

void FakePump::blockingWait(int ms) {
    blockingWaits.push_back(ms);
    if (port) port->holdEvents();
    // What arrives meanwhile comes early in the wait, on the heels of what
    // came before.
    if (duringBlockingWait) duringBlockingWait();
    t_ += ms / 1000.0;
    if (port) port->releaseEvents();
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
