// SPDX-License-Identifier: MIT
#include "sim/chip_model.h"

#include <algorithm>

#include <QStringList>

#include "protocol/baud.h"
#include "protocol/catalog.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "protocol/frame_decode.h"
#include "protocol/frame_words.h"
#include "protocol/hex_text.h"
#include "protocol/replies.h"
#include "sim/lyric_pieces.h"

namespace vorla::sim {

namespace {
const QByteArray kAccepted = reply::Bytes(reply::Kind::Accepted);
const QByteArray kRejected = reply::Bytes(reply::Kind::Rejected);
const QByteArray kFinished = reply::Bytes(reply::Kind::Finished);

PlayItem::Kind ItemOf(ItemKind kind) {
    switch (kind) {
    case ItemKind::Phrase: return PlayItem::Phrase;
    case ItemKind::Poem: return PlayItem::Poem;
    case ItemKind::Sound: return PlayItem::Sound;
    case ItemKind::Music: break;
    }
    return PlayItem::Music;
}

ItemKind KindOf(PlayItem::Kind kind) {
    switch (kind) {
    case PlayItem::Phrase: return ItemKind::Phrase;
    case PlayItem::Poem: return ItemKind::Poem;
    case PlayItem::Sound: return ItemKind::Sound;
    case PlayItem::Music:
    case PlayItem::Char: break;
    }
    return ItemKind::Music;
}

QString ControlKind(uint8_t mode) {
    if (mode & kStopBit) return QStringLiteral("stop");
    if (mode == kSleepMode) return QStringLiteral("sleep");
    if (BaudOfModeByte(mode)) return QStringLiteral("baud");
    if ((mode >> 4) & 0x03) return QStringLiteral("output");
    return QStringLiteral("other");
}
}  // namespace

const QStringList& FrameKinds() {
    static const QStringList kinds{QStringLiteral("stop"),   QStringLiteral("sleep"),  QStringLiteral("wake"),
                                   QStringLiteral("output"), QStringLiteral("baud"),   QStringLiteral("text"),
                                   QStringLiteral("music"),  QStringLiteral("phrase"), QStringLiteral("poem"),
                                   QStringLiteral("sound"),  QStringLiteral("code")};
    return kinds;
}

QString FrameKind(const QByteArray& bytes) {
    const DecodedFrame frame = DecodeFrame(bytes);
    if (frame.shape == DecodedFrame::Shape::Control)
        return frame.mode == kPlayMode ? QStringLiteral("wake") : ControlKind(frame.mode);
    if (frame.shape != DecodedFrame::Shape::Play) return QStringLiteral("other");
    int items = 0;
    ItemKind kind = ItemKind::Music;
    for (const BodyPart& part : frame.parts) {
        if (part.kind != BodyPart::Kind::Item) continue;
        ++items;
        kind = part.item;
    }
    if (items == 0) return QStringLiteral("text");
    if (items < int(frame.parts.size()) || items > 1) return QStringLiteral("code");
    return PlayKindName(PlayKindOf(kind));
}

ChipModel::ChipModel(ChipOptions options)
    : options_(std::move(options)), random_(options_.seed), rejectNext_(options_.rejectNext),
      rejectProbability_(options_.rejectProbability), dropFinish_(options_.dropFinishReports) {
    if (options_.speed <= 0) options_.speed = 1;
    baud_ = options_.baud > 0 ? options_.baud : 1200;
}

void ChipModel::setRejectProbability(double p, uint32_t seed) {
    rejectProbability_ = p;
    random_.seed(seed);
}

// A byte in which no reply can be read.
char ChipModel::strayByte() {
    const int b = std::uniform_int_distribution<int>(0, 255)(random_);
    return char(b == reply::kHead || reply::KindOf(int16_t(b)) ? 0x7E : b);
}

void ChipModel::sendNoise(int n) {
    QByteArray noise;
    for (int i = 0; i < n; ++i) noise += strayByte();
    output_.push_back(Output{noise, 0});
}

QByteArray ChipModel::withStrayBytes(const QByteArray& bytes, bool reply) {
    if (options_.strayBytes <= 0) return bytes;
    std::uniform_real_distribution<double> chance(0, 1);
    QByteArray out = bytes;
    if (reply) {
        if (chance(random_) < options_.strayBytes) out.prepend(strayByte());
        if (chance(random_) < options_.strayBytes) out.append(strayByte());
    } else if (chance(random_) < options_.strayBytes && out.size() > 1) {
        out.insert(std::uniform_int_distribution<qsizetype>(1, out.size() - 1)(random_), strayByte());
    }
    return out;
}

double ChipModel::gapLimit() const {
    // A few character times, and never less than the operating system's
    // scheduling can stretch one write.
    return std::max(5 * 10.0 / baud_, 0.05);
}

void ChipModel::send(const QByteArray& bytes, int switchToBaud) {
    bool reply = true;
    if (bytes == kAccepted) ++replies_.accepted;
    else if (bytes == kRejected) ++replies_.rejected;
    else if (bytes == kFinished) ++replies_.finished;
    else reply = false;
    Output out{withStrayBytes(bytes, reply), switchToBaud};
    if (options_.replyDelay > 0) delayed_.emplace_back(now_ + options_.replyDelay, std::move(out));
    else output_.push_back(std::move(out));
}

std::vector<ChipModel::Output> ChipModel::takeOutput() { return std::exchange(output_, {}); }

std::vector<QString> ChipModel::takeNotes() { return std::exchange(notes_, {}); }

double ChipModel::nextDeadline() const {
    double next = playEnd_;
    if (!delayed_.empty()) next = std::min(next, delayed_.front().first);
    if (inFrame_ || discarding_) next = std::min(next, lastByte_ + gapLimit());
    return next;
}

void ChipModel::advance(double now) {
    now_ = std::max(now_, now);
    while (!delayed_.empty() && delayed_.front().first <= now) {
        output_.push_back(std::move(delayed_.front().second));
        delayed_.pop_front();
    }
    if (discarding_ && now >= lastByte_ + gapLimit()) discarding_ = false;
    if (inFrame_ && now >= lastByte_ + gapLimit()) {
        const qsizetype n = frame_.size();
        QString why = QStringLiteral("frame cut short");
        if (uint8_t(frame_[0]) != kFrameHead) why = QStringLiteral("no frame head");
        else if (n >= 6 && uint8_t(frame_[n - 2]) == kFrameTail) why = QStringLiteral("wrong check byte");
        endFrame(now, true, why);
    }
    if (playEnd_ <= now) finishPlay();
}

void ChipModel::finishPlay() {
    playEnd_ = kNever;
    inPlay_ = false;
    stopAudio();
    if (reportFinish_ && !dropFinish_) {
        send(kFinished);
        note(QStringLiteral("playback finished, report sent"));
    } else {
        note(QStringLiteral("playback finished"));
    }
}

void ChipModel::hear(const QByteArray& bytes, double now) {
    advance(now);
    now_ = std::max(now_, now);
    for (const char c : bytes) hearByte(uint8_t(c), now);
}

void ChipModel::hearByte(uint8_t b, double now) {
    lastByte_ = now;
    if (discarding_) return;
    if (!inFrame_) {
        inFrame_ = true;
        frame_.clear();
    }
    frame_ += char(b);
    const qsizetype n = frame_.size();
    // Without a head the rest of the burst is one broken frame; it ends at
    // the gap after it.
    if (uint8_t(frame_[0]) != kFrameHead) return;
    if (n > kFrameBufferSize) {
        endFrame(now, true, QStringLiteral("longer than 56 bytes"));
        discarding_ = true;
        return;
    }
    if (n >= 6 && uint8_t(frame_[n - 2]) == kFrameTail) {
        uint8_t x = 0;
        for (qsizetype i = 0; i + 1 < n; ++i) x ^= uint8_t(frame_[i]);
        if (x == uint8_t(frame_[n - 1])) endFrame(now, false, QString());
    }
}

void ChipModel::endFrame(double now, bool broken, const QString& why) {
    const QByteArray frame = std::exchange(frame_, {});
    inFrame_ = false;
    ++framesHeard_;
    if (recordFrames_) recorded_.push_back(frame);
    if (asleep_) {
        // Asleep, the chip answers nothing but the wake frame.
        if (!broken && frame == ControlFrame(FrameEnds{}, kWakeMode).toByteArray()) {
            asleep_ = false;
            send(kAccepted);
            note(QStringLiteral("wake: %1").arg(HexBytes(frame)));
        } else {
            note(QStringLiteral("asleep, ignored: %1").arg(HexBytes(frame)));
        }
        return;
    }
    if (broken) return reject(frame, why);
    if (options_.silentTo.contains(FrameKind(frame))) {
        note(QStringLiteral("silent to %1: %2").arg(FrameKind(frame), HexBytes(frame)));
        return;
    }
    handleFrame(frame, now);
}

void ChipModel::reject(const QByteArray& frame, const QString& why) {
    if (options_.acceptMalformed) {
        send(kAccepted);
        note(QStringLiteral("accepted though malformed (%1): %2").arg(why, HexBytes(frame)));
        return;
    }
    send(kRejected);
    note(QStringLiteral("rejected (%1): %2").arg(why, HexBytes(frame)));
}

bool ChipModel::injectedRejection(const QByteArray& frame) {
    QString why;
    if (rejectNext_ > 0) {
        --rejectNext_;
        why = QStringLiteral("injected");
    } else if (rejectProbability_ > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < rejectProbability_) {
        why = QStringLiteral("injected at random");
    }
    if (!why.isEmpty()) {
        send(kRejected);
        note(QStringLiteral("rejected (%1): %2").arg(why, HexBytes(frame)));
        return true;
    }
    return false;
}

void ChipModel::handleFrame(const QByteArray& frame, double now) {
    if (injectedRejection(frame)) return;
    const DecodedFrame decoded = DecodeFrame(frame);
    if (decoded.shape != DecodedFrame::Shape::Play) {
        if (!decoded.body.isEmpty() || (decoded.mode & 0x80) == 0)
            return reject(frame, QStringLiteral("unknown command"));
        if (decoded.mode == kPlayMode) {
            send(kAccepted);
            note(QStringLiteral("wake (already awake)"));
            return;
        }
        return handleControl(frame, decoded.mode);
    }
    std::vector<Item> items;
    for (const BodyPart& part : decoded.parts) {
        switch (part.kind) {
        case BodyPart::Kind::Unreadable: return reject(frame, part.why);
        case BodyPart::Kind::Character: items.push_back(Item{Item::Char, 0, part.character}); break;
        case BodyPart::Kind::Item:
            items.push_back(Item{ItemOf(part.item), part.index, StoredItems(part.item)[part.index].trimmed()});
            break;
        }
    }
    send(kAccepted);
    play(frame, decoded.options, items, now);
}

// The output mode and baud rate a control frame sets.
void ChipModel::applyModes(uint8_t mode) {
    if (const int out = (mode >> 4) & 0x03) outputMode_ = out;
    // The acceptance goes out at the old rate, then the chip switches.
    if (const int baud = BaudOfModeByte(mode)) lastOutput().switchToBaud = baud;
}

void ChipModel::handleControl(const QByteArray& frame, uint8_t mode) {
    if (mode & kStopBit) {
        // Stopping a play that asked for a report ends it: the report
        // follows the acceptance back to back.
        const bool report = inPlay_ && reportFinish_ && !dropFinish_;
        send(kAccepted);
        playEnd_ = kNever;
        inPlay_ = false;
        stopAudio();
        if (report) send(kFinished);
        note(report ? QStringLiteral("stop, finish report sent") : QStringLiteral("stop"));
        return;
    }
    send(kAccepted);
    if (mode & kSleepBit) {
        asleep_ = true;
        playEnd_ = kNever;
        inPlay_ = false;
        stopAudio();
        note(QStringLiteral("sleep"));
        return;
    }
    applyModes(mode);
    note(DescribeFrame(frame));
}

// How long an item plays; the first karaoke piece of a frame that asked for
// lyrics sends its lyric stream.
double ChipModel::itemSeconds(const Item& item, bool lyrics, bool& lyricsSent) {
    if (item.kind == Item::Char) return PlaySecondsOf(PlayKind::Character).typical;
    if (item.kind != Item::Music || !IsKaraoke(ItemKind::Music, item.index))
        return PlaySecondsOf(PlayKindOf(KindOf(item.kind))).typical;
    const QByteArray stream = LyricStream(item.index, options_.speed);
    if (lyrics && !lyricsSent) {
        // Cut short: its first third, without the end code.
        send(options_.cutLyrics ? stream.left(stream.size() / 3) : stream);
        lyricsSent = true;
    }
    return LyricSeconds(stream) * options_.speed;
}

void ChipModel::play(const QByteArray& frame, const PlayOptions& options, const std::vector<Item>& items, double now) {
    double seconds = 0;
    bool lyricsSent = false;
    for (const Item& item : items) seconds += itemSeconds(item, options.lyricsBack, lyricsSent);
    // A new play frame replaces the current playback without a report.
    stopAudio();
    playEnd_ = options.passes() == 0 ? kNever : now + seconds * options.passes() / options_.speed;
    reportFinish_ = options.finishReport;
    inPlay_ = true;
    if (options_.audioTimed) {
        // The play lasts as long as its audio, from when it sounds.
        playEnd_ = kNever;
        startAudio(options, items);
        awaitingAudio_ = options.passes() != 0;
    }
    note(DescribeFrame(frame) + (lyricsSent ? QStringLiteral(", lyrics sent") : QString()));
    if (options_.backToBack && playing()) finishPlay();
}

void ChipModel::startAudio(const PlayOptions& options, const std::vector<Item>& items) {
    AudioJob job;
    job.id = ++audioId_;
    job.items = items;
    job.reading = ReadingOptions{options.oneAsYao, options.punctuation, options.asName};
    job.repeats = options.passes();
    job.volume = options.volume;
    job.tune = options.tune;
    audio_.push_back(AudioEvent{true, std::move(job)});
    audioOn_ = true;
}

void ChipModel::stopAudio() {
    awaitingAudio_ = false;
    if (!audioOn_) return;
    audioOn_ = false;
    audio_.push_back(AudioEvent{});
}

void ChipModel::audioReady(int id, double seconds, double now) {
    if (id != audioId_ || !audioOn_ || !awaitingAudio_) return;
    awaitingAudio_ = false;
    playEnd_ = now + seconds / options_.speed;
}

}  // namespace vorla::sim
