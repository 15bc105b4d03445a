// SPDX-License-Identifier: MIT
// How received bytes are read into the chip's messages, on a virtual clock:
// every split, grouping and gap a real line can produce.
#include <gtest/gtest.h>

#include "protocol/chip_reader.h"
#include "support/hex.h"

using namespace vorla;
using namespace vorla::test;

namespace {

constexpr double kAtGap = -1;  // handed over when the line has been quiet long enough

struct Arrival {
    double at;
    const char* hex;  // nullptr: the port is closed here
};
struct Batch {
    double at;  // kAtGap: the last arrival plus the message gap
    const char* hex;
    const char* kind = nullptr;  // the message's kind, where it matters
};
struct Case {
    const char* name;
    int baud;
    bool lyricsFrame;  // the frame the replies answer asked for lyrics
    std::vector<Arrival> arrivals;
    std::vector<Batch> batches;
};

// The acceptance, then a tempo code and a title line: 11 characters of
// lyric data.
const char* kLyricStart = "01 11 14 01 00 24 05 BE B2 D2 B9 CB BC 06 C4 E3 41 20";
const char* kLyricData = "01 00 24 05 BE B2 D2 B9 CB BC 06 C4 E3 41 20";

struct Seen {
    double at;
    std::string hex;
    QString kind;
};

std::vector<Seen> Group(const Case& c) {
    ChipReader g;
    g.setBaud(c.baud);
    g.frameSent(Hex(c.lyricsFrame ? "01 80 C0 80" : "01 80 80 80"));
    std::vector<Seen> seen;
    auto collect = [&](double t) {
        while (g.readyCount() > 0) {
            const ChipMessage m = g.take();
            seen.push_back({t, ToHex(ToBytes(m.text)), MessageKindName(m)});
        }
    };
    for (const Arrival& a : c.arrivals) {
        for (double d = g.deadline(); d <= a.at; d = g.deadline()) {
            g.poll(d);
            collect(d);
        }
        if (a.hex) {
            g.feed(Hex(a.hex), a.at);
        } else {
            g.reset();
        }
        collect(a.at);
    }
    for (double d = g.deadline(); d != ChipReader::kNever; d = g.deadline()) {
        g.poll(d);
        collect(d);
    }
    return seen;
}

}  // namespace

TEST(ChipReader, EverySplitGroupingAndGap) {
    const double t1200 = CharSeconds(1200);
    // The acceptance and lyrics, a byte per character time.
    const QByteArray start = Hex(kLyricStart);
    std::vector<std::string> bytes;
    for (qsizetype i = 0; i < start.size(); ++i) bytes.push_back(ToHex(start.mid(i, 1)));
    std::vector<Arrival> paced1200;
    for (size_t i = 0; i < bytes.size(); ++i) paced1200.push_back({double(i + 1) * t1200, bytes[i].c_str()});
    const std::vector<Case> cases = {
        {"two replies in one read", 9600, false, {{0, "01 11 14 01 12 14"}}, {{0, "01 11 14"}, {0, "01 12 14"}}},
        {"rejection at its third byte", 1200, true, {{0, "01 10"}, {0.02, "14"}}, {{0.02, "01 10 14"}}},
        {"reply split 10 ms apart", 9600, false, {{0, "01"}, {0.01, "11 14"}}, {{0.01, "01 11 14"}}},
        // The first reply after a frame is its answer, whatever follows it.
        {"bare acceptance of a lyrics frame goes at once", 9600, true, {{0, "01 11 14"}}, {{0, "01 11 14"}}},
        {"acceptance then finish report, lyrics asked: the report waits for what follows it",
         9600,
         true,
         {{0, "01 11 14"}, {0.005, "01 12 14"}},
         {{0, "01 11 14"}, {kAtGap, "01 12 14", "finished"}}},
        {"acceptance, finish report and a stray byte in one burst, lyrics asked",
         1200,
         true,
         {{0, "01 11 14 01 12 14 7E"}},
         {{0, "01 11 14", "accepted"}, {0, "01 12 14", "finished"}, {kAtGap, "7E", "stray"}}},
        {"a stream opening with a rejection-shaped tempo code 200 ms after its acceptance",
         1200,
         true,
         {{0, "01 11 14"}, {0.2, "01 10 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 04"}},
         {{0, "01 11 14", "accepted"}, {0.2, "01 10 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 04", "lyrics"}}},
        {"... and with a finish-report-shaped one, byte by byte",
         1200,
         true,
         {{0, "01 11 14"}, {0.2, "01"}, {0.208, "12"}, {0.216, "14"}, {0.225, "05 CE D2 04"}},
         {{0, "01 11 14", "accepted"}, {0.225, "01 12 14 05 CE D2 04", "lyrics"}}},
        {"acceptance and lyrics in FIFO groups of 8 at 2400",
         2400,
         true,
         {{0, "01 11 14 01 00 24 05 BE"}, {0.033, "B2 D2 B9 CB BC 06 C4 E3 41 20"}},
         {{0, "01 11 14"}, {0.033, kLyricData}}},
        {"acceptance and lyrics split by a USB packet",
         9600,
         true,
         {{0, "01 11 14"}, {0.016, kLyricData}},
         {{0, "01 11 14"}, {0.016, kLyricData}}},
        {"acceptance and lyrics byte by byte at 1200: the lyrics at their 11th character",
         1200,
         true,
         paced1200,
         {{3 * t1200, "01 11 14"}, {double(start.size()) * t1200, kLyricData}}},
        {"short lyric data goes at its end code",
         9600,
         false,
         {{0, "05 BA C3 04 01 12 14"}},
         {{0, "05 BA C3 04"}, {0, "01 12 14"}}},
        {"a 0x04 operand does not end the stream",
         9600,
         false,
         {{0, "01 11 14 01 04 24 05 BA C3 04"}},
         {{0, "01 11 14"}, {0, "01 04 24 05 BA C3 04"}}},
        {"a lone byte goes as it is after the gap", 1200, false, {{0, "01"}}, {{kAtGap, "01"}}},
        {"noise goes after the gap", 9600, false, {{0, "7E 33"}}, {{kAtGap, "7E 33"}}},
        {"a lead byte without its trail byte", 9600, false, {{0, "05 BA"}}, {{kAtGap, "05 BA"}}},
        {"a byte held at the close is dropped",
         1200,
         false,
         {{0, "01"}, {0.001, nullptr}, {0.5, "01 11 14"}},
         {{0.5, "01 11 14"}}},
        // Line noise where the chip's replies are: a reply is always found.
        {"a stray byte 20 ms before a reply is a read of its own",
         1200,
         false,
         {{0, "7E"}, {0.02, "01 11 14"}},
         {{0.02, "7E"}, {0.02, "01 11 14"}}},
        {"stray bytes around a finish report",
         9600,
         false,
         {{0, "7E 33 01 12 14 5A"}},
         {{0, "7E"}, {0, "33"}, {0, "01 12 14"}, {kAtGap, "5A"}}},
        {"a stray byte after an acceptance does not swallow the report",
         9600,
         false,
         {{0, "01 11 14 7E 01 12 14"}},
         {{0, "01 11 14"}, {0, "7E", "stray"}, {0, "01 12 14"}}},
        {"a glitch that looks like a lead byte", 9600, false, {{0, "FE 01 12 14"}}, {{0, "FE"}, {0, "01 12 14"}}},
        {"a glitch that looks like a lyric code with an operand",
         9600,
         false,
         {{0, "07 01 11 14"}, {0.001, "01 11 14 07 01 12 14"}},
         {{0, "07"}, {0, "01 11 14"}, {0.001, "01 11 14"}, {0.001, "07"}, {0.001, "01 12 14"}}},
        // A tempo code's operands may be any byte: inside a stream the frame
        // asked for, reply-shaped bytes are lyrics up to the end code.
        {"a rejection's bytes as a tempo code inside lyrics",
         9600,
         true,
         {{0, "01 11 14 01 10 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 04"}},
         {{0, "01 11 14"}, {0, "01 10 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 04", "lyrics"}}},
        {"a finish report's bytes as a tempo code inside lyrics",
         9600,
         true,
         {{0, "01 11 14 01 12 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 04"}, {0.5, "01 12 14"}},
         {{0, "01 11 14"}, {0, "01 12 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 04", "lyrics"}, {0.5, "01 12 14"}}},
        {"a stop's answer cuts a stream short at a code's place",
         9600,
         true,
         {{0, "01 11 14 01 00 24 05 CE D2"}, {0.01, "01 11 14 01 12 14"}},
         {{0, "01 11 14"}, {0.01, "01 00 24 05 CE D2", "lyrics"}, {0.01, "01 11 14"}, {0.01, "01 12 14"}}},
        {"a pause longer than the gap ends a message",
         9600,
         false,
         {{0, "01 11"}, {0.2, "14"}},
         {{kAtGap, "01 11"}, {kAtGap, "14"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Seen> seen = Group(c);
        ASSERT_EQ(seen.size(), c.batches.size());
        for (size_t i = 0; i < seen.size(); ++i) {
            EXPECT_EQ(seen[i].hex, ToHex(Hex(c.batches[i].hex))) << i;
            if (c.batches[i].kind) {
                EXPECT_EQ(seen[i].kind, QString::fromLatin1(c.batches[i].kind)) << i;
            }
            // Batches handed over at the gap: at the last arrival before them plus the gap.
            if (c.batches[i].at != kAtGap) EXPECT_NEAR(seen[i].at, c.batches[i].at, 1e-9) << i;
            else EXPECT_GE(seen[i].at, MessageGapSeconds(c.baud)) << i;
        }
    }
}

TEST(ChipReader, SecondReadTakesTheStreamToItsEndAndNoReplyAfterIt) {
    ChipReader g;
    g.setBaud(9600);
    g.frameSent(Hex("01 80 C0 80"));
    g.feed(Hex(kLyricStart), 0);
    ASSERT_EQ(g.readyCount(), 2u);
    EXPECT_EQ(ToHex(ToBytes(g.take().text)), "01 11 14");
    const ChipMessage head = g.take();
    EXPECT_EQ(ToHex(ToBytes(head.text)), ToHex(Hex(kLyricData)));
    EXPECT_TRUE(head.open);
    EXPECT_FALSE(g.streamComplete(head.seq));
    // The rest of the stream, its end code, then a finish report straight after.
    g.feed(Hex("C0 EE B0 D7 20 07 04 08 BA C3 24 04 01 12"), 0.01);
    g.feed(Hex("14"), 0.02);
    EXPECT_TRUE(g.streamComplete(head.seq));
    EXPECT_EQ(ToHex(ToBytes(g.takeMore(head.seq))), "C0 EE B0 D7 20 07 04 08 BA C3 24 04");
    ASSERT_EQ(g.readyCount(), 1u);
    const ChipMessage report = g.take();
    EXPECT_EQ(ToHex(ToBytes(report.text)), "01 12 14");
    EXPECT_TRUE(g.takeMore(report.seq).empty());
    EXPECT_TRUE(g.takeMore(head.seq).empty());  // read once

    // A stream still arriving at the second read: what comes later is data
    // of its own, ended by its end code.
    g.frameSent(Hex("01 80 C0 80"));
    g.feed(Hex(kLyricStart), 1.0);
    g.take();
    const ChipMessage second = g.take();
    g.feed(Hex("C0 EE"), 1.01);
    EXPECT_EQ(ToHex(ToBytes(g.takeMore(second.seq))), "C0 EE");
    g.feed(Hex("01 12 14 08 BA C3 24 04"), 1.02);  // a tempo code shaped as a report, then a sentence
    ASSERT_EQ(g.readyCount(), 1u);
    const ChipMessage tail = g.take();
    EXPECT_EQ(ToHex(ToBytes(tail.text)), "01 12 14 08 BA C3 24 04");
    EXPECT_TRUE(tail.ended);
    EXPECT_DOUBLE_EQ(tail.firstAt, 1.02);
}

TEST(ChipReader, AStreamKeepsWhatArrivesInItsPausesAndSaysWhereItEnded) {
    ChipReader g;
    g.setBaud(1200);
    g.frameSent(Hex("01 80 C0 80"));
    // A short stream behind its acceptance: handed over at its end code,
    // marked as lyrics whatever its length.
    g.feed(Hex("01 11 14 05 CE D2 04"), 0);
    g.take();
    const ChipMessage whole = g.take();
    EXPECT_EQ(ToHex(ToBytes(whole.text)), "05 CE D2 04");
    EXPECT_TRUE(whole.ended);
    // A stream that pauses half a second: the rest still belongs to it.
    g.frameSent(Hex("01 80 C0 80"));
    g.feed(Hex("01 11 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 06 C4 E3 C4 E3 C4 E3 C4 E3"), 1.0);
    ASSERT_EQ(g.readyCount(), 2u);
    g.take();
    const ChipMessage open = g.take();
    for (double t = 1.0; t < 1.5; t += 0.05) g.poll(t);
    g.feed(Hex("41 42 20 04"), 1.5);
    EXPECT_EQ(g.readyCount(), 0u);
    EXPECT_EQ(ToHex(ToBytes(g.takeMore(open.seq))), "41 42 20 04");
    EXPECT_EQ(g.deadline(), ChipReader::kNever);
}

TEST(ChipReader, ANewFrameEndsTheStreamStillArrivingAndCloseHandsOverWhatWasHeld) {
    ChipReader g;
    g.setBaud(9600);
    g.frameSent(Hex("01 80 C0 80"));
    g.feed(Hex(kLyricStart), 0);
    g.take();
    const ChipMessage open = g.take();
    // A stop goes while the stream arrives: its answer is found in the middle
    // of a sentence, where a stream's bytes would otherwise be lyrics.
    g.frameSent(Hex("01 C0 80 80 04 C5"));
    g.feed(Hex("08 BA C3 01 11 14"), 0.01);
    ASSERT_EQ(g.readyCount(), 2u);
    EXPECT_EQ(ToHex(ToBytes(g.take().text)), "08 BA C3");
    EXPECT_EQ(MessageKindName(g.take()), "accepted");
    EXPECT_TRUE(g.takeMore(open.seq).empty());
    // A lone acceptance of a lyrics frame still waiting for what follows it
    // goes when the port is about to close.
    g.frameSent(Hex("01 80 C0 80"));
    g.feed(Hex("01 11 14 01 12 14"), 0.2);
    EXPECT_EQ(g.readyCount(), 1u);
    g.flush();
    ASSERT_EQ(g.readyCount(), 2u);
    g.take();
    EXPECT_EQ(MessageKindName(g.take()), "finished");
}
