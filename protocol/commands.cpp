// SPDX-License-Identifier: MIT
#include "protocol/commands.h"

#include "protocol/text_encoding.h"

namespace vorla {

std::array<uint8_t, 2> StoredItemBytes(int16_t listIndex, uint8_t base) {
    const ItemSplit split = SplitItemIndex(listIndex);
    return {uint8_t(0x60 + split.high), uint8_t(base + split.low)};
}

std::vector<uint8_t> PlayFrameStart(const FrameEnds& ends, const PlayHeader& header) {
    return {ends.head, header.mode, header.option, header.sound};
}

std::optional<Frame> TextFrame(const FrameEnds& ends, const PlaySettings& settings, const QString& text,
                               int16_t maxTextBytes) {
    if (text.isEmpty()) return std::nullopt;
    std::vector<uint8_t> bytes = PlayFrameStart(ends, PlayHeaderFor(settings));
    const std::vector<uint8_t> body = EncodeSynthesisText(text, maxTextBytes);
    bytes.insert(bytes.end(), body.begin(), body.end());
    bytes.push_back(ends.tail);
    return Frame::Sealed(std::move(bytes));
}

Frame ItemFrame(const FrameEnds& ends, const PlaySettings& settings, int16_t listIndex, uint8_t base) {
    std::vector<uint8_t> bytes = PlayFrameStart(ends, PlayHeaderFor(settings));
    const auto item = StoredItemBytes(listIndex, base);
    bytes.insert(bytes.end(), item.begin(), item.end());
    bytes.push_back(ends.tail);
    return Frame::Sealed(std::move(bytes));
}

Frame ControlFrame(const FrameEnds& ends, uint8_t mode) {
    return Frame::Sealed({ends.head, mode, 0x80, 0x80, ends.tail});
}

}  // namespace vorla
