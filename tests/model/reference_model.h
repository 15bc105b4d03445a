// SPDX-License-Identifier: MIT
// What the conversation must write and log, worked out from what happened on
// both sides in the order it happened: the operator's inputs as the window
// gave them, and the chip's replies and lyric data as they arrived whole.
// The conversation handles them in that order whatever it holds meanwhile
// (a wait holds input and replies in one queue), so the frames it writes and
// the log it keeps follow from this order alone, not from timing.
//
// Frame-level decisions as the tool documents them: a rejection repeats the
// last sending command, rebuilt from the controls, at most three times in a
// row (a rejection series ends at any other reply or lyric data); a code run
// sends its first code at once and each next one at a finish report; any
// other sending command ends a waiting run; while asleep, clicks on the
// buttons the window turns off are not acted on, also when they were held.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <QByteArray>
#include <QString>

#include "conversation/conversation.h"

namespace vorla::model {

struct OperatorInput {
    Input input;
    std::string what;  // for messages: the step and what it did
};
struct ReplyArrived {
    reply::Kind kind = reply::Kind::Accepted;
};
struct LyricArrived {};  // the first byte of lyric data
struct LyricCut {};      // lyric data cut short by the port's close
struct Ambiguous {};     // a frame went while the chip's message could still be read either way
using Event = std::variant<OperatorInput, ReplyArrived, LyricArrived, LyricCut, Ambiguous>;

// A frame written, or a chunk appended to the log.
struct Entry {
    enum class Kind { Frame, Log } kind = Kind::Frame;
    QByteArray frame;
    QString log;
    std::string cause;  // why it is expected (model) or when it happened (run)
    bool sameAs(const Entry& o) const { return kind == o.kind && frame == o.frame && log == o.log; }
};

class ReferenceModel {
public:
    ReferenceModel();
    void apply(const Event& event);
    const std::vector<Entry>& journal() const { return journal_; }
    // Where the model can no longer tell what comes (a rejection after lyric
    // data that the port's close may have dropped, a message that a frame
    // written meanwhile made ambiguous): entries from here on are not judged.
    std::optional<size_t> uncertainFrom() const { return uncertainFrom_; }
    bool codeRunning() const { return run_.running; }
    // The code frames, in order.
    const std::vector<QByteArray>& codeFrames() const { return codeFrames_; }

private:
    struct Run {
        bool running = false;
        bool finished = false;
        bool resumePending = false;
        bool sequenceDone = false;
        std::vector<int> order;
        size_t next = 0;
        int position = 0;
    };
    void apply(const OperatorInput& in);
    void send(Command command, bool resend);
    void sendControl(Command command, bool resend);
    void sendRaw(Command command);
    void write(const Frame& frame, bool logged, bool logFirst);
    void rejected();
    void playCodes();
    void advanceRun();
    void endRun();
    void log(const QString& chunk);

    std::vector<Entry> journal_;
    std::optional<size_t> uncertainFrom_;
    std::vector<QByteArray> codeFrames_;
    Controls controls_ = Controls::startUp();
    CodeListValues lists_;
    bool sleeping_ = false;
    Command pending_ = Command::None;
    std::optional<int> rejections_ = 0;  // nothing: cannot tell
    std::optional<int> beforeLyrics_ = 0;
    Run run_;
    std::string cause_;
};

}  // namespace vorla::model
