// SPDX-License-Identifier: MIT
#include "protocol/received_text.h"

#include <utility>

#include <QStringDecoder>

namespace vorla {

RxChar SingleByteChar(uint8_t b) {
    char16_t ch = b;
    if (b == 0x80) ch = u'\u20AC';
    else if (b > 0x80) ch = u'\uFFFD';
    return RxChar{int16_t(b), ch};
}

RxChar DoubleByteChar(uint8_t lead, uint8_t trail) {
    const char bytes[2] = {char(lead), char(trail)};
    QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
    const QString s = decoder.decode(QByteArrayView(bytes, 2));
    const char16_t ch = (!decoder.hasError() && s.size() == 1) ? char16_t(s[0].unicode()) : u'\uFFFD';
    return RxChar{int16_t(uint16_t(lead << 8 | trail)), ch};
}

namespace {
// GBK's second bytes. Anything else after a lead byte (a control byte, a
// reply's head) shows the lead byte was line noise.
bool IsTrailByte(uint8_t b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }
bool IsLeadByte(uint8_t b) { return b >= 0x81 && b <= 0xFE; }
}  // namespace

RxText GbkSplitter::feed(const QByteArray& bytes) {
    RxText out;
    out.reserve(size_t(bytes.size()));
    for (const char c : bytes) {
        const uint8_t b = uint8_t(c);
        if (pendingLead_ != 0) {
            const uint8_t lead = std::exchange(pendingLead_, uint8_t(0));
            if (IsTrailByte(b)) {
                out.push_back(DoubleByteChar(lead, b));
                continue;
            }
            out.push_back(SingleByteChar(lead));
        }
        if (IsLeadByte(b)) pendingLead_ = b;
        else out.push_back(SingleByteChar(b));
    }
    return out;
}

RxText GbkSplitter::flush() {
    if (pendingLead_ == 0) return {};
    const RxChar lead = SingleByteChar(std::exchange(pendingLead_, uint8_t(0)));
    return RxText{lead};
}

RxText SplitReceived(const QByteArray& bytes) {
    GbkSplitter splitter;
    RxText out = splitter.feed(bytes);
    for (const RxChar& c : splitter.flush()) out.push_back(c);
    return out;
}

QString ToQString(const RxText& text) { return ToQString(text, 0, text.size()); }

QString ToQString(const RxText& text, size_t from, size_t count) {
    QString s;
    for (size_t i = from; i < text.size() && i < from + count; ++i) s.append(QChar(text[i].ch));
    return s;
}

QByteArray ToBytes(const RxText& text) {
    QByteArray out;
    for (const RxChar& c : text) {
        if (c.doubleByte()) {
            out.append(char(uint16_t(c.code) >> 8));
            out.append(char(uint16_t(c.code) & 0xFF));
        } else {
            out.append(char(c.code));
        }
    }
    return out;
}

}  // namespace vorla
