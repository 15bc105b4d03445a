// SPDX-License-Identifier: MIT
// Speech for the virtual chip through espeak-ng's Mandarin voice. espeak-ng
// keeps one synthesiser per process, so every call is serialised; any
// thread may call.
#pragma once

#include <QString>

#include "sim/pcm.h"
#include "sim/play_job.h"

namespace vorla::sim {

class Speech {
public:
    // Whether the synthesiser and its Mandarin voice could be loaded.
    static bool Available();
    // The text spoken (Mandarin; `english` for the English sound words).
    static Pcm Say(const QString& text, const ReadingOptions& options, bool english = false);
    // What would be spoken, as espeak-ng's phoneme mnemonics.
    static QString Phonemes(const QString& text, const ReadingOptions& options);
    // The text handed to the synthesiser: 1 as 幺, punctuation marks by name.
    static QString Prepare(const QString& text, const ReadingOptions& options);
};

}  // namespace vorla::sim
