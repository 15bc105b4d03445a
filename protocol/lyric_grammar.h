// SPDX-License-Identifier: MIT
// The karaoke lyric stream the chip sends while it plays a karaoke piece
// that was asked for its lyrics, read character by character (GBK
// characters as received):
//
//   0x01 x T   tempo: the tempo unit becomes code(T) / 3.6 seconds (x skipped)
//   0x04       end of the lyrics
//   0x05 L1 [0x06 L2]
//              lines shown without timing: L1 double-byte characters; L2
//              double-byte characters, then single-byte ones above 0x20
//   0x07 D     pause (code(D) - 32) * 4 hundredths of a tempo unit
//   0x08 (C D)...
//              a timed sentence: each double-byte character C held for
//              (code(D) - 32) hundredths of a tempo unit, shown in lines of
//              at most eight characters (the last part with a comma)
//   other      skipped
//
// A text or sentence ends at the first character that does not fit it,
// which is then read as the next code.
#pragma once

#include <cstdint>
#include <vector>

#include <QString>

#include "protocol/received_text.h"

namespace vorla {

namespace lyric {
constexpr int16_t kTempo = 0x01;
constexpr int16_t kEnd = 0x04;
constexpr int16_t kLines = 0x05;
constexpr int16_t kLine2 = 0x06;
constexpr int16_t kPause = 0x07;
constexpr int16_t kSentence = 0x08;
// A duration character's code less this is the duration in hundredths.
constexpr int16_t kDurationBase = 32;
// The most characters a line of a timed sentence shows.
constexpr int16_t kLineLength = 8;

double TempoUnit(int16_t tempoCode);
// Durations in seconds; wide arithmetic, so a double-byte duration
// character gives a negative duration (no wait) rather than an overflow.
double PauseSeconds(int16_t durationCode, double tempoUnit);
double HoldSeconds(int16_t durationCode, double tempoUnit);
}  // namespace lyric

// Follows a stream as the interpreter reads it, one character at a time, so
// that the end code is told apart from a 0x04 that is an operand.
class LyricEndScanner {
public:
    // True for the end code.
    bool atEnd(const RxChar& c);
    // Whether the next character is read as a code (not as an operand).
    bool atCode() const { return operands_ == 0 && !duration_; }
    void reset() { *this = LyricEndScanner(); }

private:
    int operands_ = 0;
    bool sentence_ = false;
    bool duration_ = false;
};

// What playing a stream does, step by step, in two lyric lines (box 1 and
// box 2). A stream that ends (its end code or its last character) removes
// the highlight; one cut short inside a code stops where it was cut.
struct LyricStep {
    enum class Kind {
        ShowLine,         // box shows text
        ClearSelections,  // line 2's selection, then line 1's
        Highlight,        // box selects the character at `start`
        Wait,             // `seconds` (a held character when `sung`)
        RemoveHighlight,  // the end: the selections cleared, line 2 first
    };
    Kind kind = Kind::Wait;
    int box = 0;
    QString text;
    int start = 0;
    double seconds = 0;
    bool sung = false;
};
std::vector<LyricStep> LyricScript(const RxText& stream, int16_t lineLength = lyric::kLineLength);

// A stream's time line: every held character and every pause, in order.
struct LyricBeat {
    double seconds = 0;
    bool sung = false;  // a character held, or a pause
};
std::vector<LyricBeat> LyricTimeline(const RxText& stream);
// How long a stream takes to play, in seconds.
double LyricSeconds(const RxText& stream);

}  // namespace vorla
