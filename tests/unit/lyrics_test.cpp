// SPDX-License-Identifier: MIT
// The lyric display on a virtual clock: what it shows, highlights and
// clears, and when.
#include <gtest/gtest.h>

#include "conversation/lyric_player.h"
#include "support/fakes.h"

using namespace vorla;
using vorla::test::VirtualClock;

namespace {

// A stream built from pieces: bytes as they arrive on the line.
struct Stream {
    QByteArray bytes;
    Stream& raw(const char* hex) {
        bytes += test::Hex(hex);
        return *this;
    }
    // n sung characters (好) with the given duration character.
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
    VirtualClock clock;
    LyricPlayer player{clock};
    QString lines[3];
    std::vector<std::string> events;
    std::vector<double> highlightTimes;
    LyricRun() {
        QObject::connect(&player, &LyricPlayer::lineShown, [this](int box, const QString& text) {
            lines[box] = text;
            events.push_back("set" + std::to_string(box) + ":" + text.toStdString());
        });
        QObject::connect(&player, &LyricPlayer::highlighted, [this](int box, int start, int length) {
            events.push_back("hl" + std::to_string(box) + ":" + std::to_string(start) + "+" + std::to_string(length));
            highlightTimes.push_back(clock.now());
        });
        QObject::connect(&player, &LyricPlayer::selectionCleared,
                         [this](int box) { events.push_back("clr" + std::to_string(box)); });
    }
    void run(const Stream& s, double markAgo = 0) {
        player.play(s.rx(), clock.now() - markAgo);
        clock.runAll();
    }
    std::vector<std::string> sets() const {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.rfind("set", 0) == 0) out.push_back(e);
        return out;
    }
    int highlights() const { return int(highlightTimes.size()); }
    bool highlightRemoved() const { return events.size() >= 2 && events.back() == "clr1"; }
};

}  // namespace

TEST(Lyrics, EmptyStreamClearsBothLinesAndTheHighlight) {
    LyricRun r;
    r.run(Stream{});
    EXPECT_EQ(r.events, (std::vector<std::string>{"set1:", "set2:", "clr2", "clr1"}));
    EXPECT_FALSE(r.player.playing());
}

TEST(Lyrics, LineBlocks) {
    LyricRun r;
    r.run(Stream{}.raw("05 BA C3 BA C3 04"));
    EXPECT_EQ(r.sets(), (std::vector<std::string>{"set1:", "set2:", "set1:好好"}));
    EXPECT_TRUE(r.highlightRemoved());

    LyricRun two;
    // Line 2: a double-byte character, then A and B; the blank ends it and
    // is skipped like any code without meaning.
    two.run(Stream{}.raw("05 BA C3 06 BA C3 41 42 20 04"));
    EXPECT_EQ(two.lines[1], QStringLiteral("好"));
    EXPECT_EQ(two.lines[2], QStringLiteral("好AB"));

    LyricRun blocks;  // every block starts from an empty line text
    blocks.run(Stream{}.raw("05 BA C3 06 BA C3 20 05 B0 A1 01 04"));
    EXPECT_EQ(blocks.lines[1], QStringLiteral("啊"));
}

TEST(Lyrics, SentencesSplitIntoLinesWithDurationsInOrder) {
    LyricRun eleven;
    eleven.run(Stream{}.sentence(11, 'A').raw("04"));
    EXPECT_EQ(eleven.sets()[2], "set1:" + QString(8, QChar(0x597D)).toStdString());  // no comma
    EXPECT_EQ(eleven.lines[2], QString(3, QChar(0x597D)) + QStringLiteral(","));

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
    EXPECT_EQ(sets[3].substr(0, 5), "set2:");
    EXPECT_EQ(sets[4], "set1:" + (QString(4, QChar(0x597D)) + QStringLiteral(",")).toStdString());
    ASSERT_EQ(twenty.highlights(), 20);
    for (int i = 1; i < 20; ++i)
        EXPECT_NEAR(twenty.highlightTimes[size_t(i)] - twenty.highlightTimes[size_t(i - 1)], i * 0.01 * 10, 1e-9);
    EXPECT_EQ(twenty.events[twenty.events.size() - 3], "hl1:3+1");

    // A sentence longer than 51 characters keeps every character.
    LyricRun longer;
    longer.run(Stream{}.sentence(60, 'A').raw("04"));
    EXPECT_EQ(longer.highlights(), 60);
}

TEST(Lyrics, PausesAndTempo) {
    LyricRun r;
    const double start = r.clock.now();
    r.run(Stream{}.raw("01 00 24 07 34 04"));  // tempo unit 10, pause (52-32)*4 hundredths
    EXPECT_NEAR(r.clock.now() - start, 8.0, 1e-9);

    LyricRun noTempo;  // all waits zero, characters still selected in order
    noTempo.run(Stream{}.raw("07 7F").sentence(3, 'Z').raw("04"));
    EXPECT_EQ(noTempo.highlights(), 3);
    EXPECT_DOUBLE_EQ(noTempo.clock.now(), start);

    LyricRun wide;  // a double-byte pause character gives a negative wait
    wide.run(Stream{}.raw("01 00 24 07 BA C3 04"));
    EXPECT_DOUBLE_EQ(wide.clock.now(), start);
    EXPECT_TRUE(wide.highlightRemoved());
}

TEST(Lyrics, WaitsKeepToTheScheduleFromTheMark) {
    LyricRun r;  // the data was read half a second ago: 0.8 s after the mark
    r.run(Stream{}.raw("01 00 24 07 22 04"), 0.5);
    EXPECT_NEAR(r.clock.now(), 100.3, 1e-9);

    // Alarms ringing late: each highlight is late by that much, never more,
    // and the song ends on time.
    LyricRun late;
    late.clock.setLateness(0.3);
    late.run(Stream{}.raw("01 00 24").sentence(3, '\x2A').raw("04"));  // 1 s a character
    ASSERT_EQ(late.highlights(), 3);
    EXPECT_NEAR(late.highlightTimes[1], 101.3, 1e-9);
    EXPECT_NEAR(late.highlightTimes[2], 102.3, 1e-9);

    // A wait already overdue when it starts takes the clock as its new mark.
    LyricRun overdue;
    overdue.run(Stream{}.raw("01 00 24").sentence(2, '\x2A').raw("04"), 5.0);
    EXPECT_NEAR(overdue.highlightTimes[1], 100.0, 1e-9);
    EXPECT_NEAR(overdue.clock.now(), 101.0, 1e-9);
}

TEST(Lyrics, StreamsCutShortEndQuietly) {
    for (const char* hex : {"01", "01 00", "07", "08", "08 BA C3", "05 BA C3", "05 BA C3 06 41"}) {
        LyricRun r;
        r.run(Stream{}.raw("05 BA C3 20").raw(hex));
        EXPECT_FALSE(r.highlightRemoved()) << hex;
    }
    LyricRun single;  // 0x08 then a single-byte character shows nothing
    single.run(Stream{}.raw("08 41 04"));
    EXPECT_EQ(single.sets().size(), 2u);
    EXPECT_TRUE(single.highlightRemoved());
}

TEST(Lyrics, StopEndsTheRunAndANewStreamTakesItsPlace) {
    LyricRun r;
    r.clock.at(101.0, [&] { r.player.stop(); });
    r.run(Stream{}.raw("01 00 24").sentence(3, 'D').raw("04"));  // 3.6 s a character
    EXPECT_EQ(r.highlights(), 1);
    EXPECT_FALSE(r.highlightRemoved());
    EXPECT_FALSE(r.player.playing());

    LyricRun replaced;
    replaced.clock.at(101.0, [&] { replaced.player.play(Stream{}.raw("05 B0 A1 04").rx(), 101.0); });
    replaced.run(Stream{}.raw("01 00 24").sentence(3, 'D').raw("04"));
    EXPECT_EQ(replaced.highlights(), 1);  // the first stream's run ended there
    EXPECT_EQ(replaced.lines[1], QStringLiteral("啊"));
    EXPECT_TRUE(replaced.clock.idle());
}

// A stream that opens with a pause before its first line plays on through
// the pause: the lines are read-only, so only a finish, a new play or a
// code's next turn empties them, never the pause itself.
TEST(Lyrics, AStreamOpeningWithAPausePlaysOn) {
    LyricRun r;
    r.run(Stream().raw("01 00 24 07 40").sentence(2, '\x40').raw("04"));
    EXPECT_EQ(r.sets().back(), "set1:好好,");  // the last part of a sentence, with its comma
    EXPECT_EQ(r.highlightTimes.size(), 2u);
}
