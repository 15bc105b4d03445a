// SPDX-License-Identifier: MIT
#include "link/frame_link.h"

namespace vorla {

FrameLink::FrameLink(SerialControl& port, FrameLog& log, WindowState& state, StatusSink status)
    : port_(port), log_(log), state_(state), status_(std::move(status)) {}

std::span<const uint8_t> FrameLink::framePart(std::span<const uint8_t> frame) const {
    const int count = state_.FrameLastIndex + 2;
    if (count <= 0) return {};
    return frame.first(std::min<size_t>(size_t(count), frame.size()));
}

bool FrameLink::SendFrame(std::span<const uint8_t> frame) {
    if (!port_.portOpen()) {
        port_.setCommPort(state_.PortNumber);
        if (!port_.setPortOpen(true)) {
            reportFault(port_.lastFault());
            return false;
        }
    }
    const auto bytes = framePart(frame);
    if (!port_.output(QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())))) {
        reportFault(port_.lastFault());
        return false;
    }
    return true;
}

void FrameLink::LogSentFrame(std::span<const uint8_t> frame) { log_.append(FormatSentRecord(framePart(frame))); }

void FrameLink::reportFault(const PortFault& fault) {
    if (status_) status_(FaultStatusText(fault));
    log_.appendLine(FaultLogLine(fault));
}

}  // namespace vorla
