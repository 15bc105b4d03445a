// SPDX-License-Identifier: MIT
// The virtual chip's voice: renders a play's audio off the chip's thread,
// sounds it on the system's sound output (Qt Multimedia) when there is one
// and it is not muted, and records every utterance as a WAV file when asked.
#pragma once

#include <atomic>
#include <memory>

#include <QElapsedTimer>
#include <QObject>
#include <QThread>

#include "sim/chip_audio.h"

class QAudioSink;

namespace vorla::sim {

struct VoiceOptions {
    bool mute = false;   // never use the sound output
    QString recordDir;   // where utterances go as 0001.wav, 0002.wav, ... (empty: nowhere)
    double speed = 1.0;  // the chip's speed: a play's time is its audio's divided by this
};

class ChipVoice : public QObject {
    Q_OBJECT
public:
    explicit ChipVoice(VoiceOptions options, QObject* parent = nullptr);
    ~ChipVoice() override;

    // Prepares the job's audio on the rendering thread; ready() says when it
    // sounds. A job started replaces the one before.
    void start(const AudioJob& job);
    // Silences whatever sounds, or drops what is being prepared. A
    // recording holds what was heard up to now.
    void stop();

signals:
    // Job `id` sounds from now for `seconds`, all its passes together.
    void ready(int id, double seconds);
    // Said once: the voice cannot be heard (no sound output), or a
    // recording could not be written.
    void notice(const QString& line);
    // A recording was written.
    void recorded(const QString& path);

private:
    void rendered(int id, const std::shared_ptr<const Pcm>& pass, int repeats);
    void openOutput();
    void writeRecording();

    VoiceOptions options_;
    QThread renderThread_;
    QObject* renderer_;
    std::atomic<int> wanted_{0};  // the job whose audio is still wanted
    std::shared_ptr<const Pcm> pass_;
    int repeats_ = 1;  // 0: until stopped
    QElapsedTimer sounding_;
    bool outputChecked_ = false;
    bool recordFailed_ = false;
    int recordings_ = 0;
    std::unique_ptr<QAudioSink> sink_;
};

}  // namespace vorla::sim
