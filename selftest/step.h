// SPDX-License-Identifier: MIT
// The self-test's steps as values: what a step sends (a command and the
// controls it is sent with, exactly as the window sends it), what the chip
// is expected to do with it, and how much it plays, from which its limits
// follow. The table is built once from the chip's catalog.
#pragma once

#include <array>
#include <vector>

#include <QString>
#include <QStringList>

#include "conversation/code_lists.h"
#include "conversation/conversation.h"

namespace vorla {

// What a step's frame must lead to.
enum class Expect {
    Reply,     // an acceptance
    Play,      // an acceptance, then a play
    Lyrics,    // an acceptance, a lyric stream, then a play
    Refused,   // a frame the chip must reject or ignore; a stop after it is accepted
    NoEffect,  // any answer or none, as long as a stop after it is accepted at the same rate
    CodeRun,   // the window's code playback: every code's frame accepted and its play reported
};
QString ExpectName(Expect expect);

// How much a step plays: items of each kind.
using PlayAmount = std::array<int, size_t(PlayKind::Count)>;

struct Step {
    QString group;
    QString name;
    Command command = Command::Stop;
    Controls controls;  // what the window's controls hold when it is sent
    Expect expect = Expect::Reply;
    PlayAmount amount{};     // what it plays, once
    int passes = 1;          // how often the play repeats; 0 until stopped
    bool report = false;     // the play asks for a finish report
    bool stopAfter = false;  // a stop at the step's rate follows its acceptance (a new rate)
    bool fullOnly = false;   // left out of quick runs (it waits for plays by design)
    // The line rate its frame goes at and the rate a stop after it goes at
    // (a new rate's), as the table runs; 0: any.
    int baud = 0;
    int stopBaud = 0;
    // A refusal the chip's protocol does not promise: the name under which
    // the limits (mustRefuse) say whether it is required.
    QString refusal;
    // Its frame in words, for a frame built to test the chip that the
    // frame's own decoding would name as something else (an empty code is
    // no wake frame).
    QString frameWords;

    bool plays() const { return expect == Expect::Play || expect == Expect::Lyrics; }
    // Its first answer is judged: an acceptance, its latency and resends.
    bool judgesAnswer() const { return expect == Expect::Reply || plays(); }
    QString id() const { return group + u'/' + name; }
    // One line: group, name, command, what it expects.
    QString describe() const;
    friend bool operator==(const Step&, const Step&) = default;
};

// The whole table for a chip running at `startBaudIndex`: link, controls,
// baud, text, music, phrases, poems, sounds, codes, robustness.
std::vector<Step> StepTable(int16_t startBaudIndex = kStartBaudIndex);
QStringList StepGroups();

// What the codes of a code list play, from their item codes (0 for typed
// text, whose characters count).
PlayAmount CodeListAmount(int list);

}  // namespace vorla
