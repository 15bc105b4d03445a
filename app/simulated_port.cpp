// SPDX-License-Identifier: MIT
#include "app/simulated_port.h"

namespace vorla {

SimulatedPort::SimulatedPort(Clock& clock, const sim::ChipOptions& options, QObject* parent)
    : SerialControl(clock, parent), core_(new sim::ChipCore(options)) {
    setLineRate(settings_.baud);
    core_->moveToThread(&thread_);
    thread_.setObjectName(QStringLiteral("virtual chip"));
    // What the chip's line hands over reaches the port on this thread.
    connect(
        core_, &sim::ChipCore::delivered, this,
        [this](const QByteArray& bytes) {
            if (open_) bytesReceived(bytes);
        },
        Qt::QueuedConnection);
    thread_.start();
}

SimulatedPort::~SimulatedPort() {
    // The chip lets go of its timers and sound output on its own thread.
    if (thread_.isRunning())
        QMetaObject::invokeMethod(
            core_, [core = core_] { core->switchOff(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete core_;
}

QString SimulatedPort::device(int16_t port) const {
    return port == kChipPort ? QStringLiteral("虚拟芯片") : QStringLiteral("未接设备");
}

PortFault SimulatedPort::fault(PortFault::Stage stage, PortFault::Kind kind) const {
    return PortFault{port_, deviceName(), stage, kind};
}

bool SimulatedPort::setSettings(const LineSettings& settings) {
    if (!settings.valid()) return false;
    settings_ = settings;
    setLineRate(settings_.baud);
    return true;
}

bool SimulatedPort::setPortOpen(bool open) {
    if (!open) {
        if (open_) receiverClosed();
        open_ = false;
        return true;
    }
    if (port_ != kChipPort) {
        fault_ = fault(PortFault::Stage::Open, PortFault::Kind::NotFound);
        return false;
    }
    open_ = true;
    return true;
}

bool SimulatedPort::output(const QByteArray& bytes) {
    if (!open_) {
        fault_ = fault(PortFault::Stage::Write, PortFault::Kind::WriteFailed);
        return false;
    }
    const int baud = settings_.baud;
    const bool format = settings_.chipFormat();
    QMetaObject::invokeMethod(
        core_, [core = core_, bytes, baud, format] { core->hear(bytes, baud, format); }, Qt::QueuedConnection);
    frameWritten(bytes);
    return true;
}

}  // namespace vorla
