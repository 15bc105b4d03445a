// SPDX-License-Identifier: MIT
// The frames of the play and control commands, from explicit inputs, as the
// buttons build them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include <QString>

#include "protocol/catalog.h"
#include "protocol/frame.h"

namespace vorla {

// The two bytes of a stored item's code: 0x60 + index div 16, then the
// list's base + index mod 16.
std::array<uint8_t, 2> StoredItemBytes(int16_t listIndex, uint8_t base);

// Head, mode, option and sound byte: the start of every play frame.
std::vector<uint8_t> PlayFrameStart(const FrameEnds& ends, const PlayHeader& header);

// The text command's frame; nothing for an empty text.
std::optional<Frame> TextFrame(const FrameEnds& ends, const PlaySettings& settings, const QString& text,
                               int16_t maxTextBytes);

// A stored item's 8-byte frame.
Frame ItemFrame(const FrameEnds& ends, const PlaySettings& settings, int16_t listIndex, uint8_t base);

// A control command's 6-byte frame with the given mode byte and no body.
Frame ControlFrame(const FrameEnds& ends, uint8_t mode);

// An item of a code list: its display text, and its item code (0 for a text).
struct CodeListItem {
    QString text;
    int32_t code = 0;
    friend bool operator==(const CodeListItem&, const CodeListItem&) = default;
};

// A code list's frame: the header, then the items in list order, at most
// maxTextBytes body bytes (a text can be cut between characters).
Frame CodeFrame(const FrameEnds& ends, const PlayHeader& header, const std::vector<CodeListItem>& items,
                int16_t maxTextBytes = kMaxTextBytes);

}  // namespace vorla
