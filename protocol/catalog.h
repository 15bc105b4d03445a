// SPDX-License-Identifier: MIT
// The chip's stored items as the window lists them, and their item codes.
//
// The item at list index i has the code 0x60 + i div 16, base + i mod 16;
// the base tells the kind of item.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include <QString>
#include <QStringList>

namespace vorla {

enum class ItemKind { Music, Phrase, Poem, Sound };

constexpr uint8_t kPhraseBase = 0xA0;
constexpr uint8_t kMusicBase = 0xB0;
constexpr uint8_t kSoundBase = 0xC0;
constexpr uint8_t kPoemBase = 0xD0;

uint8_t ItemBase(ItemKind kind);

// The stored items in list order (List1 music, List2 phrases, List3 poems,
// List4 sounds). Music pieces 0 to 7 are karaoke pieces.
const QStringList& StoredItems(ItemKind kind);
constexpr int kKaraokePieces = 8;
// Whether the item at this list index sends its lyrics when asked.
constexpr bool IsKaraoke(ItemKind kind, int index) {
    return kind == ItemKind::Music && index >= 0 && index < kKaraokePieces;
}

// The background tunes the sound byte names: 0 "无" (none), 1 to 7.
const QStringList& TuneNames();

// What a chip plays, by kind: a text's characters and the stored items.
enum class PlayKind { Character, Phrase, Sound, Poem, Music, Count };
QString PlayKindName(PlayKind kind);  // "character", "phrase", ...
PlayKind PlayKindOf(ItemKind kind);

// How long one of a kind plays: as long as the virtual chip plays it (a
// karaoke piece plays as long as its lyric stream), and the shortest and
// longest a chip may take before a self-test finds it wrong.
struct PlaySeconds {
    double typical = 0;
    double shortest = 0;
    double longest = 0;
};
PlaySeconds PlaySecondsOf(PlayKind kind);

// ItemHigh and ItemLow of a list index: the index divided by 16 rounded down,
// and the rest (0..15).
struct ItemSplit {
    int16_t high = 0;
    int16_t low = 0;
};
ItemSplit SplitItemIndex(int16_t index);

// The item code as one integer, (0x60 + high) * 256 + base + low, computed in
// 16-bit arithmetic as the code lists keep it.
int32_t ItemCode(int16_t index, uint8_t base);

}  // namespace vorla
