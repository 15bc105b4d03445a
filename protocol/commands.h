// SPDX-License-Identifier: MIT
// The frames of the play and control commands, built into the window state
// exactly as the buttons build them.
#pragma once

#include <cstdint>

#include <QString>

#include "protocol/catalog.h"
#include "protocol/frame.h"
#include "protocol/window_state.h"

namespace vorla {

// Item encoders: the item code of list index `listIndex` at FrameBuffer[start]
// and [start + 1]; set ItemIndex, ItemHigh, ItemLow and FrameCursor.
void EncodeStoredItem(WindowState& st, int16_t listIndex, uint8_t base, int16_t start);
inline void EncodeMusicItem(WindowState& st, int16_t listIndex, int16_t start) {
    EncodeStoredItem(st, listIndex, kMusicBase, start);
}
inline void EncodePhraseItem(WindowState& st, int16_t listIndex, int16_t start) {
    EncodeStoredItem(st, listIndex, kPhraseBase, start);
}
inline void EncodePoemItem(WindowState& st, int16_t listIndex, int16_t start) {
    EncodeStoredItem(st, listIndex, kPoemBase, start);
}
inline void EncodeSoundItem(WindowState& st, int16_t listIndex, int16_t start) {
    EncodeStoredItem(st, listIndex, kSoundBase, start);
}

// The text command's frame in FrameBuffer. Returns false, changing nothing,
// for an empty text; otherwise sets CheckByte, LastCommand 6, the frame and
// FrameLastIndex.
bool BuildTextFrame(WindowState& st, const PlaySettings& settings, const QString& text);

// A stored item's 8-byte frame in FrameBuffer, with LastCommand `command`.
void BuildItemFrame(WindowState& st, const PlaySettings& settings, int16_t listIndex, uint8_t base, int16_t command);

// A control command's 6-byte frame with the given mode byte and no body.
void BuildControlFrame(WindowState& st, ControlFrame& frame, uint8_t mode, int16_t command);

}  // namespace vorla
