// SPDX-License-Identifier: MIT
// The record of a frame sent, byte for byte.
#include <gtest/gtest.h>

#include <array>

#include "link/frame_log.h"

using namespace vorla;

TEST(SentRecord, FormatByteForByte) {
    const std::array<uint8_t, 6> stop{0x01, 0xC0, 0x80, 0x80, 0x04, 0xC5};
    EXPECT_EQ(FormatSentRecord(stop), QStringLiteral("发出一帧，字节数  6\r\n-->0x1 0xC0 0x80 0x80 0x4 0xC5 \r\n"));
    const std::array<uint8_t, 3> small{0x00, 0x0A, 0xFF};
    EXPECT_EQ(FormatSentRecord(small), QStringLiteral("发出一帧，字节数  3\r\n-->0x0 0xA 0xFF \r\n"));
}
