// SPDX-License-Identifier: MIT
#include "sim/chip_core.h"

#include <algorithm>
#include <cmath>

#include "protocol/baud.h"

namespace vorla::sim {

namespace {
int MsUntil(double at, double now) { return std::max(0, int(std::ceil((at - now) * 1000.0))); }

// Plays are timed by their audio only where a voice sounds it.
ChipOptions WithoutVoiceTiming(ChipOptions options) {
    if (!options.voice) options.audioTimed = false;
    return options;
}
}  // namespace

ChipCore::ChipCore(const ChipOptions& options, QObject* parent)
    : QObject(parent), model_(WithoutVoiceTiming(options)), line_(options.line), hearing_(this), tick_(this),
      pace_(this) {
    clock_.start();
    lineBaud_ = model_.baud();
    for (QTimer* timer : {&hearing_, &tick_, &pace_}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&hearing_, &QTimer::timeout, this, &ChipCore::hearDue);
    connect(&tick_, &QTimer::timeout, this, &ChipCore::onTick);
    connect(&pace_, &QTimer::timeout, this, &ChipCore::sendDue);
    if (options.audioTimed && options.voice) {
        // A child, so that it moves to the chip's thread with the chip.
        voice_ = options.voice(options, this);
        connect(voice_, &Voice::ready, this, &ChipCore::voiceReady);
        connect(voice_, &Voice::notice, this, &ChipCore::voiceNotice);
        connect(voice_, &Voice::recorded, this,
                [this](const QString& path) { emit note(QStringLiteral("recorded %1").arg(path)); });
    }
}

void ChipCore::voiceReady(int id, double seconds) {
    emit note(QStringLiteral("sounding %1 s").arg(seconds, 0, 'f', 2));
    model_.audioReady(id, seconds, now());
    runModel();
}

void ChipCore::hear(const QByteArray& bytes, int portBaud, bool portFormatOk) {
    if (bytes.isEmpty() || portBaud <= 0) return;
    // Ten bits a byte at the port's rate, after whatever is still on the wire.
    inboundFree_ = std::max(now(), inboundFree_) + double(bytes.size()) * 10.0 / portBaud;
    inbound_.push_back(Inbound{inboundFree_, bytes, portBaud, portFormatOk});
    if (!hearing_.isActive()) hearing_.start(MsUntil(inbound_.front().at, now()));
}

void ChipCore::hearDue() {
    while (!inbound_.empty() && inbound_.front().at <= now()) {
        const Inbound in = std::move(inbound_.front());
        inbound_.pop_front();
        if (in.baud != model_.baud() || !in.formatOk) {
            if (!noiseReported_)
                emit note(QStringLiteral("noise (the port's line settings differ from the chip's %1)")
                              .arg(LineSettingsText(LineSettings{model_.baud()})));
            noiseReported_ = true;
            continue;
        }
        noiseReported_ = false;
        model_.hear(in.bytes, in.at);
    }
    runModel();
    if (!inbound_.empty()) hearing_.start(MsUntil(inbound_.front().at, now()));
}

void ChipCore::onTick() {
    model_.advance(now());
    runModel();
}

void ChipCore::runModel() {
    counters_.framesHeard = model_.framesHeard();
    counters_.accepted = model_.repliesSent().accepted;
    counters_.rejected = model_.repliesSent().rejected;
    counters_.finished = model_.repliesSent().finished;
    counters_.playing = model_.playing();
    for (const QString& line : model_.takeNotes()) emit note(line);
    for (const ChipModel::Output& out : model_.takeOutput()) putOnLine(out);
    for (const ChipModel::AudioEvent& event : model_.takeAudioEvents()) {
        if (!voice_) continue;
        if (event.start) voice_->start(event.job);
        else voice_->stop();
    }
    sendDue();
    const double next = model_.nextDeadline();
    if (next != ChipModel::kNever) tick_.start(MsUntil(next, now()));
}

void ChipCore::sendRaw(const QByteArray& bytes) {
    putOnLine(ChipModel::Output{bytes, 0});
    sendDue();
}

void ChipCore::injectNoise(int count) {
    model_.sendNoise(count);
    runModel();
}

void ChipCore::putOnLine(const ChipModel::Output& out) {
    const double done = line_.send(out.bytes, lineBaud_, now());
    // A switch of rate waits until the last byte before it has left.
    if (out.switchToBaud) {
        switches_.emplace_back(done, out.switchToBaud);
        lineBaud_ = out.switchToBaud;
    }
}

// Hands the port what the line has delivered by now, switches the chip's
// rate where a switch is due, and comes back at the next delivery.
void ChipCore::sendDue() {
    const double t = now();
    const QByteArray bytes = line_.deliver(t);
    if (!bytes.isEmpty()) emit delivered(bytes);
    while (!switches_.empty() && switches_.front().first <= t) {
        model_.setBaud(switches_.front().second);
        emit note(QStringLiteral("now at %1 baud").arg(switches_.front().second));
        switches_.pop_front();
    }
    double next = line_.nextDelivery();
    if (!switches_.empty()) next = std::min(next, switches_.front().first);
    if (next != LineModel::kNever) pace_.start(MsUntil(next, now()));
}

void ChipCore::switchOff() {
    if (voice_) voice_->stop();
    hearing_.stop();
    inbound_.clear();
    tick_.stop();
    pace_.stop();
    line_.clear();
    switches_.clear();
    lineBaud_ = model_.baud();
}

}  // namespace vorla::sim
