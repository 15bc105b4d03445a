// SPDX-License-Identifier: MIT
// A serial control wired to the virtual chip inside the program: no device
// and nothing platform-specific, the chip on a thread of its own so that a
// window blocking its thread never stalls it. The chip's bytes come back as
// its line model hands them over, so the window reads them as it would from
// a real line. Only COM1 is wired; COM2 has no device.
#pragma once

#include <QThread>

#include "serial/serial_control.h"
#include "sim/chip_core.h"

namespace vorla {

class SimulatedPort : public SerialControl {
    Q_OBJECT
public:
    static constexpr int16_t kChipPort = 1;

    SimulatedPort(Clock& clock, const sim::ChipOptions& options = {}, QObject* parent = nullptr);
    ~SimulatedPort() override;

    void setCommPort(int16_t port) override { port_ = port; }
    int16_t commPort() const override { return port_; }
    bool setSettings(const LineSettings& settings) override;
    LineSettings settings() const override { return settings_; }
    bool portOpen() const override { return open_; }
    bool setPortOpen(bool open) override;
    bool output(const QByteArray& bytes) override;
    PortFault lastFault() const override { return fault_; }
    QString device(int16_t port) const override;

    // The chip, for its notes and counters; it lives on its own thread.
    sim::ChipCore& chip() { return *core_; }

private:
    PortFault fault(PortFault::Stage stage, PortFault::Kind kind) const;

    QThread thread_;
    sim::ChipCore* core_;
    int16_t port_ = kChipPort;
    LineSettings settings_;
    bool open_ = false;
    PortFault fault_;
};

}  // namespace vorla
