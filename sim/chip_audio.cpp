// SPDX-License-Identifier: MIT
#include "sim/chip_audio.h"

#include <algorithm>
#include <cmath>

#include "sim/lyric_pieces.h"

namespace vorla::sim {

namespace {
constexpr double kCharSeconds = 0.3;  // the pace of text when nothing can be spoken
constexpr double kTuneGain = 0.22;    // a background tune, well under the speech
constexpr int kFirstSpokenSound = 6;  // the stored sounds from here on are English words

// Speech, or silence at the chip's pace when there is no synthesiser.
Pcm Spoken(const QString& text, const ReadingOptions& reading, bool english = false) {
    Pcm pcm = Speech::Say(text, reading, english);
    if (pcm.samples.empty()) AppendSilence(pcm, kCharSeconds * double(text.trimmed().size()));
    return pcm;
}

// A karaoke piece: one note for every sung character, rests for the pauses,
// timed as its lyric stream.
Pcm KaraokeMelody(int piece) {
    const std::vector<LyricBeat> beats = LyricTimeline(LyricStream(piece, 1.0));
    const auto sung = size_t(std::count_if(beats.begin(), beats.end(), [](const LyricBeat& b) { return b.sung; }));
    const std::vector<Note> tune = PentatonicMelody(100 + piece, int(sung), 0.5);
    std::vector<Note> notes;
    notes.reserve(beats.size());
    size_t next = 0;
    for (const LyricBeat& beat : beats)
        notes.push_back(Note{beat.sung && next < tune.size() ? tune[next++].hz : 0.0, beat.seconds});
    return RenderNotes(notes);
}

Pcm StoredSound(const PlayItem& item) {
    if (item.index == 0) return Spoken(QStringLiteral("幺"), {});
    if (item.index >= kFirstSpokenSound) {
        QString words = item.text;
        words.replace(QStringLiteral("verygood"), QStringLiteral("very good"));
        return Spoken(words, {}, true);
    }
    return SoundEffect(item.index);
}

Pcm ItemAudio(const PlayItem& item, const ReadingOptions& reading) {
    switch (item.kind) {
    case PlayItem::Phrase: return Spoken(item.text, reading);
    case PlayItem::Poem: return Spoken(PoemText(item.index), reading);
    case PlayItem::Sound: return StoredSound(item);
    case PlayItem::Music:
        if (IsKaraoke(ItemKind::Music, item.index)) return KaraokeMelody(item.index);
        return RenderNotes(PentatonicMelody(200 + item.index, 28, 0.32));
    case PlayItem::Char: break;
    }
    return Spoken(item.text, reading);
}
}  // namespace

QString PoemText(int index) {
    const QStringList& titles = StoredItems(ItemKind::Poem);
    const TangPoem* poem = index >= 0 && index < titles.size() ? FindPoem(titles[index].trimmed()) : nullptr;
    if (!poem) return QString();
    const auto line = [poem](int i) { return QString::fromUtf16(poem->lines[i]); };
    return QStringLiteral("%1，%2。%3，%4。%5，%6。")
        .arg(QString::fromUtf16(poem->title), QString::fromUtf16(poem->poet), line(0), line(1), line(2), line(3));
}

double VolumeGain(int level) { return std::pow(10.0, -6.0 * (5 - std::clamp(level, 0, 5)) / 20.0); }

Pcm RenderPass(const AudioJob& job) {
    Pcm pcm;
    QString text;  // characters in a row are spoken as one text
    const auto flush = [&] {
        if (!text.isEmpty()) Append(pcm, Spoken(text, job.reading));
        text.clear();
    };
    for (const PlayItem& item : job.items) {
        if (item.kind == PlayItem::Char) {
            text += item.text;
            continue;
        }
        flush();
        Append(pcm, ItemAudio(item, job.reading));
    }
    flush();
    if (job.tune > 0) MixUnder(pcm, RenderNotes(PentatonicMelody(job.tune, 24, 0.3)), kTuneGain);
    ApplyGain(pcm, VolumeGain(job.volume));
    return pcm;
}

}  // namespace vorla::sim
