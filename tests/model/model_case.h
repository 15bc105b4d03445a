// SPDX-License-Identifier: MIT
// One case of the model-based test: a line shape and a timeline of steps,
// each after a delay, each an operator's input (a click, a control changed,
// the code lists edited, another port) or a message of the chip (replies,
// a burst of replies, a lyric stream, a stray byte). Generated and shrunk
// by RapidCheck; shown as a readable timeline.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <variant>
#include <vector>

#include <rapidcheck.h>

#include "conversation/conversation.h"
#include "protocol/replies.h"
#include "sim/line_model.h"

namespace vorla::model {

// Bytes real lines put around replies and inside lyric streams. None can be
// read as a reply's head, a reply code, a lyric code that opens a block or
// the end code, so a stray byte never changes what the chip said.
inline constexpr uint8_t kStrayBytes[] = {0x7E, 0x00, 0xFF, 0x20, 0x80, 0xB0, 0x3F, 0x14};
inline constexpr int kNoStray = -1;

// A control the operator changes, and the values it takes.
enum class Field : uint8_t { LyricsBack, FinishReport, BaudIndex, Text, RawText };
// The texts of the text box and of the raw sender the operator chooses from.
QString TextChoice(int value);
QString RawTextChoice(int value);
// The code lists after an edit: the start-up lists, all empty, only code 3,
// a text and a stored item.
CodeListValues ListsChoice(int value);

struct Click {
    Command command = Command::Stop;
};
struct SetField {
    Field field = Field::LyricsBack;
    int value = 0;
};
struct EditLists {
    int variant = 0;
};
struct SwitchPort {
    int16_t port = 1;
};
struct Reply {
    reply::Kind kind = reply::Kind::Accepted;
    int strayBefore = kNoStray;  // index into kStrayBytes
    int strayAfter = kNoStray;
};
// Replies back to back in one burst, maybe a stray byte behind them.
struct Burst {
    std::vector<reply::Kind> kinds;
    int strayAfter = kNoStray;
};
// A lyric stream: a karaoke piece's (0..7) or a short one (-1), after its
// acceptance (right behind it, or delayMs later), opening with a tempo code
// whose operands are reply-shaped (opening 1..3: 01 10 14, 01 11 14,
// 01 12 14) or not (0), maybe with a stray byte and a pause inside (at a
// percentage of the stream past its opening).
struct Lyrics {
    int piece = 0;
    bool acceptFirst = true;
    int delayMs = 0;
    int opening = 0;
    int strayAt = -1;
    int stray = 0;
    int pauseAt = -1;
    int pauseMs = 0;
};
struct Stray {
    int stray = 0;
};
using Action = std::variant<Click, SetField, EditLists, SwitchPort, Reply, Burst, Lyrics, Stray>;
bool IsOperator(const Action& action);

struct Step {
    int delayMs = 0;  // after the step before
    Action action;
};

struct Case {
    sim::LineKind line = sim::LineKind::Uart;
    int usbPhaseMs = 0;
    std::vector<Step> steps;
};

rc::Gen<Case> GenCase();

void showValue(const Step& step, std::ostream& os);
void showValue(const Case& c, std::ostream& os);

}  // namespace vorla::model
