// SPDX-License-Identifier: MIT
// What the virtual chip sounds like: a play frame's items, reading options,
// volume and background tune made into one pass of audio.
#pragma once

#include <vector>

#include <QString>

#include "sim/pcm.h"
#include "sim/play_job.h"
#include "sim/speech.h"

namespace vorla::sim {

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
