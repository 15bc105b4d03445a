// SPDX-License-Identifier: MIT
// Frames typed as hexadecimal text: pairs of digits at character positions
// 1-2, 4-5, 7-8, ...; the character after each pair is a separator and is
// skipped unexamined; parsing ends when fewer than two characters follow a
// separator, so a trailing lone character is dropped.
#pragma once

#include <cstdint>
#include <vector>

#include <QString>

#include "protocol/frame.h"

namespace vorla {

enum class HexTextStatus { Empty, Ok, NotHex };

struct HexText {
    HexTextStatus status = HexTextStatus::Empty;
    std::vector<uint8_t> bytes;
};

// A text of one character cannot hold a pair and counts as not hexadecimal.
HexText ParseHexText(const QString& text);
// Bytes as the tool shows them: "01 C0 80 80 04 C5".
QString HexBytes(const QByteArray& bytes);

// The raw sender's frame from typed bytes: with appendCheckByte the typed
// bytes are the frame up to its tail and the check byte is computed and
// appended; without it the last typed byte is taken as the check byte.
Frame RawFrame(std::vector<uint8_t> typed, bool appendCheckByte);

}  // namespace vorla
