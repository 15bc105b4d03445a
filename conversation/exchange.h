// SPDX-License-Identifier: MIT
// One exchange with the chip: a command's frame, its resends, and everything
// the chip said about it (its answer, lyric data, the finish report, stray
// characters), each with its time on the conversation's clock, and the
// phase it stands in. The conversation owns the open exchange and publishes
// it as it changes and when it closes; the self-test measures from it, the
// line's record keeps it, and the timeline draws it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

#include "protocol/chip_reader.h"
#include "protocol/replies.h"

namespace vorla {

// The commands that send a frame. A rejected frame is sent again by giving
// the same command again, rebuilt from the controls as they are then.
enum class Command {
    None,
    Stop,
    Music,
    Phrase,
    Poem,
    Sound,
    Text,
    Baud,
    SleepWake,
    OutputMode,
    BaudAndOutput,
    RawWithCheckByte,  // the typed bytes and their check byte
    RawAsTyped,        // the typed bytes, the last one as the check byte
    CodePlayback,
};
// Whether the command may go to a chip that was sent to sleep: the wake
// itself and the raw senders (the window's other sending buttons are off).
bool AllowedAsleep(Command command);

// A frame as it went: handed to the port, and when its last byte has left
// the wire at the port's rate.
struct SentFrame {
    QByteArray bytes;
    double handedAt = 0;
    double wireEndAt = 0;
    int baud = 0;
};

// A message of the chip's as the exchange holds it.
struct HeardMessage {
    ChipMessage message;
    // Lyric data: the rest of its stream read after the lyric wait.
    RxText rest;
};

struct Exchange {
    // An exchange keeps this many messages at most (a line full of noise
    // with nothing sent); the rest are on record only.
    static constexpr size_t kMaxMessages = 1000;

    enum class Phase {
        Idle,            // nothing open: closed, or nothing sent yet
        AwaitingReply,   // the frame is out, its answer not yet in
        SwitchingBaud,   // a baud-rate frame waits for its answer at the old rate (holds the operator's input)
        ReadingLyrics,   // lyric data is given its time to arrive (holds all input)
        AwaitingFinish,  // a finish report is still due (a code run waits here)
    };

    uint64_t id = 0;  // 0: before the first frame
    Command command = Command::None;
    std::vector<SentFrame> frames;  // the frame, then each resend
    std::vector<HeardMessage> messages;
    Phase phase = Phase::Idle;
    double replyDeadline = 0;  // the answer is waited for until then
    bool reportAsked = false;  // a finish report is due after an acceptance
    bool lyricsAsked = false;
    std::optional<reply::Kind> answer;  // the last answer to one of its frames
    double answeredAt = -1;             // its last character's arrival
    QString closedBy;                   // "answered", "finished", "rejected", "no answer", "superseded", "port closed"

    bool open() const { return phase != Phase::Idle; }
    int resends() const { return frames.empty() ? 0 : int(frames.size()) - 1; }
    // From the last frame's last byte on the wire to its answer's last byte read.
    std::optional<double> latencyMs() const;
};

}  // namespace vorla
