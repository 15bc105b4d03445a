// SPDX-License-Identifier: MIT
#include "sim/chip_voice.h"

#include <algorithm>
#include <cstring>

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QDir>
#include <QMediaDevices>
#include <QSaveFile>

namespace vorla::sim {

namespace {
constexpr double kLongestRecording = 600;  // seconds kept of a play repeated until stopped

// A play's samples as the sound output pulls them: the pass, again and again.
class PassSource : public QIODevice {
public:
    PassSource(std::shared_ptr<const Pcm> pass, int repeats, QObject* parent)
        : QIODevice(parent), pass_(std::move(pass)), repeats_(repeats) {
        open(QIODevice::ReadOnly);
    }
    qint64 bytesAvailable() const override { return QIODevice::bytesAvailable() + (drained() ? 0 : 4096); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 max) override {
        const auto& s = pass_->samples;
        qint64 written = 0;
        while (written + 2 <= max && !s.empty() && (repeats_ == 0 || next_ < s.size() * size_t(repeats_))) {
            const int16_t v = s[next_ % s.size()];
            std::memcpy(data + written, &v, 2);
            written += 2;
            ++next_;
        }
        return written;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    bool drained() const {
        return pass_->samples.empty() || (repeats_ != 0 && next_ >= pass_->samples.size() * size_t(repeats_));
    }
    std::shared_ptr<const Pcm> pass_;
    int repeats_;
    size_t next_ = 0;
};
}  // namespace

ChipVoice::ChipVoice(VoiceOptions options, QObject* parent)
    : Voice(parent), options_(std::move(options)), renderer_(new QObject) {
    if (options_.speed <= 0) options_.speed = 1;
    renderer_->moveToThread(&renderThread_);
    renderThread_.start();
}

ChipVoice::~ChipVoice() {
    wanted_ = -1;
    renderThread_.quit();
    renderThread_.wait();
    delete renderer_;
    stop();
}

void ChipVoice::start(const AudioJob& job) {
    stop();
    wanted_ = job.id;
    // Synthesis takes a while; the chip's line goes on meanwhile.
    QMetaObject::invokeMethod(renderer_, [this, job] {
        if (wanted_ != job.id) return;  // replaced or stopped before its turn
        auto pass = std::make_shared<const Pcm>(RenderPass(job));
        QMetaObject::invokeMethod(this,
                                  [this, id = job.id, pass, repeats = job.repeats] { rendered(id, pass, repeats); });
    });
}

void ChipVoice::rendered(int id, const std::shared_ptr<const Pcm>& pass, int repeats) {
    if (id != wanted_) return;
    pass_ = pass;
    repeats_ = repeats;
    sounding_.start();
    openOutput();
    if (sink_) sink_->start(new PassSource(pass_, repeats_, sink_.get()));
    emit ready(id, pass->seconds() * std::max(repeats, 1));
}

void ChipVoice::openOutput() {
    if (options_.mute) return;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    QAudioFormat format;
    format.setSampleRate(kSampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (device.isNull() || !device.isFormatSupported(format)) {
        if (!outputChecked_) {
            emit notice(device.isNull()
                            ? QStringLiteral("没有声音输出设备，虚拟芯片静音运行 (no sound output: the virtual chip "
                                             "plays silently)")
                            : QStringLiteral("声音输出设备不能播放 22050 Hz 16 位单声道，虚拟芯片静音运行 (the sound "
                                             "output cannot play 16-bit mono at 22050 Hz: the virtual chip plays "
                                             "silently)"));
        }
        outputChecked_ = true;
        return;
    }
    outputChecked_ = true;
    sink_ = std::make_unique<QAudioSink>(device, format);
}

void ChipVoice::stop() {
    wanted_ = 0;
    if (!pass_) return;
    if (sink_) {
        sink_->stop();
        sink_.reset();
    }
    writeRecording();
    pass_.reset();
}

// What was heard of the play: as much of its passes as the time it sounded
// covers (at the chip's speed), never more than they hold.
void ChipVoice::writeRecording() {
    if (options_.recordDir.isEmpty() || pass_->samples.empty()) return;
    const double heard = double(sounding_.nsecsElapsed()) * 1e-9 * options_.speed;
    const size_t total =
        repeats_ == 0 ? size_t(kLongestRecording * kSampleRate) : pass_->samples.size() * size_t(repeats_);
    const size_t count = std::min(total, size_t(heard * kSampleRate));
    Pcm played;
    played.samples.reserve(count);
    for (size_t i = 0; i < count; ++i) played.samples.push_back(pass_->samples[i % pass_->samples.size()]);
    QDir().mkpath(options_.recordDir);
    const QString path =
        QDir(options_.recordDir).filePath(QStringLiteral("%1.wav").arg(++recordings_, 4, 10, QLatin1Char('0')));
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(WavBytes(played)) >= 0 && file.commit()) {
        emit recorded(path);
        return;
    }
    if (!recordFailed_) emit notice(QStringLiteral("录音失败 (cannot record to %1: %2)").arg(path, file.errorString()));
    recordFailed_ = true;
}

void WithVoice(ChipOptions& options) {
    options.audioTimed = true;
    options.voice = [](const ChipOptions& o, QObject* parent) -> Voice* {
        return new ChipVoice(VoiceOptions{o.mute, o.recordDir, o.speed}, parent);
    };
}

}  // namespace vorla::sim
