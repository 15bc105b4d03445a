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
//
// A rate switch holds the operator's input (and lyric data) from its frame
// until its answer: an acceptance, acted on no sooner than the 100 ms after
// the frame (what the chip says between is held too), logs the frame's
// record and the acceptance; a rejection logs the record and the rejection
// and resends while it may; no answer by the deadline logs the record
// alone. Then what was held is acted on in the order it came (after the
// chip's other messages that came in one read with an acceptance, which
// came during the switch; lyric data among them waits with the held input). Finish
// reports and stray bytes during the switch are acted on as they come.
// Lyric data is given its wait (by the chosen rate, from its first byte),
// which holds everything: what a wait holds is one queue, and a switch
// started from it leaves the rest held, the chip's messages with it.
#pragma once

#include <deque>
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
struct LyricArrived {  // lyric data handed over, its first byte in then
    double firstAt = 0;
};
struct LyricCut {};   // lyric data cut short by the port's close
struct Ambiguous {};  // a frame went while the chip's message could still be read either way
// The last frame written is a rate frame, and 100 ms have passed since it
// was handed to the port (the chip has had its time to switch).
struct RateSettled {};
// ... and its answer's deadline has passed (2 s after its last byte left).
struct RateDeadline {};
using Event = std::variant<OperatorInput, ReplyArrived, LyricArrived, LyricCut, Ambiguous, RateSettled, RateDeadline>;

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
    // An event at `at` on the virtual clock (events come in time order).
    void apply(const Event& event, double at);
    // The line has been quiet since the last event: every wait is over.
    void finish();
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
    void act(const Event& event);
    bool holds(const Event& event) const;
    void release();
    void startLyricWait(double firstAt);
    void apply(const OperatorInput& in);
    void replied(reply::Kind kind);
    void acceptSwitch(bool atArrival);
    void endSwitch();
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
    // The rate switch under way.
    struct Switch {
        bool on = false;
        bool settled = false;  // its 100 ms are over
        bool kept = false;     // its acceptance came sooner and waits for them
        QString record;        // its frame's record, logged at its end
    };
    Switch switch_;
    int rateFrames_ = 0;  // rate frames written
    // The lyric wait under way (holds all input): until then.
    std::optional<double> lyricWaitEnd_;
    double now_ = 0;
    // An acceptance acted on as it arrived ends its switch, and what the
    // switch held is acted on once the rest of that read has been: then.
    std::optional<double> releaseAt_;
    std::deque<Event> held_;
};

}  // namespace vorla::model
