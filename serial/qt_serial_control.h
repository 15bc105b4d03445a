// SPDX-License-Identifier: MIT
// The serial control over QSerialPort.
//
// Received bytes go to the shared receive side as the operating system hands
// them over; it groups them into batches whatever their sizes and gaps.
//
// What output queued leaves the line whole before the port closes or takes
// a new rate. That drain is a state of the port, checked on the clock, never
// a wait: a new rate waits for it, and output given meanwhile is held and
// written at the new rate; a closed port finishes sending on its own and
// closes then, and opening its device again takes it back.
#pragma once

#include <memory>
#include <vector>

#include <QSerialPort>

#include "serial/serial_control.h"

namespace vorla {

class QtSerialControl : public SerialControl {
    Q_OBJECT
public:
    QtSerialControl(PortMap map, Clock& clock, QObject* parent = nullptr);
    ~QtSerialControl() override;

    void setCommPort(int16_t port) override { port_ = port; }
    int16_t commPort() const override { return port_; }
    bool setSettings(const LineSettings& settings) override;
    LineSettings settings() const override { return settings_; }
    bool portOpen() const override { return line_ != nullptr; }
    bool setPortOpen(bool open) override;
    bool output(const QByteArray& bytes) override;
    PortFault lastFault() const override { return fault_; }
    QString device(int16_t port) const override { return map_.device(port); }
    bool devicesChoosable() const override { return true; }
    void chooseDevice(int16_t port, const QString& device) override { map_.setDevice(port, device); }

private:
    static bool OsHoldsBytes(QSerialPort& port);
    struct Line;  // an open device and its drain

    bool open();
    void close();
    bool takeBack(const QString& device);
    void listen(QSerialPort& port);
    bool write(Line& line, const QByteArray& bytes);
    void startDrain(Line& line);
    void drain(Line& line);
    bool applyDue(Line& line);
    void finish(Line& line);
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void collectPending() override;
    // A fault on the open port: it closes at once, cut short.
    void closeNow();
    void retire(std::unique_ptr<Line> line);
    PortFault makeFault(PortFault::Stage stage, QSerialPort::SerialPortError error, const QString& device) const;

    PortMap map_;
    int16_t port_ = 1;
    LineSettings settings_;
    std::unique_ptr<Line> line_;                  // the open port
    std::vector<std::unique_ptr<Line>> leaving_;  // closed, still sending
    std::vector<std::unique_ptr<Line>> retired_;  // done, deleted once their alarms have returned
    bool inCall_ = false;                         // open or write in progress: errors are returned, not signalled
    PortFault fault_;
};

}  // namespace vorla
