// SPDX-License-Identifier: MIT
// The serial control over QSerialPort.
//
// Received bytes go to the shared receive side as the operating system hands
// them over; it groups them into batches whatever their sizes and gaps.
#pragma once

#include <memory>

#include <QSerialPort>

#include "serial/serial_control.h"

namespace vorla {

class QtSerialControl : public SerialControl {
    Q_OBJECT
public:
    explicit QtSerialControl(PortMap map, QObject* parent = nullptr);
    ~QtSerialControl() override;

    void setCommPort(int16_t port) override { port_ = port; }
    int16_t commPort() const override { return port_; }
    bool setSettings(const QString& settings) override;
    QString settings() const override { return FormatLineSettings(settings_); }
    bool portOpen() const override { return serial_ != nullptr; }
    bool setPortOpen(bool open) override;
    bool output(const QByteArray& bytes) override;
    PortFault lastFault() const override { return fault_; }
    QString device(int16_t port) const override { return map_.device(port); }
    bool devicesChoosable() const override { return true; }
    void chooseDevice(int16_t port, const QString& device) override { map_.setDevice(port, device); }

    // How many byte arrays output has queued since the start.
    qint64 outputCount() const { return outputs_; }

private:
    bool applySettings(QSerialPort& port) const;
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void collectPending() override;
    void drainOutput();
    void closeNow();
    PortFault makeFault(PortFault::Stage stage, QSerialPort::SerialPortError error) const;

    PortMap map_;
    int16_t port_ = 1;
    LineSettings settings_;
    std::unique_ptr<QSerialPort> serial_;
    QString openDevice_;
    bool inCall_ = false;  // open or write in progress: errors are returned, not signalled
    qint64 outputs_ = 0;
    PortFault fault_;
};

}  // namespace vorla
