// SPDX-License-Identifier: MIT
// The virtual chip's side of the protocol, free of any I/O: it hears bytes
// with their arrival time, answers with bytes, and keeps its own clock-driven
// events (a frame cut short, the end of playback).
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <random>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "protocol/frame_decode.h"
#include "sim/line_model.h"
#include "sim/play_job.h"
#include "sim/voice.h"

namespace vorla::sim {

struct ChipOptions {
    double speed = 1.0;            // every playing time is divided by this
    int rejectNext = 0;            // reject the next N frames
    double rejectProbability = 0;  // reject good frames with this probability
    uint32_t seed = 1;
    bool dropFinishReports = false;
    // Plays end as they start: a play that asked for a finish report is
    // answered by its acceptance and the report back to back.
    bool backToBack = false;
    LineKind line = LineKind::Uart;  // how the bytes reach the reader
    // The chance of a stray byte where real lines put them: right before and
    // right after a reply, and inside a lyric stream (a glitch on the line,
    // an adapter's noise).
    double strayBytes = 0;
    // Plays last as long as their audio: each play hands out an audio job
    // and ends once its audio, reported ready, has played. Otherwise every
    // item has a fixed playing time.
    bool audioTimed = false;
    bool mute = false;    // the audio is never sent to the sound output
    QString recordDir{};  // every utterance is written here as a WAV file
    // The voice that sounds the audio jobs of a chip whose plays are timed
    // by their audio (see WithVoice).
    VoiceFactory voice{};
    int baud = 1200;  // the line rate it starts at
    // Faults a chip's tester must catch: frames of these kinds (FrameKind)
    // are never answered; a malformed frame is accepted; a lyric stream is
    // cut short without its end code; every answer goes this many seconds
    // late.
    QStringList silentTo{};
    bool acceptMalformed = false;
    bool cutLyrics = false;
    double replyDelay = 0;
};

// What a frame asks for, in one word: stop, sleep, wake, output, baud,
// text, music, phrase, poem, sound, code (several items) or other.
QString FrameKind(const QByteArray& frame);
const QStringList& FrameKinds();

class ChipModel {
public:
    static constexpr double kNever = std::numeric_limits<double>::infinity();

    struct Output {
        QByteArray bytes;
        int switchToBaud = 0;  // after these bytes have gone out, switch to this rate
    };

    explicit ChipModel(ChipOptions options = {});

    // Bytes heard on the line at `now` (seconds).
    void hear(const QByteArray& bytes, double now);
    // Runs whatever is due by `now`.
    void advance(double now);
    double nextDeadline() const;

    std::vector<Output> takeOutput();
    // The audio to start (a job) and to stop (no job), in order.
    struct AudioEvent {
        bool start = false;
        AudioJob job;
    };
    std::vector<AudioEvent> takeAudioEvents() { return std::exchange(audio_, {}); }
    // The audio of job `id` starts sounding at `now` and lasts `seconds`, all
    // its passes together (a play that repeats until stopped ignores it).
    void audioReady(int id, double seconds, double now);
    // One line per frame heard, in words.
    std::vector<QString> takeNotes();

    int baud() const { return baud_; }
    // Called once an Output's bytes have gone out and it asked for a switch.
    void setBaud(int baud) { baud_ = baud; }
    bool asleep() const { return asleep_; }
    int outputMode() const { return outputMode_; }
    bool playing() const { return playEnd_ != kNever || awaitingAudio_; }
    int framesHeard() const { return framesHeard_; }
    struct Replies {
        int accepted = 0;
        int rejected = 0;
        int finished = 0;
    };
    const Replies& repliesSent() const { return replies_; }

    // Keeps every frame heard (for tests that compare both ends).
    void setRecordFrames(bool on) { recordFrames_ = on; }
    const std::vector<QByteArray>& recordedFrames() const { return recorded_; }

    // Fault injection.
    void rejectNext(int n) { rejectNext_ = n; }
    void setRejectProbability(double p, uint32_t seed);
    void setDropFinishReports(bool drop) { dropFinish_ = drop; }
    // Sends n random bytes in which no reply can be read (no 0x01, no 0x10 to
    // 0x12).
    void sendNoise(int n);

private:
    using Item = PlayItem;
    void endFrame(double now, bool broken, const QString& why);
    void hearByte(uint8_t b, double now);
    void handleFrame(const QByteArray& frame, double now);
    void handleControl(const QByteArray& frame, uint8_t mode);
    void applyModes(uint8_t mode);
    bool injectedRejection(const QByteArray& frame);
    void reject(const QByteArray& frame, const QString& why);
    double itemSeconds(const Item& item, bool lyrics, bool& lyricsSent);
    void play(const QByteArray& frame, const PlayOptions& options, const std::vector<Item>& items, double now);
    void finishPlay();
    void startAudio(const PlayOptions& options, const std::vector<Item>& items);
    void stopAudio();
    double gapLimit() const;
    void send(const QByteArray& bytes, int switchToBaud = 0);
    Output& lastOutput() { return options_.replyDelay > 0 ? delayed_.back().second : output_.back(); }
    QByteArray withStrayBytes(const QByteArray& bytes, bool reply);
    char strayByte();
    void note(const QString& line) { notes_.push_back(line); }

    ChipOptions options_;
    std::mt19937 random_;
    int baud_ = 1200;
    bool asleep_ = false;
    int outputMode_ = 2;
    QByteArray frame_;
    bool inFrame_ = false;
    bool discarding_ = false;  // after an over-long frame, until the line is quiet
    double lastByte_ = 0;
    double playEnd_ = kNever;
    bool inPlay_ = false;  // from a play's acceptance to its end, also one that repeats until stopped
    bool reportFinish_ = false;
    int rejectNext_ = 0;
    double rejectProbability_ = 0;
    bool dropFinish_ = false;
    int framesHeard_ = 0;
    Replies replies_;
    bool recordFrames_ = false;
    std::vector<QByteArray> recorded_;
    std::vector<Output> output_;
    std::deque<std::pair<double, Output>> delayed_;  // (when it goes, what): answers sent late
    double now_ = 0;
    std::vector<QString> notes_;
    std::vector<AudioEvent> audio_;
    int audioId_ = 0;             // the last job handed out
    bool audioOn_ = false;        // its audio is sounding or being prepared
    bool awaitingAudio_ = false;  // a play that ends with its audio waits for it
};

}  // namespace vorla::sim
