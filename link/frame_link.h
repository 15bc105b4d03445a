// SPDX-License-Identifier: MIT
// Writing a finished frame to the port, and its record in the log.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "link/frame_log.h"
#include "link/serial_control.h"
#include "protocol/window_state.h"

namespace vorla {

class FrameLink {
public:
    using StatusSink = std::function<void(const QString&)>;
    FrameLink(SerialControl& port, FrameLog& log, WindowState& state, StatusSink status);

    // Opens PortNumber with the settings in force if the port is closed, then
    // queues FrameLastIndex + 2 bytes of the frame. On failure reports it and
    // returns false: nothing was sent and the port is closed.
    bool SendFrame(std::span<const uint8_t> frame);
    // Appends the record of FrameLastIndex + 2 bytes of the frame.
    void LogSentFrame(std::span<const uint8_t> frame);

    // Shows a port fault in the status label and as one log line.
    void reportFault(const PortFault& fault);

private:
    std::span<const uint8_t> framePart(std::span<const uint8_t> frame) const;

    SerialControl& port_;
    FrameLog& log_;
    WindowState& state_;
    StatusSink status_;
};

}  // namespace vorla
