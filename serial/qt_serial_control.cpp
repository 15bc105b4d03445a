// SPDX-License-Identifier: MIT
#include "serial/qt_serial_control.h"

#include <algorithm>
#include <optional>

#include <QFileInfo>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace vorla {

struct QtSerialControl::Line {
    std::unique_ptr<QSerialPort> port;
    QString device;
    LineSettings applied;             // what the device is set to
    std::optional<LineSettings> due;  // to set once what is queued has left
    std::vector<QByteArray> held;     // output given since, for after `due`
    bool closing = false;             // to close once what is queued has left
    double deadline = 0;              // the drain gives up here
    std::unique_ptr<Alarm> check;
};

namespace {
constexpr double kDrainPoll = 0.002;

// Bytes the operating system still holds for the line.
int KernelQueued(const QSerialPort& port) {
    int queued = 0;
#ifdef Q_OS_UNIX
    const int fd = int(port.handle());
    if (fd < 0 || ::ioctl(fd, TIOCOUTQ, &queued) != 0) return 0;
#else
    Q_UNUSED(port);
#endif
    return queued;
}

// Qt writes what it holds as the line takes it.
bool Busy(const QSerialPort& port) { return port.bytesToWrite() > 0 || KernelQueued(port) > 0; }

bool Apply(QSerialPort& port, const LineSettings& s) {
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (s.parity) {
    case 'E': parity = QSerialPort::EvenParity; break;
    case 'O': parity = QSerialPort::OddParity; break;
    case 'M': parity = QSerialPort::MarkParity; break;
    case 'S': parity = QSerialPort::SpaceParity; break;
    default: break;
    }
    return port.setBaudRate(s.baud) && port.setParity(parity) && port.setDataBits(QSerialPort::DataBits(s.dataBits)) &&
           port.setStopBits(s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
           port.setFlowControl(QSerialPort::NoFlowControl);
}
}  // namespace

QtSerialControl::QtSerialControl(PortMap map, Clock& clock, QObject* parent)
    : SerialControl(clock, parent), map_(std::move(map)) {
    setLineRate(settings_.baud);
}

QtSerialControl::~QtSerialControl() {
    // Whatever is still on its way is cut short with the program.
    if (line_) leaving_.push_back(std::move(line_));
    for (auto& line : leaving_) {
        line->port->disconnect(this);
        line->port->close();
    }
}

bool QtSerialControl::setSettings(const LineSettings& settings) {
    if (!settings.valid()) return false;
    settings_ = settings;
    if (!line_) {
        setLineRate(settings.baud);
        return true;
    }
    if (line_->due || Busy(*line_->port)) {
        line_->due = settings;
        startDrain(*line_);
        return true;
    }
    setLineRate(settings.baud);
    line_->applied = settings;
    if (Apply(*line_->port, settings)) return true;
    fault_ = makeFault(PortFault::Stage::Line, QSerialPort::UnsupportedOperationError, line_->device);
    closeNow();
    emit faulted(fault_);
    return false;
}

PortFault QtSerialControl::makeFault(PortFault::Stage stage, QSerialPort::SerialPortError error,
                                     const QString& device) const {
    PortFault f;
    f.port = port_;
    f.device = device;
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
    if (open) return line_ || this->open();
    close();
    return true;
}

bool QtSerialControl::open() {
    const QString device = map_.device(port_);
    if (takeBack(device)) return true;
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(device);
    inCall_ = true;
    const bool opened = port->open(QIODevice::ReadWrite);
    inCall_ = false;
    if (!opened) {
        fault_ = makeFault(PortFault::Stage::Open, port->error(), device);
        return false;
    }
    if (!Apply(*port, settings_)) {
        fault_ = makeFault(PortFault::Stage::Open, QSerialPort::UnsupportedOperationError, device);
        port->close();
        return false;
    }
    // Bytes the driver held from before this open are not ours.
    port->clear(QSerialPort::AllDirections);
    auto line = std::make_unique<Line>();
    line->port = std::move(port);
    line->device = device;
    line->applied = settings_;
    line->check = clock().makeAlarm([this, l = line.get()] { drain(*l); });
    listen(*line->port);
    line_ = std::move(line);
    setLineRate(settings_.baud);
    return true;
}

// A device closed a moment ago and still sending is opened again by
// taking it back, at the settings now asked for.
bool QtSerialControl::takeBack(const QString& device) {
    const auto it = std::ranges::find_if(leaving_, [&](const auto& l) { return l->device == device; });
    if (it == leaving_.end()) return false;
    line_ = std::move(*it);
    leaving_.erase(it);
    line_->closing = false;
    line_->port->disconnect();
    line_->port->clear(QSerialPort::Input);
    listen(*line_->port);
    setLineRate(line_->applied.baud);
    if (line_->due || line_->applied != settings_) line_->due = settings_;
    return true;
}

void QtSerialControl::listen(QSerialPort& port) {
    connect(&port, &QSerialPort::readyRead, this, &QtSerialControl::onReadyRead);
    connect(&port, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
}

void QtSerialControl::close() {
    if (!line_) return;
    // Replies that are complete by now are still reported; what arrives
    // after is not ours.
    collectPending();
    if (!line_) return;
    receiverClosed();
    QSerialPort& port = *line_->port;
    port.disconnect(this);
    connect(&port, &QSerialPort::readyRead, &port, [p = &port] { p->readAll(); });
    line_->closing = true;
    leaving_.push_back(std::move(line_));
    startDrain(*leaving_.back());
}

bool QtSerialControl::output(const QByteArray& bytes) {
    if (!line_) {
        fault_ = makeFault(PortFault::Stage::Write, QSerialPort::NotOpenError, map_.device(port_));
        return false;
    }
    if (line_->due) {
        // Written at the new rate once the old one has finished.
        line_->held.push_back(bytes);
        return true;
    }
    if (!write(*line_, bytes)) {
        closeNow();
        return false;
    }
    return true;
}

bool QtSerialControl::write(Line& line, const QByteArray& bytes) {
    QSerialPort& port = *line.port;
    // Pushed to the line at once when nothing waits before it; behind other
    // bytes it leaves as the line takes them (pushing then would only find
    // the line full, which Qt reports as a fault).
    const bool first = port.bytesToWrite() == 0;
    inCall_ = true;
    const qint64 written = port.write(bytes);
    if (written == bytes.size() && first) port.flush();
    inCall_ = false;
    const auto error = port.error();
    if (written == bytes.size() && error != QSerialPort::WriteError && error != QSerialPort::ResourceError) {
        if (&line == line_.get()) frameWritten(bytes);
        return true;
    }
    fault_ = makeFault(PortFault::Stage::Write,
                       error == QSerialPort::ResourceError ? QSerialPort::ResourceError : QSerialPort::WriteError,
                       line.device);
    return false;
}

void QtSerialControl::startDrain(Line& line) {
    // Bounded by the time the queued bytes take on the line, so a device
    // that stopped reading cannot hold the port for ever.
    const qint64 queued = line.port->bytesToWrite() + KernelQueued(*line.port) + 64;
    line.deadline = clock().now() + double(queued) * 10.0 / line.applied.baud + 0.05;
    drain(line);
}

// One look at a draining line: on until what is queued has left, then the
// new settings and the output held for them, then the close.
void QtSerialControl::drain(Line& line) {
    if (Busy(*line.port) && clock().now() < line.deadline) {
        line.check->setAt(clock().now() + kDrainPoll);
        return;
    }
    if (line.due && !applyDue(line)) return;
    if (line.closing) finish(line);
}

// The new settings, then the output held for them. False when that ended
// the line (a fault) or left it draining again before its close.
bool QtSerialControl::applyDue(Line& line) {
    const bool current = &line == line_.get();
    line.applied = *line.due;
    line.due.reset();
    if (current) setLineRate(line.applied.baud);
    bool ok = Apply(*line.port, line.applied);
    if (!ok) fault_ = makeFault(PortFault::Stage::Line, QSerialPort::UnsupportedOperationError, line.device);
    const auto held = std::exchange(line.held, {});
    for (size_t i = 0; ok && i < held.size(); ++i) ok = write(line, held[i]);
    if (!ok && !current) finish(line);
    if (!ok && current) {
        closeNow();
        emit faulted(fault_);
    }
    if (!ok) return false;
    if (line.closing && !held.empty()) {
        startDrain(line);
        return false;
    }
    return true;
}

void QtSerialControl::finish(Line& line) {
    line.port->disconnect();
    line.port->close();
    const auto it = std::ranges::find_if(leaving_, [&](const auto& l) { return l.get() == &line; });
    if (it == leaving_.end()) return;
    retire(std::move(*it));
    leaving_.erase(it);
}

void QtSerialControl::onReadyRead() {
    if (line_) bytesReceived(line_->port->readAll());
}

void QtSerialControl::onError(QSerialPort::SerialPortError error) {
    if (inCall_ || !line_) return;
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError && error != QSerialPort::WriteError)
        return;
    // A vanished device shows up as a read error repeated without end while
    // the port still claims to be open: close at the first one, report once.
    fault_ = makeFault(PortFault::Stage::Line, error, line_->device);
    closeNow();
    emit faulted(fault_);
}

void QtSerialControl::collectPending() {
    if (!line_) return;
    // Whatever the operating system still holds has arrived too. Only
    // when it holds something: a read that finds nothing (the port's own
    // notifier took it first) would be reported with a stale error as if
    // the device had gone.
    if (OsHoldsBytes(*line_->port)) line_->port->waitForReadyRead(0);
    if (line_) bytesReceived(line_->port->readAll());
}

bool QtSerialControl::OsHoldsBytes(QSerialPort& port) {
    int held = 0;
    return ::ioctl(port.handle(), FIONREAD, &held) == 0 && held > 0;
}

void QtSerialControl::closeNow() {
    if (!line_) return;
    receiverClosed();
    line_->port->disconnect(this);
    line_->port->close();
    retire(std::move(line_));
}

// The port may be closed from inside its own signal or the line's alarm:
// both are deleted once that has returned.
void QtSerialControl::retire(std::unique_ptr<Line> line) {
    line->check->cancel();
    retired_.push_back(std::move(line));
    QTimer::singleShot(0, this, [this] { retired_.clear(); });
}

}  // namespace vorla
