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
// ("message accepted exchange 12 latency 26.183 ms", "message lyrics exchange
// 12 ended"); an exchange's close is an event ("exchange 12 closed:
// answered; resends 0; latency 26.183 ms").
QString FrameNote(uint64_t exchange, int resend);
QString MessageNote(const QString& kind, uint64_t exchange, std::optional<double> latencyMs, bool ended);
QString ClosedNote(uint64_t exchange, const QString& why, std::optional<double> latencyMs, int resends);
struct Note {
    enum class Type { Frame, Message, Closed };
    Type type = Type::Frame;
    uint64_t exchange = 0;
    int resend = 0;  // a frame's resend number; a closed exchange's resends
    QString kind;    // a message's kind ("accepted", "lyrics", ...); why an exchange closed
    std::optional<double> latencyMs;
    bool ended = false;  // lyrics with their end code
};
std::optional<Note> ParseNote(const QString& comment);

}  // namespace vorla::capture
