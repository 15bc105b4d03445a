// SPDX-License-Identifier: MIT
// How received bytes are grouped into batches, on a virtual clock: every
// split, grouping and gap a real line can produce.
#include <gtest/gtest.h>

#include "serial/receive_grouper.h"
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
};
struct Case {
    const char* name;
    int baud;
    bool lyricsFrame;  // the frame the replies answer asked for lyrics
    std::vector<Arrival> arrivals;
    std::vector<Batch> batches;
};

// The acceptance, a tempo code and a title line: 11 characters.
const char* kLyricStart = "01 11 14 01 00 24 05 BE B2 D2 B9 CB BC 06";

struct Seen {
    double at;
    std::string hex;
};

std::vector<Seen> Group(const Case& c) {
    ReceiveGrouper g;
    g.setBaud(c.baud);
    g.frameSent(Hex(c.lyricsFrame ? "01 80 C0 80" : "01 80 80 80"));
    std::vector<Seen> seen;
    auto collect = [&](double t) {
        while (g.readyCount() > 0) seen.push_back({t, ToHex(ToBytes(g.take().text))});
    };
    for (const Arrival& a : c.arrivals) {
        for (double d = g.deadline(); d <= a.at; d = g.deadline()) {
            g.poll(d);
            collect(d);
        }
        if (a.hex) {
            g.feed(Hex(a.hex), a.at);
        } else {
            g.dropPartial();
        }
        collect(a.at);
    }
    for (double d = g.deadline(); d != ReceiveGrouper::kNever; d = g.deadline()) {
        g.poll(d);
        collect(d);
    }
    return seen;
}

}  // namespace

TEST(ReceiveGrouper, EverySplitGroupingAndGap) {
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
        {"bare acceptance of a lyrics frame waits", 9600, true, {{0, "01 11 14"}}, {{kAtGap, "01 11 14"}}},
        {"acceptance then finish report, lyrics asked",
         9600,
         true,
         {{0, "01 11 14"}, {0.005, "01 12 14"}},
         {{kAtGap, "01 11 14"}, {kAtGap, "01 12 14"}}},
        {"acceptance and lyrics in FIFO groups of 8 at 2400",
         2400,
         true,
         {{0, "01 11 14 01 00 24 05 BE"}, {0.033, "B2 D2 B9 CB BC 06"}},
         {{0.033, kLyricStart}}},
        {"acceptance and lyrics split by a USB packet",
         9600,
         true,
         {{0, "01 11 14"}, {0.016, "01 00 24 05 BE B2 D2 B9 CB BC 06"}},
         {{0.016, kLyricStart}}},
        {"acceptance and lyrics byte by byte at 1200: at the 11th character",
         1200,
         true,
         paced1200,
         {{double(start.size()) * t1200, kLyricStart}}},
        {"short lyric data goes at its end code",
         9600,
         false,
         {{0, "05 BA C3 04 01 12 14"}},
         {{0, "05 BA C3 04"}, {0, "01 12 14"}}},
        {"a 0x04 operand does not end the stream",
         9600,
         false,
         {{0, "01 11 14 01 04 24 05 BA C3 04"}},
         {{0, "01 11 14 01 04 24 05 BA C3 04"}}},
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
         {{0, "01 11 14 7E"}, {0, "01 12 14"}}},
        {"a glitch that looks like a lead byte", 9600, false, {{0, "FE 01 12 14"}}, {{0, "FE"}, {0, "01 12 14"}}},
        {"a glitch that looks like a lyric code with an operand",
         9600,
         false,
         {{0, "07 01 11 14"}, {0.001, "01 11 14 07 01 12 14"}},
         {{0, "07"}, {0, "01 11 14"}, {0.001, "01 11 14 07"}, {0.001, "01 12 14"}}},
        // A tempo code's operands may be any byte: inside a stream the frame
        // asked for, reply-shaped bytes are lyrics up to the end code.
        {"a rejection's bytes as a tempo code inside lyrics",
         9600,
         true,
         {{0, "01 11 14 01 10 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 04"}},
         {{0, "01 11 14 01 10 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 04"}}},
        {"a finish report's bytes as a tempo code inside lyrics",
         9600,
         true,
         {{0, "01 11 14 01 12 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 04"}, {0.5, "01 12 14"}},
         {{0, "01 11 14 01 12 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 04"}, {0.5, "01 12 14"}}},
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
            // Batches handed over at the gap: at the last arrival before them plus the gap.
            if (c.batches[i].at != kAtGap) EXPECT_NEAR(seen[i].at, c.batches[i].at, 1e-9) << i;
            else EXPECT_GE(seen[i].at, MessageGapSeconds(c.baud)) << i;
        }
    }
}

TEST(ReceiveGrouper, SecondReadTakesTheStreamToItsEndAndNoReplyAfterIt) {
    ReceiveGrouper g;
    g.setBaud(9600);
    g.frameSent(Hex("01 80 C0 80"));
    g.feed(Hex(kLyricStart), 0);
    ASSERT_EQ(g.readyCount(), 1u);
    const RxBatch head = g.take();
    EXPECT_EQ(ToHex(ToBytes(head.text)), ToHex(Hex(kLyricStart)));
    EXPECT_DOUBLE_EQ(head.dataStart, 0);
    // The rest of the stream, its end code, then a finish report straight after.
    g.feed(Hex("C0 EE B0 D7 20 07 04 08 BA C3 24 04 01 12"), 0.01);
    g.feed(Hex("14"), 0.02);
    EXPECT_EQ(ToHex(ToBytes(g.takeMore())), "C0 EE B0 D7 20 07 04 08 BA C3 24 04");
    ASSERT_EQ(g.readyCount(), 1u);
    EXPECT_EQ(ToHex(ToBytes(g.take().text)), "01 12 14");
    EXPECT_TRUE(g.takeMore().empty());

    // A stream still arriving at the second read: what comes later is data
    // of its own, ended by its end code.
    g.feed(Hex(kLyricStart), 1.0);
    g.take();
    g.feed(Hex("C0 EE"), 1.01);
    EXPECT_EQ(ToHex(ToBytes(g.takeMore())), "C0 EE");
    g.feed(Hex("08 BA C3 24 04"), 1.02);
    ASSERT_EQ(g.readyCount(), 1u);
    const RxBatch tail = g.take();
    EXPECT_EQ(ToHex(ToBytes(tail.text)), "08 BA C3 24 04");
    EXPECT_DOUBLE_EQ(tail.dataStart, 1.02);
}

TEST(ReceiveGrouper, AStreamKeepsWhatArrivesInItsPausesAndSaysWhereItEnded) {
    ReceiveGrouper g;
    g.setBaud(1200);
    g.frameSent(Hex("01 80 C0 80"));
    // A short stream behind its acceptance: handed over at its end code,
    // marked as lyrics whatever its length.
    g.feed(Hex("01 11 14 05 CE D2 04"), 0);
    RxBatch whole = g.take();
    EXPECT_EQ(ToHex(ToBytes(whole.text)), "01 11 14 05 CE D2 04");
    EXPECT_TRUE(whole.lyricsEnded);
    // A stream that pauses half a second: the rest still belongs to it.
    g.feed(Hex("01 11 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 06 C4 E3"), 1.0);
    ASSERT_EQ(g.readyCount(), 1u);
    g.take();
    for (double t = 1.0; t < 1.5; t += 0.05) g.poll(t);
    g.feed(Hex("41 42 20 04"), 1.5);
    EXPECT_EQ(g.readyCount(), 0u);
    EXPECT_EQ(ToHex(ToBytes(g.takeMore())), "41 42 20 04");
    EXPECT_EQ(g.deadline(), ReceiveGrouper::kNever);
}
