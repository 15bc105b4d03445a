// SPDX-License-Identifier: MIT
// The virtual chip's protocol side on a virtual clock.
#include <gtest/gtest.h>

#include "sim/chip_model.h"
#include "sim/line_model.h"
#include "sim/lyric_pieces.h"
#include "support/hex.h"

using namespace vorla::sim;
using vorla::test::Hex;
using vorla::test::ToHex;

namespace {
// Feeds one frame at time t and returns everything the chip sent by then.
struct Chip {
    ChipModel model;
    explicit Chip(ChipOptions o = {}) : model(o) {}
    std::string hear(const char* hex, double t) {
        model.hear(Hex(hex), t);
        return out();
    }
    std::string at(double t) {
        model.advance(t);
        return out();
    }
    std::string out() {
        QByteArray all;
        for (const auto& o : model.takeOutput()) {
            all += o.bytes;
            if (o.switchToBaud) model.setBaud(o.switchToBaud);
        }
        return ToHex(all);
    }
};
}  // namespace

TEST(ChipModel, GoodAndBrokenFrames) {
    Chip c;
    EXPECT_EQ(c.hear("01 80 87 C1 BB B6 D3 AD CA B9 D3 C3 A3 8D A3 8A 04 D4", 0), "01 11 14");
    EXPECT_EQ(c.at(1.8), "01 12 14");                      // six characters, finish report asked for
    EXPECT_EQ(c.hear("01 80 87 C1 BB B6 04 00", 10), "");  // wrong check: waits for more
    EXPECT_EQ(c.at(10.2), "01 10 14");
    EXPECT_EQ(c.hear("80 87", 20), "");  // no head
    EXPECT_EQ(c.at(20.2), "01 10 14");
    EXPECT_EQ(c.hear("01 80 87 C1", 30), "");  // cut short
    EXPECT_EQ(c.at(30.2), "01 10 14");
    QByteArray longFrame = Hex("01 80 80 80");
    longFrame += QByteArray(60, '\x60');
    c.model.hear(longFrame, 40);
    EXPECT_EQ(c.out(), "01 10 14");  // once for the whole burst
    EXPECT_EQ(c.at(41), "");
    EXPECT_EQ(c.hear("01 80 80 80 60 FE 04 1B", 50), "01 10 14");  // unknown item code
    EXPECT_EQ(c.hear("01 80 80 80 41 42 04 86", 60), "01 10 14");  // not characters
    // Characters the chip cannot speak: a full-width form of a control
    // code, a pair that is not GBK.
    EXPECT_EQ(c.hear("01 80 80 80 A3 80 04 A6", 70), "01 10 14");
    EXPECT_EQ(c.hear("01 80 80 80 A2 A0 04 87", 80), "01 10 14");
}

TEST(ChipModel, PlaybackTimeRepeatAndFinishReport) {
    Chip c;
    // Phrase 3 (1.5 s), finish report on, played twice.
    EXPECT_EQ(c.hear("01 80 88 C0 60 A3 04 0E", 10), "01 11 14");
    EXPECT_TRUE(c.model.playing());
    EXPECT_EQ(c.at(12.9), "");
    EXPECT_EQ(c.at(13.0), "01 12 14");
    // Without the report bit nothing comes at the end.
    EXPECT_EQ(c.hear("01 80 80 80 60 A3 04 46", 20), "01 11 14");
    EXPECT_EQ(c.at(30), "");
    EXPECT_FALSE(c.model.playing());
    // Endless repeat, replaced by a new play frame without a report; a stop
    // ends a play that asked for a report with the report, back to back.
    EXPECT_EQ(c.hear("01 80 B8 C0 60 A3 04 3E", 40), "01 11 14");
    EXPECT_EQ(c.at(1000), "");
    EXPECT_EQ(c.hear("01 80 80 C0 60 C1 04 64", 1001), "01 11 14");
    EXPECT_EQ(c.hear("01 C0 80 80 04 C5", 1001.5), "01 11 14 01 12 14");
    EXPECT_EQ(c.at(1010), "");
    EXPECT_EQ(c.hear("01 C0 80 80 04 C5", 1011), "01 11 14");  // nothing playing
    // A play that repeats until stopped and asked for a report ends with it.
    EXPECT_EQ(c.hear("01 80 B8 C0 60 A3 04 3E", 1020), "01 11 14");
    EXPECT_EQ(c.hear("01 C0 80 80 04 C5", 1030), "01 11 14 01 12 14");
    Chip pairs(ChipOptions{.backToBack = true});
    EXPECT_EQ(pairs.hear("01 80 80 C0 60 C1 04 64", 0), "01 11 14 01 12 14");
    // Speed divides every playing time.
    Chip fast(ChipOptions{10.0});
    fast.hear("01 80 80 C0 60 D0 04 75", 0);  // poem, 8 s
    EXPECT_EQ(fast.at(0.81), "01 12 14");
}

TEST(ChipModel, ControlFrames) {
    Chip c;
    EXPECT_EQ(c.hear("01 81 80 80 04 84", 0), "01 11 14");
    EXPECT_TRUE(c.model.asleep());
    EXPECT_EQ(c.hear("01 80 87 C1 60 A3 04 00", 1), "");  // asleep: nothing
    EXPECT_EQ(c.hear("01 C0 80 80 04 C5", 2), "");
    EXPECT_EQ(c.hear("01 80 80 80 04 85", 3), "01 11 14");  // wake
    EXPECT_FALSE(c.model.asleep());
    EXPECT_EQ(c.hear("01 90 80 80 04 95", 4), "01 11 14");
    EXPECT_EQ(c.model.outputMode(), 1);
    c.model.hear(Hex("01 88 80 80 04 8D"), 5);
    const auto out = c.model.takeOutput();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(ToHex(out[0].bytes), "01 11 14");  // answered at the old rate
    EXPECT_EQ(out[0].switchToBaud, 9600);
    EXPECT_EQ(c.model.baud(), 1200);
}

TEST(ChipModel, KaraokeLyricsFollowTheAcceptance) {
    Chip c;
    // Music 0 with the lyric bit and the finish report.
    const std::string out = c.hear("01 80 C0 C0 60 B0 04 55", 0);
    ASSERT_EQ(out.substr(0, 8), "01 11 14");
    const QByteArray stream = LyricStream(0, 1.0);
    EXPECT_EQ(out.substr(9), ToHex(stream));
    EXPECT_LE(stream.size(), 1000);
    const double seconds = LyricSeconds(stream);
    EXPECT_GT(seconds, 15);
    EXPECT_EQ(c.at(seconds - 0.01), "");
    EXPECT_EQ(c.at(seconds), "01 12 14");
    // Without the lyric bit only the acceptance.
    EXPECT_EQ(c.hear("01 80 80 C0 60 B0 04 15", 100), "01 11 14");
    for (int piece = 0; piece < vorla::kKaraokePieces; ++piece) {
        EXPECT_LE(LyricStream(piece, 1.0).size(), 1000) << piece;
        EXPECT_NEAR(LyricSeconds(LyricStream(piece, 10.0)), LyricSeconds(LyricStream(piece, 1.0)) / 10, 0.5);
    }
}

TEST(ChipModel, FaultInjection) {
    Chip c(ChipOptions{1.0, 2});
    EXPECT_EQ(c.hear("01 C0 80 80 04 C5", 0), "01 10 14");
    EXPECT_EQ(c.hear("01 C0 80 80 04 C5", 1), "01 10 14");
    EXPECT_EQ(c.hear("01 C0 80 80 04 C5", 2), "01 11 14");
    c.model.setDropFinishReports(true);
    c.hear("01 80 80 C0 60 C1 04 64", 3);
    EXPECT_EQ(c.at(10), "");
    c.model.sendNoise(50);
    const std::string noise = c.out();
    EXPECT_EQ(noise.size(), size_t(50 * 3 - 1));
    EXPECT_EQ(noise.find("01"), std::string::npos);
    // Rejections at random follow the seed.
    auto pattern = [](uint32_t seed) {
        Chip r;
        r.model.setRejectProbability(0.5, seed);
        std::string p;
        for (int i = 0; i < 20; ++i) p += r.hear("01 C0 80 80 04 C5", i) == "01 10 14" ? 'x' : '.';
        return p;
    };
    EXPECT_EQ(pattern(7), pattern(7));
    EXPECT_NE(pattern(7).find('x'), std::string::npos);
    EXPECT_NE(pattern(7).find('.'), std::string::npos);
}

namespace {
double Char(int baud) { return 10.0 / baud; }  // one character's time on the line
}  // namespace

// A play timed by its audio reports its end when the audio has sounded
// whole, counted from when it began to sound; a stop cuts it at once.
TEST(ChipModel, APlayTimedByItsAudioEndsWithIt) {
    ChipOptions options;
    options.audioTimed = true;
    Chip c(options);
    // 欢迎, finish report asked for.
    EXPECT_EQ(c.hear("01 80 80 C5 BB B6 D3 AD 04 B3", 10), "01 11 14");
    const auto events = c.model.takeAudioEvents();
    ASSERT_EQ(events.size(), 1u);
    ASSERT_TRUE(events[0].start);
    EXPECT_EQ(c.model.nextDeadline(), ChipModel::kNever);  // not before its audio is ready
    c.model.audioReady(events[0].job.id, 1.25, 10.3);
    EXPECT_DOUBLE_EQ(c.model.nextDeadline(), 11.55);
    EXPECT_EQ(c.at(11.549), "");
    EXPECT_EQ(c.at(11.55), "01 12 14");
    EXPECT_FALSE(c.model.takeAudioEvents()[0].start);  // its audio stops

    c.hear("01 80 80 C5 BB B6 D3 AD 04 B3", 20);
    c.model.audioReady(c.model.takeAudioEvents()[0].job.id, 5, 20.1);
    EXPECT_EQ(c.hear("01 C0 80 80 04 C5", 20.6), "01 11 14 01 12 14");
    EXPECT_FALSE(c.model.takeAudioEvents()[0].start);
    EXPECT_EQ(c.at(25.1), "");  // cut: nothing more when its audio would have ended
}

TEST(LineModel, HandsBytesOverAsRealLinesDo) {
    struct LineCase {
        LineKind kind;
        int baud;
        std::vector<size_t> groups;  // sizes of the reads, in order
        double lastAt;               // when the last read comes, in character times
    };
    // 11 bytes sent at once from an idle line at time 0.
    const LineCase cases[] = {
        {LineKind::Uart, 1200, std::vector<size_t>(11, 1), 11},
        {LineKind::Uart, 2400, {8, 3}, 11 + LineModel::kFifoTimeoutChars},
        {LineKind::Usb, 9600, {11}, 0.016 / Char(9600)},
        {LineKind::Burst, 9600, {11}, 0},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(LineKindName(c.kind).toStdString() + " " + std::to_string(c.baud));
        LineModel line(c.kind);
        line.send(Hex("01 11 14 01 00 24 05 BE B2 D2 B9"), c.baud, 0);
        std::vector<size_t> groups;
        double at = 0;
        while (line.nextDelivery() != LineModel::kNever) {
            at = line.nextDelivery();
            groups.push_back(size_t(line.deliver(at).size()));
        }
        EXPECT_EQ(groups, c.groups);
        EXPECT_NEAR(at, c.lastAt * Char(c.baud), 1e-9);
    }
}
