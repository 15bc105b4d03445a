// SPDX-License-Identifier: MIT
// How bytes the chip sends reach the program on the other end of the line.
//
// The chip sends back to back at the line rate, ten bits a byte. What the
// reader gets, and when, depends on what sits in between:
// - uart:  a UART hands bytes over one at a time below 2400 baud; from 2400
//          up its receive FIFO hands them over in groups of 8, and what is
//          left in it once the line has been quiet for 4 character times;
// - usb:   a USB serial adapter hands over what it has every 16 ms;
// - burst: bytes are handed over up to 32 ahead of the line, so a reply and
//          what follows it after an idle line arrive together.
// Free of I/O: the caller asks when to deliver and takes the bytes then.
#pragma once

#include <deque>
#include <limits>
#include <optional>

#include <QByteArray>
#include <QString>

namespace vorla::sim {

enum class LineKind { Burst, Uart, Usb };
std::optional<LineKind> ParseLineKind(const QString& name);
QString LineKindName(LineKind kind);

class LineModel {
public:
    static constexpr double kNever = std::numeric_limits<double>::infinity();
    static constexpr int kFifoTrigger = 8;
    static constexpr int kFifoTimeoutChars = 4;
    static constexpr double kUsbTimerSeconds = 0.016;
    static constexpr int kBurstAhead = 32;

    // `phase`: a moment at which the USB adapter's timer fires.
    explicit LineModel(LineKind kind = LineKind::Uart, double phase = 0) : kind_(kind), phase_(phase) {}

    // The chip starts sending `bytes` at `now` at `baud`, after whatever it
    // is still sending. Returns when the last of them has left.
    double send(const QByteArray& bytes, int baud, double now);
    // When the next bytes reach the reader; kNever when none wait.
    double nextDelivery() const;
    // Every byte that has reached the reader by `now`.
    QByteArray deliver(double now);
    void clear() { wire_.clear(); }

private:
    struct Byte {
        char value;
        double done;      // its stop bit has been received
        double charTime;  // its time on the line
        double sentAt;    // handed to the line
    };
    // The next group: when it is handed over and how many bytes it holds.
    std::pair<double, size_t> nextGroup() const;
    std::pair<double, size_t> burstGroup() const;
    std::pair<double, size_t> uartGroup() const;
    std::pair<double, size_t> usbGroup() const;

    LineKind kind_;
    double phase_;
    std::deque<Byte> wire_;
    double lineFree_ = 0;
};

}  // namespace vorla::sim
