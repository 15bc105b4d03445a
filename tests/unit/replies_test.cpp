// SPDX-License-Identifier: MIT
// The chip's replies through the conversation: status, log, resends, the
// lyric wait and display, and the input held while a wait holds it.
#include <gtest/gtest.h>

#include "conversation_rig.h"

using namespace vorla;
using namespace vorla::test;

TEST(Replies, AcceptedAndFinished) {
    ConversationRig r;
    r.send(Command::Text);
    r.accept();
    EXPECT_EQ(r.status(), QStringLiteral("接收成功"));
    EXPECT_TRUE(r.log().endsWith(QStringLiteral("->0x01 0x11 0x14 接受成功\r\n")));
    EXPECT_FALSE(r.conv->holdsInput());  // no lyric wait
    r.finished();
    EXPECT_EQ(r.status(), QStringLiteral("        播放完毕"));
    EXPECT_TRUE(r.log().endsWith(QStringLiteral("->0x01 0x12 0x14 播放完毕\r\n")));
    r.serial.receive(Hex("01"));  // a lone character is dropped
    r.clock.advance(1);
    EXPECT_EQ(r.status(), QStringLiteral("        播放完毕"));
}

TEST(Replies, FourRejectionsInARowResendThreeTimesRebuiltFromTheControls) {
    ConversationRig r;
    r.send(Command::Text);
    for (int attempt = 1; attempt <= 4; ++attempt) {
        if (attempt == 3) r.set([](Controls& c) { c.play.volumeLevel = 5; });  // a resend is a click now
        r.journal.clear();
        r.reject();
        EXPECT_EQ(r.status(), QStringLiteral("接收失败 =  %1").arg(attempt));
        if (attempt < 4) EXPECT_EQ(r.journal, (std::vector<std::string>{"log", "log", "send"}));
        else EXPECT_EQ(r.journal, std::vector<std::string>{"log"});
    }
    const auto sent = r.sent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[1], sent[0]);
    EXPECT_EQ(uint8_t(sent[3][3]), 0xE5);  // the volume as it was at the third rejection
    EXPECT_EQ(r.conv->pending().rejections, 0);
    EXPECT_TRUE(r.log().contains(QStringLiteral("->0x01 0x10 0x14 接受失败\r\n发出一帧")));
    r.reject();  // a new series
    EXPECT_EQ(r.sent().size(), 5u);
    r.accept();
    EXPECT_EQ(r.conv->pending().rejections, 0);
}

TEST(Replies, WhatARejectionRepeats) {
    ConversationRig r;
    r.reject();  // nothing sent yet: nothing to resend, the count still rises
    EXPECT_EQ(r.status(), QStringLiteral("接收失败 =  1"));
    EXPECT_TRUE(r.sent().empty());
    EXPECT_EQ(r.conv->pending().rejections, 1);
    r.accept();

    r.send(Command::SleepWake);  // sleep, then its rejection: the same frame, still asleep
    r.reject();
    EXPECT_EQ(ToHex(r.sent().back()), "01 81 80 80 04 84");
    EXPECT_TRUE(r.conv->sleeping());

    r.set([](Controls& c) { c.rawText = QStringLiteral("01 C0 80 80 04"); });
    r.send(Command::RawWithCheckByte);
    r.reject();
    EXPECT_EQ(ToHex(r.sent().back()), "01 C0 80 80 04 C5");
    r.set([](Controls& c) { c.rawText = QStringLiteral("01 C0 80 80 04 C5"); });
    r.send(Command::RawAsTyped);
    r.reject();
    EXPECT_EQ(ToHex(r.sent().back()), "01 C0 80 80 04 C5");
    // A typed text that is not hex sends nothing and is not what a
    // rejection repeats.
    r.set([](Controls& c) { c.rawText = QStringLiteral("01 XY"); });
    r.send(Command::RawWithCheckByte);
    EXPECT_EQ(r.messages, std::vector<QString>{QStringLiteral("格式不匹配，不是16进制数值")});
    EXPECT_EQ(r.conv->pending().command, Command::RawAsTyped);
    for (const QByteArray& f : r.sent()) EXPECT_NE(f.size(), 20);  // the text was never sent
}

TEST(Replies, LyricDataWaitsByBaudRateHoldingInputThenPlays) {
    ConversationRig r;
    r.set([](Controls& c) { c.play.lyricsBack = 1; });
    r.send(Command::Music);
    // The acceptance with eleven more characters: the rest is waited for by
    // the baud rate's lyric wait, then everything after the reply is played.
    r.serial.receive(Hex("01 11 14 05 BA C3 06 BA C3 41 42 43 44 45 46 20"));
    EXPECT_TRUE(r.conv->holdsInput());
    r.clock.advance(0.5);
    r.serial.receive(Hex("BA C3 04 01 12 14"));  // the rest, and a report after it
    r.send(Command::Stop);                       // held: acted on after the wait
    r.clock.advance(9.0);
    EXPECT_EQ(r.sent().size(), 1u);
    EXPECT_TRUE(r.lyricLines[0].isEmpty());
    r.journal.clear();
    r.clock.advance(0.11);  // 9.6 s after the data began to arrive
    EXPECT_FALSE(r.conv->holdsInput());
    // In the order they came: the lines were shown, the report that arrived
    // during the wait was handled, then the stop clicked after it went out.
    EXPECT_EQ(r.journal, (std::vector<std::string>{"log", "log", "send"}));
    EXPECT_EQ(ToHex(r.sent().back()), "01 C0 80 80 04 C5");
    EXPECT_EQ(r.status(), QStringLiteral("        播放完毕"));

    r.set([](Controls& c) { c.baudIndex = 3; });
    r.serial.receive(Hex("05 BA C3 04"));  // data that does not start with a reply
    r.clock.advance(1.19);
    EXPECT_TRUE(r.lyricLines[0].isEmpty());
    r.clock.advance(0.02);
    EXPECT_EQ(r.lyricLines[0], QStringLiteral("好"));

    r.set([](Controls& c) { c.baudIndex = -1; });  // no rate chosen: no wait
    r.serial.receive(Hex("05 BA C3 B0 A1 04"));
    EXPECT_EQ(r.lyricLines[0], QStringLiteral("好啊"));
}

TEST(Replies, AFinishReportEndsTheLyricDisplay) {
    ConversationRig r;
    r.set([](Controls& c) { c.baudIndex = -1; });
    int highlights = 0;
    QObject::connect(r.conv.get(), &ChipConversation::lyricHighlighted, [&] { ++highlights; });
    r.clock.at(101.0, [&] { r.finished(); });
    // Tempo unit 10 s, 8 characters of 2 s each.
    QByteArray stream = Hex("01 11 14 01 00 24 08");
    for (int i = 0; i < 8; ++i) stream += Hex("BA C3 34");
    r.serial.receive(stream + Hex("04"));
    r.clock.runAll();
    EXPECT_EQ(highlights, 1);
    EXPECT_LT(r.clock.now(), 102.0);  // ended at the report, not after 16 s
    EXPECT_TRUE(r.lyricLines[0].isEmpty());
}

// The baud-rate frame leaves at the rate the chip runs at, and the port
// follows only an accepted one; what the operator clicks meanwhile is held
// and goes once the answer is in (at the new rate after an acceptance).
TEST(Replies, TheBaudSwitchFollowsOnlyAnAcceptedFrame) {
    struct Case {
        const char* name;
        std::vector<const char*> replies;  // the chip's answers, one per frame
        int rateAfter;
        std::vector<int> framesAt;  // the rate each frame went at: baud frames, then the stop
        const char* status;         // after the last answer
    };
    const std::vector<Case> cases = {
        {"accepted", {"01 11 14"}, 9600, {1200, 9600}, "接收成功"},
        {"rejected once, then accepted", {"01 10 14", "01 11 14"}, 9600, {1200, 1200, 9600}, "接收成功"},
        {"rejected after every resend",
         {"01 10 14", "01 10 14", "01 10 14", "01 10 14"},
         1200,
         {1200, 1200, 1200, 1200, 1200},
         "接收失败 =  4"},
        {"no answer", {}, 1200, {1200, 1200}, "芯片无应答，波特率未切换"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConversationRig r;
        r.set([](Controls& k) { k.baudIndex = 3; });
        r.send(Command::Baud);
        r.send(Command::Stop);  // held until the switch has its answer
        for (const char* answer : c.replies) {
            EXPECT_TRUE(r.conv->holdsInput());
            r.clock.advance(0.08);
            r.serial.receive(Hex(answer));
        }
        r.clock.advance(2.5);  // past any answer's deadline
        EXPECT_EQ(r.serial.settings().baud, c.rateAfter);
        std::vector<int> rates;
        for (const FakeSerial::Op& op : r.serial.ops)
            if (op.kind == FakeSerial::Op::Output) rates.push_back(op.settings.baud);
        EXPECT_EQ(rates, c.framesAt);
        EXPECT_EQ(ToHex(r.sent().back()), "01 C0 80 80 04 C5");
        // Each baud frame on record before its answer, the stop after them all.
        EXPECT_EQ(r.log().count(QStringLiteral("0x1 0x88 0x80 0x80 0x4 0x8D")), qsizetype(c.framesAt.size() - 1));
        EXPECT_TRUE(r.log().endsWith(QStringLiteral("-->0x1 0xC0 0x80 0x80 0x4 0xC5 \r\n")));
        if (c.replies.empty()) {
            EXPECT_TRUE(r.log().contains(QStringLiteral("发出一帧，字节数  6")));
        }
        EXPECT_EQ(r.status(), QString::fromUtf8(c.status));
    }
}

// A rejection that arrives during the switch is the baud frame's: it is
// sent again before what was clicked before the rejection came.
TEST(Replies, ARejectionDuringTheBaudSwitchResendsTheBaudFrameFirst) {
    ConversationRig r;
    r.set([](Controls& c) { c.baudIndex = 3; });
    r.send(Command::Baud);
    r.send(Command::Stop);
    ASSERT_EQ(r.conv->heldInput().size(), 1u);
    EXPECT_EQ(std::get<input::Send>(r.conv->heldInput()[0]).command, Command::Stop);
    r.reject();
    r.accept();
    r.clock.advance(0.1);  // the port follows once the chip has had its time to switch
    std::vector<std::string> sent;
    for (const QByteArray& frame : r.sent()) sent.push_back(ToHex(frame));
    EXPECT_EQ(sent, (std::vector<std::string>{"01 88 80 80 04 8D", "01 88 80 80 04 8D", "01 C0 80 80 04 C5"}));
}

// A tempo code's operands may look like a reply: inside lyrics the frame
// asked for they are lyrics, never a rejection or a finish report.
TEST(Replies, ReplyShapedBytesInsideLyricsAreLyrics) {
    for (const char* tempo : {"01 10 14", "01 12 14"}) {
        SCOPED_TRACE(tempo);
        ConversationRig r;
        r.set([](Controls& c) { c.play.lyricsBack = 1; });
        r.send(Command::Music);
        r.serial.receive(Hex((std::string("01 11 14 ") + tempo + " 05 CE D2 C3 C7 C4 E3 BA C3 B0 A1 04").c_str()));
        r.clock.advance(10);
        EXPECT_EQ(r.sent().size(), 1u);  // nothing sent again
        EXPECT_FALSE(r.log().contains(QStringLiteral("播放完毕")));
        EXPECT_EQ(r.lyricLines[0], QStringLiteral("我们你好啊"));
    }
}
