// SPDX-License-Identifier: MIT
// Writing a finished frame to the port, and its record in the log.
#pragma once

#include <cstdint>
#include <functional>

#include "link/frame_log.h"
#include "link/serial_control.h"
#include "protocol/frame.h"

namespace vorla {

class FrameLink {
public:
    using StatusSink = std::function<void(const QString&)>;
    // `portNumber` is the port to open (the window's PortNumber).
    FrameLink(SerialControl& port, FrameLog& log, const int16_t& portNumber, StatusSink status);

    // Opens the port with the settings in force if it is closed, then queues
    // the frame's bytes. On failure reports it and returns false: nothing was
    // sent and the port is closed.
    bool SendFrame(const Frame& frame);
    // Appends the record of the frame's bytes.
    void LogSentFrame(const Frame& frame);

    // Shows a port fault in the status label and as one log line.
    void ReportFault(const PortFault& fault);

private:
    SerialControl& port_;
    FrameLog& log_;
    const int16_t& portNumber_;
    StatusSink status_;
};

}  // namespace vorla
