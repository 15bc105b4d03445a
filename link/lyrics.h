// SPDX-License-Identifier: MIT
// Plays a karaoke lyric stream back in the two lyric lines.
//
// Codes: 0x01 x T sets the tempo unit T / 3.6; 0x04 ends the lyrics; 0x05
// shows line 1 (double-byte characters) and, after 0x06, line 2 (double-byte
// characters, then single-byte ones above 0x20); 0x07 D pauses
// (D - 32) * 4 hundredths of a tempo unit; 0x08 starts a timed sentence of
// pairs (double-byte character, duration character D), each character
// highlighted for (D - 32) hundredths of a tempo unit. Anything else is
// skipped.
#pragma once

#include <cstdint>

#include <QString>

#include "link/event_pump.h"
#include "link/link_state.h"

namespace vorla {

class LyricDisplay {
public:
    virtual ~LyricDisplay() = default;
    // Box 1 is the first lyric line, box 2 the second.
    virtual void setLine(int box, const QString& text) = 0;
    virtual bool lineEmpty(int box) const = 0;
    // Gives the box the focus and selects `length` characters from `start`.
    virtual void highlight(int box, int start, int length) = 0;
    virtual void clearSelection(int box) = 0;
};

// Runs on its own copy of the stream. Waits are scheduled from LyricMark, so
// time spent between two timing points comes off the next wait; a wait
// returns early, ending the run, when both lines are found empty.
void DecodeLyrics(RxText stream, int16_t lineLength, LyricDisplay& display, EventPump& pump, LyricState& st);

}  // namespace vorla
