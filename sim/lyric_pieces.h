// SPDX-License-Identifier: MIT
// The lyric streams of the virtual chip's eight karaoke pieces. The words are
// classical Tang verse (public domain); each stream has a tempo code, a title
// block, a pause, one timed sentence per line and the end code.
#pragma once

#include <vector>

#include <QByteArray>
#include <QString>

#include "protocol/catalog.h"
#include "protocol/lyric_grammar.h"
#include "protocol/received_text.h"

namespace vorla::sim {

// A poem the chip knows: the karaoke pieces' words and the stored poems.
struct TangPoem {
    const char16_t* title;
    const char16_t* poet;
    const char16_t* lines[4];
};
// The poem of that title, or nullptr.
const TangPoem* FindPoem(const QString& title);

// The stream for piece 0..7; `speed` shortens every duration (tempo code
// scaled), so that a fast chip's lyrics still match its playing time.
QByteArray LyricStream(int piece, double speed);

// A stream's time line and playing time, by the rules the window plays it
// with.
inline std::vector<LyricBeat> LyricTimeline(const QByteArray& stream) {
    return vorla::LyricTimeline(SplitReceived(stream));
}
inline double LyricSeconds(const QByteArray& stream) { return vorla::LyricSeconds(SplitReceived(stream)); }

}  // namespace vorla::sim
