// SPDX-License-Identifier: MIT
// Code list editing and parameter snapshots, without a window.
#include <gtest/gtest.h>

#include "conversation/code_lists.h"
#include "protocol/catalog.h"
#include "support/fakes.h"

using namespace vorla;
using vorla::test::VectorListBox;

namespace {
struct Lists {
    VectorListBox box[4];
    VectorListBox sounds, music;
    CodeListSet set;
    Lists() {
        for (int k = 0; k < 4; ++k) {
            for (const auto& item : InitialCodeList(k)) {
                box[k].addItem(item.text, box[k].listCount());
                box[k].setItemData(box[k].listCount() - 1, item.code);
            }
            set.lists[size_t(k)] = &box[k];
        }
        for (const QString& s : StoredItems(ItemKind::Sound)) sounds.addItem(s, sounds.listCount());
        for (const QString& s : StoredItems(ItemKind::Music)) music.addItem(s, music.listCount());
        set.chosen = {true, false, false, false};
        box[0].setListIndex(4);
    }
    std::vector<QString> texts(int k) const {
        std::vector<QString> out;
        for (int i = 0; i < box[k].listCount(); ++i) out.push_back(box[k].itemText(i));
        return out;
    }
};
}  // namespace

TEST(CodeLists, InsertGoesBelowTheSelectionAndSelectsIt) {
    Lists l;
    l.sounds.setListIndex(5);
    InsertStoredItem(l.set, l.sounds, kSoundBase);
    EXPECT_EQ(l.box[0].listIndex(), 5);
    EXPECT_EQ(l.box[0].itemData(5), 24773);
    InsertStoredItem(l.set, l.sounds, kSoundBase);  // duplicates are fine
    EXPECT_EQ(l.box[0].listIndex(), 6);
    EXPECT_EQ(l.box[0].itemText(6), l.box[0].itemText(5));

    l.box[0].setListIndex(1);
    l.music.setListIndex(17);
    InsertStoredItem(l.set, l.music, kMusicBase);
    EXPECT_EQ(l.box[0].listIndex(), 2);
    EXPECT_EQ(l.box[0].itemText(2), QStringLiteral("西班牙斗牛士"));
    EXPECT_EQ(l.box[0].itemData(2), 0x61B1);
    EXPECT_EQ(l.box[0].itemText(3), QStringLiteral("林先生"));

    l.music.setListIndex(-1);  // nothing selected in the source: nothing happens
    const int before = l.box[0].listCount();
    InsertStoredItem(l.set, l.music, kMusicBase);
    EXPECT_EQ(l.box[0].listCount(), before);

    // Into an empty list, and a text item that keeps its line break.
    ChooseCodeList(l.set, 2);
    l.set.chosen = {false, false, true, false};
    InsertIntoCodeList(l.set, QStringLiteral("欢迎使用！\r\n"), 0);
    EXPECT_EQ(l.box[2].listIndex(), 0);
    EXPECT_EQ(l.box[2].itemText(0), QStringLiteral("欢迎使用！\r\n"));
    EXPECT_EQ(l.box[2].itemData(0), 0);
}

TEST(CodeLists, DeleteSelectsTheLastItem) {
    Lists l;
    l.box[0].clear();
    for (int i = 0; i < 3; ++i) InsertIntoCodeList(l.set, QString::number(i), 0);
    l.box[0].setListIndex(0);
    DeleteSelectedItem(l.box[0]);
    EXPECT_EQ(l.texts(0), (std::vector<QString>{"1", "2"}));
    EXPECT_EQ(l.box[0].listIndex(), 1);
    DeleteSelectedItem(l.box[0]);
    DeleteSelectedItem(l.box[0]);
    EXPECT_EQ(l.box[0].listCount(), 0);
    EXPECT_EQ(l.box[0].listIndex(), -1);
    DeleteSelectedItem(l.box[0]);                       // empty: nothing happens
    InsertIntoCodeList(l.set, QStringLiteral("x"), 0);  // after delete all, lands at 0
    EXPECT_EQ(l.box[0].listIndex(), 0);
}

TEST(CodeLists, ChoosingAListEnablesItAndSelectsItsLastItem) {
    Lists l;
    ChooseCodeList(l.set, 1);
    EXPECT_TRUE(l.box[1].isEnabled());
    EXPECT_EQ(l.box[1].listIndex(), 0);
    for (int k : {0, 2, 3}) {
        EXPECT_FALSE(l.box[k].isEnabled());
        EXPECT_EQ(l.box[k].listIndex(), -1);
    }
}

TEST(CodeParams, SnapshotsOfTheSettings) {
    PlaySettings s;
    s.readOneAsYao = s.readPunctuation = s.readAsName = s.finishReport = 1;
    s.volumeLevel = 1;
    EXPECT_EQ(PlayHeaderFor(s), (PlayHeader{0x80, 0x87, 0xC1}));
    PlaySettings endless;
    endless.repeatIndex = 7;
    EXPECT_EQ(PlayHeaderFor(endless).option, 0xB8);
    PlaySettings max;
    max.readOneAsYao = max.readPunctuation = max.readAsName = max.lyricsBack = max.finishReport = 1;
    max.repeatIndex = max.musicIndex = 7;
    max.volumeLevel = 5;
    EXPECT_EQ(PlayHeaderFor(max), (PlayHeader{0x80, 0xFF, 0xFD}));
}
