// The serial control over QSerialPort.
//
// Received bytes are collected until the line has been quiet for about three
// character times, then the receive event is raised once, so a reply that the
// operating system hands over byte by byte is read whole.
#pragma once

#include <memory>

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>

#include "link/serial_control.h"

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
    int commEvent() const override { return commEvent_; }
    RxText input() override;
    void holdEvents() override { ++holds_; }
    void releaseEvents() override;
    PortFault lastFault() const override { return fault_; }
    QString deviceName() const override { return map_.device(port_); }

    // Milliseconds of quiet line after which received data is reported.
    int quietMs() const;
    // How many byte arrays output has queued since the start.
    qint64 outputCount() const { return outputs_; }

private:
    bool applySettings(QSerialPort& port) const;
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void onQuiet();
    void pullPending();
    void drainOutput();
    void closeNow();
    PortFault makeFault(PortFault::Stage stage, QSerialPort::SerialPortError error) const;

    PortMap map_;
    int16_t port_ = 1;
    LineSettings settings_;
    std::unique_ptr<QSerialPort> serial_;
    QString openDevice_;
    QByteArray received_;
    GbkSplitter splitter_;
    QTimer quiet_;
    int holds_ = 0;
    bool eventDue_ = false;
    bool inCall_ = false;  // open or write in progress: errors are returned, not signalled
    int commEvent_ = 0;
    qint64 outputs_ = 0;
    PortFault fault_;
};

}  // namespace vorla
