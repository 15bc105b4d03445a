// SPDX-License-Identifier: MIT
// The line on record: every frame written and every read from the port, with
// its time on the conversation's clock, its direction and port, and the
// port's events (opened, closed, new settings, a fault). Bounded: the oldest
// entries go once it holds its capacity, and are counted.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>

#include <QByteArray>
#include <QString>

#include "protocol/capture.h"
#include "protocol/chip_reader.h"

namespace vorla {

struct LineEntry {
    LineEntry() = default;
    LineEntry(double when, int16_t portNumber, capture::Direction dir, QByteArray data, QString what = {},
              capture::Note understood = {})
        : at(when), port(portNumber), direction(dir), bytes(std::move(data)), event(std::move(what)), note(understood) {
    }

    double at = 0;  // seconds on the conversation's clock
    int16_t port = 1;
    capture::Direction direction = capture::Direction::None;
    QByteArray bytes;
    QString event;       // for an event of the port: what happened
    capture::Note note;  // what the tool understood: a frame's exchange, a message, a closed exchange
    // What a capture's packet comment says of it.
    QString comment() const { return note.valid() ? capture::NoteText(note) : event; }
};

class LineRecord {
public:
    static constexpr size_t kCapacity = 100'000;  // about 12 MiB at most; half an hour of a busy line

    explicit LineRecord(size_t capacity = kCapacity) : capacity_(capacity) {}
    void add(LineEntry entry);
    const std::deque<LineEntry>& entries() const { return entries_; }
    // Entries dropped to keep within the capacity.
    uint64_t dropped() const { return dropped_; }

    // As a capture: a clock time `clockNow` is the wall-clock moment
    // `wallMicrosNow` (microseconds since the Unix epoch); `device` names
    // the device a port number opens.
    capture::Capture toCapture(double clockNow, int64_t wallMicrosNow, const std::function<QString(int16_t)>& device,
                               const QString& application) const;

private:
    size_t capacity_;
    std::deque<LineEntry> entries_;
    uint64_t dropped_ = 0;
};

// The line as the tool understood it: the entries with every message the
// chip sent as an entry of its own (its bytes, and a note naming its kind,
// its exchange and an answer's latency). A record made by the conversation
// has them already; for one made without (an older capture), the chip's
// reads are read into messages here, by the same reader the conversation
// uses, and each frame is given its exchange.
std::deque<LineEntry> Understood(const std::deque<LineEntry>& entries);
bool IsMessage(const LineEntry& entry);

}  // namespace vorla
