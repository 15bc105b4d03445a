// SPDX-License-Identifier: MIT
// The serial control the conversation with the chip talks to: port number, line settings,
// open and close, output of a byte array, input as GBK characters, and a
// receive event raised on its thread for every batch received.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "protocol/baud.h"
#include "protocol/chip_reader.h"
#include "protocol/received_text.h"
#include "serial/clock.h"

namespace vorla {

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
    // Whether the port was pointed at a device rather than left at its default.
    bool chosen(int16_t port) const { return overrides_.count(port) != 0; }

private:
    std::map<int16_t, QString> overrides_;
};

// The port operations are the driver's; the receive side is shared by every
// driver: received bytes are read into the chip's messages (see ChipReader)
// in one place, and the receive event is raised once per message on the
// window's thread.
class SerialControl : public QObject {
    Q_OBJECT
public:
    // Arrivals are timed, and the line's quiet is waited for, on `clock`,
    // the one time source of everything above the serial control.
    explicit SerialControl(Clock& clock, QObject* parent = nullptr);

    virtual void setCommPort(int16_t port) = 0;
    virtual int16_t commPort() const = 0;
    // Takes effect on an open port once what output queued has left,
    // otherwise at the next open. Returns false for settings no port takes.
    virtual bool setSettings(const LineSettings& settings) = 0;
    virtual LineSettings settings() const = 0;
    virtual bool portOpen() const = 0;
    // Opening returns false when the port cannot be opened (see lastFault);
    // closing waits until everything handed to output has left. Received
    // bytes that do not yet form a batch are dropped with the close.
    virtual bool setPortOpen(bool open) = 0;
    // Queues the bytes for sending whole; false (nothing queued) on failure.
    virtual bool output(const QByteArray& bytes) = 0;
    virtual PortFault lastFault() const = 0;
    // The device a port number opens.
    virtual QString device(int16_t port) const = 0;
    // Whether port numbers can be pointed at other devices, and doing so;
    // for the port in use it takes effect at the next open.
    virtual bool devicesChoosable() const { return false; }
    virtual void chooseDevice(int16_t /*port*/, const QString& /*device*/) {}
    QString deviceName() const { return device(commPort()); }

    // The next message the chip sent; empty when none is waiting.
    ChipMessage input();
    // The second read of lyric message `seq`: the rest of its stream that
    // arrived since, never a reply that came after the stream's end.
    RxText inputMore(uint64_t seq);
    // Nothing more of lyric message `seq` is still arriving.
    bool inputComplete(uint64_t seq) const { return reader_.streamComplete(seq); }
    // Hands over at once whatever the reader holds, as the line's quiet
    // would (before the port closes or changes): the receive event is
    // raised for it before this returns.
    void flushInput();
    // The same for a reply that waits only to see whether lyrics follow it
    // (the operator acts now, so it is a reply).
    void settleInput();
    // The time base of arrivals.
    Clock& clock() const { return clock_; }

signals:
    // A message of the chip's waits to be read (once for every message).
    void commEventRaised();
    // A fault on an open port (the adapter vanished, a read failed); the
    // port has been closed. Raised once per fault.
    void faulted(const vorla::PortFault& fault);
    // Bytes were received or the line's quiet ended a message, also while
    // the receive event is held.
    void grouping();
    // Bytes as the driver read them from the line, before any grouping.
    void bytesRead(const QByteArray& bytes);

protected:
    // For drivers: bytes from the line, a frame written, the port closed,
    // the line rate in force.
    void bytesReceived(const QByteArray& bytes);
    void frameWritten(const QByteArray& frame) { reader_.frameSent(frame); }
    void receiverClosed() { reader_.reset(); }
    void setLineRate(int baud) { reader_.setBaud(baud); }
    // Bytes the operating system holds that the driver has not yet taken.
    virtual void collectPending() {}
    // How the receive event is raised after a message is read: queued on the
    // event loop (so it never runs inside the driver's own signal).
    virtual void raiseEventSoon();
    // Raises the receive event once for every message not announced yet.
    void raiseEvents();
    void checkQuiet();

private:
    void grouped();

    Clock& clock_;
    ChipReader reader_;
    std::unique_ptr<Alarm> quiet_;  // rings when the line's quiet is due to end a message
    size_t announced_ = 0;          // messages the receive event was raised for, not yet taken
    bool raiseQueued_ = false;
};

}  // namespace vorla
