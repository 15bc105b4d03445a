// SPDX-License-Identifier: MIT
#include "protocol/text_encoding.h"

namespace vorla {

namespace {
constexpr std::array<uint8_t, 2> kFullWidthQuestionMark{0xA3, 0xBF};
// Room in the longest frame between the four header bytes and the tail and
// check byte.
constexpr size_t kMaxBodyBytes = kFrameBufferSize - 6;
}  // namespace

bool GbkAvailable() {
    QStringEncoder encoder("GBK");
    if (!encoder.isValid()) return false;
    const QByteArray probe = encoder.encode(QStringLiteral("欢A"));
    return probe == QByteArray(
                        "\xBB\xB6"
                        "A");
}

std::vector<QStringView> SplitCharacters(const QString& text) {
    std::vector<QStringView> out;
    out.reserve(size_t(text.size()));
    const QStringView view(text);
    for (qsizetype i = 0; i < view.size();) {
        const qsizetype len =
            (view[i].isHighSurrogate() && i + 1 < view.size() && view[i + 1].isLowSurrogate()) ? 2 : 1;
        out.push_back(view.mid(i, len));
        i += len;
    }
    return out;
}

std::array<uint8_t, 2> SynthesisEncoder::encode(QStringView character) {
    const QByteArray code = gbk_->encode(character);
    // The converter's error flag sticks: the character after one GBK cannot
    // carry gets a new converter. The output bytes alone decide the result.
    if (gbk_->hasError()) fresh();
    if (code.size() == 1) {
        const uint8_t b = uint8_t(code[0]);
        if (b >= 0x01 && b <= 0x7F) return {0xA3, uint8_t(b + 0x80)};
    } else if (code.size() == 2) {
        const uint8_t lead = uint8_t(code[0]);
        if (lead >= 0x81 && lead <= 0xFE) return {lead, uint8_t(code[1])};
    }
    return kFullWidthQuestionMark;
}

std::vector<uint8_t> EncodeSynthesisText(const QString& text, int16_t maxTextBytes) {
    std::vector<uint8_t> body;
    SynthesisEncoder encoder;
    for (QStringView ch : SplitCharacters(text)) {
        if (body.size() + 2 > kMaxBodyBytes) break;
        const auto bytes = encoder.encode(ch);
        body.insert(body.end(), bytes.begin(), bytes.end());
        if (int(body.size()) >= maxTextBytes) break;
    }
    return body;
}

}  // namespace vorla
