// SPDX-License-Identifier: MIT
#include "conversation/line_record.h"

#include <cmath>

namespace vorla {

namespace {
constexpr int16_t kPorts = 2;  // COM1 and COM2, interfaces 0 and 1
}

void LineRecord::add(LineEntry entry) {
    if (capacity_ == 0) return;
    // A read's array may carry the driver's whole read buffer as capacity:
    // the record keeps just the bytes.
    if (entry.bytes.capacity() > entry.bytes.size())
        entry.bytes = QByteArray(entry.bytes.constData(), entry.bytes.size());
    if (entries_.size() >= capacity_) {
        entries_.pop_front();
        ++dropped_;
    }
    entries_.push_back(std::move(entry));
}

capture::Capture LineRecord::toCapture(double clockNow, int64_t wallMicrosNow,
                                       const std::function<QString(int16_t)>& device,
                                       const QString& application) const {
    capture::Capture c;
    c.application = application;
    for (int16_t port = 1; port <= kPorts; ++port)
        c.interfaces.push_back(capture::Interface{QStringLiteral("COM%1").arg(port), device(port)});
    if (dropped_ > 0) {
        const double first = entries_.empty() ? clockNow : entries_.front().at;
        c.packets.push_back(capture::Packet{wallMicrosNow - int64_t(std::llround((clockNow - first) * 1e6)),
                                            0,
                                            capture::Direction::None,
                                            {},
                                            QStringLiteral("%1 earlier entries dropped").arg(dropped_)});
    }
    for (const LineEntry& e : entries_) {
        const int64_t micros = wallMicrosNow - int64_t(std::llround((clockNow - e.at) * 1e6));
        const uint32_t interface = e.port == 2 ? 1 : 0;
        c.packets.push_back(capture::Packet{micros, interface, e.direction, e.bytes, e.event});
    }
    return c;
}

}  // namespace vorla
