// SPDX-License-Identifier: MIT
#include "sim/line_model.h"

#include <algorithm>
#include <cmath>

namespace vorla::sim {

std::optional<LineKind> ParseLineKind(const QString& name) {
    if (name == QStringLiteral("burst")) return LineKind::Burst;
    if (name == QStringLiteral("uart")) return LineKind::Uart;
    if (name == QStringLiteral("usb")) return LineKind::Usb;
    return std::nullopt;
}

QString LineKindName(LineKind kind) {
    switch (kind) {
    case LineKind::Burst: return QStringLiteral("burst");
    case LineKind::Uart: return QStringLiteral("uart");
    case LineKind::Usb: return QStringLiteral("usb");
    }
    return QString();
}

double LineModel::send(const QByteArray& bytes, int baud, double now) {
    const double charTime = 10.0 / double(baud > 0 ? baud : 1200);
    lineFree_ = std::max(lineFree_, now);
    for (const char b : bytes) {
        lineFree_ += charTime;
        wire_.push_back(Byte{b, lineFree_, charTime, now});
    }
    return lineFree_;
}

std::pair<double, size_t> LineModel::nextGroup() const {
    if (wire_.empty()) return {kNever, 0};
    switch (kind_) {
    case LineKind::Burst: return burstGroup();
    case LineKind::Uart: return uartGroup();
    case LineKind::Usb: return usbGroup();
    }
    return {kNever, 0};
}

// Everything within kBurstAhead characters of the line goes at once.
std::pair<double, size_t> LineModel::burstGroup() const {
    const auto handOver = [](const Byte& b) { return std::max(b.sentAt, b.done - kBurstAhead * b.charTime); };
    const double at = handOver(wire_.front());
    size_t n = 0;
    while (n < wire_.size() && handOver(wire_[n]) <= at) ++n;
    return {at, n};
}

// Below 2400 baud byte by byte; from 2400 up the FIFO's trigger, or its
// timeout once the line has been quiet.
std::pair<double, size_t> LineModel::uartGroup() const {
    const Byte& front = wire_.front();
    if (front.charTime > 10.0 / 2400 + 1e-9) return {front.done, 1};
    for (size_t j = 0; j < wire_.size(); ++j) {
        if (j + 1 == size_t(kFifoTrigger)) return {wire_[j].done, j + 1};
        const double timeout = wire_[j].done + kFifoTimeoutChars * wire_[j].charTime;
        if (j + 1 == wire_.size() || wire_[j + 1].done > timeout) return {timeout, j + 1};
    }
    return {kNever, 0};
}

// What has arrived by the adapter's next timer tick.
std::pair<double, size_t> LineModel::usbGroup() const {
    const double ticks = std::ceil((wire_.front().done - phase_) / kUsbTimerSeconds - 1e-9);
    const double at = phase_ + ticks * kUsbTimerSeconds;
    size_t n = 0;
    while (n < wire_.size() && wire_[n].done <= at + 1e-9) ++n;
    return {at, n};
}

double LineModel::nextDelivery() const { return nextGroup().first; }

QByteArray LineModel::deliver(double now) {
    QByteArray out;
    for (auto [at, n] = nextGroup(); at <= now && n > 0; std::tie(at, n) = nextGroup()) {
        for (size_t i = 0; i < n; ++i) out += wire_[i].value;
        wire_.erase(wire_.begin(), wire_.begin() + qsizetype(n));
    }
    return out;
}

}  // namespace vorla::sim
