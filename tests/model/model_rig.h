// SPDX-License-Identifier: MIT
// Runs one case: the conversation on the recording serial control and a
// virtual clock, the window's part played as the window plays it (clicks
// only on the buttons it has on, the whole controls handed over after each
// change), and a chip that sends the case's messages through a line model
// (a UART, a USB adapter's 16 ms packets, bursts), one message after the
// other as a chip does. Records what happened in order for the reference
// model, and what the conversation wrote, logged and held.
//
// A rate frame's 100 ms and its answer's deadline are the rig's own events,
// timed from when the frame was written and the port's rate; a chip that
// accepted a rate says nothing more until the port has followed it (a burst
// goes on to its end).
//
// The chip keeps to what a reader can tell apart, so that every byte has one
// reading: a reply-shaped tempo code opens a stream only after its frame was
// accepted and while the frame's lyrics are still to come, and it is always
// followed by a lyric code; while the last frame asked for lyrics, the chip
// sends no stray byte but inside a stream or behind a finish report in one
// burst with its acceptance (while the lyrics were still to come), sends no
// other replies back to back, and leaves the line quiet for longer than a
// message may pause after each message; two stray bytes never come together
// (two characters are lyric data, not noise). The operator does not click while
// a message is on the line and undecided (a reply, a stream's opening; a
// reply after the acceptance of a frame that asked for lyrics, and the
// acceptance and finish report of one burst, until the line has been quiet),
// and switches the port or the rate only while the chip is silent. A frame
// the conversation writes of itself (a held click at a wait's end, a resend,
// the next code) while such a message is undecided makes the rest of the
// case ambiguous if lyrics were asked for before or now: the model judges
// only what came before.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/model_case.h"
#include "model/reference_model.h"
#include "sim/line_model.h"
#include "support/fakes.h"

namespace vorla::model {

class ModelRig {
public:
    explicit ModelRig(const Case& c);
    ~ModelRig();
    ModelRig(const ModelRig&) = delete;
    ModelRig& operator=(const ModelRig&) = delete;

    // Plays the case, then lets the line be quiet until every wait is over.
    void run();

    // What happened on both sides, in order.
    const std::vector<Event>& events() const { return events_; }
    // When each happened, on the virtual clock.
    const std::vector<double>& eventTimes() const { return eventTimes_; }
    // What the conversation wrote to the line and appended to the log.
    const std::vector<Entry>& journal() const { return journal_; }
    // Waits that held input longer than their deadline, in words.
    const std::vector<std::string>& waitFaults() const { return waitFaults_; }
    bool codeRunning() const { return codeRunning_; }
    ChipConversation& conversation() { return *conv_; }

private:
    enum Flag : uint8_t {
        kReplyEnd = 1,
        kLyricFirst = 2,
        kLyricEnd = 4,
        kDecided = 8,      // the operator may click once this byte is in
        kQuietAfter = 16,  // ... and the line has then been quiet a while
        kStrayByte = 32,
        kRateAccepted = 64,  // the acceptance of a rate frame: the chip switches once it has left
        kReplyKind = 128,    // the byte of a reply that names it
    };
    struct Part {
        QByteArray bytes;
        std::vector<uint8_t> flags;
        std::vector<reply::Kind> kinds;
        double delayBefore = 0;
        bool streamStart = false;
        void add(const QByteArray& more, uint8_t lastFlags, reply::Kind kind = reply::Kind::Accepted);
        void addReply(reply::Kind kind, uint8_t lastFlags);
    };
    struct Tag {
        int message = 0;
        uint8_t flags = 0;
        reply::Kind kind = reply::Kind::Accepted;
    };
    struct Message {
        int closesAtFirst = -1;
        bool cut = false;
        bool inLyrics = false;
        // More than one reading unit, so a frame written while it is
        // undecided may change how its rest reads.
        bool compound = false;
    };

    void schedule();
    void runOps();
    bool mustWait(const Action& action) const;
    void perform(size_t index);
    void submit(Input input, const std::string& what);
    // The chip.
    void heard(const QByteArray& frame);
    void pumpChip();
    void startMessage(const Action& action);
    std::deque<Part> partsOf(const Action& action);
    std::deque<Part> replyParts(const Reply& r);
    std::deque<Part> burstParts(const Burst& b);
    std::deque<Part> lyricParts(const Lyrics& l);
    void sendPart();
    void onWire(uint8_t flags, reply::Kind kind);
    void deliver();
    bool arrived(const Tag& tag);
    int closes();
    bool chipSilent() const;
    double quiet() const;
    bool strayAllowed() const;
    // Observing the conversation's waits.
    void observe(double t);
    void waitEnded(bool baudSwitch);
    void logged(const QString& chunk);
    void rateTimesDue();
    template <class E, class... Args>
    void note(Args&&... args) {
        events_.emplace_back(std::in_place_type<E>, std::forward<Args>(args)...);
        eventTimes_.push_back(clock_.now());
    }

    const Case& case_;
    test::VirtualClock clock_;
    test::FakeSerial serial_{clock_};
    std::unique_ptr<ChipConversation> conv_;
    Controls controls_ = Controls::startUp();
    sim::LineModel line_;
    std::unique_ptr<Alarm> opsAlarm_;
    std::unique_ptr<Alarm> chipAlarm_;
    std::unique_ptr<Alarm> deliveryAlarm_;
    // The last frame written, when a rate frame: its 100 ms, its answer's deadline.
    std::unique_ptr<Alarm> rateSettledAlarm_;
    std::unique_ptr<Alarm> rateDeadlineAlarm_;
    std::deque<size_t> opsDue_;
    std::deque<size_t> chipDue_;
    size_t stepsDone_ = 0;
    std::string doing_;

    // The chip's side.
    std::vector<Message> messages_;
    std::deque<Tag> tags_;
    std::deque<Part> parts_;
    bool sending_ = false;
    int framesAtStart_ = 0;
    bool quietAfter_ = false;
    int framesHeard_ = 0;
    bool lyricFrame_ = false;  // the last frame asked for lyrics
    bool lyricsDue_ = false;   // ... and they are still to come (no stream, report or rejection yet)
    bool accepted_ = false;    // ... and it was accepted
    double wireFree_ = 0;
    bool lastWasStray_ = false;
    std::optional<reply::Kind> halfReply_;  // the port has the head of this reply and its second byte
    double quietUntil_ = 0;
    double switchUntil_ = 0;      // the chip says nothing until the port has followed its switch
    bool rateAnswerDue_ = false;  // the last frame heard is a rate frame, not yet answered
    double rateHandedAt_ = 0;     // ... handed to the port then
    double portWireFree_ = 0;     // when what was written has left the wire
    double rateDeadline_ = -1;    // the rate frame's answer is waited for until then
    bool settlePending_ = false;  // its events still to come
    bool deadlinePending_ = false;
    int undecided_ = 0;
    int compoundUndecided_ = 0;
    double undecidedUntil_ = 0;
    size_t opsSeen_ = 0;
    int closes_ = 0;

    // What happened.
    std::vector<Event> events_;
    std::vector<double> eventTimes_;
    std::vector<Entry> journal_;
    std::vector<std::string> waitFaults_;
    bool codeRunning_ = false;
    std::optional<double> holdStart_;
    double lastTick_ = 0;
};

}  // namespace vorla::model
