// SPDX-License-Identifier: MIT
#include "selftest/runner.h"

#include <algorithm>
#include <cmath>

#include "protocol/commands.h"
#include "protocol/frame.h"
#include "protocol/frame_words.h"
#include "protocol/hex_text.h"
#include "protocol/lyric_grammar.h"

namespace vorla {

namespace {

QByteArray Bytes(const RxText& chars) { return ToBytes(chars); }

bool WellFormedReply(const RxText& chars) {
    return chars.size() == reply::kChars && chars[0].code == reply::kHead && chars[2].code == reply::kTail;
}

// Reply-sized data that is not a reply: 01 xx 14 with a code no reply has.
bool UnknownReply(const RxText& chars) {
    return chars.size() == reply::kChars && chars[0].code == reply::kHead && chars[2].code == reply::kTail &&
           !reply::KindOf(chars[1].code);
}

// After a frame the chip throws away unread (one longer than its buffer, or
// answered before its last byte was on the wire), the line is left quiet
// this long after that byte before the stop, so that the chip finds the
// start of the next frame. A frame answered after its last byte has been
// ended by the chip.
constexpr double kResyncSeconds = 0.2;

QByteArray StopFrame() { return ControlFrame(FrameEnds{}, kStopMode).toByteArray(); }
QByteArray WakeFrame() { return ControlFrame(FrameEnds{}, kWakeMode).toByteArray(); }
}  // namespace

std::vector<Step> RunSteps(const RunOptions& options, int16_t baudIndex) {
    std::vector<Step> steps;
    const std::vector<Step> table = StepTable(baudIndex);
    for (int pass = 1; pass <= std::max(options.info.repeat, 1); ++pass) {
        for (Step s : table) {
            if (!options.only.isEmpty() && !options.only.contains(s.group)) continue;
            if (s.fullOnly && !options.info.full) continue;
            if (options.info.repeat > 1) s.name += QStringLiteral(" #%1").arg(pass);
            steps.push_back(std::move(s));
        }
    }
    return steps;
}

SelfTest::SelfTest(ChipConversation& conversation, QObject* parent)
    : QObject(parent), conv_(conversation), clock_(conversation.clock()),
      deadline_(clock_.makeAlarm([this] { onDeadline(); })), next_(clock_.makeAlarm([this] {
          if (auto action = std::exchange(later_, nullptr)) action();
      })) {}

SelfTest::~SelfTest() {
    for (const auto& c : connections_) disconnect(c);
    if (running_) {
        conv_.setReadLyricsToEnd(previousReadToEnd_);
        conv_.setCodeLists(previousLists_);
    }
}

double SelfTest::now() const { return clock_.now() - start_; }

void SelfTest::connectConversation() {
    connections_ = {
        connect(&conv_, &ChipConversation::frameWritten, this, &SelfTest::onFrame),
        connect(&conv_, &ChipConversation::replied, this, &SelfTest::onReply),
        connect(&conv_, &ChipConversation::lyricsRead, this, &SelfTest::onLyrics),
        connect(&conv_, &ChipConversation::dropped, this, &SelfTest::onDropped),
        connect(&conv_, &ChipConversation::portFaulted, this, &SelfTest::onFault),
        connect(&conv_, &ChipConversation::codeRunChanged, this, &SelfTest::onCodeRun),
    };
}

void SelfTest::start(const RunOptions& options) {
    if (running_) return;
    options_ = options;
    record_ = RunRecord{};
    record_.info = options.info;
    record_.limits = options.limits;
    record_.started = QDateTime::currentDateTime();
    runBaudIndex_ = options.startBaudIndex;
    record_.baud = BaudRateAt(runBaudIndex_).value_or(BaudRate{1200, 0}).baud;
    for (Step& s : RunSteps(options, runBaudIndex_)) record_.steps.push_back(StepRecord{std::move(s), {}, {}});
    current_ = 0;
    start_ = clock_.now();
    record_.clockStart = start_;
    lastFrame_.clear();
    earlierFrame_.clear();
    lastWireEnd_ = earlierWireEnd_ = clock_.now();
    lastFrameBaud_ = record_.baud;
    silentSteps_ = 0;
    missingReports_ = 0;
    between_ = Measured{};
    running_ = true;
    previousReadToEnd_ = false;
    previousLists_ = conv_.codeLists();
    conv_.setReadLyricsToEnd(true);
    conv_.setCodeLists(InitialCodeLists());
    connectConversation();
    emit started();
    if (options.findBaud) soon([this] { startProbe(false); });
    else soon([this] { startStep(); });
}

void SelfTest::stop(const QString& why) {
    if (!running_) return;
    if (current_ < record_.steps.size()) record_.abortedAt = int(current_);
    endRun(why);
}

// Acts once the handler under way has returned: a reaction to a reply never
// runs inside the conversation's own handling of it.
void SelfTest::soon(std::function<void()> action, double after) {
    later_ = std::move(action);
    next_->setAt(clock_.now() + after);
}

void SelfTest::waitFor(State state, double seconds) {
    state_ = state;
    deadline_->setAt(clock_.now() + seconds);
}

// ---- steps

void SelfTest::startStep() {
    if (!running_) return;
    if (current_ >= record_.steps.size()) {
        endRun();
        return;
    }
    Measured& measured = m();
    measured = std::exchange(between_, Measured{});
    measured.ran = true;
    measured.baud = BaudRateAt(conv_.portBaudIndex())->baud;
    if (step().expect == Expect::CodeRun) {
        const CodeListValues lists = InitialCodeLists();
        measured.codesExpected =
            int(std::count_if(lists.begin(), lists.end(), [](const CodeListItems& l) { return !l.empty(); }));
    }
    acceptedAt_ = -1;
    codeRunEnded_ = false;
    emit stepStarted(int(current_));
    // A step that plays waits for its turn among the runs that share a room.
    if (!turns_ || !step().plays()) {
        sendStep();
        return;
    }
    turns_->request(this, [this] {
        if (running_) sendStep();
    });
}

bool SelfTest::finishWaitCut() {
    if (missingReports_ < options_.limits.missingReportsInARow) return false;
    m().finishWaitCut = true;
    return true;
}

void SelfTest::sendStep() {
    const Step& s = step();
    const double deadline = options_.limits.replyDeadlineSeconds;
    if (s.expect == Expect::CodeRun)
        waitFor(State::AwaitCodeRun, (finishWaitCut() ? 0 : options_.limits.playTime(s).max) + deadline);
    else waitFor(State::AwaitReply, deadline);
    conv_.setControls(s.controls);
    conv_.send(s.command);
}

void SelfTest::afterAcceptance() {
    const Step& s = step();
    if (s.expect == Expect::Lyrics && !m().lyricsRead) {
        waitFor(State::AwaitLyrics, options_.limits.lyricSeconds);
        return;
    }
    if (s.plays()) {
        afterPlayAccepted();
        return;
    }
    if (s.stopAfter) soon([this] { sendStop(); });
    else soon([this] { finishStep(); });
}

// A play: stopped at once (quick runs), or its finish report waited for.
void SelfTest::afterPlayAccepted() {
    const Step& s = step();
    const bool waitsForReport = record_.info.full && s.passes > 0 && s.report;
    if (m().finishReported || !waitsForReport) {
        if (m().finishReported && !s.stopAfter) soon([this] { finishStep(); });
        else soon([this] { sendStop(); });
        return;
    }
    const double left =
        finishWaitCut() ? 0 : std::max(0.0, options_.limits.playTime(s).max - (clock_.now() - acceptedAt_));
    waitFor(State::AwaitFinish, left + options_.limits.replyDeadlineSeconds);
}

void SelfTest::resyncThenStop(double answeredAt) {
    deadline_->cancel();
    const bool unread = lastFrame_.size() > kFrameBufferSize || answeredAt < lastWireEnd_;
    soon([this] { sendStop(); }, unread ? std::max(0.0, lastWireEnd_ + kResyncSeconds - clock_.now()) : 0.0);
}

void SelfTest::sendStop() {
    if (!running_) return;
    m().stopSent = true;
    m().stopBaud = BaudRateAt(conv_.portBaudIndex())->baud;
    waitFor(State::AwaitStop, options_.limits.replyDeadlineSeconds);
    Controls c = step().controls;
    conv_.setControls(c);
    conv_.send(Command::Stop);
}

void SelfTest::finishStep() {
    if (!running_) return;
    deadline_->cancel();
    if (turns_) turns_->release(this);
    state_ = State::Idle;
    StepRecord& r = record_.steps[current_];
    const bool silent = !r.measured.answer && r.measured.timeout == QStringLiteral("reply");
    silentSteps_ = silent ? silentSteps_ + 1 : 0;
    r.verdict = Judge(r.step, r.measured, options_.limits, record_.info.full, record_.info.strict);
    emit stepFinished(int(current_));
    ++current_;
    if (record_.info.stopOnFail && r.verdict.outcome == Outcome::Fail) {
        endRun(QStringLiteral("stopped at the first failure"));
        return;
    }
    if (silentSteps_ >= 2 && current_ < record_.steps.size()) {
        soon([this] { startProbe(true); });
        return;
    }
    soon([this] { startStep(); });
}

void SelfTest::endRun(const QString& why) {
    deadline_->cancel();
    if (turns_) turns_->release(this);
    next_->cancel();
    later_ = nullptr;
    state_ = State::Idle;
    for (size_t i = current_; i < record_.steps.size(); ++i) {
        StepRecord& r = record_.steps[i];
        if (i == current_ && r.measured.ran && r.measured.fault.isEmpty()) r.measured.ran = false;
        if (r.measured.fault.isEmpty()) r.measured.notRun = why;
        r.verdict = Judge(r.step, r.measured, options_.limits, record_.info.full, record_.info.strict);
    }
    record_.endedEarly = current_ < record_.steps.size() ? why : QString();
    record_.finished = current_ >= record_.steps.size();
    record_.ended = QDateTime::currentDateTime();
    record_.seconds = clock_.now() - start_;
    record_.verdict = JudgeRun(record_);
    running_ = false;
    for (const auto& c : connections_) disconnect(c);
    connections_.clear();
    conv_.setReadLyricsToEnd(previousReadToEnd_);
    conv_.setCodeLists(previousLists_);
    emit finished();
}

// ---- what the conversation reports

void SelfTest::onFrame(const QByteArray& frame) {
    if (!running_) return;
    // The frame as its exchange has it: the rate it went at and when its
    // last byte left the wire (once the line was free and the frame clocked
    // out at that rate).
    const SentFrame& sent = conv_.exchange().frames.back();
    const double wire = WireSeconds(frame.size(), sent.baud);
    earlierFrame_ = std::exchange(lastFrame_, frame);
    earlierWireEnd_ = lastWireEnd_;
    lastFrameBaud_ = sent.baud;
    lastWireEnd_ = sent.wireEndAt;
    record_.wireSeconds += wire;
    ++record_.framesSent;
    // Its answer is waited for from its last byte on the wire, as its
    // latency counts.
    if (state_ == State::AwaitReply || state_ == State::AwaitStop || state_ == State::Probe)
        deadline_->setAt(lastWireEnd_ + options_.limits.replyDeadlineSeconds);
    if (state_ == State::Probe || current_ >= record_.steps.size()) return;
    Measured& measured = m();
    if (state_ == State::AwaitCodeRun) {
        ++measured.codesSent;
        if (measured.frame.isEmpty()) {
            measured.frame = frame;
            measured.sentAt = now();
        }
        return;
    }
    if (measured.stopSent || state_ != State::AwaitReply) return;
    if (measured.frame.isEmpty()) {
        measured.frame = frame;
        measured.sentAt = now();
    }
    ++measured.framesSent;
}

void SelfTest::onReply(reply::Kind kind, const RxText& chars, double at) {
    if (!running_) return;
    // At the rate of the frame it answers: a reply held while the port
    // switches is handled at the new rate.
    record_.wireSeconds += WireSeconds(qsizetype(chars.size()), lastFrameBaud_);
    const bool inStep = current_ < record_.steps.size() && state_ != State::Idle && state_ != State::Probe;
    // A frame the chip must refuse does not count as a rejection of the chip's.
    const bool refusable =
        inStep && !m().stopSent && (step().expect == Expect::Refused || step().expect == Expect::NoEffect);
    if (kind == reply::Kind::Rejected && !refusable) ++record_.framesRejected;
    Measured& target = inStep ? m() : between_;
    if (!WellFormedReply(chars)) {
        target.malformedReplies << HexBytes(Bytes(chars));
        return;
    }
    const bool earlier = answersEarlierFrame(kind, at);
    if (state_ == State::Probe) {
        if (kind == reply::Kind::Accepted && !earlier) soon([this] { probeFound(); });
        return;
    }
    if (!inStep || state_ == State::Settle || earlier) {
        nameLate(target, chars, at, earlier);
        return;
    }
    switch (kind) {
    case reply::Kind::Accepted: onAccepted(at); return;
    case reply::Kind::Rejected: onRejected(at); return;
    case reply::Kind::Finished: onFinished(at); return;
    }
}

// An answer read before the last frame's last byte was on the wire, which
// no chip can have heard yet, answers the frame before it.
bool SelfTest::answersEarlierFrame(reply::Kind kind, double at) const {
    if (kind == reply::Kind::Finished || lastFrame_.isEmpty()) return false;
    return at < lastWireEnd_;
}

// A reply that came when nothing waited for it, named with the frame it is
// taken to answer (a finish report answers none).
void SelfTest::nameLate(Measured& target, const RxText& chars, double at, bool earlier) {
    const QByteArray& frame = earlier ? earlierFrame_ : lastFrame_;
    const double end = earlier ? earlierWireEnd_ : lastWireEnd_;
    const QString hex = HexBytes(Bytes(chars));
    const long ms = std::lround((at - end) * 1000.0);
    if (frame.isEmpty()) {
        target.lateReplies << QStringLiteral("%1, before any frame").arg(hex);
    } else if (reply::KindOf(chars[1].code) == reply::Kind::Finished) {
        target.lateReplies << QStringLiteral("%1, a finish report %2 ms after the last frame (%3)")
                                  .arg(hex)
                                  .arg(ms)
                                  .arg(DescribeFrame(frame));
    } else {
        target.lateReplies << QStringLiteral("%1 to %2 (%3), %4 ms after its last byte")
                                  .arg(hex, DescribeFrame(frame), HexBytes(frame))
                                  .arg(ms);
    }
}

void SelfTest::onAccepted(double at) {
    Measured& measured = m();
    switch (state_) {
    case State::AwaitReply:
        measured.answer = reply::Kind::Accepted;
        measured.repliedAt = at - start_;
        measured.latencyMs = std::max(0.0, (at - lastWireEnd_) * 1000.0);
        acceptedAt_ = at;
        deadline_->cancel();
        if (step().expect == Expect::Refused || step().expect == Expect::NoEffect) resyncThenStop(at);
        else afterAcceptance();
        return;
    case State::AwaitStop: {
        measured.stopAccepted = true;
        const Step& s = step();
        const bool reportDue =
            s.plays() && s.report && options_.limits.stopReport && !measured.finishReported && !measured.stopReported;
        if (reportDue) waitFor(State::AwaitStopReport, options_.limits.stopReportSeconds);
        else soon([this] { finishStep(); });
        return;
    }
    case State::AwaitCodeRun:
        ++measured.codesAccepted;
        if (acceptedAt_ < 0) acceptedAt_ = at;
        if (measured.answer != reply::Kind::Accepted) measured.latencyMs = std::max(0.0, (at - lastWireEnd_) * 1000.0);
        measured.answer = reply::Kind::Accepted;
        maybeEndCodeRun();
        return;
    default: measured.unexpected << QStringLiteral("acceptance"); return;
    }
}

void SelfTest::onRejected(double at) {
    Measured& measured = m();
    if (state_ == State::AwaitReply || state_ == State::AwaitCodeRun) {
        ++measured.rejections;
        measured.answer = reply::Kind::Rejected;
        if (state_ == State::AwaitCodeRun) return;  // a code frame is not resent; the run ends
        if (measured.rejections <= reply::kMaxResends) {
            waitFor(State::AwaitReply, options_.limits.replyDeadlineSeconds);  // the resend's answer
            return;
        }
        deadline_->cancel();
        const Expect e = step().expect;
        if (e == Expect::Refused || e == Expect::NoEffect) resyncThenStop(at);
        else soon([this] { finishStep(); });
        return;
    }
    if (state_ == State::AwaitStop) {
        // The conversation resends the stop; its answer is waited for again.
        waitFor(State::AwaitStop, options_.limits.replyDeadlineSeconds);
        return;
    }
    measured.unexpected << QStringLiteral("rejection");
}

void SelfTest::onFinished(double at) {
    Measured& measured = m();
    const auto played = [&] {
        measured.finishReported = true;
        measured.playSeconds = acceptedAt_ >= 0 ? at - acceptedAt_ : -1;
    };
    switch (state_) {
    case State::AwaitFinish:
        played();
        missingReports_ = 0;
        deadline_->cancel();
        soon([this] { step().stopAfter ? sendStop() : finishStep(); });
        return;
    case State::AwaitLyrics: played(); return;
    case State::AwaitReply:
        if (acceptedAt_ >= 0) {
            played();  // over as soon as it was accepted, before the stop went
            return;
        }
        break;
    case State::AwaitStop:
        // Read before the stop was on the wire whole, so before the chip
        // could have heard it: the play ended by itself.
        if (at < lastWireEnd_) played();
        else measured.stopReported = true;
        return;
    case State::AwaitStopReport:
        measured.stopReported = true;
        deadline_->cancel();
        soon([this] { finishStep(); });
        return;
    case State::AwaitCodeRun:
        ++measured.codesReported;
        missingReports_ = 0;
        measured.playSeconds = acceptedAt_ >= 0 ? at - acceptedAt_ : -1;
        maybeEndCodeRun();
        return;
    default: break;
    }
    measured.unexpected << QStringLiteral("finish report");
}

void SelfTest::onLyrics(const RxText& stream) {
    if (!running_ || state_ == State::Probe) return;
    record_.wireSeconds += WireSeconds(qsizetype(stream.size()), BaudRateAt(conv_.portBaudIndex())->baud);
    const bool inStep = current_ < record_.steps.size() && state_ != State::Idle;
    Measured& target = inStep ? m() : between_;
    if (UnknownReply(stream)) {
        target.unknownReplies << HexBytes(Bytes(stream));
        return;
    }
    if (state_ != State::AwaitLyrics || target.lyricsRead) {
        target.unexpected << QStringLiteral("lyric data %1").arg(HexBytes(Bytes(stream).left(16)));
        return;
    }
    // Parsed as the window plays it: every line shown, ended by its end code.
    LyricEndScanner scanner;
    target.lyricsEnded = std::any_of(stream.begin(), stream.end(), [&](const RxChar& c) { return scanner.atEnd(c); });
    for (const LyricStep& s : LyricScript(stream))
        if (s.kind == LyricStep::Kind::ShowLine && !s.text.isEmpty()) target.lyricLines << s.text;
    target.lyricsRead = true;
    target.lyricsSeconds = clock_.now() - acceptedAt_;
    deadline_->cancel();
    soon([this] { afterAcceptance(); });
}

void SelfTest::onDropped(const RxText& chars) {
    if (!running_) return;
    const bool inStep = current_ < record_.steps.size() && state_ != State::Idle && state_ != State::Probe;
    (inStep ? m() : between_).strayBytes << HexBytes(Bytes(chars));
}

void SelfTest::onFault(const PortFault& fault) {
    if (!running_) return;
    record_.fault = FaultLogLine(fault);
    if (current_ < record_.steps.size()) m().fault = record_.fault;
    endRun(QStringLiteral("a port fault ended the run"));
}

void SelfTest::onCodeRun(bool running) {
    if (!running_ || state_ != State::AwaitCodeRun || running) return;
    codeRunEnded_ = true;
    maybeEndCodeRun();
}

// A code run is over when the conversation has sent its last code and that
// code has been accepted and, as every code of a run, reported finished.
void SelfTest::maybeEndCodeRun() {
    const Measured& measured = m();
    const bool rejected = measured.answer == reply::Kind::Rejected;
    if (!codeRunEnded_ || (!rejected && measured.codesReported < measured.codesSent)) return;
    deadline_->cancel();
    soon([this] { finishStep(); });
}

void SelfTest::onDeadline() {
    if (!running_) return;
    if (state_ == State::Probe) {
        probeNext();
        return;
    }
    Measured& measured = m();
    switch (state_) {
    case State::AwaitReply: {
        const Expect e = step().expect;
        if (e == Expect::Refused || e == Expect::NoEffect) {
            sendStop();  // ignored, as the chip may
            return;
        }
        measured.timeout = QStringLiteral("reply");
        waitFor(State::Settle, options_.limits.replyDeadlineSeconds);
        return;
    }
    case State::AwaitLyrics:
        measured.timeout = QStringLiteral("lyrics");
        sendStop();
        return;
    case State::AwaitFinish:
        measured.timeout = QStringLiteral("finish report");
        ++missingReports_;
        sendStop();
        return;
    case State::AwaitCodeRun:
        measured.timeout = QStringLiteral("code run");
        ++missingReports_;
        sendStop();
        return;
    case State::AwaitStop: measured.timeout = QStringLiteral("stop"); break;
    case State::AwaitStopReport: measured.timeout = QStringLiteral("stop's finish report"); break;
    default: break;
    }
    finishStep();
}

// ---- the chip's rate

void SelfTest::startProbe(bool restart) {
    if (!running_) return;
    probeRestart_ = restart;
    probeRates_.clear();
    // The rate of the run first, then the rate the chip starts at, then the rest.
    probeRates_.push_back(conv_.portBaudIndex());
    if (!restart) probeRates_[0] = runBaudIndex_;
    for (int16_t i : {kStartBaudIndex, int16_t(0), int16_t(1), int16_t(2), int16_t(3)})
        if (std::find(probeRates_.begin(), probeRates_.end(), i) == probeRates_.end()) probeRates_.push_back(i);
    std::reverse(probeRates_.begin(), probeRates_.end());  // taken from the back
    probeWoke_ = true;                                     // the first try at a rate is a stop
    probeNext();
}

void SelfTest::probeNext() {
    if (!running_) return;
    if (probeWoke_) {
        if (probeRates_.empty()) {
            probeFailed();
            return;
        }
        conv_.useRate(probeRates_.back());
        probeWoke_ = false;
    } else {
        probeWoke_ = true;  // no answer to the stop: perhaps asleep
    }
    waitFor(State::Probe, options_.limits.replyDeadlineSeconds);
    Controls c = Controls::startUp();
    c.baudIndex = probeRates_.back();
    c.rawText = HexBytes(probeWoke_ ? WakeFrame() : StopFrame());
    if (probeWoke_) probeRates_.pop_back();
    conv_.setControls(c);
    conv_.send(Command::RawAsTyped);
}

void SelfTest::probeFound() {
    if (!running_ || state_ != State::Probe) return;
    deadline_->cancel();
    state_ = State::Idle;
    const int16_t found = conv_.portBaudIndex();
    const int baud = BaudRateAt(found)->baud;
    if (probeRestart_ && found != runBaudIndex_) {
        record_.notes << QStringLiteral("the chip restarted mid-run: it answers at %1 baud").arg(baud);
        endRun(QStringLiteral("the chip restarted"));
        return;
    }
    if (probeRestart_) {
        record_.notes << QStringLiteral("the chip answers again at %1 baud after steps without an answer").arg(baud);
    } else {
        record_.notes << QStringLiteral("the chip answers at %1 baud").arg(baud);
        if (found != runBaudIndex_) {
            // The table for the rate found.
            runBaudIndex_ = found;
            record_.baud = baud;
            std::vector<StepRecord> steps;
            for (Step& s : RunSteps(options_, found)) steps.push_back(StepRecord{std::move(s), {}, {}});
            record_.steps = std::move(steps);
        }
    }
    silentSteps_ = 0;
    startStep();
}

void SelfTest::probeFailed() {
    state_ = State::Idle;
    record_.notes << QStringLiteral("the chip answers at no rate");
    endRun(probeRestart_ ? QStringLiteral("the chip no longer answers at any rate")
                         : QStringLiteral("no chip answers at any rate"));
}

}  // namespace vorla
