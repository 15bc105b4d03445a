// SPDX-License-Identifier: MIT
// The conversation with the chip: every frame built, logged and written,
// every reply shown and acted on (resends, lyrics, the end of a play), the
// baud-rate switch and code playback. Free of widgets: the window hands it
// what its controls hold and its clicks as commands, and shows what it
// reports through its signals.
//
// Nothing here waits inside a handler. A wait is a state that an alarm or an
// arrival ends: the code run waiting for a finish report, the lyric display
// between two characters, and two waits that hold the operator's input (the
// lyric data's arrival and the 100 ms a baud-rate frame takes to leave).
// What the operator gives during those two (commands, controls, code-list
// edits, clearing the log) and what the chip sends are kept in one queue and
// acted on afterwards, in the order they came.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <variant>

#include <QObject>
#include <QString>

#include "conversation/code_lists.h"
#include "conversation/code_playback.h"
#include "conversation/exchange.h"
#include "conversation/frame_log.h"
#include "conversation/line_record.h"
#include "conversation/lyric_player.h"
#include "protocol/baud.h"
#include "protocol/catalog.h"
#include "protocol/frame.h"
#include "protocol/replies.h"
#include "serial/clock.h"
#include "serial/serial_control.h"

class QSettings;

namespace vorla {

// What the window's controls hold, as a command reads them.
struct Controls {
    PlaySettings play;
    QString text;  // the text to read aloud, line breaks as CR LF
    // The selected item of each stored-item list (by ItemKind), -1 for none.
    std::array<int16_t, 4> itemIndex{};
    int16_t baudIndex = 0;  // -1: no rate chosen
    int16_t outputIndex = 0;
    QString rawText;  // the raw sender's hexadecimal text

    // What the window's controls hold when it opens: every reading option
    // but the lyrics, a finish report, 北国之春 under it, volume 2级, the
    // selected stored items, 1200 baud, PWM output, and in the raw sender a
    // text-reading frame with its check byte.
    static Controls startUp();
    friend bool operator==(const Controls&, const Controls&) = default;
};

// What the operator gives and the chip sends, as a value: acted on at once,
// or held in one queue while a wait holds input.
namespace input {
struct SetControls {
    Controls controls;
};
struct Send {
    Command command = Command::None;
};
struct ChoosePort {
    int16_t port = 0;
};
struct ChooseDevice {
    int16_t port = 0;
    QString device;
};
struct SetCodeLists {
    CodeListValues lists;
};
struct ClearLog {};
struct UseRate {
    int16_t baudIndex = 0;
};
struct TakeSnapshot {
    int code = 0;
};
struct Received {  // a message of the chip's, taken as it arrived
    ChipMessage message;
};
}  // namespace input
using Input = std::variant<input::SetControls, input::Send, input::ChoosePort, input::ChooseDevice, input::SetCodeLists,
                           input::ClearLog, input::UseRate, input::TakeSnapshot, input::Received>;

class ChipConversation : public QObject {
    Q_OBJECT
public:
    static constexpr int16_t kStartPort = 1;

    // Times its waits on the port's clock.
    explicit ChipConversation(SerialControl& port, QObject* parent = nullptr);
    ~ChipConversation() override;

    // Input; held while a wait holds input.
    void setControls(const Controls& controls);
    void send(Command command);
    void choosePort(int16_t port);
    void chooseDevice(int16_t port, const QString& device);
    void takeSnapshot(int code);
    // The port runs at this rate from now on, without telling the chip (a
    // search for the rate the chip runs at).
    void useRate(int16_t baudIndex);

    // The code lists as they stand after an edit; code playback reads each
    // list when its turn comes. Held with the rest of the input.
    void setCodeLists(const CodeListValues& lists);
    CodeListValues codeLists() const;
    // Lyric data is read as soon as its stream has arrived whole, rather
    // than after the lyric wait of the baud rate (the self-test reads so;
    // the window keeps the wait).
    void setReadLyricsToEnd(bool on) { readLyricsToEnd_ = on; }
    // Where device choices are remembered (nowhere by default).
    void setDeviceMemory(QSettings* settings) { deviceMemory_ = settings; }

    // Held with the rest of the input.
    void clearLog();
    // At once.
    bool saveLog(const QString& path);
    void appendNote(const QString& line) { log_.appendLine(line); }
    // The program ends: the port is closed and nothing more is sent.
    void shutdown();

    const FrameLog& log() const { return log_; }
    // The line on record, and as a capture with wall-clock times.
    const LineRecord& lineRecord() const { return record_; }
    capture::Capture lineCapture() const;
    // Writes the capture to `path`; false (and why) when it cannot.
    bool writeCapture(const QString& path, QString* error) const;
    // The same, a failure said in the status and the log.
    bool saveCapture(const QString& path);
    const Controls& controls() const { return controls_; }
    QString status() const { return status_; }
    bool sleeping() const { return sleeping_; }
    bool hasSnapshot(int code) const { return player_.snapshot(code).has_value(); }
    // The reply the line waits for: the command a rejection repeats (rebuilt
    // from the controls), and the rejections in a row so far.
    struct Pending {
        Command command = Command::None;
        int rejections = 0;
        int resendsLeft() const { return reply::kMaxResends - rejections; }
    };
    const Pending& pending() const { return pending_; }
    // The exchange open now, or the last one closed: where the conversation
    // stands is its phase. Two phases hold input: the baud-rate switch (the
    // operator's) and the lyric wait (the chip's too).
    const Exchange& exchange() const { return exchange_; }
    Exchange::Phase phase() const { return exchange_.phase; }
    bool holdsInput() const {
        return exchange_.phase == Exchange::Phase::SwitchingBaud || exchange_.phase == Exchange::Phase::ReadingLyrics;
    }
    // What a wait holds, in the order it came.
    const std::deque<Input>& heldInput() const { return held_; }
    int16_t portNumber() const { return portNumber_; }
    QString device(int16_t port) const { return port_.device(port); }
    QString portName() const { return port_.device(portNumber_); }
    // The baud-rate list index of the rate the port runs at.
    int16_t portBaudIndex() const;
    Clock& clock() const { return clock_; }
    bool devicesChoosable() const { return port_.devicesChoosable(); }

signals:
    void statusChanged(const QString& text);
    void lyricLineChanged(int box, const QString& text);
    void lyricHighlighted(int box, int start, int length);
    void lyricSelectionCleared(int box);
    void sleepingChanged(bool asleep);
    void snapshotsChanged();
    void codeRunChanged(bool running);
    void devicesChanged();
    // The raw sender's text is not hexadecimal: shown to the operator.
    void formatRejected(const QString& message);
    // What went over the line, for those who watch it closely (the
    // self-test): a frame handed to the port, a reply of the chip, a lyric
    // stream read whole, received characters dropped as noise, a port fault.
    void frameWritten(const QByteArray& frame);
    // An entry was added to the line's record.
    void lineRecorded(const vorla::LineEntry& entry);
    // A reply: its kind by its code, the characters it came as, and when its
    // last character arrived (on the conversation's clock).
    void replied(vorla::reply::Kind kind, const vorla::RxText& characters, double arrivedAt);
    void lyricsRead(const vorla::RxText& stream);
    void dropped(const vorla::RxText& characters);
    // Every message of the chip's as it arrives, in order.
    void messageRead(const vorla::ChipMessage& message);
    // The open exchange changed (a frame, a resend, a message, its phase),
    // and the exchange closed (answered and nothing more due, its finish
    // reported, no answer by its deadline, or the next frame went).
    void exchangeChanged(const vorla::Exchange& exchange);
    void exchangeClosed(const vorla::Exchange& exchange);
    void portFaulted(const vorla::PortFault& fault);

private:
    void submit(Input input);
    void apply(const Input& input);
    void dispatch(const Input& input);
    void applyPort(int16_t port);
    void applyDevice(int16_t port, const QString& device);
    void releaseHeld();
    void execute(Command command, bool resend);
    void begin(Command command);
    void sendPlayFrame(Command command);
    void sendControlFrame(Command command, bool resend);
    void sendRaw(Command command);
    bool sendFrame(const Frame& frame);
    // The port opened, closed or set, each on record.
    bool openPort();
    void closePort();
    void setLine(const LineSettings& settings);
    void record(capture::Direction direction, const QByteArray& bytes, const QString& event = QString(),
                capture::Note note = {});
    void logFrame(const Frame& frame) { log_.append(FormatSentRecord(frame.bytes())); }
    void reportFault(const PortFault& fault);
    void setStatus(const QString& text);
    void clearLyricLines();

    // The baud-rate switch: the frame leaves at the old rate, then the port
    // is switched.
    void startBaudSwitch(const Frame& frame);
    void answerBaudSwitch(std::optional<reply::Kind> answer);
    void onBaudSettled();

    // Exchanges.
    void openExchange(Command command, const QByteArray& frame);
    void frameOut(const QByteArray& frame);
    bool heard(const ChipMessage& message);
    void settleExchange();
    void closeExchange(const QString& why);
    void onReplyDeadline();
    void publish() { emit exchangeChanged(exchange_); }

    // Code playback.
    void playCodes();
    void advanceCodeRun();
    void endCodeRun();

    // Replies.
    void onCommEvent();
    void onReply(const ChipMessage& message);
    void onRejected(const ChipMessage& message);
    void startLyricRead(const ChipMessage& message);
    void handleReceived(const ChipMessage& message);
    void finishLyricRead();

    SerialControl& port_;
    Clock& clock_;
    FrameLog log_;
    LineRecord record_;
    LineSettings recordedSettings_{0};  // the settings the record last named
    LyricPlayer lyrics_;
    CodePlayer player_;
    std::array<ItemsListBox, kCodeLists> lists_{};
    Controls controls_;
    QSettings* deviceMemory_ = nullptr;
    std::unique_ptr<Alarm> replyAlarm_;
    std::unique_ptr<Alarm> baudAlarm_;  // the chip has had its time to switch
    std::unique_ptr<Alarm> lyricAlarm_;
    std::deque<Input> held_;
    QString status_;
    Pending pending_;
    int16_t portNumber_ = kStartPort;
    bool sleeping_ = false;
    bool ended_ = false;
    Exchange exchange_;
    uint64_t nextExchange_ = 1;
    bool resending_ = false;                               // the frame going out is a resend of the open exchange's
    double wireFree_ = 0;                                  // when what was handed to the port has left the wire
    Frame baudFrame_;                                      // the frame of the switch under way
    double baudSettledAt_ = 0;                             // when the port may follow it
    std::optional<ChipMessage> baudAnswer_;                // its acceptance, waiting for that time
    bool actingOnKeptAnswer_ = false;                      // what arrives meanwhile came after what the switch held
    ChipMessage lyricMessage_;                             // the lyric data waited for
    Exchange::Phase afterLyrics_ = Exchange::Phase::Idle;  // the phase the lyric wait returns to
    bool readLyricsToEnd_ = false;
    int handling_ = 0;                 // depth of input being acted on
    bool releasing_ = false;           // held input is being acted on
    std::deque<ChipMessage> arrived_;  // messages that came while input was being acted on
};

}  // namespace vorla
