// SPDX-License-Identifier: MIT
// Text for the chip: every character becomes two bytes, its GBK code, or
// 0xA3 followed by b + 0x80 for a one-byte code b (the full-width row), so no
// encoded byte is below 0x40 and the frame head and tail never appear in it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include <QString>
#include <QStringEncoder>
#include <QStringView>

#include "protocol/frame.h"

namespace vorla {

// True when the platform's GBK (code page 936) converter can be used.
bool GbkAvailable();

// Splits a text into characters: a surrogate pair counts as one character.
std::vector<QStringView> SplitCharacters(const QString& text);

// Encodes the characters of one text, two bytes each. Every text starts from
// a converter of its own, and a character GBK cannot represent leaves the
// next one a fresh converter: no state carries over from one to the next.
class SynthesisEncoder {
public:
    SynthesisEncoder() { fresh(); }
    // The two bytes of one character. The character code 0, the euro sign
    // (the one one-byte code above 0x7F) and anything GBK cannot represent
    // become the full-width question mark 0xA3 0xBF.
    std::array<uint8_t, 2> encode(QStringView character);

private:
    void fresh() { gbk_.emplace("GBK", QStringConverter::Flag::Stateless); }
    std::optional<QStringEncoder> gbk_;
};

// The body bytes of a text: two bytes a character, ending after the character
// whose second byte brings the body to maxTextBytes bytes (25 characters with
// 50 bytes), and never longer than the 50 bytes a frame has room for. An
// empty text gives no bytes.
std::vector<uint8_t> EncodeSynthesisText(const QString& text, int16_t maxTextBytes);

}  // namespace vorla
