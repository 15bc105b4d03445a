// SPDX-License-Identifier: MIT
// Code playback on the recording serial control, with the chip's replies
// scripted on the virtual clock.
#include <gtest/gtest.h>

#include "window_rig.h"

using namespace vorla;
using namespace vorla::test;

namespace {
void Fill(ListBoxWidget* list, std::initializer_list<std::pair<QString, int32_t>> items) {
    list->clear();
    for (const auto& [text, code] : items) {
        list->addItem(text, list->count());
        list->setItemData(list->count() - 1, code);
    }
}
}  // namespace

TEST(CodePlayback, StartUpListsPlayEachAfterTheFinishReport) {
    WindowRig r;
    r.pump.at(101, [&] {
        EXPECT_EQ(r.serial.sent().size(), 1u);  // nothing more before the report
        r.finished();
    });
    r.window->Command13_Click();
    const auto sent = r.serial.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(ToHex(sent[0]),
              "01 80 87 E1 60 C2 60 C2 C1 D6 CF C8 C9 FA 60 A3 A3 B5 A3 B7 A3 B5 A3 B7 A3 B3 A3 B1 A3 B4 A3 B6 04 "
              "03");
    EXPECT_EQ(sent[0].size(), 34);
    EXPECT_EQ(ToHex(sent[1]), "01 80 87 E1 60 B3 04 30");
    EXPECT_EQ(r.journal, (std::vector<std::string>{"send", "log", "log", "send", "log"}));
    EXPECT_EQ(r.st().SequenceDone, 1);
    EXPECT_EQ(r.st().CodePosition, 0);
    EXPECT_FALSE(r.pump.starved());
}

TEST(CodePlayback, BodiesAndTheirLimits) {
    WindowRig r;
    auto playOnly = [&](std::initializer_list<std::pair<QString, int32_t>> items) {
        for (ListBoxWidget* l : {r.ui().List5, r.ui().List6, r.ui().List7}) l->clear();
        Fill(r.ui().List8, items);
        const size_t before = r.serial.sent().size();
        r.window->Command13_Click();
        EXPECT_EQ(r.serial.sent().size(), before + 1);
        return r.serial.sent().back();
    };
    EXPECT_EQ(ToHex(playOnly({{QStringLiteral("来电"), 24739}})), "01 80 87 E1 60 A3 04 20");
    const QByteArray empty = playOnly({{QString(), 0}});
    EXPECT_EQ(empty.size(), 6);
    EXPECT_EQ(ToHex(empty), "01 80 87 E1 04 E3");
    QByteArray many;
    {
        r.ui().List8->clear();
        for (int i = 0; i < 26; ++i) {
            r.ui().List8->addItem(QStringLiteral("x"), i);
            r.ui().List8->setItemData(i, 0x60C0 + (i % 10));
        }
        r.window->Command13_Click();
        many = r.serial.sent().back();
    }
    EXPECT_EQ(many.size(), 56);
    EXPECT_EQ(uint8_t(many[52]), 0x60);
    EXPECT_EQ(uint8_t(many[53]), 0xC4);  // item 24
    EXPECT_EQ(uint8_t(many[54]), 0x04);
    const QByteArray long30 = playOnly({{QString(30, u'7'), 0}});
    EXPECT_EQ(long30.size(), 56);
    const QByteArray mixed =
        playOnly({{QStringLiteral("a"), 24739}, {QStringLiteral("b"), 24739}, {QString(24, u'1'), 0}});
    EXPECT_EQ(mixed.size(), 56);
    EXPECT_EQ(ToHex(mixed.mid(4, 4)), "60 A3 60 A3");
    EXPECT_EQ(ToHex(mixed.mid(52, 2)), "A3 B1");  // 23 digits fit
}

TEST(CodePlayback, SnapshotsServeOneRun) {
    WindowRig r;
    // Sample settings: music none, finish report on.
    r.ui().Combo1->setCurrentIndex(0);
    r.window->Command23_Click();
    EXPECT_EQ(r.st().CodeParams[1], (CodeParamRecord{0x80, 0x87, 0xC1, 0}));
    EXPECT_TRUE(r.ui().Command23->property("snapshot").toBool());
    EXPECT_EQ(r.ui().Command23->text(), QStringLiteral("代码2参数生成"));
    r.ui().Combo1->setCurrentIndex(4);
    r.pump.at(101, [&] { r.finished(); });
    r.window->Command13_Click();
    const auto sent = r.serial.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(ToHex(sent[0].left(4)), "01 80 87 E1");  // code 1 follows the settings
    EXPECT_EQ(ToHex(sent[1]), "01 80 87 C1 60 B3 04 10");
    EXPECT_EQ(r.st().CodeParams[1][0], 0);
    EXPECT_FALSE(r.ui().Command23->property("snapshot").toBool());
    r.pump.at(102, [&] { r.finished(); });
    r.window->Command13_Click();  // the next run uses the settings again
    EXPECT_EQ(ToHex(r.serial.sent().back()), "01 80 87 E1 60 B3 04 30");
}

TEST(CodePlayback, StopDuringTheWaitEndsTheRun) {
    WindowRig r;
    r.window->Command22_Click();
    r.pump.at(101, [&] { r.window->Command1_Click(); });
    r.window->Command13_Click();
    const auto sent = r.serial.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(ToHex(sent[1]), "01 C0 80 80 04 C5");
    EXPECT_EQ(r.st().CodePosition, 0);
    EXPECT_EQ(r.st().CodeParams[0][0], 0);
    EXPECT_EQ(r.st().SequenceDone, 1);
    EXPECT_FALSE(r.pump.starved());
}

TEST(CodePlayback, ListsAreReadWhenTheirTurnComes) {
    WindowRig r;
    r.pump.at(101, [&] {
        r.ui().List6->clear();                               // emptied: still sent, without body
        Fill(r.ui().List7, {{QStringLiteral("x"), 24739}});  // filled: not played
        r.finished();
    });
    r.window->Command13_Click();
    const auto sent = r.serial.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(ToHex(sent[1]), "01 80 87 E1 04 E3");

    WindowRig none;  // all four empty: nothing sent, the run ends at once
    for (ListBoxWidget* l : {none.ui().List5, none.ui().List6}) l->clear();
    none.window->Command13_Click();
    EXPECT_TRUE(none.serial.sent().empty());
    EXPECT_EQ(none.st().LastCommand, cmd::kCodePlayback);
    EXPECT_EQ(none.st().SequenceDone, 1);
}

TEST(CodePlayback, RejectedCodeAndPlayClickedWhileWaiting) {
    WindowRig r;
    Fill(r.ui().List7, {{QStringLiteral("c3"), 24739}});
    r.pump.at(101, [&] {
        r.reject();
        EXPECT_EQ(r.serial.sent().size(), 1u);  // nothing resent
        EXPECT_EQ(r.st().ResumePending, 1);
    });
    // Play again while the first run waits: the new run takes its place and
    // starts with the code after the rejected one.
    r.pump.at(102, [&] { r.window->Command13_Click(); });
    r.pump.at(103, [&] { r.finished(); });
    r.window->Command13_Click();
    const auto sent = r.serial.sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(ToHex(sent[1]), "01 80 87 E1 60 B3 04 30");  // code 2, at once
    EXPECT_EQ(ToHex(sent[2]), "01 80 87 E1 60 A3 04 20");  // code 3, after the report
    EXPECT_EQ(r.st().ResumePending, 0);
    EXPECT_FALSE(r.pump.starved());

    // After a first run has ended a rejection only empties the status.
    r.window->Command3_Click();
    r.st().LastCommand = cmd::kCodePlayback;
    r.ui().Label11->setText(QStringLiteral("x"));
    r.reject();
    EXPECT_TRUE(r.ui().Label11->text().isEmpty());
    EXPECT_EQ(r.st().ResumePending, 0);
}

TEST(CodePlayback, PlayClickedOverAndOverWhileWaitingKeepsOneRun) {
    WindowRig r;
    // 500 clicks while the run waits for its first report: each new run
    // takes the waiting one's place and sends code 1 again.
    for (int i = 0; i < 500; ++i) r.pump.at(101 + i * 0.01, [&] { r.window->Command13_Click(); });
    r.pump.at(110, [&] { r.finished(); });
    r.window->Command13_Click();
    EXPECT_EQ(r.pump.maxDepth, 1);
    EXPECT_EQ(r.serial.sent().size(), 502u);  // code 1 for each run, then code 2
    EXPECT_EQ(r.st().SequenceDone, 1);
    EXPECT_FALSE(r.window->codePlaybackRunning());
}

TEST(CodePlayback, ARunEndedByAPortFaultDropsItsSnapshots) {
    WindowRig r;
    r.window->Command22_Click();
    ASSERT_TRUE(r.ui().Command22->property("snapshot").toBool());
    r.serial.failOpen = true;
    r.window->Command13_Click();
    EXPECT_TRUE(r.log().contains(QStringLiteral("打开失败")));
    EXPECT_EQ(r.st().CodeParams[0][0], 0);
    EXPECT_EQ(r.st().CodePosition, 0);
    EXPECT_EQ(r.st().SequenceDone, 1);
    EXPECT_FALSE(r.ui().Command22->property("snapshot").toBool());
    r.serial.failOpen = false;
    r.ui().Option8->setChecked(true);  // 6级
    r.window->Command13_Click();
    ASSERT_FALSE(r.serial.sent().empty());
    EXPECT_EQ(uint8_t(r.serial.sent().front()[3]), 0xE5);  // the current volume
}
