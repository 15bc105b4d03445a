// SPDX-License-Identifier: MIT
#include "protocol/commands.h"

#include "protocol/text_encoding.h"

namespace vorla {

void EncodeStoredItem(WindowState& st, int16_t listIndex, uint8_t base, int16_t start) {
    st.ItemIndex = listIndex;
    const ItemSplit split = SplitItemIndex(listIndex);
    st.ItemHigh = split.high;
    st.ItemLow = split.low;
    st.FrameBuffer[size_t(start)] = uint8_t(0x60 + split.high);
    st.FrameBuffer[size_t(start) + 1] = uint8_t(base + split.low);
    st.FrameCursor = int16_t(start + 2);
}

namespace {
void WriteHeader(WindowState& st, const PlaySettings& settings) {
    st.FrameBuffer[0] = st.FrameHead;
    st.FrameBuffer[2] = OptionByte(settings);
    st.FrameBuffer[1] = kPlayMode;
    st.FrameBuffer[3] = SoundByte(settings);
}
}  // namespace

bool BuildTextFrame(WindowState& st, const PlaySettings& settings, const QString& text) {
    if (text.isEmpty()) return false;
    st.CheckByte = 0;
    st.LastCommand = cmd::kText;
    WriteHeader(st, settings);
    EncodeSynthesisText(text, 4, st.MaxTextBytes, st.FrameBuffer, st.FrameCursor);
    st.FrameBuffer[size_t(st.FrameCursor)] = st.FrameTail;
    st.FrameLastIndex = st.FrameCursor;
    CompleteFrame(st.FrameBuffer, st.FrameLastIndex, st.CheckByte, st.ByteIndex);
    return true;
}

void BuildItemFrame(WindowState& st, const PlaySettings& settings, int16_t listIndex, uint8_t base, int16_t command) {
    st.CheckByte = 0;
    st.LastCommand = command;
    st.FrameBuffer[0] = st.FrameHead;
    st.FrameBuffer[6] = st.FrameTail;
    WriteHeader(st, settings);
    EncodeStoredItem(st, listIndex, base, 4);
    st.FrameLastIndex = 6;
    CompleteFrame(st.FrameBuffer, st.FrameLastIndex, st.CheckByte, st.ByteIndex);
}

void BuildControlFrame(WindowState& st, ControlFrame& frame, uint8_t mode, int16_t command) {
    st.CheckByte = 0;
    st.LastCommand = command;
    frame = {st.FrameHead, mode, 0x80, 0x80, st.FrameTail, 0};
    st.FrameLastIndex = 4;
    CompleteFrame(frame, st.FrameLastIndex, st.CheckByte, st.ByteIndex);
}

}  // namespace vorla
