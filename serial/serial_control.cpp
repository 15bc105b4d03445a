// SPDX-License-Identifier: MIT
#include "serial/serial_control.h"

#include <algorithm>

#include <QTimer>

namespace vorla {

namespace {
QString Reason(PortFault::Kind kind) {
    switch (kind) {
    case PortFault::Kind::NotFound: return QStringLiteral("设备不存在");
    case PortFault::Kind::NoPermission: return QStringLiteral("没有访问该设备的权限");
    case PortFault::Kind::Busy: return QStringLiteral("端口已被其他程序占用");
    case PortFault::Kind::Settings: return QStringLiteral("无法设置端口参数");
    case PortFault::Kind::WriteFailed: return QStringLiteral("数据无法写入端口");
    case PortFault::Kind::Disconnected: return QStringLiteral("设备已断开或拔出");
    case PortFault::Kind::Other: return QStringLiteral("端口出错");
    }
    return QString();
}

QString StageText(PortFault::Stage stage) {
    switch (stage) {
    case PortFault::Stage::Open: return QStringLiteral("打开失败");
    case PortFault::Stage::Write: return QStringLiteral("发送失败");
    case PortFault::Stage::Line: return QStringLiteral("连接中断");
    }
    return QString();
}
}  // namespace

QString FaultStatusText(const PortFault& fault) {
    return QStringLiteral("COM%1 %2").arg(fault.port).arg(StageText(fault.stage));
}

QString FaultLogLine(const PortFault& fault) {
    QString line = QStringLiteral("COM%1 (%2) %3：%4")
                       .arg(fault.port)
                       .arg(fault.device, StageText(fault.stage), Reason(fault.kind));
    if (fault.stage != PortFault::Stage::Open) line += QStringLiteral("，端口已关闭");
    return line;
}

SerialControl::SerialControl(Clock& clock, QObject* parent)
    : QObject(parent), clock_(clock), quiet_(clock.makeAlarm([this] { checkQuiet(); })) {}

void SerialControl::bytesReceived(const QByteArray& bytes) {
    if (!bytes.isEmpty()) emit bytesRead(bytes);
    reader_.feed(bytes, clock_.now());
    grouped();
}

void SerialControl::checkQuiet() {
    collectPending();
    reader_.poll(clock_.now());
    grouped();
}

// After the reader moved on: wake at its next deadline, and raise the
// event for what it handed over.
void SerialControl::grouped() {
    const double due = reader_.deadline();
    if (due == ChipReader::kNever) quiet_->cancel();
    else quiet_->setAt(due);
    if (reader_.readyCount() > 0) raiseEventSoon();
    emit grouping();
}

void SerialControl::raiseEventSoon() {
    if (raiseQueued_) return;
    raiseQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        raiseQueued_ = false;
        raiseEvents();
    });
}

void SerialControl::raiseEvents() {
    // One event a batch, once: a handler that keeps the event for later
    // takes its batch then, in order.
    while (announced_ < reader_.readyCount()) {
        ++announced_;
        emit commEventRaised();
    }
}

ChipMessage SerialControl::input() {
    collectPending();
    if (reader_.readyCount() > 0 && announced_ > 0) --announced_;
    return reader_.take();
}

void SerialControl::settleInput() {
    reader_.settleReply();
    grouped();
    raiseEvents();
}

void SerialControl::flushInput() {
    collectPending();
    reader_.flush();
    quiet_->cancel();
    raiseEvents();
}

RxText SerialControl::inputMore(uint64_t seq) {
    collectPending();
    return reader_.takeMore(seq);
}

QString PortMap::device(int16_t port) const {
    const auto it = overrides_.find(port);
    if (it != overrides_.end()) return it->second;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

}  // namespace vorla
