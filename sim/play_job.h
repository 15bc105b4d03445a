// SPDX-License-Identifier: MIT
// What a play frame asks the chip to sound: its items, the reading options,
// repeats, volume and background tune. The chip's model hands these out;
// its voice, where there is one, makes them into audio.
#pragma once

#include <vector>

#include <QString>

namespace vorla::sim {

// How the chip reads a text: the options of a text frame.
struct ReadingOptions {
    bool yao = false;          // the digit 1 read as 幺 (yāo)
    bool punctuation = false;  // punctuation marks read aloud
    bool name = false;         // read as a name: slowly, syllable by syllable
};

// One item of a play frame: a character of text, or a stored item with its
// list text.
struct PlayItem {
    enum Kind { Char, Phrase, Music, Poem, Sound } kind;
    int index = 0;
    QString text;
};

struct AudioJob {
    int id = 0;
    std::vector<PlayItem> items;
    ReadingOptions reading;
    int repeats = 1;  // passes; 0 plays until stopped
    int volume = 0;   // level 0..7 as the frame carries it (0..5 are 1级 to 6级)
    int tune = 0;     // background tune 0 (none) .. 7
};

}  // namespace vorla::sim
