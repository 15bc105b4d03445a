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

TEST(BaudRateChoice, PortSettingsAndLyricWait) {
    const std::tuple<int16_t, const char*, int, int> table[] = {
        {0, "1200,N,8,1", 9600, 1200}, {1, "2400,N,8,1", 4800, 2400}, {2, "4800,N,8,1", 2400, 4800},
        {3, "9600,N,8,1", 1200, 9600}, {-1, nullptr, 0, 0},           {4, nullptr, 0, 0},
    };
    for (const auto& [index, settings, waitMs, chipBaud] : table) {
        const auto got = BaudSettingsFor(index);
        EXPECT_EQ(got.value_or(QString()), QString::fromLatin1(settings)) << index;
        EXPECT_EQ(LyricWaitMs(index), waitMs) << index;
        EXPECT_EQ(BaudOfModeByte(BaudModeByte(index)), chipBaud) << index;  // what the chip switches to
    }
}
