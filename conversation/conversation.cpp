// SPDX-License-Identifier: MIT
#include "conversation/conversation.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include <QSaveFile>

#include "protocol/commands.h"
#include "protocol/hex_text.h"
#include "protocol/replies.h"
#include "serial/device_choice.h"

namespace vorla {

namespace {
// A chip answers a frame at once; this long after the frame's last byte
// left, an answer is no longer waited for.
constexpr double kReplyDeadlineSeconds = 2.0;
// A chip that accepted a new rate switches once its answer has left; the
// port follows no sooner than this after the frame was handed over.
constexpr double kBaudSwitchSeconds = 0.100;

bool AsksForReport(const QByteArray& frame) {
    return frame.size() > 6 && uint8_t(frame[1]) == kPlayMode && (uint8_t(frame[3]) & kFinishReportBit) != 0;
}

ItemKind ItemKindOf(Command command) {
    switch (command) {
    case Command::Phrase: return ItemKind::Phrase;
    case Command::Poem: return ItemKind::Poem;
    case Command::Sound: return ItemKind::Sound;
    default: return ItemKind::Music;
    }
}
}  // namespace

Controls Controls::startUp() {
    Controls c;
    c.play = PlaySettings{1, 1, 1, 0, 0, 4, 1, 1};
    c.text = QStringLiteral("欢迎使用！\r\n");
    c.itemIndex = {0, 3, 0, 2};
    c.baudIndex = kStartBaudIndex;
    c.outputIndex = 1;
    // A whole text-reading frame (欢迎使用 and a line break), its check
    // byte typed last: sent as typed, it is a valid frame.
    c.rawText = QStringLiteral("01 80 87 C1 BB B6 D3 AD CA B9 D3 C3 A3 8D A3 8A 04 D4");
    return c;
}

ChipConversation::ChipConversation(SerialControl& port, QObject* parent)
    : QObject(parent), port_(port), clock_(port.clock()), lyrics_(clock_),
      replyAlarm_(clock_.makeAlarm([this] { onReplyDeadline(); })),
      baudAlarm_(clock_.makeAlarm([this] { onBaudSettled(); })),
      lyricAlarm_(clock_.makeAlarm([this] { finishLyricRead(); })) {
    // COM1 at 1200 baud, closed until the first frame goes out.
    port_.setSettings(*BaudSettingsFor(kStartBaudIndex));
    port_.setCommPort(portNumber_);
    connect(&port_, &SerialControl::commEventRaised, this, &ChipConversation::onCommEvent);
    connect(&port_, &SerialControl::faulted, this, &ChipConversation::reportFault);
    connect(&port_, &SerialControl::bytesRead, this,
            [this](const QByteArray& bytes) { record(capture::Direction::In, bytes); });
    connect(&port_, &SerialControl::grouping, this, [this] {
        if (phase() == Exchange::Phase::ReadingLyrics && readLyricsToEnd_ && port_.inputComplete(lyricMessage_.seq))
            lyricAlarm_->setAt(clock_.now());
    });
    connect(&lyrics_, &LyricPlayer::lineShown, this, &ChipConversation::lyricLineChanged);
    connect(&lyrics_, &LyricPlayer::highlighted, this, &ChipConversation::lyricHighlighted);
    connect(&lyrics_, &LyricPlayer::selectionCleared, this, &ChipConversation::lyricSelectionCleared);
}

ChipConversation::~ChipConversation() { disconnect(&port_, nullptr, this, nullptr); }

int16_t ChipConversation::portBaudIndex() const {
    const int baud = port_.settings().baud;
    for (int16_t i = 0; i < kBaudRates; ++i)
        if (BaudRateAt(i)->baud == baud) return i;
    return kStartBaudIndex;
}

// ---- input

void ChipConversation::submit(Input input) {
    if (ended_) return;
    if (!holdsInput()) {
        // What the chip said before the operator acted is acted on first:
        // a reply that waits to see whether lyrics follow it is a reply
        // now, and before the port closes or changes whatever the reader
        // holds is handed over.
        const bool portChange = std::holds_alternative<input::ChoosePort>(input) ||
                                std::holds_alternative<input::ChooseDevice>(input) ||
                                std::holds_alternative<input::UseRate>(input);
        if (portChange && port_.portOpen()) port_.flushInput();
        else if (std::holds_alternative<input::Send>(input)) port_.settleInput();
    }
    if (holdsInput()) {
        held_.push_back(std::move(input));
        return;
    }
    apply(input);
}

// A wait that held input is over: what was given and received meanwhile is
// acted on in the order it came, up to what starts another such wait.
void ChipConversation::releaseHeld() {
    if (releasing_) return;  // the loop below goes on
    releasing_ = true;
    while (!holdsInput() && !held_.empty() && !ended_) {
        const Input input = std::move(held_.front());
        held_.pop_front();
        apply(input);
    }
    releasing_ = false;
}

// Acts on one input. Messages that arrive meanwhile (a port closed inside
// it hands over what its reader held) wait until it is done, so no handler
// runs inside another; then they are acted on in order, or held when it
// began a wait.
void ChipConversation::apply(const Input& input) {
    ++handling_;
    dispatch(input);
    --handling_;
    if (handling_ > 0) return;
    while (!arrived_.empty() && !ended_) {
        ChipMessage message = std::move(arrived_.front());
        arrived_.pop_front();
        // Behind what the switch held while a kept acceptance waited: it
        // came after that.
        if (holdsInput() || (actingOnKeptAnswer_ && !held_.empty())) {
            held_.push_back(input::Received{std::move(message)});
            continue;
        }
        ++handling_;
        handleReceived(message);
        --handling_;
    }
    if (!holdsInput() && !held_.empty()) releaseHeld();
}

void ChipConversation::dispatch(const Input& input) {
    struct Apply {
        ChipConversation& c;
        void operator()(const input::SetControls& i) const { c.controls_ = i.controls; }
        void operator()(const input::Send& i) const { c.execute(i.command, false); }
        void operator()(const input::ChoosePort& i) const { c.applyPort(i.port); }
        void operator()(const input::ChooseDevice& i) const { c.applyDevice(i.port, i.device); }
        void operator()(const input::SetCodeLists& i) const {
            for (size_t k = 0; k < c.lists_.size(); ++k) c.lists_[k] = ItemsListBox(i.lists[k]);
        }
        void operator()(const input::ClearLog&) const { c.log_.clear(); }
        void operator()(const input::UseRate& i) const {
            if (const auto settings = BaudSettingsFor(i.baudIndex)) c.setLine(*settings);
        }
        void operator()(const input::TakeSnapshot& i) const {
            c.player_.takeSnapshot(i.code, PlayHeaderFor(c.controls_.play));
            emit c.snapshotsChanged();
        }
        void operator()(const input::Received& i) const { c.handleReceived(i.message); }
    };
    std::visit(Apply{*this}, input);
}

void ChipConversation::setControls(const Controls& controls) { submit(input::SetControls{controls}); }
void ChipConversation::send(Command command) { submit(input::Send{command}); }
void ChipConversation::choosePort(int16_t port) { submit(input::ChoosePort{port}); }
void ChipConversation::chooseDevice(int16_t port, const QString& device) { submit(input::ChooseDevice{port, device}); }
void ChipConversation::setCodeLists(const CodeListValues& lists) { submit(input::SetCodeLists{lists}); }
void ChipConversation::clearLog() { submit(input::ClearLog{}); }
void ChipConversation::useRate(int16_t baudIndex) { submit(input::UseRate{baudIndex}); }
void ChipConversation::takeSnapshot(int code) { submit(input::TakeSnapshot{code}); }

void ChipConversation::applyPort(int16_t port) {
    closePort();
    closeExchange(QStringLiteral("port closed"));
    portNumber_ = port;
    port_.setCommPort(port);
    emit devicesChanged();
}

void ChipConversation::applyDevice(int16_t port, const QString& device) {
    if (!port_.devicesChoosable()) return;
    port_.chooseDevice(port, device);
    if (deviceMemory_) RememberDevice(*deviceMemory_, port, device);
    // The port in use lets go of its old device; the next send opens the new one.
    if (portNumber_ == port) {
        closePort();
        closeExchange(QStringLiteral("port closed"));
    }
    emit devicesChanged();
}

CodeListValues ChipConversation::codeLists() const {
    CodeListValues values;
    for (size_t k = 0; k < lists_.size(); ++k) values[k] = lists_[k].items();
    return values;
}

bool ChipConversation::saveLog(const QString& path) {
    QString error;
    if (log_.saveTo(path, &error)) return true;
    // Said in the status label and the log; the log itself stays whole.
    setStatus(QStringLiteral("日志保存失败"));
    log_.appendLine(QStringLiteral("日志保存失败：%1：%2").arg(path, error));
    return false;
}

void ChipConversation::shutdown() {
    if (ended_) return;
    ended_ = true;
    replyAlarm_->cancel();
    baudAlarm_->cancel();
    baudAnswer_.reset();
    lyricAlarm_->cancel();
    lyrics_.stop();
    held_.clear();
    arrived_.clear();
    closePort();
}

// ---- commands

void ChipConversation::execute(Command command, bool resend) {
    // While the chip sleeps only the wake and the raw senders go (the
    // window's other sending buttons are off; a click held behind the sleep
    // is judged as the window stands once the sleep is applied).
    if (sleeping_ && !AllowedAsleep(command)) return;
    switch (command) {
    case Command::None: return;
    case Command::CodePlayback: playCodes(); return;
    case Command::RawWithCheckByte:
    case Command::RawAsTyped: sendRaw(command); break;
    case Command::Stop:
    case Command::SleepWake:
    case Command::OutputMode:
    case Command::Baud:
    case Command::BaudAndOutput: sendControlFrame(command, resend); break;
    case Command::Music:
    case Command::Phrase:
    case Command::Poem:
    case Command::Sound:
    case Command::Text: sendPlayFrame(command); break;
    }
    // Any other command that was given ends a code run that waits.
    if (player_.running() && pending_.command != Command::CodePlayback) endCodeRun();
}

// What every sending command but the raw senders does before its frame goes
// out: it becomes the command a rejection repeats, and the lyric lines are
// emptied (which ends a lyric display).
void ChipConversation::begin(Command command) {
    pending_.command = command;
    clearLyricLines();
}

void ChipConversation::sendPlayFrame(Command command) {
    const PlaySettings& settings = controls_.play;
    if (command == Command::Text) {
        const auto frame = TextFrame(FrameEnds{}, settings, controls_.text, kMaxTextBytes);
        if (!frame) return;  // nothing to read
        begin(command);
        logFrame(*frame);
        sendFrame(*frame);
        return;
    }
    const ItemKind kind = ItemKindOf(command);
    const Frame frame = ItemFrame(FrameEnds{}, settings, controls_.itemIndex[size_t(kind)], ItemBase(kind));
    begin(command);
    // A phrase is logged before it goes; the other items once they have gone.
    if (command == Command::Phrase) {
        logFrame(frame);
        sendFrame(frame);
    } else if (sendFrame(frame)) {
        logFrame(frame);
    }
}

void ChipConversation::sendControlFrame(Command command, bool resend) {
    uint8_t mode = kStopMode;
    switch (command) {
    case Command::SleepWake:
        // A rejected sleep or wake frame goes again as it was.
        if (!resend) {
            sleeping_ = !sleeping_;
            emit sleepingChanged(sleeping_);
        }
        mode = sleeping_ ? kSleepMode : kWakeMode;
        break;
    case Command::OutputMode: mode = OutputModeByte(controls_.outputIndex); break;
    case Command::Baud: mode = BaudModeByte(controls_.baudIndex); break;
    case Command::BaudAndOutput: mode = BaudAndOutputModeByte(controls_.baudIndex, controls_.outputIndex); break;
    default: break;
    }
    const Frame frame = ControlFrame(FrameEnds{}, mode);
    begin(command);
    switch (command) {
    case Command::Stop:
        logFrame(frame);
        sendFrame(frame);
        break;
    case Command::Baud:
    case Command::BaudAndOutput: startBaudSwitch(frame); break;
    default: sendFrame(frame); break;  // sleep, wake and the output mode are not logged
    }
}

void ChipConversation::sendRaw(Command command) {
    const HexText parsed = ParseHexText(controls_.rawText);
    if (parsed.status == HexTextStatus::Empty) return;
    if (parsed.status == HexTextStatus::NotHex) {
        emit formatRejected(QStringLiteral("格式不匹配，不是16进制数值"));
        return;
    }
    // Recorded only for a frame that goes out, so that a rejection of an
    // earlier frame never repeats a text that sends nothing.
    pending_.command = command;
    const Frame frame = RawFrame(parsed.bytes, command == Command::RawWithCheckByte);
    logFrame(frame);
    sendFrame(frame);
}

bool ChipConversation::sendFrame(const Frame& frame) {
    if (!port_.portOpen() && !openPort()) {
        reportFault(port_.lastFault());
        return false;
    }
    const QByteArray bytes = frame.toByteArray();
    if (!port_.output(bytes)) {
        reportFault(port_.lastFault());
        return false;
    }
    if (!resending_ || !exchange_.open()) openExchange(pending_.command, bytes);
    frameOut(bytes);
    emit frameWritten(bytes);
    return true;
}

bool ChipConversation::openPort() {
    port_.setCommPort(portNumber_);
    if (!port_.setPortOpen(true)) return false;
    recordedSettings_ = port_.settings();
    record(capture::Direction::None, {},
           capture::OpenedEvent(LineSettingsText(port_.settings())) + QStringLiteral(" (%1)").arg(portName()));
    return true;
}

void ChipConversation::closePort() {
    if (!port_.portOpen()) return;
    // What arrived before the port closes is the operator's to see: the
    // reader hands over what it holds, acted on once the input that closes
    // the port is done.
    port_.flushInput();
    port_.setPortOpen(false);
    record(capture::Direction::None, {}, QStringLiteral("closed"));
}

void ChipConversation::setLine(const LineSettings& settings) {
    port_.setSettings(settings);
    recordedSettings_ = settings;
    record(capture::Direction::None, {}, capture::SettingsEvent(LineSettingsText(settings)));
}

void ChipConversation::record(capture::Direction direction, const QByteArray& bytes, const QString& event,
                              capture::Note note) {
    // Bytes on a line whose settings were set outside this conversation (a
    // program setting the rate it starts at): those settings first.
    if (direction != capture::Direction::None && port_.settings() != recordedSettings_) {
        recordedSettings_ = port_.settings();
        record(capture::Direction::None, {}, capture::SettingsEvent(LineSettingsText(recordedSettings_)));
    }
    LineEntry entry{clock_.now(), portNumber_, direction, bytes, event, note};
    record_.add(entry);
    emit lineRecorded(entry);
}

capture::Capture ChipConversation::lineCapture() const {
    const auto wall =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch());
    return record_.toCapture(
        clock_.now(), int64_t(wall.count()), [this](int16_t port) { return port_.device(port); },
        QStringLiteral("vorla " VORLA_VERSION));
}

bool ChipConversation::saveCapture(const QString& path) {
    QString error;
    if (writeCapture(path, &error)) return true;
    setStatus(QStringLiteral("通信记录保存失败"));
    log_.appendLine(QStringLiteral("通信记录保存失败：%1：%2").arg(path, error));
    return false;
}

bool ChipConversation::writeCapture(const QString& path, QString* error) const {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(capture::Write(lineCapture())) >= 0 && file.commit()) return true;
    if (error) *error = file.errorString();
    return false;
}

void ChipConversation::reportFault(const PortFault& fault) {
    record(capture::Direction::None, {}, QStringLiteral("fault: ") + FaultLogLine(fault));
    setStatus(FaultStatusText(fault));
    log_.appendLine(FaultLogLine(fault));
    emit portFaulted(fault);
}

void ChipConversation::setStatus(const QString& text) {
    status_ = text;
    emit statusChanged(text);
}

void ChipConversation::clearLyricLines() {
    lyrics_.stop();
    for (int box : {1, 2}) emit lyricLineChanged(box, QString());
}

// ---- the baud-rate switch

// The frame leaves at the rate the chip runs at, and the port follows only
// an accepted one: a rejected frame is sent again at the same rate, and a
// frame without an answer leaves the port where it was. Meanwhile the
// operator's input is held.
void ChipConversation::startBaudSwitch(const Frame& frame) {
    if (!sendFrame(frame)) return;
    baudFrame_ = frame;
    baudSettledAt_ = clock_.now() + kBaudSwitchSeconds;
    baudAlarm_->setAt(baudSettledAt_);
    exchange_.phase = Exchange::Phase::SwitchingBaud;
    publish();
}

// The chip has had its time to switch: an acceptance that came sooner is
// acted on now.
void ChipConversation::onBaudSettled() {
    if (ended_ || !baudAnswer_) return;
    ChipMessage answer = std::move(*baudAnswer_);
    baudAnswer_.reset();
    actingOnKeptAnswer_ = true;
    apply(input::Received{std::move(answer)});
    actingOnKeptAnswer_ = false;
}

// The answer to the frame of a switch (or none by its deadline): logged
// after the switch, as the frame's record always was.
void ChipConversation::answerBaudSwitch(std::optional<reply::Kind> answer) {
    if (answer == reply::Kind::Accepted) {
        // A device that vanished meanwhile has been reported and its port
        // closed: the next command opens it again, at the new rate.
        const bool vanished = !port_.portOpen();
        closePort();
        if (const auto settings = BaudSettingsFor(controls_.baudIndex)) setLine(*settings);
        const bool reopened = vanished || openPort();
        logFrame(baudFrame_);
        if (!reopened) reportFault(port_.lastFault());
        return;
    }
    logFrame(baudFrame_);
    // A port that faulted meanwhile has said so.
    if (!answer && port_.portOpen()) setStatus(QStringLiteral("芯片无应答，波特率未切换"));
}

// ---- exchanges

void ChipConversation::openExchange(Command command, const QByteArray& frame) {
    if (exchange_.open()) closeExchange(QStringLiteral("superseded"));
    exchange_ = Exchange{};
    exchange_.id = nextExchange_++;
    exchange_.command = command;
    exchange_.reportAsked = AsksForReport(frame);
    exchange_.lyricsAsked = FrameAsksForLyrics(frame);
    exchange_.phase = Exchange::Phase::AwaitingReply;
}

// A frame of the open exchange handed to the port: its answer is due by
// the deadline after its last byte has left the wire.
void ChipConversation::frameOut(const QByteArray& frame) {
    const int baud = port_.settings().baud;
    const double now = clock_.now();
    wireFree_ = std::max(now, wireFree_) + double(frame.size()) * CharSeconds(baud);
    exchange_.frames.push_back(SentFrame{frame, now, wireFree_, baud});
    exchange_.answer.reset();
    exchange_.answeredAt = -1;
    if (exchange_.phase != Exchange::Phase::SwitchingBaud) exchange_.phase = Exchange::Phase::AwaitingReply;
    exchange_.replyDeadline = wireFree_ + kReplyDeadlineSeconds;
    replyAlarm_->setAt(exchange_.replyDeadline);
    record(capture::Direction::Out, frame, {}, capture::FrameNote(exchange_.id, exchange_.resends()));
    publish();
}

// A message as it arrives, before it is acted on: on record and in the
// exchange. The first acceptance or rejection after a frame is its answer
// (true).
bool ChipConversation::heard(const ChipMessage& message) {
    const bool waiting =
        exchange_.phase == Exchange::Phase::AwaitingReply || exchange_.phase == Exchange::Phase::SwitchingBaud ||
        (exchange_.phase == Exchange::Phase::ReadingLyrics && afterLyrics_ == Exchange::Phase::AwaitingReply);
    const bool answer = message.kind == ChipMessage::Kind::Reply && message.reply != reply::Kind::Finished && waiting &&
                        !exchange_.answer && !exchange_.frames.empty();
    if (answer) {
        exchange_.answer = message.reply;
        exchange_.answeredAt = message.lastAt;
        replyAlarm_->cancel();
    }
    record(capture::Direction::None, ToBytes(message.text), {},
           capture::MessageNote(MessageKindName(message), exchange_.id, answer ? exchange_.latencyMs() : std::nullopt,
                                message.ended));
    if (exchange_.messages.size() < Exchange::kMaxMessages) exchange_.messages.push_back(HeardMessage{message, {}});
    emit messageRead(message);
    if (exchange_.open()) publish();
    return answer;
}

void ChipConversation::closeExchange(const QString& why) {
    if (!exchange_.open()) return;
    exchange_.phase = Exchange::Phase::Idle;
    exchange_.closedBy = why;
    replyAlarm_->cancel();
    record(capture::Direction::None, {}, {},
           capture::ClosedNote(exchange_.id, why, exchange_.latencyMs(), exchange_.resends()));
    emit exchangeClosed(exchange_);
}

// After an acceptance: the exchange stays open while a finish report or
// lyrics are still due.
void ChipConversation::settleExchange() {
    if (!exchange_.open() || holdsInput()) return;
    if (exchange_.phase == Exchange::Phase::AwaitingReply && !exchange_.answer) return;
    if (exchange_.reportAsked || exchange_.lyricsAsked) {
        exchange_.phase = Exchange::Phase::AwaitingFinish;
        publish();
        return;
    }
    closeExchange(QStringLiteral("answered"));
}

// No answer by the deadline: a switch ends where it was; a play whose
// finish report is due still waits for it (the answer may have been lost
// on the line); anything else is over.
void ChipConversation::onReplyDeadline() {
    if (ended_) return;
    switch (exchange_.phase) {
    case Exchange::Phase::SwitchingBaud:
        answerBaudSwitch(std::nullopt);
        closeExchange(QStringLiteral("no answer"));
        releaseHeld();
        return;
    case Exchange::Phase::AwaitingReply:
        if (exchange_.reportAsked) {
            exchange_.phase = Exchange::Phase::AwaitingFinish;
            publish();
            return;
        }
        closeExchange(QStringLiteral("no answer"));
        return;
    default: return;
    }
}

// ---- code playback

void ChipConversation::playCodes() {
    pending_.command = Command::CodePlayback;
    const bool waiting = player_.running();
    player_.start({&lists_[0], &lists_[1], &lists_[2], &lists_[3]});
    if (!waiting) emit codeRunChanged(true);
    advanceCodeRun();
}

// Sends the codes that are due; a run waits (returns) for a finish report
// after each code but the last, and ends after its last.
void ChipConversation::advanceCodeRun() {
    while (player_.running()) {
        if (player_.done()) {
            endCodeRun();
            return;
        }
        clearLyricLines();
        const auto code = player_.due();
        if (!code) return;
        // The code's snapshot of the settings if it has one, else the settings now.
        const PlayHeader header = player_.snapshot(*code).value_or(PlayHeaderFor(controls_.play));
        const Frame frame = CodeFrame(FrameEnds{}, header, lists_[size_t(*code)].items());
        if (!sendFrame(frame)) {
            endCodeRun();  // the fault has been reported
            return;
        }
        logFrame(frame);
        player_.sent();
        // The run waits for this code's finish report unless it was the last.
        if (!player_.done()) exchange_.reportAsked = true;
    }
}

void ChipConversation::endCodeRun() {
    player_.end();
    emit snapshotsChanged();
    emit codeRunChanged(false);
}

// ---- replies

// A message of the chip's arrived: on record and in the exchange at once;
// acted on now, after the input being acted on, or, during a wait that
// holds it, in its place in the queue. The answer to a baud-rate frame ends
// the switch's wait (an acceptance once the chip has had its time to
// switch), and what else the chip says before it is acted on as it comes
// but lyric data, which waits for the switch with what comes after it.
void ChipConversation::onCommEvent() {
    if (ended_) return;
    ChipMessage message = port_.input();
    if (message.empty()) return;
    const bool answer = heard(message);
    const bool switching = exchange_.phase == Exchange::Phase::SwitchingBaud;
    if (switching && answer && message.reply == reply::Kind::Accepted && clock_.now() < baudSettledAt_) {
        baudAnswer_ = std::move(message);  // the port follows once the chip has switched
        return;
    }
    const bool lyrics = message.kind == ChipMessage::Kind::Lyrics;
    const bool held = exchange_.phase == Exchange::Phase::ReadingLyrics || (switching && (lyrics || baudAnswer_));
    if (held) {
        held_.push_back(input::Received{std::move(message)});
        return;
    }
    if (handling_ > 0) {
        arrived_.push_back(std::move(message));
        return;
    }
    apply(input::Received{std::move(message)});
}

void ChipConversation::handleReceived(const ChipMessage& message) {
    switch (message.kind) {
    case ChipMessage::Kind::Stray: emit dropped(message.text); return;
    case ChipMessage::Kind::Lyrics:
        pending_.rejections = 0;
        startLyricRead(message);
        return;
    case ChipMessage::Kind::Reply: onReply(message); return;
    }
}

void ChipConversation::onReply(const ChipMessage& message) {
    const reply::Kind kind = message.reply.value_or(reply::Kind::Accepted);
    const RxText chars(message.text.begin(),
                       message.text.begin() + qsizetype(std::min(message.text.size(), reply::kChars)));
    const bool switching = exchange_.phase == Exchange::Phase::SwitchingBaud && kind != reply::Kind::Finished;
    if (switching) answerBaudSwitch(kind);
    if (kind == reply::Kind::Rejected) {
        onRejected(message);
        return;
    }
    pending_.rejections = 0;
    setStatus(reply::StatusText(kind));
    log_.appendLine(reply::LogLine(kind));
    emit replied(kind, chars, message.lastAt);
    if (kind == reply::Kind::Accepted) {
        if (switching) {
            closeExchange(QStringLiteral("answered"));
            return;
        }
        settleExchange();
        return;
    }
    clearLyricLines();
    player_.finishReported();
    // The report ends the play the open exchange started; a report that
    // comes while another frame's answer is awaited is an earlier play's.
    const bool play = exchange_.reportAsked || exchange_.lyricsAsked;
    if (play && exchange_.phase != Exchange::Phase::SwitchingBaud) closeExchange(QStringLiteral("finished"));
    advanceCodeRun();
}

void ChipConversation::onRejected(const ChipMessage& message) {
    const RxText chars(message.text.begin(),
                       message.text.begin() + qsizetype(std::min(message.text.size(), reply::kChars)));
    setStatus(reply::RejectedStatus(pending_.rejections + 1));
    log_.appendLine(reply::LogLine(reply::Kind::Rejected));
    emit replied(reply::Kind::Rejected, chars, message.lastAt);
    if (pending_.resendsLeft() <= 0) {
        pending_.rejections = 0;
        closeExchange(QStringLiteral("rejected"));
        return;
    }
    if (pending_.command == Command::CodePlayback) {
        // A code frame is not sent again.
        if (!player_.rejected()) setStatus(QString());
        closeExchange(QStringLiteral("rejected"));
    } else {
        resending_ = true;
        execute(pending_.command, true);
        resending_ = false;
    }
    ++pending_.rejections;
}

// Lyric data: the rest of it is given the lyric wait of the baud rate to
// arrive, counted from its first characters, then it is played.
void ChipConversation::startLyricRead(const ChipMessage& message) {
    lyricMessage_ = message;
    const int waitMs = LyricWaitMs(controls_.baudIndex);
    const double age = std::max(0.0, clock_.now() - message.firstAt);
    const int ms = waitMs - int(std::lround(age * 1000.0));
    const bool arrived = readLyricsToEnd_ && (message.ended || port_.inputComplete(message.seq));
    if (waitMs > 0 && ms > 0 && !arrived) {
        afterLyrics_ = exchange_.phase;
        exchange_.phase = Exchange::Phase::ReadingLyrics;
        publish();
        lyricAlarm_->setAt(clock_.now() + ms / 1000.0);
        return;
    }
    finishLyricRead();
}

void ChipConversation::finishLyricRead() {
    const double mark = clock_.now();
    RxText stream = std::exchange(lyricMessage_.text, {});
    const RxText rest = port_.inputMore(lyricMessage_.seq);
    // Reading collects what the system still holds, which may have asked
    // for this read once more: it is done now.
    lyricAlarm_->cancel();
    if (!rest.empty()) {
        // The rest ends the stream when its end code is in it.
        LyricEndScanner scanner;
        bool ended = false;
        for (const RxChar& c : stream) ended = scanner.atEnd(c) || ended;
        for (const RxChar& c : rest) ended = scanner.atEnd(c) || ended;
        record(capture::Direction::None, ToBytes(rest), {},
               capture::MessageNote(QStringLiteral("lyrics"), exchange_.id, std::nullopt, ended));
        if (!exchange_.messages.empty()) {
            RxText& kept = exchange_.messages.back().rest;
            if (exchange_.messages.back().message.seq == lyricMessage_.seq)
                kept.insert(kept.end(), rest.begin(), rest.end());
        }
    }
    stream.insert(stream.end(), rest.begin(), rest.end());
    emit lyricsRead(stream);
    lyrics_.play(stream, mark);
    if (exchange_.phase != Exchange::Phase::ReadingLyrics) return;
    exchange_.phase = afterLyrics_;
    if (exchange_.open()) publish();
    releaseHeld();
}

}  // namespace vorla