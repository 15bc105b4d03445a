#include "support.h"

#include <QStringList>

namespace vorla::test {

QByteArray Hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

std::string ToHex(const QByteArray& bytes) { return bytes.toHex(' ').toUpper().toStdString(); }

bool FakeSerial::setSettings(const QString& s) {
    if (!ParseLineSettings(s)) return false;
    settings_ = s;
    return true;
}

bool FakeSerial::setPortOpen(bool open) {
    if (open == open_) return true;
    if (open && failOpen) {
        fault_ = PortFault{port_, deviceName(), PortFault::Stage::Open, PortFault::Kind::NotFound};
        return false;
    }
    open_ = open;
    ops.push_back(Op{open ? Op::Open : Op::Close, port_, settings_, {}});
    return true;
}

bool FakeSerial::output(const QByteArray& bytes) {
    if (!open_) return false;
    ops.push_back(Op{Op::Output, port_, settings_, bytes});
    if (journal) journal->push_back("send");
    return true;
}

RxText FakeSerial::input() {
    RxText text = splitter_.feed(rx_);
    rx_.clear();
    return text;
}

void FakeSerial::releaseEvents() {
    if (--holds_ == 0 && due_) {
        due_ = false;
        if (!rx_.isEmpty()) emit onComm();
    }
}

void FakeSerial::receive(const QByteArray& bytes) {
    rx_ += bytes;
    event_ = kCommEventReceive;
    if (holds_ > 0) due_ = true;
    else emit onComm();
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
        action();
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
    t_ += ms / 1000.0;
    if (duringBlockingWait) duringBlockingWait();
    if (port) port->releaseEvents();
}

WindowRig::WindowRig() {
    serial.journal = &journal;
    pump.port = &serial;
    window = std::make_unique<frm_7711>(serial, pump);
    window->setMessageSink([this](const QString& text) { messages.push_back(text); });
    window->setExitAction([] {});
    QObject::connect(&window->log(), &FrameLog::appended, [this](const QString&) { journal.push_back("log"); });
}

}  // namespace vorla::test
