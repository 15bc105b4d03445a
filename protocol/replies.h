// SPDX-License-Identifier: MIT
// The chip's replies: three bytes, 01 code 14, with the code telling which.
//
// 01 10 14  the frame was rejected (received with an error)
// 01 11 14  the frame was accepted; lyric data may follow it
// 01 12 14  playback has finished
//
// The receive handler looks at the second character only; the receive
// grouping also checks the head and the tail to find replies in a stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include <QByteArray>
#include <QString>

namespace vorla::reply {

constexpr int16_t kHead = 0x01;
constexpr int16_t kTail = 0x14;
constexpr size_t kChars = 3;
// A read of fewer characters carries no reply and is dropped.
constexpr size_t kMinChars = 2;
// An acceptance read with this many characters or fewer carries no lyric
// data, unless a lyric stream ends inside it.
constexpr size_t kBareAcceptanceMaxChars = 10;
// A rejected command is sent again at most this many times in a row.
constexpr int kMaxResends = 3;

enum class Kind { Rejected, Accepted, Finished };

constexpr int16_t Code(Kind kind) { return int16_t(0x10 + int(kind)); }
// The reply a second character names; nothing for any other character.
constexpr std::optional<Kind> KindOf(int16_t code) {
    if (code < 0x10 || code > 0x12) return std::nullopt;
    return Kind(code - 0x10);
}

// The three bytes of a reply.
QByteArray Bytes(Kind kind);

// "接收成功" and the like, for the status label; a rejection's status also
// counts the attempt (RejectedStatus).
QString StatusText(Kind kind);
// "->0x01 0x11 0x14 接受成功" and the like, for the log.
QString LogLine(Kind kind);
// The status after the n-th rejection in a row: "接收失败 =  n".
QString RejectedStatus(int attempt);

}  // namespace vorla::reply
