// SPDX-License-Identifier: MIT
// The parts of the window's state that the receive handler, the lyric
// display and code playback share (the window keeps them, with its own
// variables, in one WindowState). Integers are 16-bit signed, as the window
// keeps them.
#pragma once

#include <cstdint>

#include "protocol/received_text.h"

namespace vorla {

// LastCommand while code playback runs: the number of its button.
constexpr int16_t kCodePlaybackCommand = 13;

// The lyric display's timing points.
struct LyricState {
    // Seconds on a monotonic clock; double precision, since a single
    // precision reading of a long-running clock loses milliseconds.
    double LyricMark = 0;
    double LyricLag = 0;
    int16_t HighlightPos = 0;
};

// What the replies change and code playback waits on.
struct ReplyState : LyricState {
    int16_t LastCommand = 0;
    int16_t RetryCount = 0;
    int16_t PlaybackFinished = 0;
    int16_t ResumePending = 0;
    int16_t SequenceDone = 0;
    RxText ReplyText;
};

}  // namespace vorla
