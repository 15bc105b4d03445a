// SPDX-License-Identifier: MIT
// The record of a frame sent, byte for byte; what the baud-rate choice sets
// on the port, in the lyric wait and in the chip's mode byte.
#include <gtest/gtest.h>

#include <array>

#include "conversation/frame_log.h"
#include "protocol/baud.h"
#include "protocol/frame.h"

using namespace vorla;

TEST(SentRecord, FormatByteForByte) {
    const std::array<uint8_t, 6> stop{0x01, 0xC0, 0x80, 0x80, 0x04, 0xC5};
    EXPECT_EQ(FormatSentRecord(stop), QStringLiteral("发出一帧，字节数  6\r\n-->0x1 0xC0 0x80 0x80 0x4 0xC5 \r\n"));
    const std::array<uint8_t, 3> small{0x00, 0x0A, 0xFF};
    EXPECT_EQ(FormatSentRecord(small), QStringLiteral("发出一帧，字节数  3\r\n-->0x0 0xA 0xFF \r\n"));
}

// The port is set to the rate the mode byte switches the chip to, in the
// chip's format; an index outside the list sets nothing and waits for nothing.
TEST(BaudRateChoice, PortFollowsTheChipsRate) {
    for (int16_t index = -1; index <= kBaudRates; ++index) {
        const auto settings = BaudSettingsFor(index);
        const bool listed = index >= 0 && index < kBaudRates;
        ASSERT_EQ(settings.has_value(), listed) << index;
        EXPECT_EQ(LyricWaitMs(index) > 0, listed) << index;
        if (!listed) continue;
        EXPECT_TRUE(settings->chipFormat() && settings->valid()) << index;
        EXPECT_EQ(BaudOfModeByte(BaudModeByte(index)), settings->baud) << index;
    }
}
