// SPDX-License-Identifier: MIT
#include "codes/self_test.h"

#include <algorithm>

#include "protocol/frame_words.h"
#include "protocol/lyric_grammar.h"

namespace vorla {

namespace {
using Expect = SelfTestStep::Expect;
using Verdict = SelfTestResult::Verdict;

// How long a play may take at the chip's own pace, by kind (full runs).
constexpr double kCharPlaySeconds = 0.5;
constexpr double kTextPlaySeconds = 5;
constexpr double kPhrasePlaySeconds = 10;
constexpr double kSoundPlaySeconds = 10;
constexpr double kPoemPlaySeconds = 30;
constexpr double kMusicPlaySeconds = 90;
// How long a finish report may take to follow a stop's acceptance.
constexpr double kStopReportSeconds = 1.0;

QString Hex(const QByteArray& frame) { return QString::fromLatin1(frame.toHex(' ').toUpper()); }

void AddTextSteps(std::vector<SelfTestStep>& steps) {
    const auto text = [&](const QString& name, const QString& words, const std::function<void(Controls&)>& set) {
        steps.push_back(SelfTestStep{QStringLiteral("text"), name, Command::Text,
                                     [words, set](Controls& c) {
                                         c.text = words;
                                         if (set) set(c);
                                     },
                                     Expect::Play, kTextPlaySeconds + kCharPlaySeconds * double(words.size()), false});
    };
    const QString welcome = QStringLiteral("欢迎使用！");
    for (int16_t level = 0; level < 6; ++level)
        text(QStringLiteral("音量%1级").arg(level + 1), welcome, [level](Controls& c) { c.play.volumeLevel = level; });
    const auto only = [](int16_t yao, int16_t punctuation, int16_t name) {
        return [=](Controls& c) {
            c.play.readOneAsYao = yao;
            c.play.readPunctuation = punctuation;
            c.play.readAsName = name;
        };
    };
    text(QStringLiteral("不加朗读选项"), QStringLiteral("今天天气晴朗，气温21度。"), only(0, 0, 0));
    text(QStringLiteral("1读成幺"), QStringLiteral("电话120，13800138000"), only(1, 0, 0));
    text(QStringLiteral("读标点符号"), QStringLiteral("你好，世界！对吗？"), only(0, 1, 0));
    text(QStringLiteral("按姓名处理"), QStringLiteral("欧阳晓明"), only(0, 0, 1));
    text(QStringLiteral("无背景音乐"), welcome, [](Controls& c) { c.play.musicIndex = 0; });
    text(QStringLiteral("背景音乐雨蝶"), welcome, [](Controls& c) { c.play.musicIndex = 2; });
    text(QStringLiteral("25个字"), QStringLiteral("语音合成芯片把文字变成声音，每一帧最多可以读二十五个汉字。"),
         nullptr);
    text(QStringLiteral("数字与ASCII字符"), QStringLiteral("ABC xyz 0123456789 +-*/=?"), nullptr);
}

void AddStoredItemSteps(std::vector<SelfTestStep>& steps) {
    struct List {
        const char* group;
        ItemKind kind;
        Command command;
        double seconds;
    };
    const List lists[] = {{"music", ItemKind::Music, Command::Music, kMusicPlaySeconds},
                          {"phrases", ItemKind::Phrase, Command::Phrase, kPhrasePlaySeconds},
                          {"poems", ItemKind::Poem, Command::Poem, kPoemPlaySeconds},
                          {"sounds", ItemKind::Sound, Command::Sound, kSoundPlaySeconds}};
    for (const List& list : lists) {
        const QStringList& items = StoredItems(list.kind);
        for (int16_t i = 0; i < int16_t(items.size()); ++i) {
            const bool karaoke = list.kind == ItemKind::Music && i < kKaraokePieces;
            steps.push_back(SelfTestStep{QString::fromLatin1(list.group), items[i].trimmed(), list.command,
                                         [kind = list.kind, i, karaoke](Controls& c) {
                                             c.itemIndex[size_t(kind)] = i;
                                             c.play.lyricsBack = karaoke ? 1 : 0;
                                         },
                                         karaoke ? Expect::Lyrics : Expect::Play, list.seconds, false});
        }
    }
}

// A frame typed into the raw sender as it stands.
SelfTestStep RawStep(const QString& group, const QString& name, const QByteArray& frame, Expect expect,
                     double seconds) {
    return SelfTestStep{
        group,  name,    Command::RawAsTyped,        [text = Hex(frame)](Controls& c) { c.rawText = text; },
        expect, seconds, expect == Expect::Malformed};
}

void AddCodeSteps(std::vector<SelfTestStep>& steps) {
    for (int k = 0; k < kCodeLists; ++k) {
        class Items : public ListBox {
        public:
            explicit Items(int list) : items_(InitialCodeList(list)) {}
            int listCount() const override { return int(items_.size()); }
            int listIndex() const override { return -1; }
            void setListIndex(int) override {}
            QString itemText(int i) const override { return items_[size_t(i)].text; }
            int32_t itemData(int i) const override { return items_[size_t(i)].code; }
            void setItemData(int, int32_t) override {}
            void addItem(const QString&, int) override {}
            void removeItem(int) override {}
            void clear() override {}
            bool isEnabled() const override { return true; }
            void setEnabled(bool) override {}

        private:
            std::vector<CodeListItem> items_;
        } list(k);
        const Frame frame = CodeFrame(FrameEnds{}, list, std::nullopt, Controls::startUp().play);
        const bool plays = list.listCount() > 0;
        steps.push_back(RawStep(QStringLiteral("codes"), QStringLiteral("代码%1").arg(k + 1), frame.toByteArray(),
                                plays ? Expect::Play : Expect::Reply, kMusicPlaySeconds));
    }
}
}  // namespace

std::vector<SelfTestStep> SelfTestSteps(int16_t startBaudIndex) {
    std::vector<SelfTestStep> steps;
    const auto control = [&](const char* group, const QString& name, Command command,
                             std::function<void(Controls&)> set, bool stopAfter = false) {
        steps.push_back(
            SelfTestStep{QString::fromLatin1(group), name, command, std::move(set), Expect::Reply, 0, stopAfter});
    };
    control("link", QStringLiteral("停止"), Command::Stop, nullptr);
    control("controls", QStringLiteral("休眠"), Command::SleepWake, nullptr);
    control("controls", QStringLiteral("唤醒"), Command::SleepWake, nullptr);
    control("controls", QStringLiteral("DA输出"), Command::OutputMode, [](Controls& c) { c.outputIndex = 0; });
    control("controls", QStringLiteral("PWM输出"), Command::OutputMode, [](Controls& c) { c.outputIndex = 1; });
    control(
        "controls", QStringLiteral("波特率与输出方式"), Command::BaudAndOutput,
        [startBaudIndex](Controls& c) { c.baudIndex = startBaudIndex; }, true);
    for (int16_t index = 0; index < kBaudRates; ++index) {
        if (index == startBaudIndex) continue;
        control(
            "baud", QStringLiteral("波特率%1").arg(BaudRateAt(index)->baud), Command::Baud,
            [index](Controls& c) { c.baudIndex = index; }, true);
    }
    control(
        "baud", QStringLiteral("回到波特率%1").arg(BaudRateAt(startBaudIndex)->baud), Command::Baud,
        [startBaudIndex](Controls& c) { c.baudIndex = startBaudIndex; }, true);
    AddTextSteps(steps);
    AddStoredItemSteps(steps);
    AddCodeSteps(steps);
    const QString robustness = QStringLiteral("robustness");
    steps.push_back(
        RawStep(robustness, QStringLiteral("校验字节错误"), QByteArray::fromHex("01C0808004C4"), Expect::Malformed, 0));
    steps.push_back(
        RawStep(robustness, QStringLiteral("不完整的帧"), QByteArray::fromHex("018087"), Expect::Malformed, 0));
    steps.push_back(
        RawStep(robustness, QStringLiteral("未知命令"), QByteArray::fromHex("014080800445"), Expect::Malformed, 0));
    // Every step starts from the controls as the window opens, at the run's rate.
    for (SelfTestStep& s : steps) {
        s.set = [startBaudIndex, set = std::move(s.set)](Controls& c) {
            c.baudIndex = startBaudIndex;
            if (set) set(c);
        };
    }
    return steps;
}

QStringList SelfTestGroups() {
    return {QStringLiteral("link"),  QStringLiteral("controls"),  QStringLiteral("baud"),  QStringLiteral("text"),
            QStringLiteral("music"), QStringLiteral("phrases"),   QStringLiteral("poems"), QStringLiteral("sounds"),
            QStringLiteral("codes"), QStringLiteral("robustness")};
}

QString VerdictText(SelfTestResult::Verdict verdict) {
    switch (verdict) {
    case Verdict::NotRun: return QStringLiteral("not run");
    case Verdict::Pass: return QStringLiteral("pass");
    case Verdict::Warning: return QStringLiteral("warning");
    case Verdict::Fail: return QStringLiteral("fail");
    }
    return QString();
}

int SelfTestReport::count(SelfTestResult::Verdict v) const {
    return int(std::count_if(results.begin(), results.end(), [v](const SelfTestResult& r) { return r.verdict == v; }));
}

// ---- a run

SelfTest::SelfTest(ChipConversation& conversation, Clock& clock, QObject* parent)
    : QObject(parent), conv_(conversation), clock_(clock), limit_(clock.makeAlarm([this] { onTimeout(); })),
      next_(clock.makeAlarm([this] {
          if (auto action = std::exchange(later_, nullptr)) action();
      })) {}

SelfTest::~SelfTest() {
    for (const auto& c : connections_) disconnect(c);
}

double SelfTest::now() const { return clock_.now() - start_; }

void SelfTest::start(const SelfTestOptions& options) {
    if (running_) return;
    report_ = SelfTestReport{};
    report_.options = options;
    report_.started = QDateTime::currentDateTime();
    const std::vector<SelfTestStep> table = SelfTestSteps(options.startBaudIndex);
    for (int pass = 1; pass <= std::max(options.repeat, 1); ++pass) {
        for (SelfTestStep s : table) {
            if (!options.only.isEmpty() && !options.only.contains(s.group)) continue;
            if (options.repeat > 1) s.name += QStringLiteral(" #%1").arg(pass);
            report_.steps.push_back(std::move(s));
        }
    }
    report_.results.assign(report_.steps.size(), SelfTestResult{});
    current_ = 0;
    start_ = clock_.now();
    found_ = conv_.controls();
    running_ = true;
    connections_ = {
        connect(&conv_, &ChipConversation::frameWritten, this, &SelfTest::onFrame),
        connect(&conv_, &ChipConversation::replied, this, &SelfTest::onReply),
        connect(&conv_, &ChipConversation::lyricsRead, this, &SelfTest::onLyrics),
        connect(&conv_, &ChipConversation::dropped, this,
                [this](const RxText& chars) { onUnexpected(QStringLiteral("dropped %1").arg(Hex(ToBytes(chars)))); }),
        connect(&conv_, &ChipConversation::portFaulted, this, &SelfTest::onFault),
    };
    soon([this] { startStep(); });
}

void SelfTest::stop() {
    if (!running_) return;
    report_.stopped = true;
    for (size_t i = current_; i < report_.results.size(); ++i) {
        report_.results[i].verdict = Verdict::NotRun;
        report_.results[i].message = QStringLiteral("stopped");
    }
    endRun();
}

// Acts once the handler under way has returned: a reaction to a reply never
// runs inside the conversation's own handling of it.
void SelfTest::soon(std::function<void()> action) {
    later_ = std::move(action);
    next_->setAt(clock_.now());
}

void SelfTest::waitFor(State state, double seconds) {
    state_ = state;
    limit_->setAt(clock_.now() + seconds);
}

void SelfTest::startStep() {
    if (!running_) return;
    if (current_ >= report_.steps.size()) {
        endRun();
        return;
    }
    rejections_ = 0;
    stopSent_ = stopAccepted_ = finishSeen_ = false;
    unexpected_.clear();
    Controls controls = Controls::startUp();
    if (step().set) step().set(controls);
    waitFor(State::AwaitReply, report_.options.replySeconds);
    conv_.setControls(controls);
    conv_.send(step().command);
}

void SelfTest::sendStop() {
    if (!running_) return;
    stopSent_ = true;
    rejections_ = 0;
    waitFor(State::AwaitStop, report_.options.replySeconds);
    Controls controls = Controls::startUp();
    controls.baudIndex = report_.options.startBaudIndex;
    conv_.setControls(controls);
    conv_.send(Command::Stop);
}

void SelfTest::onFrame(const QByteArray& frame) {
    if (state_ == State::Idle) return;
    lastWrite_ = clock_.now();
    SelfTestResult& r = result();
    if (stopSent_) return;
    if (r.frame.isEmpty()) {
        r.frame = frame;
        r.words = DescribeFrame(frame);
        r.sentAt = now();
    } else {
        ++r.resends;
    }
}

void SelfTest::onReply(reply::Kind kind) {
    if (!running_ || current_ >= report_.results.size()) return;
    if (kind == reply::Kind::Finished) {
        onFinished();
        return;
    }
    if (state_ == State::Idle) return;
    if (kind == reply::Kind::Rejected) onRejected();
    else if (state_ == State::AwaitStop) onStopAccepted();
    else if (state_ == State::AwaitReply) onAccepted();
}

void SelfTest::onFinished() {
    SelfTestResult& r = result();
    finishSeen_ = true;  // also between two of its own waits
    if (state_ == State::AwaitFinish) {
        r.finishedAt = now();
        r.playSeconds = r.finishedAt - r.acceptedAt;
        r.reply = QStringLiteral("accepted, finished");
        soon([this] { finishStep(Verdict::Pass); });
    } else if (state_ == State::AwaitStop && stopAccepted_) {
        r.reply += QStringLiteral(", stopped with its report");
        soon([this] { finishStep(Verdict::Pass); });
    }
    // Otherwise a late report of an earlier play: no answer.
}

void SelfTest::onRejected() {
    SelfTestResult& r = result();
    ++rejections_;
    const bool done = rejections_ > reply::kMaxResends;  // no resend follows
    if (state_ == State::AwaitReply && step().expect == Expect::Malformed) {
        // Rejected, as it should be: the stop goes once the resends of the
        // malformed frame are over.
        r.reply = QStringLiteral("rejected");
        if (done) soon([this] { sendStop(); });
        else waitFor(State::AwaitReply, report_.options.replySeconds);
        return;
    }
    if (done) {
        r.reply = QStringLiteral("rejected");
        soon([this] { finishStep(Verdict::Fail, QStringLiteral("rejected after every resend")); });
        return;
    }
    waitFor(state_, report_.options.replySeconds);  // the resend's answer
}

void SelfTest::onStopAccepted() {
    SelfTestResult& r = result();
    stopAccepted_ = true;
    if (r.reply.isEmpty()) r.reply = QStringLiteral("accepted");
    const bool reportDue = step().expect == Expect::Play || step().expect == Expect::Lyrics;
    if (!reportDue || finishSeen_) soon([this] { finishStep(Verdict::Pass); });
    else waitFor(State::AwaitStop, kStopReportSeconds);
}

void SelfTest::onAccepted() {
    SelfTestResult& r = result();
    r.acceptedAt = now();
    r.latencyMs = std::max(0.0, (clock_.now() - lastWrite_) * 1000.0);
    r.reply = QStringLiteral("accepted");
    finishSeen_ = false;
    limit_->cancel();
    state_ = State::Idle;
    if (step().expect == Expect::Malformed) {
        soon([this] { finishStep(Verdict::Fail, QStringLiteral("a malformed frame was accepted")); });
        return;
    }
    afterAcceptance();
}

void SelfTest::afterAcceptance() {
    const SelfTestStep& s = step();
    const double playLimit = s.playSeconds * report_.options.playScale;
    switch (s.expect) {
    case Expect::Reply:
        if (s.stopAfter) soon([this] { sendStop(); });
        else soon([this] { finishStep(Verdict::Pass); });
        return;
    case Expect::Lyrics: waitFor(State::AwaitLyrics, report_.options.lyricSeconds); return;
    case Expect::Play:
        if (report_.options.full) waitFor(State::AwaitFinish, playLimit);
        else soon([this] { sendStop(); });
        return;
    case Expect::Malformed: return;
    }
}

void SelfTest::onLyrics(const RxText& stream) {
    if (state_ != State::AwaitLyrics) {
        onUnexpected(QStringLiteral("unexpected lyric data %1").arg(Hex(ToBytes(stream).left(16))));
        return;
    }
    // Parsed as the window plays it: every line shown, ended by its end code.
    LyricEndScanner scanner;
    const bool ended = std::any_of(stream.begin(), stream.end(), [&](const RxChar& c) { return scanner.atEnd(c); });
    QStringList shown;
    for (const LyricStep& s : LyricScript(stream))
        if (s.kind == LyricStep::Kind::ShowLine && !s.text.isEmpty()) shown << s.text;
    result().lyrics = shown.join(QStringLiteral(" / "));
    limit_->cancel();
    state_ = State::Idle;
    if (!ended) {
        soon([this] { finishStep(Verdict::Fail, QStringLiteral("malformed lyrics: no end code")); });
        return;
    }
    if (report_.options.full) waitFor(State::AwaitFinish, step().playSeconds * report_.options.playScale);
    else soon([this] { sendStop(); });
}

void SelfTest::onUnexpected(const QString& what) {
    if (running_ && state_ != State::Idle) unexpected_ << what;
}

void SelfTest::onTimeout() {
    SelfTestResult& r = result();
    switch (state_) {
    case State::Idle: return;
    case State::AwaitReply:
        if (step().expect == Expect::Malformed && !stopSent_) {
            if (r.reply.isEmpty()) r.reply = QStringLiteral("none (ignored)");
            sendStop();
            return;
        }
        if (r.reply.isEmpty()) r.reply = QStringLiteral("none");
        finishStep(Verdict::Fail, QStringLiteral("no answer within %1 s").arg(report_.options.replySeconds));
        return;
    case State::AwaitLyrics: finishStep(Verdict::Fail, QStringLiteral("no lyrics")); return;
    case State::AwaitFinish:
        finishStep(Verdict::Fail,
                   QStringLiteral("no finish report within %1 s").arg(step().playSeconds * report_.options.playScale));
        return;
    case State::AwaitStop:
        if (stopAccepted_)
            finishStep(Verdict::Fail, QStringLiteral("the stop ended the play without its finish report"));
        else finishStep(Verdict::Fail, QStringLiteral("no answer to the stop"));
        return;
    }
}

void SelfTest::onFault(const PortFault& fault) {
    if (!running_) return;
    report_.fault = FaultLogLine(fault);
    for (size_t i = current_; i < report_.results.size(); ++i) {
        report_.results[i].verdict = Verdict::NotRun;
        report_.results[i].message = report_.fault;
    }
    endRun();
}

void SelfTest::finishStep(Verdict verdict, const QString& message) {
    if (!running_) return;
    limit_->cancel();
    state_ = State::Idle;
    SelfTestResult& r = result();
    QStringList notes;
    if (!message.isEmpty()) notes << message;
    if (verdict == Verdict::Pass && r.resends > 0 && step().expect != Expect::Malformed) {
        verdict = Verdict::Warning;
        notes << QStringLiteral("accepted after %1 resend(s)").arg(r.resends);
    }
    if (!unexpected_.isEmpty()) {
        if (verdict == Verdict::Pass) verdict = Verdict::Warning;
        notes << unexpected_;
    }
    r.verdict = verdict;
    r.message = notes.join(QStringLiteral("; "));
    emit stepFinished(int(current_));
    ++current_;
    soon([this] { startStep(); });
}

void SelfTest::endRun() {
    running_ = false;
    state_ = State::Idle;
    limit_->cancel();
    next_->cancel();
    later_ = nullptr;
    report_.seconds = clock_.now() - start_;
    for (const auto& c : connections_) disconnect(c);
    connections_.clear();
    conv_.setControls(found_);  // a resend after the run rebuilds what the window shows
    emit finished();
}

}  // namespace vorla
