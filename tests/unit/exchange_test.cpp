// SPDX-License-Identifier: MIT
// Exchanges: each frame and everything the chip says about it, read once, in
// the order it came, however the line splits it and whatever the operator
// does meanwhile.
#include <gtest/gtest.h>

#include "conversation_rig.h"

using namespace vorla;
using namespace vorla::test;

namespace {
// Log lines without their line ends.
QStringList Lines(const QString& log) { return log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts); }
}  // namespace

// With the lyrics asked for, what follows an acceptance is told apart by
// what it is: a finish report with a stray byte behind it is a report, a
// reply-shaped tempo code that opens a stream is lyrics, however late the
// stream comes after its acceptance.
TEST(Exchange, WhatFollowsTheAcceptanceOfALyricsFrame) {
    struct Case {
        const char* name;
        Command command;
        std::vector<std::pair<double, const char*>> chip;  // (seconds after the frame, bytes)
        size_t framesSent;
        bool finished;      // 播放完毕 logged
        const char* line1;  // what the first lyric line shows, nullptr: nothing checked
    };
    const std::vector<Case> cases = {
        {"acceptance, report and a stray byte in one burst: the run goes on",
         Command::CodePlayback,
         {{0.1, "01 11 14 01 12 14 7E"}},
         2,
         true,
         nullptr},
        {"the same without the stray byte", Command::CodePlayback, {{0.1, "01 11 14 01 12 14"}}, 2, true, nullptr},
        {"a stream 200 ms after its acceptance opening with a rejection's bytes",
         Command::Music,
         {{0.1, "01 11 14"}, {0.3, "01 10 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 04"}},
         1,
         false,
         "我们你好啊"},
        {"... with a finish report's bytes",
         Command::Music,
         {{0.1, "01 11 14"}, {0.3, "01 12 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 04"}},
         1,
         false,
         "我们你好啊"},
        {"... with the operand 00",
         Command::Music,
         {{0.1, "01 11 14"}, {0.3, "01 00 14 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 04"}},
         1,
         false,
         "我们你好啊"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConversationRig r;
        r.set([](Controls& k) {
            k.play.lyricsBack = 1;
            k.baudIndex = -1;  // no lyric wait: the lines show as the data is read
        });
        r.send(c.command);
        for (const auto& [at, bytes] : c.chip) r.clock.at(at, [&r, b = bytes] { r.serial.receive(Hex(b)); });
        r.clock.advance(5);
        EXPECT_EQ(r.sent().size(), c.framesSent);
        EXPECT_EQ(r.log().count(QStringLiteral("接受成功")), 1);
        EXPECT_FALSE(r.log().contains(QStringLiteral("接受失败")));
        EXPECT_EQ(r.log().contains(QStringLiteral("播放完毕")), c.finished);
        if (c.line1) {
            EXPECT_EQ(r.lyricLines[0], QString::fromUtf8(c.line1));
        }
    }
}

// The log is in the order things happened: an acceptance that came before
// a click is logged before the click's frame, and one that came before the
// port was switched is logged at all.
TEST(Exchange, RepliesAreLoggedInTimeOrderAndSurviveAPortSwitch) {
    const QString phrase = QStringLiteral("发出一帧，字节数  8");
    const QString accepted = QStringLiteral("->0x01 0x11 0x14 接受成功");
    const QString finished = QStringLiteral("->0x01 0x12 0x14 播放完毕");
    const QString stop = QStringLiteral("发出一帧，字节数  6");
    for (bool switchPort : {false, true}) {
        SCOPED_TRACE(switchPort ? "COM2 picked 30 ms after the acceptance" : "stop clicked 30 ms after it");
        // The phrase is accepted, a finish report follows 10 ms later.
        ConversationRig r;
        r.set([](Controls& k) { k.play.lyricsBack = 1; });
        r.send(Command::Phrase);
        r.clock.advance(0.1);
        r.accept();
        r.clock.advance(0.01);
        r.finished();  // waits to see whether lyrics follow it
        r.clock.advance(0.02);
        if (switchPort) r.conv->choosePort(2);
        else r.send(Command::Stop);
        r.clock.advance(1);
        QStringList lines = Lines(r.log());
        lines.removeIf([](const QString& l) { return l.startsWith(QStringLiteral("-->")); });
        const QStringList expected =
            switchPort ? QStringList{phrase, accepted, finished} : QStringList{phrase, accepted, finished, stop};
        EXPECT_EQ(lines, expected);
    }
}

// A sleep held behind a wait is applied first; a play held behind it then
// finds the chip asleep, as the window's play buttons would.
TEST(Exchange, AClickHeldBehindASleepIsJudgedAsleep) {
    ConversationRig r;
    r.set([](Controls& k) { k.play.lyricsBack = 1; });
    r.send(Command::Music);
    r.serial.receive(Hex("01 11 14 05 BA C3 06 BA C3 41 42 43 44 45 46 20"));  // the lyric wait holds input
    ASSERT_TRUE(r.conv->holdsInput());
    r.send(Command::SleepWake);
    r.send(Command::Phrase);
    r.set([](Controls& k) { k.rawText = QStringLiteral("01 80 80 80 04"); });
    r.send(Command::RawWithCheckByte);  // the raw sender works asleep
    r.clock.advance(10);
    std::vector<std::string> sent;
    for (const QByteArray& f : r.sent()) sent.push_back(ToHex(f));
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1], "01 81 80 80 04 84");
    EXPECT_EQ(sent[2], "01 80 80 80 04 85");
}

// The exchange as a value: its frames with their resends, the messages
// the chip sent about it with their times, its answer's latency and why it
// closed; published as it changes and once when it closes.
TEST(Exchange, HoldsItsFramesMessagesAndLatency) {
    ConversationRig r;
    std::vector<Exchange> closed;
    QObject::connect(r.conv.get(), &ChipConversation::exchangeClosed, [&](const Exchange& e) { closed.push_back(e); });
    r.set([](Controls& k) { k.play.finishReport = 1; });
    r.send(Command::Text);  // 8.3 ms a byte at 1200 baud
    r.clock.advance(0.2);
    r.reject();
    r.clock.advance(0.18);
    r.accept();
    const Exchange& open = r.conv->exchange();
    EXPECT_EQ(open.phase, Exchange::Phase::AwaitingFinish);
    ASSERT_EQ(open.frames.size(), 2u);
    EXPECT_EQ(open.frames[1].bytes, open.frames[0].bytes);
    // From the resend's last byte on the wire to the acceptance's arrival.
    EXPECT_NEAR(*open.latencyMs(), 180.0 - double(open.frames[1].bytes.size()) * 1000.0 / 120.0, 1e-6);
    r.clock.advance(1);
    r.finished();
    r.send(Command::Stop);
    r.clock.advance(3);  // no answer to the stop
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_EQ(closed[0].closedBy, QStringLiteral("finished"));
    ASSERT_EQ(closed[0].messages.size(), 3u);
    EXPECT_EQ(closed[0].messages[2].message.reply, reply::Kind::Finished);
    EXPECT_EQ(closed[0].resends(), 1);
    EXPECT_EQ(closed[1].command, Command::Stop);
    EXPECT_EQ(closed[1].closedBy, QStringLiteral("no answer"));
    EXPECT_FALSE(r.conv->exchange().open());
}

// What the tool understood is on the line's record: a stream read in two
// parts is lyrics twice, the second ended by its end code; a port switched
// away from closes the exchange left open.
TEST(Exchange, TheRecordNamesEachMessageAndEachClose) {
    ConversationRig r;
    r.set([](Controls& k) { k.play.lyricsBack = 1; });
    r.send(Command::Music);
    r.serial.receive(Hex("01 11 14 05 BA C3 06 BA C3 41 42 43 44 45 46 20"));
    r.clock.advance(0.5);
    r.serial.receive(Hex("05 BA C3 04"));
    r.clock.advance(10);
    r.conv->choosePort(2);
    QStringList notes;
    for (const LineEntry& e : r.conv->lineRecord().entries())
        if (e.note.valid()) notes << capture::NoteText(e.note).section(u' ', 0, 1) + (e.note.ended ? " ended" : "");
    EXPECT_EQ(notes,
              (QStringList{"exchange 1", "message accepted", "message lyrics", "message lyrics ended", "exchange 1"}));
    EXPECT_EQ(capture::NoteText(r.conv->lineRecord().entries().back().note).section(u':', 1).section(u';', 0, 0),
              QStringLiteral(" port closed"));
}
