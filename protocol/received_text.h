// SPDX-License-Identifier: MIT
// Received bytes as text in the GBK code page.
//
// A byte 0x00-0x7F is one character whose code is the byte. A lead byte
// 0x81-0xFE and the byte after it are one double-byte character whose code
// is lead * 256 + trail taken as a signed 16-bit number (always negative),
// when that byte can follow a lead byte in GBK (0x40-0xFE but 0x7F); before
// any other byte the lead byte is line noise, a character of its own, and
// the byte after it is read afresh (so a glitch never swallows a reply's
// head).
// The two bytes that are neither, 0x80 and 0xFF, are one single-byte
// character each with the byte as its code (0x80 shows as the euro sign, as
// code page 936 has it; 0xFF shows as the replacement character).
#pragma once

#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QString>

namespace vorla {

struct RxChar {
    int16_t code = 0;
    char16_t ch = 0;  // what the character looks like in a text box
    bool doubleByte() const { return code < 0; }
    friend bool operator==(const RxChar&, const RxChar&) = default;
};
using RxText = std::vector<RxChar>;

// Turns a byte stream into characters. A lead byte that comes last in a
// batch is held back until its trail byte arrives with the next batch.
class GbkSplitter {
public:
    RxText feed(const QByteArray& bytes);
    bool holdsLeadByte() const { return pendingLead_ != 0; }
    // A held lead byte as a single-byte character of its own (the stream
    // ended without its trail byte).
    RxText flush();
    void reset() { pendingLead_ = 0; }

private:
    uint8_t pendingLead_ = 0;
};

// The one-shot conversion, for a complete byte string.
RxText SplitReceived(const QByteArray& bytes);

RxChar SingleByteChar(uint8_t b);
RxChar DoubleByteChar(uint8_t lead, uint8_t trail);

QString ToQString(const RxText& text);
QString ToQString(const RxText& text, size_t from, size_t count);

// The bytes a received text came from (for logs and tests).
QByteArray ToBytes(const RxText& text);

}  // namespace vorla
