// SPDX-License-Identifier: MIT
// The codes of a karaoke lyric stream, shared by the lyric interpreter and
// the receive side that finds where a stream ends.
#pragma once

#include <cstdint>

namespace vorla::lyric {
constexpr int16_t kTempo = 0x01;  // 0x01, a skipped character, the tempo character
constexpr int16_t kEnd = 0x04;
constexpr int16_t kLines = 0x05;  // line 1, then 0x06 and line 2
constexpr int16_t kLine2 = 0x06;
constexpr int16_t kPause = 0x07;     // 0x07, a duration character
constexpr int16_t kSentence = 0x08;  // pairs of a double-byte character and its duration
}  // namespace vorla::lyric
