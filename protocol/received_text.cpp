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

RxText GbkSplitter::feed(const QByteArray& bytes) {
    RxText out;
    out.reserve(size_t(bytes.size()));
    for (const char c : bytes) {
        const uint8_t b = uint8_t(c);
        if (pendingLead_ != 0) {
            out.push_back(DoubleByteChar(pendingLead_, b));
            pendingLead_ = 0;
        } else if (b >= 0x81 && b <= 0xFE) {
            pendingLead_ = b;
        } else {
            out.push_back(SingleByteChar(b));
        }
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
