// SPDX-License-Identifier: MIT
// The lyric interpreter on a recording display and a virtual clock.
#include <gtest/gtest.h>

#include "link/lyrics.h"
#include "support/fakes.h"

using namespace vorla;
using vorla::test::FakePump;

namespace {

struct FakeDisplay : LyricDisplay {
    QString lines[3];
    std::vector<std::string> events;
    std::vector<double> highlightTimes;
    FakePump* pump = nullptr;
    void setLine(int box, const QString& text) override {
        lines[box] = text;
        events.push_back("set" + std::to_string(box) + ":" + text.toStdString());
    }
    bool lineEmpty(int box) const override { return lines[box].isEmpty(); }
    void highlight(int box, int start, int length) override {
        events.push_back("hl" + std::to_string(box) + ":" + std::to_string(start) + "+" + std::to_string(length));
        if (pump) highlightTimes.push_back(pump->now());
    }
    void clearSelection(int box) override { events.push_back("clr" + std::to_string(box)); }
};

// A stream built from pieces: bytes as they arrive on the line.
struct Stream {
    QByteArray bytes;
    Stream& raw(const char* hex) {
        bytes += test::Hex(hex);
        return *this;
    }
    Stream& text(const QString& s) {
        for (QChar c : s) {
            if (c.unicode() < 0x80) bytes += char(c.unicode());
            else bytes += QByteArray("\xBA\xC3");  // 好
        }
        return *this;
    }
    // n sung characters with the given duration character.
    Stream& sentence(int n, char duration) {
        bytes += '\x08';
        for (int i = 0; i < n; ++i) {
            bytes += QByteArray("\xBA\xC3");
            bytes += duration;
        }
        return *this;
    }
    RxText rx() const { return SplitReceived(bytes); }
};

struct LyricRun {
    FakeDisplay display;
    FakePump pump;
    ReplyState st;
    LyricRun() {
        display.pump = &pump;
        display.lines[1] = QStringLiteral("此处播放歌词");
        st.LyricMark = pump.now();
    }
    void run(const Stream& s) { DecodeLyrics(s.rx(), 8, display, pump, st); }
    std::vector<std::string> sets() const {
        std::vector<std::string> out;
        for (const auto& e : display.events)
            if (e.rfind("set", 0) == 0) out.push_back(e);
        return out;
    }
    int highlights() const { return int(display.highlightTimes.size()); }
};

}  // namespace

TEST(Lyrics, EmptyStreamClearsBothLinesAndTheHighlight) {
    LyricRun r;
    r.run(Stream{});
    EXPECT_EQ(r.display.events, (std::vector<std::string>{"set1:", "set2:", "clr2", "clr1"}));
}

TEST(Lyrics, LineBlocks) {
    LyricRun r;
    r.run(Stream{}.raw("05 BA C3 BA C3 04"));
    EXPECT_EQ(r.sets(), (std::vector<std::string>{"set1:", "set2:", "set1:好好"}));
    EXPECT_EQ(r.display.events.back(), "clr1");

    LyricRun two;
    // Line 2: a double-byte character, then A and B; the blank ends it and
    // is skipped like any code without meaning.
    two.run(Stream{}.raw("05 BA C3 06 BA C3 41 42 20 04"));
    EXPECT_EQ(two.display.lines[1], QStringLiteral("好"));
    EXPECT_EQ(two.display.lines[2], QStringLiteral("好AB"));

    LyricRun blocks;  // every block starts from an empty line text
    blocks.run(Stream{}.raw("05 BA C3 06 BA C3 20 05 B0 A1 01 04"));
    EXPECT_EQ(blocks.display.lines[1], QStringLiteral("啊"));
}

TEST(Lyrics, SentencesSplitIntoLinesWithDurationsInOrder) {
    LyricRun eight;
    eight.run(Stream{}.sentence(8, 'A').raw("04"));
    EXPECT_EQ(eight.display.lines[1], QString(8, QChar(0x597D)));  // no comma
    EXPECT_EQ(eight.highlights(), 8);

    LyricRun eleven;
    eleven.run(Stream{}.sentence(11, 'A').raw("04"));
    EXPECT_EQ(eleven.display.lines[1], QString(8, QChar(0x597D)));
    EXPECT_EQ(eleven.display.lines[2], QString(3, QChar(0x597D)) + QStringLiteral(","));

    // 20 characters, tempo 36 (unit 10 s), durations 1..20 hundredths:
    // boxes 1, 2, 1 and each highlight held for its own duration.
    LyricRun twenty;
    Stream s;
    s.raw("01 00 24 08");
    for (int i = 1; i <= 20; ++i) s.raw("BA C3").bytes += char(32 + i);
    s.raw("04");
    twenty.run(s);
    const auto sets = twenty.sets();
    ASSERT_EQ(sets.size(), 5u);
    EXPECT_EQ(sets[2].substr(0, 5), "set1:");
    EXPECT_EQ(sets[3].substr(0, 5), "set2:");
    EXPECT_EQ(sets[4], "set1:" + (QString(4, QChar(0x597D)) + QStringLiteral(",")).toStdString());
    ASSERT_EQ(twenty.highlights(), 20);
    for (int i = 1; i < 20; ++i)
        EXPECT_NEAR(twenty.display.highlightTimes[size_t(i)] - twenty.display.highlightTimes[size_t(i - 1)],
                    i * 0.01 * 10, 1e-9);
    EXPECT_EQ(twenty.st.HighlightPos, 4);

    // A sentence longer than 51 characters keeps every character.
    LyricRun longer;
    longer.run(Stream{}.sentence(60, 'A').raw("04"));
    EXPECT_EQ(longer.highlights(), 60);
}

TEST(Lyrics, PausesAndTempo) {
    LyricRun r;
    const double start = r.pump.now();
    r.run(Stream{}.raw("01 00 24 07 34 04"));  // tempo unit 10, pause (52-32)*4 hundredths
    EXPECT_NEAR(r.pump.now() - start, 8.0, 1e-9);

    LyricRun noTempo;  // all waits zero, characters still selected in order
    noTempo.run(Stream{}.raw("07 7F").sentence(3, 'Z').raw("04"));
    EXPECT_EQ(noTempo.highlights(), 3);
    EXPECT_DOUBLE_EQ(noTempo.pump.now(), start);

    LyricRun wide;  // a double-byte pause character gives a negative wait
    wide.run(Stream{}.raw("01 00 24 07 BA C3 04"));
    EXPECT_DOUBLE_EQ(wide.pump.now(), start);
    EXPECT_EQ(wide.display.events.back(), "clr1");
}

TEST(Lyrics, WaitsAreScheduledFromTheMarkSoTheyDoNotDrift) {
    LyricRun r;
    r.st.LyricMark = r.pump.now() - 0.5;  // the data was read half a second ago
    const double start = r.pump.now();
    r.run(Stream{}.raw("01 00 24 07 22 04"));  // 0.8 s after the mark
    EXPECT_NEAR(r.pump.now() - start, 0.3, 1e-9);
}

TEST(Lyrics, ALateWakeUpDoesNotShiftTheRestOfTheSong) {
    LyricRun r;
    // A handler inside the first wait takes 0.3 s past its end.
    r.pump.at(100.9, [&] { r.pump.spend(0.4); });
    r.run(Stream{}.raw("01 00 24").sentence(3, '\x2A').raw("04"));  // 1 s a character
    ASSERT_EQ(r.highlights(), 3);
    EXPECT_NEAR(r.display.highlightTimes[1], 101.3, 1e-9);  // late, once
    EXPECT_NEAR(r.display.highlightTimes[2], 102.0, 1e-9);  // back on the schedule
    EXPECT_NEAR(r.pump.now(), 103.0, 1e-9);

    // A wait already overdue when it starts takes the clock as its new mark.
    LyricRun overdue;
    overdue.st.LyricMark = overdue.pump.now() - 5.0;
    overdue.run(Stream{}.raw("01 00 24").sentence(2, '\x2A').raw("04"));
    EXPECT_NEAR(overdue.display.highlightTimes[1], 100.0, 1e-9);
    EXPECT_NEAR(overdue.pump.now(), 101.0, 1e-9);
}

TEST(Lyrics, StreamsCutShortEndQuietly) {
    for (const char* hex : {"01", "01 00", "07", "08", "08 BA C3", "05 BA C3", "05 BA C3 06 41"}) {
        LyricRun r;
        r.run(Stream{}.raw("05 BA C3 20").raw(hex));
        EXPECT_NE(r.display.events.back(), "clr1") << hex;  // no highlight removal
    }
    LyricRun single;  // 0x08 then a single-byte character shows nothing
    single.run(Stream{}.raw("08 41 04"));
    EXPECT_EQ(single.sets().size(), 2u);
    EXPECT_EQ(single.display.events.back(), "clr1");
}

TEST(Lyrics, EmptyingBothLinesDuringAWaitEndsTheRunButOneIsNotEnough) {
    LyricRun both;
    both.pump.at(101.0, [&] {
        both.display.lines[1].clear();
        both.display.lines[2].clear();
    });
    both.run(Stream{}.raw("01 00 24").sentence(3, 'D').raw("04"));  // 3.6 s a character
    EXPECT_EQ(both.highlights(), 1);
    EXPECT_NE(both.display.events.back(), "clr1");

    LyricRun one;
    one.pump.at(100.1, [&] { one.display.lines[1].clear(); });
    one.run(Stream{}.raw("05 BA C3 06 BA C3 20 01 00 24").sentence(3, 'D').raw("04"));
    EXPECT_EQ(one.highlights(), 3);
}
