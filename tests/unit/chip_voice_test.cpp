// SPDX-License-Identifier: MIT
// The virtual chip's voice: what a play sounds like, and plays timed by
// their audio, checked on its recordings.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTimer>

#include "sim/chip_audio.h"
#include "sim/chip_core.h"
#include "sim/chip_voice.h"
#include "support/hex.h"

using namespace vorla::sim;
using vorla::test::Hex;

namespace {
// A play frame: head, mode 0x80, option and sound bytes, body, tail, check.
QByteArray PlayFrame(uint8_t option, uint8_t sound, const QByteArray& body) {
    QByteArray f = Hex("01 80");
    f += char(option);
    f += char(sound);
    f += body;
    f += '\x04';
    char x = 0;
    for (const char c : f) x = char(x ^ c);
    return f + x;
}
QByteArray Text(const QString& text) {
    QStringEncoder gbk("GBK");
    return gbk.encode(text);
}
AudioJob TextJob(const QString& text, int volume = 5, ReadingOptions reading = {}) {
    AudioJob job;
    for (const QChar c : text) job.items.push_back(PlayItem{PlayItem::Char, 0, QString(c)});
    job.volume = volume;
    job.reading = reading;
    return job;
}

Pcm Wav(const QString& path) {
    QFile file(path);
    Pcm pcm;
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    EXPECT_TRUE(ParseWav(file.readAll(), pcm));
    return pcm;
}

// The chip on this thread, speaking into a scratch folder; replies and
// notes are kept with the time they came.
struct SpeakingChip {
    QTemporaryDir dir;
    std::unique_ptr<ChipCore> chip;
    QElapsedTimer clock;
    std::vector<std::pair<double, QByteArray>> replies;
    std::vector<std::pair<double, QString>> notes;
    SpeakingChip() {
        ChipOptions options;
        options.mute = true;
        options.recordDir = dir.path();
        options.line = LineKind::Burst;
        WithVoice(options);
        chip = std::make_unique<ChipCore>(options);
        clock.start();
        QObject::connect(chip.get(), &ChipCore::delivered,
                         [this](const QByteArray& b) { replies.emplace_back(now(), b); });
        QObject::connect(chip.get(), &ChipCore::note, [this](const QString& n) { notes.emplace_back(now(), n); });
    }
    double now() const { return double(clock.nsecsElapsed()) * 1e-9; }
    void hear(const QByteArray& frame) { chip->hear(frame, 1200, true); }
    // Runs events until `done` holds or `seconds` pass.
    void runUntil(const std::function<bool()>& done, double seconds) {
        const double end = now() + seconds;
        while (!done() && now() < end) {
            QEventLoop loop;
            QTimer::singleShot(5, &loop, &QEventLoop::quit);
            loop.exec();
        }
    }
    double noteTime(const QString& start) const {
        for (const auto& [t, n] : notes)
            if (n.startsWith(start)) return t;
        return -1;
    }
    QStringList recordings() const { return QDir(dir.path()).entryList({QStringLiteral("*.wav")}, QDir::Files); }
};
}  // namespace

TEST(ChipAudio, WhatAPlaySoundsLike) {
    if (!Speech::Available()) GTEST_SKIP() << "espeak-ng's Mandarin voice is not installed";
    const Pcm shortText = RenderPass(TextJob(QStringLiteral("你好")));
    const Pcm longText = RenderPass(TextJob(QStringLiteral("你好，欢迎使用语音合成芯片")));
    EXPECT_GT(Rms(shortText), 0.01);
    EXPECT_GT(longText.seconds(), 2 * shortText.seconds());
    // Six decibels a level: level 6 is 30 dB above level 1.
    const double loud = Rms(RenderPass(TextJob(QStringLiteral("你好"), 5)));
    const double quiet = Rms(RenderPass(TextJob(QStringLiteral("你好"), 0)));
    EXPECT_NEAR(loud / quiet, 31.6, 3.0);
    // The reading options change what is said.
    EXPECT_NE(Speech::Phonemes(QStringLiteral("110"), {true, false, false}),
              Speech::Phonemes(QStringLiteral("110"), {}));
    EXPECT_EQ(Speech::Prepare(QStringLiteral("1，2"), {true, true, false}), QStringLiteral("幺 逗号 二"));
    // Digit strings digit by digit, as a telephone number is read.
    EXPECT_EQ(Speech::Prepare(QStringLiteral("120，13800138000"), {true, false, false}),
              QStringLiteral("幺二零，幺三八零零幺三八零零零"));
    EXPECT_GT(RenderPass(TextJob(QStringLiteral("王小明"), 5, {false, false, true})).seconds(),
              RenderPass(TextJob(QStringLiteral("王小明"))).seconds());
    // A tune plays under the speech; stored items have audio of their own.
    AudioJob withTune = TextJob(QStringLiteral("你好"));
    withTune.tune = 3;
    EXPECT_GT(Rms(RenderPass(withTune)), Rms(shortText));
    for (const PlayItem::Kind kind : {PlayItem::Phrase, PlayItem::Music, PlayItem::Poem, PlayItem::Sound}) {
        AudioJob job;
        job.volume = 5;
        job.items.push_back(PlayItem{kind, 1, QStringLiteral("现在是北京时间")});
        EXPECT_GT(Rms(RenderPass(job)), 0.01) << kind;
    }
}

TEST(ChipVoice, PlaysLastAsLongAsTheirAudioAndStopCutsThem) {
    if (!Speech::Available()) GTEST_SKIP() << "espeak-ng's Mandarin voice is not installed";
    SpeakingChip c;
    const auto finished = [&] {
        return std::any_of(c.replies.begin(), c.replies.end(),
                           [](const auto& r) { return r.second.contains(Hex("01 12 14")); });
    };
    // Finish report asked for (0x40 in the sound byte), volume 6.
    c.hear(PlayFrame(0x80, 0xC5, Text(QStringLiteral("欢迎"))));
    c.runUntil(finished, 10);
    ASSERT_TRUE(finished());
    const double sounding = c.noteTime(QStringLiteral("sounding"));
    c.runUntil([&] { return c.recordings().size() == 1; }, 2);
    ASSERT_EQ(c.recordings(), QStringList{QStringLiteral("0001.wav")});
    const Pcm first = Wav(c.dir.filePath(QStringLiteral("0001.wav")));
    EXPECT_GT(Rms(first), 0.01);
    // The play lasts as long as its audio: the time it is given is the
    // recording's length (when the report goes against it is timed on the
    // virtual clock, in the model's tests), and the report follows it.
    const double reportAt = std::find_if(c.replies.begin(), c.replies.end(), [](const auto& r) {
                                return r.second.contains(Hex("01 12 14"));
                            })->first;
    EXPECT_GE(reportAt, sounding);
    const QString given =
        c.notes[size_t(std::find_if(c.notes.begin(), c.notes.end(),
                                    [](const auto& n) { return n.second.startsWith(QStringLiteral("sounding")); }) -
                       c.notes.begin())]
            .second;
    EXPECT_NEAR(given.section(u' ', 1, 1).toDouble(), first.seconds(), 0.01);

    // A longer text sounds longer; a stop cuts it short.
    c.hear(PlayFrame(0x80, 0x85, Text(QStringLiteral("床前明月光，疑是地上霜。举头望明月，低头思故乡。"))));
    c.runUntil([&] { return c.notes.back().second.startsWith(QStringLiteral("sounding")); }, 5);
    const double full = c.notes.back().second.section(u' ', 1, 1).toDouble();
    EXPECT_GT(full, 2 * first.seconds());
    c.runUntil([] { return false; }, 0.5);
    c.hear(Hex("01 C0 80 80 04 C5"));
    c.runUntil([&] { return c.recordings().size() == 2; }, 2);
    const Pcm cut = Wav(c.dir.filePath(QStringLiteral("0002.wav")));
    EXPECT_GT(cut.seconds(), 0);
    EXPECT_LT(cut.seconds(), full);  // what was heard until the stop

    // A rejected frame makes no sound.
    c.hear(Hex("01 80 80 80 41 42 04 86"));
    c.runUntil([] { return false; }, 0.3);
    EXPECT_EQ(c.recordings().size(), 2);
}
