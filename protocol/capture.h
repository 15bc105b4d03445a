// SPDX-License-Identifier: MIT
// A record of serial lines as a pcapng capture: one section, one interface
// block a port, one enhanced packet block for every write, every read and
// every event of the port (opened, closed, new settings, a fault: no bytes,
// said in the packet's comment). The link type is the first of the user
// range (147): the bytes exactly as they crossed the line. Each packet's
// flags carry its direction. Only little-endian sections are read.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace vorla::capture {

constexpr uint16_t kLinkType = 147;  // LINKTYPE_USER0

enum class Direction { None, In, Out };  // None: an event of the port

struct Interface {
    QString name;         // "COM1"
    QString description;  // the device, "/dev/ttyUSB0"
    friend bool operator==(const Interface&, const Interface&) = default;
};

struct Packet {
    int64_t micros = 0;  // microseconds since the Unix epoch
    uint32_t interface = 0;
    Direction direction = Direction::None;
    QByteArray bytes;
    QString comment;  // an event in words: "opened 1200,N,8,1", "settings 9600,N,8,1"
    friend bool operator==(const Packet&, const Packet&) = default;
};

struct Capture {
    QString application;  // who wrote it
    std::vector<Interface> interfaces;
    std::vector<Packet> packets;
    friend bool operator==(const Capture&, const Capture&) = default;
};

QByteArray Write(const Capture& capture);
// The line of one interface of a capture, as the only one: the capture of a
// test station has an interface a slot. With no name, the one interface
// that carries packets. Nothing, and why (the interfaces there are), for a
// name the capture lacks, or for no name when several carry packets.
std::optional<Capture> LineOf(const Capture& capture, const QString& name, QString* why);

// Nothing (and why) for data that is not such a capture.
std::optional<Capture> Read(QByteArrayView data, QString* error = nullptr);

// The events as their comments say them.
QString OpenedEvent(const QString& settings);    // "opened 1200,N,8,1"
QString SettingsEvent(const QString& settings);  // "settings 9600,N,8,1"
// The baud rate a settings or opened event names; 0 for any other.
int EventBaud(const QString& comment);

// What the tool understood of the line, beside the bytes: each frame names
// its exchange ("exchange 12", "exchange 12 resend 1"); each message the
// chip sent is a packet of its own, without a direction, holding its bytes
// ("message accepted exchange 12 latency 26.183 ms", "message lyrics
// exchange 12 ended"); an exchange's close is an event ("exchange 12
// closed: answered; resends 0; latency 26.183 ms"). Kept small, as a record
// holds one for most of its entries; said in words in a packet's comment.
struct Note {
    enum class Type : uint8_t { None, Frame, Message, Closed };
    Type type = Type::None;
    bool ended = false;   // lyrics with their end code
    uint8_t kind = 0;     // a message's kind or why an exchange closed (NoteKindName)
    uint16_t resend = 0;  // a frame's resend number; a closed exchange's resends
    uint32_t exchange = 0;
    float latencyMs = -1;  // an answer's latency; negative for none

    bool valid() const { return type != Type::None; }
    QString kindName() const;
    std::optional<double> latency() const { return latencyMs >= 0 ? std::optional<double>(latencyMs) : std::nullopt; }
    friend bool operator==(const Note&, const Note&) = default;
};
Note FrameNote(uint64_t exchange, int resend);
// `kind`: "rejected", "accepted", "finished", "lyrics" or "stray".
Note MessageNote(const QString& kind, uint64_t exchange, std::optional<double> latencyMs, bool ended);
// `why`: "answered", "finished", "rejected", "no answer", "superseded" or "port closed".
Note ClosedNote(uint64_t exchange, const QString& why, std::optional<double> latencyMs, int resends);
QString NoteText(const Note& note);
// Nothing for a comment that is no such note.
std::optional<Note> ParseNote(const QString& comment);

}  // namespace vorla::capture
