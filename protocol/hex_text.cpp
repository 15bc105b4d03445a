// SPDX-License-Identifier: MIT
#include "protocol/hex_text.h"

namespace vorla {

namespace {
int DigitValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    return -1;
}
}  // namespace

HexText ParseHexText(const QString& text) {
    HexText out;
    const qsizetype length = text.size();
    if (length == 0) return out;
    if (length < 2) {
        out.status = HexTextStatus::NotHex;
        return out;
    }
    out.bytes.reserve(size_t((length + 1) / 3));
    for (qsizetype g = 0;; g += 3) {  // g: first digit of a pair, 0-based
        const int high = DigitValue(text[g]);
        const int low = DigitValue(text[g + 1]);
        if (high < 0 || low < 0) {
            out.bytes.clear();
            out.status = HexTextStatus::NotHex;
            return out;
        }
        out.bytes.push_back(uint8_t(high * 16 + low));
        const qsizetype separator = g + 2;  // 0-based
        if (length - (separator + 1) < 2) break;
    }
    out.status = HexTextStatus::Ok;
    return out;
}

Frame RawFrame(std::vector<uint8_t> typed, bool appendCheckByte) {
    return appendCheckByte ? Frame::Sealed(std::move(typed)) : Frame::AsTyped(std::move(typed));
}

QString HexBytes(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

}  // namespace vorla
