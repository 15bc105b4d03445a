// SPDX-License-Identifier: MIT
// The chip's replies through the window's receive handler.
#include <gtest/gtest.h>

#include "window_rig.h"

using namespace vorla;
using namespace vorla::test;

TEST(Replies, AcceptedAndFinished) {
    WindowRig r;
    r.window->Command6_Click();
    r.accept();
    EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("接收成功"));
    EXPECT_TRUE(r.log().endsWith(QStringLiteral("->0x01 0x11 0x14 接受成功\r\n")));
    EXPECT_TRUE(r.pump.blockingWaits.empty());  // no lyric wait
    r.ui().Text1->setText(QStringLiteral("a"));
    r.ui().Text2->setText(QStringLiteral("b"));
    r.st().PlaybackFinished = 0;
    r.finished();
    EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("        播放完毕"));
    EXPECT_TRUE(r.log().endsWith(QStringLiteral("->0x01 0x12 0x14 播放完毕\r\n")));
    EXPECT_EQ(r.st().PlaybackFinished, 1);
    EXPECT_TRUE(r.ui().Text1->text().isEmpty() && r.ui().Text2->text().isEmpty());
    r.serial.receive(Hex("01"));  // a lone character is dropped
    EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("        播放完毕"));
}

TEST(Replies, FourRejectionsInARowResendThreeTimes) {
    WindowRig r;
    r.window->Command6_Click();
    const QByteArray frame = r.serial.sent().back();
    for (int attempt = 1; attempt <= 4; ++attempt) {
        r.journal.clear();
        r.reject();
        EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("接收失败 =  %1").arg(attempt));
        if (attempt < 4) {
            EXPECT_EQ(r.journal, (std::vector<std::string>{"log", "log", "send"}));  // reply line, record, send
            EXPECT_EQ(r.serial.sent().back(), frame);
        } else {
            EXPECT_EQ(r.journal, std::vector<std::string>{"log"});
        }
    }
    EXPECT_EQ(r.serial.sent().size(), 4u);
    EXPECT_EQ(r.st().RetryCount, 0);
    EXPECT_TRUE(r.log().contains(QStringLiteral("->0x01 0x10 0x14 接受失败\r\n发出一帧")));
    r.reject();  // a new series
    EXPECT_EQ(r.serial.sent().size(), 5u);
    r.accept();
    EXPECT_EQ(r.st().RetryCount, 0);
}

TEST(Replies, RejectionWithNothingToResend) {
    WindowRig r;
    r.reject();  // LastCommand 0
    EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("接收失败 =  1"));
    EXPECT_TRUE(r.serial.sent().empty());
    EXPECT_EQ(r.st().RetryCount, 1);

    WindowRig code;
    code.st().LastCommand = cmd::kCodePlayback;
    code.reject();
    EXPECT_EQ(code.st().ResumePending, 1);
    EXPECT_EQ(code.st().SequenceDone, 0);
    code.st().SequenceDone = 1;
    code.st().ResumePending = 0;
    code.reject();
    EXPECT_TRUE(code.ui().Label11->text().isEmpty());
    EXPECT_EQ(code.st().ResumePending, 0);
    EXPECT_TRUE(code.serial.sent().empty());
}

TEST(Replies, ResendRepeatsTheSameSleepWakeAndRawFrames) {
    WindowRig r;
    r.window->Command11_Click();  // sleep
    r.reject();
    EXPECT_EQ(ToHex(r.serial.sent().back()), "01 81 80 80 04 84");
    EXPECT_EQ(r.st().Sleeping, 1);
    EXPECT_EQ(r.ui().Command11->text(), QStringLiteral("唤  醒"));

    r.ui().Text5->setText(QStringLiteral("01 C0 80 80 04"));
    r.window->btn_fasong_Click();
    r.reject();
    EXPECT_EQ(ToHex(r.serial.sent().back()), "01 C0 80 80 04 C5");
    r.ui().Text5->setText(QStringLiteral("01 C0 80 80 04 C5"));
    r.window->btn_fasong2_Click();
    r.reject();
    EXPECT_EQ(ToHex(r.serial.sent().back()), "01 C0 80 80 04 C5");
    EXPECT_EQ(r.st().LastCommand, cmd::kRawManualCheck);
    // The text of Text3 was never sent.
    for (const QByteArray& f : r.serial.sent()) EXPECT_NE(f.size(), 20);
}

TEST(Replies, LyricDataWaitsByBaudRateThenPlays) {
    WindowRig r;
    r.window->Command3_Click();
    // The acceptance with eight more characters (eleven in all): wait, read the rest, decode
    // from the fourth character on.
    r.pump.duringBlockingWait = [&] { r.serial.receive(Hex("BA C3 04")); };
    r.serial.receive(Hex("01 11 14 05 BA C3 06 BA C3 41 42 43 20"));
    EXPECT_EQ(r.pump.blockingWaits, std::vector<int>{9600});
    EXPECT_EQ(r.ui().Text1->text(), QStringLiteral("好"));
    EXPECT_EQ(r.ui().Text2->text(), QStringLiteral("好ABC"));
    EXPECT_EQ(ToQString(r.st().ReplyText).left(1), QStringLiteral("\x05"));
    EXPECT_EQ(r.st().LyricMark, 100.0 + 9.6);

    r.pump.duringBlockingWait = nullptr;
    r.ui().Combo2->setCurrentIndex(3);
    r.pump.blockingWaits.clear();
    r.serial.receive(Hex("05 BA C3 04"));  // data that does not start with a reply
    EXPECT_EQ(r.pump.blockingWaits, std::vector<int>{1200});
    EXPECT_EQ(r.ui().Text1->text(), QStringLiteral("好"));

    r.ui().Combo2->setEditText(QStringLiteral("?"));  // no rate selected: no wait
    r.pump.blockingWaits.clear();
    r.serial.receive(Hex("05 BA C3 B0 A1 04"));  // second character double-byte
    EXPECT_TRUE(r.pump.blockingWaits.empty());
    EXPECT_EQ(r.ui().Text1->text(), QStringLiteral("好啊"));
}

TEST(Replies, FinishReplyDuringALyricWaitEndsTheDisplay) {
    WindowRig r;
    r.ui().Combo2->setEditText(QStringLiteral("?"));
    bool finishedSeen = false;
    r.pump.at(101.0, [&] {
        r.finished();
        finishedSeen = true;
    });
    // Tempo unit 10 s, 8 characters of 2 s each.
    QByteArray stream = Hex("01 11 14 01 00 24 08");
    for (int i = 0; i < 8; ++i) stream += Hex("BA C3 34");
    r.serial.receive(stream + Hex("04"));
    EXPECT_TRUE(finishedSeen);
    EXPECT_LT(r.pump.now(), 102.0);  // ended at the reply, not after 16 s
    EXPECT_EQ(r.ui().Label11->text(), QStringLiteral("        播放完毕"));
    EXPECT_TRUE(r.ui().Text1->text().isEmpty());
}

TEST(Replies, LyricsPlayedAgainAndAgainDoNotNest) {
    // Play clicked over and over on a karaoke piece: each click empties the
    // lines, which ends the running display before the next stream arrives.
    WindowRig r;
    r.ui().Combo2->setEditText(QStringLiteral("?"));  // no lyric wait
    r.ui().Check5->setChecked(true);
    QByteArray stream = Hex("01 11 14 01 00 24 08");
    for (int i = 0; i < 8; ++i) stream += Hex("BA C3 34");  // 8 characters of 2 s
    stream += Hex("04");
    for (int i = 0; i < 50; ++i) {
        r.pump.at(100 + i, [&] { r.window->Command3_Click(); });
        r.pump.at(100.05 + i, [&] { r.serial.receive(stream); });
    }
    while (!r.pump.starved()) r.pump.waitForEvents(EventPump::kNoDeadline);
    EXPECT_EQ(r.serial.sent().size(), 50u);
    EXPECT_EQ(r.pump.maxDepth, 2);  // each click inside the display it ends, no deeper
}
