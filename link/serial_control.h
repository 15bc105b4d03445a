// The serial control the window talks to: port number, line settings,
// open and close, output of a byte array, input as GBK characters, and a
// receive event raised on the window's thread once a reply has arrived whole.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "protocol/received_text.h"

namespace vorla {

constexpr int kCommEventReceive = 2;

// "1200,N,8,1": baud rate, parity, data bits, stop bits.
struct LineSettings {
    int baud = 1200;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};
std::optional<LineSettings> ParseLineSettings(const QString& text);
QString FormatLineSettings(const LineSettings& s);

// What went wrong with a port, in words the operator understands.
struct PortFault {
    enum class Stage { Open, Write, Line };
    enum class Kind { NotFound, NoPermission, Busy, Settings, WriteFailed, Disconnected, Other };
    int16_t port = 0;
    QString device;
    Stage stage = Stage::Open;
    Kind kind = Kind::Other;
};
QString FaultStatusText(const PortFault& fault);  // short, for the status label
QString FaultLogLine(const PortFault& fault);     // one log line, without line end

// Which device a port number opens. COM1 and COM2 default to the platform's
// first two serial ports; either can be pointed at another device.
class PortMap {
public:
    void setDevice(int16_t port, const QString& device) { overrides_[port] = device; }
    QString device(int16_t port) const;

private:
    std::map<int16_t, QString> overrides_;
};

class SerialControl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void setCommPort(int16_t port) = 0;
    virtual int16_t commPort() const = 0;
    // Takes effect at once on an open port, otherwise at the next open.
    // Returns false for a text that is not a valid setting.
    virtual bool setSettings(const QString& settings) = 0;
    virtual QString settings() const = 0;
    virtual bool portOpen() const = 0;
    // Opening returns false when the port cannot be opened (see lastFault);
    // closing waits until everything handed to output has left.
    virtual bool setPortOpen(bool open) = 0;
    // Queues the bytes for sending whole; false (nothing queued) on failure.
    virtual bool output(const QByteArray& bytes) = 0;
    virtual int commEvent() const = 0;
    // Everything received and not yet read; empties the buffer.
    virtual RxText input() = 0;
    // While held, the receive event is not raised; it is raised after the
    // last release if data is waiting. Holds nest.
    virtual void holdEvents() = 0;
    virtual void releaseEvents() = 0;
    virtual PortFault lastFault() const = 0;
    virtual QString deviceName() const = 0;

signals:
    void onComm();
    // A fault on an open port (the adapter vanished, a read failed); the
    // port has been closed. Raised once per fault.
    void faulted(const vorla::PortFault& fault);
};

}  // namespace vorla
