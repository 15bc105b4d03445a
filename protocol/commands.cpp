// SPDX-License-Identifier: MIT
#include "protocol/commands.h"

#include <algorithm>

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

Frame CodeFrame(const FrameEnds& ends, const PlayHeader& header, const std::vector<CodeListItem>& items,
                int16_t maxTextBytes) {
    std::vector<uint8_t> f = PlayFrameStart(ends, header);
    // The body ends when it holds maxTextBytes bytes; it never runs past the
    // room left for the tail and check byte, whatever maxTextBytes says.
    const size_t bodyEnd = size_t(std::clamp(maxTextBytes + 3, 4, kFrameBufferSize - 2));
    const auto full = [&] { return f.size() >= bodyEnd; };
    for (size_t k = 0; k < items.size() && !full(); ++k) {
        const int32_t code = items[k].code;
        if (code != 0) {
            f.push_back(uint8_t(int16_t(code) / 256));
            f.push_back(uint8_t(int16_t(code) % 256));
            continue;
        }
        SynthesisEncoder encoder;
        for (QStringView ch : SplitCharacters(items[k].text)) {
            const auto bytes = encoder.encode(ch);
            f.insert(f.end(), bytes.begin(), bytes.end());
            if (full()) break;
        }
    }
    f.push_back(ends.tail);
    return Frame::Sealed(std::move(f));
}

}  // namespace vorla
