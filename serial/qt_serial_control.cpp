// SPDX-License-Identifier: MIT
#include "serial/qt_serial_control.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace vorla {

QtSerialControl::QtSerialControl(PortMap map, QObject* parent) : SerialControl(parent), map_(std::move(map)) {
    setLineRate(settings_.baud);
}

QtSerialControl::~QtSerialControl() {
    if (serial_) {
        serial_->disconnect(this);
        serial_->close();
    }
}

bool QtSerialControl::setSettings(const QString& text) {
    const auto parsed = ParseLineSettings(text);
    if (!parsed) return false;
    if (serial_) drainOutput();
    settings_ = *parsed;
    setLineRate(settings_.baud);
    if (serial_ && !applySettings(*serial_)) {
        fault_ = makeFault(PortFault::Stage::Line, QSerialPort::UnsupportedOperationError);
        fault_.kind = PortFault::Kind::Settings;
        closeNow();
        emit faulted(fault_);
        return false;
    }
    return true;
}

bool QtSerialControl::applySettings(QSerialPort& port) const {
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (settings_.parity) {
    case 'E': parity = QSerialPort::EvenParity; break;
    case 'O': parity = QSerialPort::OddParity; break;
    case 'M': parity = QSerialPort::MarkParity; break;
    case 'S': parity = QSerialPort::SpaceParity; break;
    default: break;
    }
    return port.setBaudRate(settings_.baud) && port.setParity(parity) &&
           port.setDataBits(QSerialPort::DataBits(settings_.dataBits)) &&
           port.setStopBits(settings_.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
           port.setFlowControl(QSerialPort::NoFlowControl);
}

PortFault QtSerialControl::makeFault(PortFault::Stage stage, QSerialPort::SerialPortError error) const {
    PortFault f;
    f.port = port_;
    f.device = openDevice_.isEmpty() ? map_.device(port_) : openDevice_;
    f.stage = stage;
    switch (error) {
    case QSerialPort::DeviceNotFoundError: f.kind = PortFault::Kind::NotFound; break;
    case QSerialPort::PermissionError: {
        // Qt reports a port locked or held exclusively by another program as
        // a permission error too; the file's own permissions tell them apart.
        const QFileInfo info(f.device);
        f.kind = (info.exists() && info.isReadable() && info.isWritable()) ? PortFault::Kind::Busy
                                                                           : PortFault::Kind::NoPermission;
        break;
    }
    case QSerialPort::OpenError: f.kind = PortFault::Kind::Busy; break;
    case QSerialPort::WriteError: f.kind = PortFault::Kind::WriteFailed; break;
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError: f.kind = PortFault::Kind::Disconnected; break;
    case QSerialPort::UnsupportedOperationError: f.kind = PortFault::Kind::Settings; break;
    default: f.kind = PortFault::Kind::Other; break;
    }
    if (stage == PortFault::Stage::Open && f.kind == PortFault::Kind::Disconnected) f.kind = PortFault::Kind::Other;
    return f;
}

bool QtSerialControl::setPortOpen(bool open) {
    if (!open) {
        if (serial_) {
            drainOutput();
            // Replies that are complete by now are still reported.
            collectPending();
            closeNow();
        }
        return true;
    }
    if (serial_) return true;
    const QString device = map_.device(port_);
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(device);
    inCall_ = true;
    const bool opened = port->open(QIODevice::ReadWrite);
    inCall_ = false;
    openDevice_ = device;
    if (!opened) {
        fault_ = makeFault(PortFault::Stage::Open, port->error());
        return false;
    }
    if (!applySettings(*port)) {
        fault_ = makeFault(PortFault::Stage::Open, QSerialPort::UnsupportedOperationError);
        port->close();
        return false;
    }
    // Bytes the driver held from before this open are not ours.
    port->clear(QSerialPort::AllDirections);
    connect(port.get(), &QSerialPort::readyRead, this, &QtSerialControl::onReadyRead);
    connect(port.get(), &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
    serial_ = std::move(port);
    return true;
}

bool QtSerialControl::output(const QByteArray& bytes) {
    if (!serial_) {
        fault_ = makeFault(PortFault::Stage::Write, QSerialPort::NotOpenError);
        return false;
    }
    inCall_ = true;
    const qint64 written = serial_->write(bytes);
    if (written == bytes.size()) serial_->flush();
    inCall_ = false;
    if (written != bytes.size() || serial_->error() == QSerialPort::WriteError ||
        serial_->error() == QSerialPort::ResourceError) {
        fault_ = makeFault(PortFault::Stage::Write, serial_->error() == QSerialPort::ResourceError
                                                        ? QSerialPort::ResourceError
                                                        : QSerialPort::WriteError);
        closeNow();
        return false;
    }
    ++outputs_;
    frameWritten(bytes);
    return true;
}

void QtSerialControl::onReadyRead() {
    if (serial_) bytesReceived(serial_->readAll());
}

void QtSerialControl::onError(QSerialPort::SerialPortError error) {
    if (inCall_ || !serial_) return;
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError && error != QSerialPort::WriteError)
        return;
    // A vanished device shows up as a read error repeated without end while
    // the port still claims to be open: close at the first one, report once.
    fault_ = makeFault(PortFault::Stage::Line, error);
    closeNow();
    emit faulted(fault_);
}

void QtSerialControl::collectPending() {
    if (!serial_) return;
    // Whatever the operating system still holds has arrived too.
    serial_->waitForReadyRead(0);
    if (serial_) bytesReceived(serial_->readAll());
}

void QtSerialControl::drainOutput() {
    if (!serial_) return;
    serial_->flush();
    // Bounded by the time the queued bytes take on the line, so a device
    // that stopped reading cannot hang the window.
    const auto lineMs = [this](qint64 bytes) { return int(bytes * 10 * 1000 / settings_.baud) + 50; };
    QDeadlineTimer deadline(lineMs(serial_->bytesToWrite() + 64));
    while (serial_ && serial_->bytesToWrite() > 0 && !deadline.hasExpired())
        serial_->waitForBytesWritten(int(deadline.remainingTime()));
#ifdef Q_OS_UNIX
    if (!serial_) return;
    const int fd = int(serial_->handle());
    int queued = 0;
    if (fd < 0 || ::ioctl(fd, TIOCOUTQ, &queued) != 0) return;
    QDeadlineTimer lineDeadline(lineMs(queued));
    while (queued > 0 && !lineDeadline.hasExpired()) {
        QThread::msleep(2);
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0) break;
    }
#endif
}

void QtSerialControl::closeNow() {
    if (!serial_) return;
    receiverClosed();
    serial_->disconnect(this);
    serial_->close();
    // The port may be closed from inside its own signal: delete it later.
    serial_.release()->deleteLater();
}

}  // namespace vorla
