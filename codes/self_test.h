// SPDX-License-Identifier: MIT
// The chip's self-test: a table of steps, each sending exactly the frame
// the window would send for it through the conversation with the chip, and
// what the chip did with each: its reply, resends, reply latency, playing
// time and lyric stream, and a verdict.
//
// A run is driven by the conversation's signals and one alarm for its
// limits: nothing waits inside a handler.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include "codes/conversation.h"

namespace vorla {

// One step of the table.
struct SelfTestStep {
    enum class Expect {
        Reply,     // accepted
        Play,      // accepted, then a play that reports its end
        Lyrics,    // a play that sends its lyrics, then reports its end
        Malformed  // rejected or ignored; a stop after it is accepted
    };
    QString group;
    QString name;
    Command command = Command::Stop;
    std::function<void(Controls&)> set;  // the controls for it, from the start-up ones
    Expect expect = Expect::Reply;
    double playSeconds = 0;  // how long the play may take at most (full runs)
    bool stopAfter = false;  // a stop must be accepted after it (a new rate, a malformed frame)
};

// The whole table, in groups: link, controls, baud, text, music, phrases,
// poems, sounds, codes, robustness.
std::vector<SelfTestStep> SelfTestSteps(int16_t startBaudIndex = kStartBaudIndex);
QStringList SelfTestGroups();

struct SelfTestResult {
    enum class Verdict { NotRun, Pass, Warning, Fail };
    Verdict verdict = Verdict::NotRun;
    QByteArray frame;  // the first frame the step sent
    QString words;     // the frame in words
    QString reply;     // what came back, in words
    int resends = 0;
    double latencyMs = -1;  // the frame's last byte written to the reply's last byte read
    double sentAt = -1;     // seconds from the run's start
    double acceptedAt = -1;
    double finishedAt = -1;
    double playSeconds = -1;  // acceptance to finish report
    QString lyrics;           // the characters the lyric stream showed
    QString message;          // why it failed or warned, or what the fault was
};

struct SelfTestOptions {
    bool full = false;  // wait for each play's finish report; otherwise stop each play at once
    QStringList only;   // groups to run; all when empty
    int repeat = 1;
    int16_t startBaudIndex = kStartBaudIndex;
    double replySeconds = 2.0;   // how long a reply may take
    double lyricSeconds = 12.0;  // how long a lyric stream may take to be read whole
    double playScale = 1.0;      // every play limit is multiplied by this
    QString dut;                 // the chip under test
    QString port;                // where it is
    QString version;             // of this program
};

struct SelfTestReport {
    SelfTestOptions options;
    QDateTime started;
    double seconds = 0;
    std::vector<SelfTestStep> steps;
    std::vector<SelfTestResult> results;
    bool stopped = false;  // ended by the operator
    QString fault;         // a port fault ended it
    int count(SelfTestResult::Verdict v) const;
    bool passed() const { return count(SelfTestResult::Verdict::Fail) == 0 && fault.isEmpty() && !stopped; }
};

QString VerdictText(SelfTestResult::Verdict verdict);  // "pass", "warning", "fail", "not run"

class SelfTest : public QObject {
    Q_OBJECT
public:
    SelfTest(ChipConversation& conversation, Clock& clock, QObject* parent = nullptr);
    ~SelfTest() override;

    void start(const SelfTestOptions& options);
    // The operator ends the run: the step under way and the rest are not run.
    void stop();
    bool running() const { return running_; }
    const SelfTestReport& report() const { return report_; }

signals:
    void stepFinished(int index);
    void finished();

private:
    enum class State { Idle, AwaitReply, AwaitLyrics, AwaitFinish, AwaitStop };
    void soon(std::function<void()> action);
    void startStep();
    void sendStop();
    void onFrame(const QByteArray& frame);
    void onReply(reply::Kind kind);
    void onFinished();
    void onRejected();
    void onStopAccepted();
    void onAccepted();
    void onLyrics(const RxText& stream);
    void onUnexpected(const QString& what);
    void onTimeout();
    void onFault(const PortFault& fault);
    void afterAcceptance();
    void finishStep(SelfTestResult::Verdict verdict, const QString& message = QString());
    void endRun();
    void waitFor(State state, double seconds);
    double now() const;
    SelfTestResult& result() { return report_.results[current_]; }
    const SelfTestStep& step() const { return report_.steps[current_]; }

    ChipConversation& conv_;
    Clock& clock_;
    std::unique_ptr<Alarm> limit_;
    std::unique_ptr<Alarm> next_;
    SelfTestReport report_;
    Controls found_;  // the controls as the run found them
    size_t current_ = 0;
    State state_ = State::Idle;
    double start_ = 0;
    double lastWrite_ = 0;
    int rejections_ = 0;
    bool stopSent_ = false;
    bool stopAccepted_ = false;
    bool finishSeen_ = false;
    bool running_ = false;
    QStringList unexpected_;
    std::function<void()> later_;
    std::vector<QMetaObject::Connection> connections_;
};

}  // namespace vorla
