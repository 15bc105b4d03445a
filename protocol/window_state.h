// SPDX-License-Identifier: MIT
// The window's variables, shared by all handlers, in their own widths:
// 16-bit signed integers and unsigned bytes.
#pragma once

#include <array>
#include <cstdint>

#include "protocol/frame.h"
#include "protocol/received_text.h"

namespace vorla {

// LastCommand values: the number of the button whose frame went out last.
// The two raw senders have numbers of their own, so that a rejected raw
// frame is resent by the raw sender that sent it.
namespace cmd {
constexpr int16_t kNone = 0;
constexpr int16_t kStop = 1;
constexpr int16_t kMusic = 3;
constexpr int16_t kPhrase = 4;
constexpr int16_t kPoem = 5;
constexpr int16_t kText = 6;
constexpr int16_t kBaud = 10;
constexpr int16_t kSleepWake = 11;
constexpr int16_t kSound = 12;
constexpr int16_t kCodePlayback = 13;
constexpr int16_t kOutputMode = 26;
constexpr int16_t kBaudAndOutput = 27;
constexpr int16_t kRawAutoCheck = 101;
constexpr int16_t kRawManualCheck = 102;
}  // namespace cmd

using CodeParamRecord = std::array<int16_t, 4>;

struct WindowState {
    int16_t MaxTextBytes = 0;
    uint8_t FrameHead = 0;
    uint8_t FrameTail = 0;
    int16_t VolumeLevel = 0;
    int16_t FrameLastIndex = 0;
    int16_t HighlightPos = 0;
    RxText ReplyText;
    int16_t LastCommand = 0;
    uint8_t CheckByte = 0;
    int16_t RetryCount = 0;
    int16_t Sleeping = 0;
    int16_t PlaybackFinished = 0;
    std::array<CodeParamRecord, 4> CodeParams{};
    int16_t CodePosition = 0;
    int16_t ResumePending = 0;
    int16_t SequenceDone = 0;
    // Seconds on a monotonic clock; double precision, since a single
    // precision reading of a long-running clock loses milliseconds.
    double LyricLag = 0;
    double LyricMark = 0;
    int16_t PortNumber = 0;
};

}  // namespace vorla
