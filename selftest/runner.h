// SPDX-License-Identifier: MIT
// The chip's self-test run: the steps of the table sent one after another
// through the conversation with the chip, exactly as the window sends them,
// and what the chip did with each measured into the run's record. The
// runner only measures; the judge gives each step its verdict when it ends.
//
// A run is driven by the conversation's signals and two alarms (a step's
// deadline, and the next action once the conversation's handler has
// returned): nothing waits inside a handler, and every wait has a deadline
// that follows from the limits, so a run always ends.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include <QObject>

#include "conversation/conversation.h"
#include "selftest/record.h"

namespace vorla {

struct RunOptions {
    RunInfo info;
    Limits limits = Limits::defaults();
    QStringList only;  // groups to run; all when empty
    int16_t startBaudIndex = kStartBaudIndex;
    // Find the chip's rate first, a stop (or a wake) at each rate.
    bool findBaud = false;
};

class SelfTest;

// Steps that must run one at a time among several runs, such as those that
// play aloud on a station's bench: a run asks for its turn before such a
// step and gives it back when the step ends or the run does.
class TurnTaking {
public:
    virtual ~TurnTaking() = default;
    // Calls `go` once it is this run's turn: at once, or from the loop later.
    virtual void request(SelfTest* run, std::function<void()> go) = 0;
    // The run's turn, held or waited for, is over.
    virtual void release(SelfTest* run) = 0;
};

class SelfTest : public QObject {
    Q_OBJECT
public:
    explicit SelfTest(ChipConversation& conversation, QObject* parent = nullptr);
    ~SelfTest() override;

    void start(const RunOptions& options);
    // The operator (or a signal) ends the run: the step under way and the
    // rest are not run, for `why`.
    void stop(const QString& why = QStringLiteral("stopped by the operator"));
    bool running() const { return running_; }
    const RunRecord& record() const { return record_; }
    int current() const { return int(current_); }
    // The steps that play take their turns here; none by default.
    void setTurnTaking(TurnTaking* turns) { turns_ = turns; }

signals:
    void started();
    void stepStarted(int index);
    void stepFinished(int index);
    void finished();

private:
    enum class State {
        Idle,
        Probe,            // looking for the chip's rate
        AwaitReply,       // the step's frame sent
        AwaitLyrics,      // accepted, its lyric stream due
        AwaitFinish,      // accepted, its finish report due
        AwaitStop,        // the stop after it sent
        AwaitStopReport,  // the stop accepted, the play's report due
        AwaitCodeRun,     // code playback under way
        Settle,           // no answer came; a late one is named here
    };
    Measured& m() { return record_.steps[current_].measured; }
    const Step& step() const { return record_.steps[current_].step; }
    double now() const;
    void soon(std::function<void()> action, double after = 0);
    void waitFor(State state, double seconds);
    void connectConversation();

    void startStep();
    void sendStep();
    // True, said in the step, when its finish report is not waited for in
    // full: too many plays in a row before it had none.
    bool finishWaitCut();
    void afterAcceptance();
    void afterPlayAccepted();
    void sendStop();
    void resyncThenStop(double answeredAt);
    void finishStep();
    void endRun(const QString& why = QString());

    void onFrame(const QByteArray& frame);
    void onReply(reply::Kind kind, const RxText& chars, double at);
    bool answersEarlierFrame(reply::Kind kind, double at) const;
    void nameLate(Measured& target, const RxText& chars, double at, bool earlier);
    void onAccepted(double at);
    void onRejected(double at);
    void onFinished(double at);
    void onLyrics(const RxText& stream);
    void onDropped(const RxText& chars);
    void onFault(const PortFault& fault);
    void onCodeRun(bool running);
    void onDeadline();
    void maybeEndCodeRun();

    // The search for the chip's rate, at the start (when asked) and after
    // two steps in a row without any answer (a chip that restarted).
    void startProbe(bool restart);
    void probeNext();
    void probeFound();
    void probeFailed();

    ChipConversation& conv_;
    Clock& clock_;
    std::unique_ptr<Alarm> deadline_;
    std::unique_ptr<Alarm> next_;
    std::function<void()> later_;
    std::vector<QMetaObject::Connection> connections_;
    RunOptions options_;
    RunRecord record_;
    size_t current_ = 0;
    State state_ = State::Idle;
    bool running_ = false;
    double start_ = 0;
    // The last frame written and the one before it, each with its last byte
    // on the wire: a late reply is taken to answer one of them.
    QByteArray lastFrame_;
    double lastWireEnd_ = 0;
    int lastFrameBaud_ = 1200;  // the rate it went at, which its answer comes at
    QByteArray earlierFrame_;
    double earlierWireEnd_ = 0;
    double acceptedAt_ = -1;
    bool codeRunEnded_ = false;
    int silentSteps_ = 0;     // steps in a row that got no answer at all
    int missingReports_ = 0;  // plays in a row whose finish report never came
    Measured between_;        // what arrived between two steps, for the next one
    bool previousReadToEnd_ = false;
    CodeListValues previousLists_{};
    // The probe: rates to try, in order, and whether a wake frame has been tried at this one.
    std::vector<int16_t> probeRates_;
    bool probeWoke_ = false;
    bool probeRestart_ = false;
    int16_t runBaudIndex_ = kStartBaudIndex;
    TurnTaking* turns_ = nullptr;
};

// The steps of a run in order: the table for the chip's rate, the chosen
// groups, quick runs without the steps that wait for plays by design, and
// every step `repeat` times.
std::vector<Step> RunSteps(const RunOptions& options, int16_t baudIndex);

}  // namespace vorla
