// SPDX-License-Identifier: MIT
#include "link/frame_link.h"

namespace vorla {

FrameLink::FrameLink(SerialControl& port, FrameLog& log, const int16_t& portNumber, StatusSink status)
    : port_(port), log_(log), portNumber_(portNumber), status_(std::move(status)) {}

bool FrameLink::SendFrame(const Frame& frame) {
    if (!port_.portOpen()) {
        port_.setCommPort(portNumber_);
        if (!port_.setPortOpen(true)) {
            ReportFault(port_.lastFault());
            return false;
        }
    }
    if (!port_.output(frame.toByteArray())) {
        ReportFault(port_.lastFault());
        return false;
    }
    return true;
}

void FrameLink::LogSentFrame(const Frame& frame) { log_.append(FormatSentRecord(frame.bytes())); }

void FrameLink::ReportFault(const PortFault& fault) {
    if (status_) status_(FaultStatusText(fault));
    log_.appendLine(FaultLogLine(fault));
}

}  // namespace vorla
