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
// A baud-rate frame takes this long to leave at the old rate before the
// port is switched.
constexpr double kBaudSwitchSeconds = 0.100;

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
      baudAlarm_(clock_.makeAlarm([this] { finishBaudSwitch(); })),
      lyricAlarm_(clock_.makeAlarm([this] { finishLyricRead(); })) {
    // COM1 at 1200 baud, closed until the first frame goes out.
    port_.setSettings(*BaudSettingsFor(kStartBaudIndex));
    port_.setCommPort(portNumber_);
    connect(&port_, &SerialControl::commEventRaised, this, &ChipConversation::onCommEvent);
    connect(&port_, &SerialControl::faulted, this, &ChipConversation::reportFault);
    connect(&port_, &SerialControl::bytesRead, this,
            [this](const QByteArray& bytes) { record(capture::Direction::In, bytes); });
    connect(&port_, &SerialControl::grouping, this, [this] {
        if (state_ == State::ReadingLyrics && readLyricsToEnd_ && port_.inputComplete())
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
    if (holdsInput()) {
        held_.push_back(std::move(input));
        return;
    }
    apply(input);
}

// A wait that held input is over: what was given and received meanwhile is
// acted on in the order it came, up to what starts another such wait.
void ChipConversation::releaseHeld() {
    while (!holdsInput() && !held_.empty()) {
        const Input input = std::move(held_.front());
        held_.pop_front();
        apply(input);
    }
}

void ChipConversation::apply(const Input& input) {
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
        void operator()(const input::Received&) const { c.handleReceived(); }
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
    portNumber_ = port;
    port_.setCommPort(port);
    emit devicesChanged();
}

void ChipConversation::applyDevice(int16_t port, const QString& device) {
    if (!port_.devicesChoosable()) return;
    port_.chooseDevice(port, device);
    if (deviceMemory_) RememberDevice(*deviceMemory_, port, device);
    // The port in use lets go of its old device; the next send opens the new one.
    if (portNumber_ == port) closePort();
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
    baudAlarm_->cancel();
    lyricAlarm_->cancel();
    lyrics_.stop();
    held_.clear();
    closePort();
}

// ---- commands

void ChipConversation::execute(Command command, bool resend) {
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
    record(capture::Direction::Out, bytes);
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
    port_.setPortOpen(false);
    record(capture::Direction::None, {}, QStringLiteral("closed"));
}

void ChipConversation::setLine(const LineSettings& settings) {
    port_.setSettings(settings);
    recordedSettings_ = settings;
    record(capture::Direction::None, {}, capture::SettingsEvent(LineSettingsText(settings)));
}

void ChipConversation::record(capture::Direction direction, const QByteArray& bytes, const QString& event) {
    // Bytes on a line whose settings were set outside this conversation (a
    // program setting the rate it starts at): those settings first.
    if (direction != capture::Direction::None && port_.settings() != recordedSettings_) {
        recordedSettings_ = port_.settings();
        record(capture::Direction::None, {}, capture::SettingsEvent(LineSettingsText(recordedSettings_)));
    }
    LineEntry entry{clock_.now(), portNumber_, direction, bytes, event};
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

void ChipConversation::startBaudSwitch(const Frame& frame) {
    if (!sendFrame(frame)) return;
    baudFrame_ = frame;
    state_ = State::SwitchingBaud;
    baudAlarm_->setAt(clock_.now() + kBaudSwitchSeconds);
}

void ChipConversation::finishBaudSwitch() {
    // A device that vanished meanwhile has been reported and its port
    // closed: the next command opens it again, at the new rate.
    const bool vanished = !port_.portOpen();
    closePort();
    if (const auto settings = BaudSettingsFor(controls_.baudIndex)) setLine(*settings);
    const bool reopened = vanished || openPort();
    logFrame(baudFrame_);
    if (!reopened) reportFault(port_.lastFault());
    state_ = State::Idle;
    releaseHeld();
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
    }
}

void ChipConversation::endCodeRun() {
    player_.end();
    emit snapshotsChanged();
    emit codeRunChanged(false);
}

// ---- replies

// A batch was received: handled now, or, during a wait that holds input,
// in its place in the queue.
void ChipConversation::onCommEvent() {
    if (ended_) return;
    if (holdsInput()) {
        held_.push_back(input::Received{});
        return;
    }
    handleReceived();
}

void ChipConversation::handleReceived() {
    lastBatch_ = port_.input();
    const RxBatch& batch = lastBatch_;
    const RxText& first = batch.text;
    if (first.size() < reply::kMinChars) {  // a lone character is dropped
        if (!first.empty()) emit dropped(first);
        return;
    }
    const auto kind = reply::KindOf(first[1].code);
    if (!kind) {
        // Lyric data that did not start with a reply.
        pending_.rejections = 0;
        startLyricRead(first, 0, batch.lyricsEnded);
        return;
    }
    if (*kind == reply::Kind::Rejected) {
        onRejected();
        return;
    }
    pending_.rejections = 0;
    setStatus(reply::StatusText(*kind));
    log_.appendLine(reply::LogLine(*kind));
    emitReplied(*kind);
    if (*kind == reply::Kind::Accepted) {
        // Lyric data came with it: more than a bare acceptance, or a whole
        // stream however short.
        if (first.size() > reply::kBareAcceptanceMaxChars || batch.lyricsEnded)
            startLyricRead(first, reply::kChars, batch.lyricsEnded);
        return;
    }
    clearLyricLines();
    player_.finishReported();
    advanceCodeRun();
}

void ChipConversation::onRejected() {
    setStatus(reply::RejectedStatus(pending_.rejections + 1));
    log_.appendLine(reply::LogLine(reply::Kind::Rejected));
    emitReplied(reply::Kind::Rejected);
    if (pending_.resendsLeft() <= 0) {
        pending_.rejections = 0;
        return;
    }
    if (pending_.command == Command::CodePlayback) {
        // A code frame is not sent again.
        if (!player_.rejected()) setStatus(QString());
    } else {
        execute(pending_.command, true);
    }
    ++pending_.rejections;
}

// Lyric data: the rest of it is given the lyric wait of the baud rate to
// arrive, counted from its first characters, then it is played.
void ChipConversation::emitReplied(reply::Kind kind) {
    const RxText& text = lastBatch_.text;
    const RxText chars(text.begin(), text.begin() + qsizetype(std::min(text.size(), reply::kChars)));
    emit replied(kind, chars, lastBatch_.replyAt);
}

void ChipConversation::startLyricRead(const RxText& first, size_t drop, bool whole) {
    lyricFirst_.assign(first.begin() + qsizetype(std::min(drop, first.size())), first.end());
    const int waitMs = LyricWaitMs(controls_.baudIndex);
    const int ms = waitMs - int(std::lround(port_.inputAge() * 1000.0));
    const bool arrived = readLyricsToEnd_ && (whole || port_.inputComplete());
    if (waitMs > 0 && ms > 0 && !arrived) {
        state_ = State::ReadingLyrics;
        lyricAlarm_->setAt(clock_.now() + ms / 1000.0);
        return;
    }
    finishLyricRead();
}

void ChipConversation::finishLyricRead() {
    const double mark = clock_.now();
    RxText stream = std::exchange(lyricFirst_, {});
    const RxText rest = port_.inputMore();
    // Reading collects what the system still holds, which may have asked
    // for this read once more: it is done now.
    lyricAlarm_->cancel();
    stream.insert(stream.end(), rest.begin(), rest.end());
    emit lyricsRead(stream);
    lyrics_.play(stream, mark);
    if (state_ != State::ReadingLyrics) return;
    state_ = State::Idle;
    releaseHeld();
}

}  // namespace vorla
