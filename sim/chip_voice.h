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
#include "sim/chip_model.h"
#include "sim/voice.h"

class QAudioSink;

namespace vorla::sim {

struct VoiceOptions {
    bool mute = false;   // never use the sound output
    QString recordDir;   // where utterances go as 0001.wav, 0002.wav, ... (empty: nowhere)
    double speed = 1.0;  // the chip's speed: a play's time is its audio's divided by this
};

class ChipVoice : public Voice {
    Q_OBJECT
public:
    explicit ChipVoice(VoiceOptions options, QObject* parent = nullptr);
    ~ChipVoice() override;

    // Prepares the job's audio on the rendering thread. A recording holds
    // what was heard up to a stop.
    void start(const AudioJob& job) override;
    void stop() override;

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

// The chip speaks: its plays last as long as their audio, which this voice
// sounds (muted and recorded as the options say).
void WithVoice(ChipOptions& options);

}  // namespace vorla::sim
