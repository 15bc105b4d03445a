// SPDX-License-Identifier: MIT
// Code playback through the conversation, with the chip's replies scripted
// on the virtual clock.
#include <gtest/gtest.h>

#include "conversation_rig.h"

using namespace vorla;
using namespace vorla::test;

namespace {
void Fill(VectorListBox& list, std::initializer_list<std::pair<QString, int32_t>> items) {
    list.clear();
    for (const auto& [text, code] : items) list.append(text, code);
}
}  // namespace

TEST(CodePlayback, StartUpListsPlayEachAfterTheFinishReport) {
    ConversationRig r;
    r.clock.at(101, [&] {
        EXPECT_EQ(r.sent().size(), 1u);  // nothing more before the report
        r.finished();
    });
    r.send(Command::CodePlayback);
    EXPECT_TRUE(r.codeRunning);
    r.clock.runAll();
    const auto sent = r.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(ToHex(sent[0]),
              "01 80 87 E1 60 C2 60 C2 C1 D6 CF C8 C9 FA 60 A3 A3 B5 A3 B7 A3 B5 A3 B7 A3 B3 A3 B1 A3 B4 A3 B6 04 "
              "03");
    EXPECT_EQ(ToHex(sent[1]), "01 80 87 E1 60 B3 04 30");
    EXPECT_EQ(r.journal, (std::vector<std::string>{"send", "log", "log", "send", "log"}));
    EXPECT_FALSE(r.codeRunning);
}

TEST(CodePlayback, BodiesAndTheirLimits) {
    ConversationRig r;
    auto playOnly = [&](std::initializer_list<std::pair<QString, int32_t>> items) {
        for (int k = 0; k < 3; ++k) r.lists[size_t(k)].clear();
        Fill(r.lists[3], items);
        r.pushLists();
        const size_t before = r.sent().size();
        r.send(Command::CodePlayback);
        EXPECT_EQ(r.sent().size(), before + 1);
        return r.sent().back();
    };
    EXPECT_EQ(ToHex(playOnly({{QStringLiteral("来电"), 24739}})), "01 80 87 E1 60 A3 04 20");
    EXPECT_EQ(ToHex(playOnly({{QString(), 0}})), "01 80 87 E1 04 E3");
    r.lists[3].clear();
    for (int i = 0; i < 26; ++i) r.fill(3, QStringLiteral("x"), 0x60C0 + (i % 10));
    r.pushLists();
    r.send(Command::CodePlayback);
    const QByteArray many = r.sent().back();
    EXPECT_EQ(many.size(), 56);
    EXPECT_EQ(ToHex(many.mid(52, 3)), "60 C4 04");  // item 24, then the tail
    EXPECT_EQ(playOnly({{QString(30, u'7'), 0}}).size(), 56);
    const QByteArray mixed =
        playOnly({{QStringLiteral("a"), 24739}, {QStringLiteral("b"), 24739}, {QString(24, u'1'), 0}});
    EXPECT_EQ(mixed.size(), 56);
    EXPECT_EQ(ToHex(mixed.mid(4, 4)), "60 A3 60 A3");
    EXPECT_EQ(ToHex(mixed.mid(52, 2)), "A3 B1");  // 23 digits fit
}

TEST(CodePlayback, SnapshotsServeOneRun) {
    ConversationRig r;
    int marks = 0;
    QObject::connect(r.conv.get(), &ChipConversation::snapshotsChanged, [&] { ++marks; });
    r.set([](Controls& c) { c.play.musicIndex = 0; });  // music none, finish report on
    r.conv->takeSnapshot(1);
    EXPECT_TRUE(r.conv->hasSnapshot(1));
    r.set([](Controls& c) { c.play.musicIndex = 4; });
    r.clock.at(101, [&] { r.finished(); });
    r.send(Command::CodePlayback);
    r.clock.runAll();
    const auto sent = r.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(ToHex(sent[0].left(4)), "01 80 87 E1");  // code 1 follows the settings
    EXPECT_EQ(ToHex(sent[1]), "01 80 87 C1 60 B3 04 10");
    EXPECT_FALSE(r.conv->hasSnapshot(1));
    EXPECT_EQ(marks, 2);  // taken, dropped
    r.clock.at(102, [&] { r.finished(); });
    r.send(Command::CodePlayback);  // the next run uses the settings again
    r.clock.runAll();
    EXPECT_EQ(ToHex(r.sent().back()), "01 80 87 E1 60 B3 04 30");
}

TEST(CodePlayback, AnotherCommandDuringTheWaitEndsTheRun) {
    ConversationRig r;
    r.conv->takeSnapshot(0);
    r.clock.at(101, [&] { r.send(Command::Stop); });
    r.send(Command::CodePlayback);
    r.clock.runAll();
    const auto sent = r.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(ToHex(sent[1]), "01 C0 80 80 04 C5");
    EXPECT_FALSE(r.codeRunning);
    EXPECT_FALSE(r.conv->hasSnapshot(0));
    r.finished();  // a late report sends nothing
    EXPECT_EQ(r.sent().size(), 2u);
}

TEST(CodePlayback, ListsAreReadWhenTheirTurnComes) {
    ConversationRig r;
    r.clock.at(101, [&] {
        r.lists[1].clear();                                // emptied: still sent, without body
        Fill(r.lists[2], {{QStringLiteral("x"), 24739}});  // filled: not played
        r.pushLists();
        r.finished();
    });
    r.send(Command::CodePlayback);
    r.clock.runAll();
    ASSERT_EQ(r.sent().size(), 2u);
    EXPECT_EQ(ToHex(r.sent()[1]), "01 80 87 E1 04 E3");

    ConversationRig none;  // all four empty: nothing sent, the run ends at once
    none.lists[0].clear();
    none.lists[1].clear();
    none.pushLists();
    none.send(Command::CodePlayback);
    EXPECT_TRUE(none.sent().empty());
    EXPECT_EQ(none.conv->pending().command, Command::CodePlayback);
}

TEST(CodePlayback, RejectedCodeAndPlayGivenWhileWaiting) {
    ConversationRig r;
    Fill(r.lists[2], {{QStringLiteral("c3"), 24739}});
    r.pushLists();
    r.clock.at(101, [&] {
        r.reject();
        EXPECT_EQ(r.sent().size(), 1u);  // nothing resent
    });
    // Play again while the first run waits: the new run takes its place and
    // starts with the code after the rejected one.
    r.clock.at(102, [&] { r.send(Command::CodePlayback); });
    r.clock.at(103, [&] { r.finished(); });
    r.send(Command::CodePlayback);
    r.clock.runAll();
    const auto sent = r.sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(ToHex(sent[1]), "01 80 87 E1 60 B3 04 30");  // code 2, at once
    EXPECT_EQ(ToHex(sent[2]), "01 80 87 E1 60 A3 04 20");  // code 3, after the report

    // After a first run has ended a rejection only empties the status.
    r.send(Command::CodePlayback);
    r.reject();
    EXPECT_TRUE(r.status().isEmpty());
}

TEST(CodePlayback, PlayGivenOverAndOverWhileWaitingKeepsOneRun) {
    ConversationRig r;
    int runs = 0;
    QObject::connect(r.conv.get(), &ChipConversation::codeRunChanged, [&](bool on) { runs += on ? 1 : 0; });
    // 500 clicks while the run waits for its first report: each new run
    // takes the waiting one's place and sends code 1 again.
    for (int i = 0; i < 500; ++i) r.clock.at(101 + i * 0.01, [&] { r.send(Command::CodePlayback); });
    r.clock.at(110, [&] { r.finished(); });
    r.send(Command::CodePlayback);
    r.clock.runAll();
    EXPECT_EQ(r.sent().size(), 502u);  // code 1 for each run, then code 2
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(r.codeRunning);
}

TEST(CodePlayback, ARunEndedByAPortFaultDropsItsSnapshots) {
    ConversationRig r;
    r.conv->takeSnapshot(0);
    r.serial.failOpen = true;
    r.send(Command::CodePlayback);
    EXPECT_TRUE(r.log().contains(QStringLiteral("打开失败")));
    EXPECT_FALSE(r.conv->hasSnapshot(0));
    EXPECT_FALSE(r.codeRunning);
    r.serial.failOpen = false;
    r.set([](Controls& c) { c.play.volumeLevel = 5; });
    r.send(Command::CodePlayback);
    ASSERT_FALSE(r.sent().empty());
    EXPECT_EQ(uint8_t(r.sent().front()[3]), 0xE5);  // the current volume
}

TEST(CodePlayback, AKaraokeCodeShowsItsLyricsAndPlayTakesOverAtOnce) {
    ConversationRig r;
    r.set([](Controls& c) {
        c.play.lyricsBack = 1;
        c.baudIndex = 3;
    });
    Fill(r.lists[0], {{QStringLiteral("雨蝶"), 24755}});
    r.pushLists();
    r.send(Command::CodePlayback);
    QByteArray stream = Hex("01 11 14 01 00 24 05 BA C3 20 08");
    for (int i = 0; i < 8; ++i) stream += Hex("BA C3 34");
    r.serial.receive(stream + Hex("04"));
    r.clock.advance(1.3);  // past the lyric wait: the lyrics play
    EXPECT_EQ(r.lyricLines[0], QStringLiteral("好"));
    r.send(Command::CodePlayback);  // at once, while the lyrics play
    EXPECT_EQ(r.sent().size(), 2u);
    EXPECT_TRUE(r.lyricLines[0].isEmpty());
}

// Play then an edit of its list during the lyric wait: Play acts first, on
// the list as it was when it was clicked.
TEST(CodePlayback, AnEditAfterPlayDuringAWaitComesAfterIt) {
    ConversationRig r;
    r.set([](Controls& c) { c.play.lyricsBack = 1; });
    r.send(Command::Music);
    r.serial.receive(Hex("01 11 14 05 BA C3 06 BA C3 41 42 43 44 45 46 20"));  // lyrics: the wait holds input
    ASSERT_TRUE(r.conv->holdsInput());
    r.send(Command::CodePlayback);
    r.lists[0].removeItem(0);  // 删除, as the window pushes it
    r.pushLists();
    r.clock.advance(10);
    ASSERT_EQ(r.sent().size(), 2u);
    EXPECT_EQ(r.sent()[1], CodeFrame(FrameEnds{}, PlayHeaderFor(r.controls.play), InitialCodeList(0)).toByteArray());
}
