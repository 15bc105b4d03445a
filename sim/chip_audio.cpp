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

struct Poem {
    const char16_t* title;
    const char16_t* poet;
    const char16_t* verse;
};
// The stored poems, classical Tang verse (public domain), in list order.
const Poem kPoems[] = {
    {u"静夜思", u"李白", u"床前明月光，疑是地上霜。举头望明月，低头思故乡。"},
    {u"春晓", u"孟浩然", u"春眠不觉晓，处处闻啼鸟。夜来风雨声，花落知多少。"},
    {u"登幽州台歌", u"陈子昂", u"前不见古人，后不见来者。念天地之悠悠，独怆然而涕下。"},
    {u"相思", u"王维", u"红豆生南国，春来发几枝。愿君多采撷，此物最相思。"},
    {u"登乐游原", u"李商隐", u"向晚意不适，驱车登古原。夕阳无限好，只是近黄昏。"},
    {u"江雪", u"柳宗元", u"千山鸟飞绝，万径人踪灭。孤舟蓑笠翁，独钓寒江雪。"},
    {u"寻隐者不遇", u"贾岛", u"松下问童子，言师采药去。只在此山中，云深不知处。"},
    {u"怨情", u"李白", u"美人卷珠帘，深坐颦蛾眉。但见泪痕湿，不知心恨谁。"},
    {u"山中送别", u"王维", u"山中相送罢，日暮掩柴扉。春草明年绿，王孙归不归。"},
};

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
        if (item.index < kKaraokePieceCount) return KaraokeMelody(item.index);
        return RenderNotes(PentatonicMelody(200 + item.index, 28, 0.32));
    case PlayItem::Char: break;
    }
    return Spoken(item.text, reading);
}
}  // namespace

QString PoemText(int index) {
    if (index < 0 || index >= int(std::size(kPoems))) return QString();
    const Poem& poem = kPoems[index];
    return QStringLiteral("%1，%2。%3")
        .arg(QString::fromUtf16(poem.title), QString::fromUtf16(poem.poet), QString::fromUtf16(poem.verse));
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
