// SPDX-License-Identifier: MIT
// What the virtual chip sounds like: a play frame's items, reading options,
// volume and background tune made into one pass of audio.
#pragma once

#include <vector>

#include <QString>

#include "sim/pcm.h"
#include "sim/speech.h"

namespace vorla::sim {

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

// One pass of a job's audio (volume applied, the tune mixed under it).
// Text that cannot be spoken (no synthesiser) is silence of the chip's
// usual pace, so that timing holds.
Pcm RenderPass(const AudioJob& job);

// The gain of a volume level: 6 dB a level, level 6 at full scale.
double VolumeGain(int level);

// The text a stored poem is recited from (title, poet, verse); empty for an
// index the chip does not hold.
QString PoemText(int index);

}  // namespace vorla::sim
