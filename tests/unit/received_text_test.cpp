// SPDX-License-Identifier: MIT
// Received bytes as GBK characters and their character codes.
#include <gtest/gtest.h>

#include "protocol/received_text.h"
#include "support/hex.h"

using namespace vorla;
using vorla::test::Hex;

TEST(ReceivedText, SingleAndDoubleByteCharacters) {
    GbkSplitter splitter;
    const RxText text = splitter.feed(Hex("01 11 14 BB B6 41 80 FF"));
    ASSERT_EQ(text.size(), 7u);
    EXPECT_EQ(text[1].code, 0x11);
    EXPECT_EQ(text[3].code, int16_t(0xBBB6));
    EXPECT_LT(text[3].code, 0);
    EXPECT_EQ(QString(QChar(text[3].ch)), QStringLiteral("欢"));
    EXPECT_EQ(text[4].code, 0x41);
    EXPECT_EQ(text[5].code, 0x80);  // single-byte, shown as the euro sign
    EXPECT_EQ(text[5].ch, u'\u20AC');
    EXPECT_EQ(text[6].code, 0xFF);
    EXPECT_FALSE(text[6].doubleByte());
    ASSERT_FALSE(splitter.holdsLeadByte());
}

TEST(ReceivedText, LeadByteHeldUntilItsTrailArrives) {
    GbkSplitter splitter;
    RxText first = splitter.feed(Hex("41 BB"));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(splitter.holdsLeadByte());
    RxText second = splitter.feed(Hex("B6 42"));
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].code, int16_t(0xBBB6));
    EXPECT_EQ(second[1].code, 0x42);
    // A lead byte before a byte that cannot follow it is line noise: a
    // character of its own, and the next byte is read afresh (a reply's
    // head is never swallowed).
    for (const char* noise : {"81 01", "FE 20", "B0 7F"}) {
        const RxText odd = splitter.feed(Hex(noise));
        ASSERT_EQ(odd.size(), 2u) << noise;
        EXPECT_EQ(odd[0].code, int16_t(uint8_t(Hex(noise)[0]))) << noise;
        EXPECT_EQ(odd[0].ch, u'\uFFFD');
        EXPECT_EQ(odd[1].code, int16_t(uint8_t(Hex(noise)[1]))) << noise;
    }
    EXPECT_EQ(ToBytes(second), Hex("BB B6 42"));
}
