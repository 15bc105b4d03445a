// SPDX-License-Identifier: MIT
#include "sim/speech.h"

#include <algorithm>
#include <iterator>
#include <mutex>

#include <QStringList>

#include <espeak-ng/speak_lib.h>

namespace vorla::sim {

namespace {
std::mutex gLock;  // espeak-ng is one synthesiser per process
bool gReady = false;
bool gTried = false;
Pcm* gSink = nullptr;  // where the callback puts samples, under gLock

int Collect(short* wav, int count, espeak_EVENT* /*events*/) {
    if (wav && count > 0 && gSink) gSink->samples.insert(gSink->samples.end(), wav, wav + count);
    return 0;
}

// Debian's espeak-ng 1.51 speaks the plain "cmn" voice's pinyin tone digits
// as English numbers ("ni three"); its pinyin-reading Mandarin voice uses
// the same dictionary and speaks the tones. The plain voice is the fallback.
const char* const kMandarinVoices[] = {"cmn-latn-pinyin", "cmn"};
constexpr int kRate = 175;      // words a minute, espeak-ng's default
constexpr int kNameRate = 120;  // a name is read out slowly

// Loads the synthesiser once; false when it cannot speak Mandarin.
bool EnsureReady() {
    if (gTried) return gReady;
    gTried = true;
    if (espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, 0) != kSampleRate) return false;
    espeak_SetSynthCallback(Collect);
    gReady = std::any_of(std::begin(kMandarinVoices), std::end(kMandarinVoices),
                         [](const char* voice) { return espeak_SetVoiceByName(voice) == EE_OK; });
    return gReady;
}

void UseVoice(bool english) {
    if (english) {
        espeak_SetVoiceByName("en");
        return;
    }
    for (const char* voice : kMandarinVoices)
        if (espeak_SetVoiceByName(voice) == EE_OK) return;
}

void Synthesize(const QString& text, Pcm& into) {
    const QByteArray utf8 = text.toUtf8();
    gSink = &into;
    espeak_Synth(utf8.constData(), size_t(utf8.size()) + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
    espeak_Synchronize();
    gSink = nullptr;
}

// The names the chip reads punctuation marks by. The Mandarin dictionary
// has none, so espeak-ng's punctuation setting alone would skip them.
struct MarkName {
    char16_t mark;
    const char16_t* name;
};
constexpr MarkName kMarkNames[] = {
    {u',', u"逗号"},    {u'，', u"逗号"},  {u'.', u"点"},    {u'。', u"句号"}, {u'!', u"感叹号"}, {u'！', u"感叹号"},
    {u'?', u"问号"},    {u'？', u"问号"},  {u';', u"分号"},  {u'；', u"分号"}, {u':', u"冒号"},   {u'：', u"冒号"},
    {u'、', u"顿号"},   {u'"', u"引号"},   {u'“', u"引号"},  {u'”', u"引号"},  {u'\'', u"引号"},  {u'(', u"括号"},
    {u')', u"括号"},    {u'（', u"括号"},  {u'）', u"括号"}, {u'-', u"横线"},  {u'—', u"破折号"}, {u'…', u"省略号"},
    {u'《', u"书名号"}, {u'》', u"书名号"}};
}  // namespace

bool Speech::Available() {
    const std::lock_guard<std::mutex> lock(gLock);
    return EnsureReady();
}

QString Speech::Prepare(const QString& text, const ReadingOptions& options) {
    QString out;
    for (const QChar c : text) {
        if (options.yao && c >= u'0' && c <= u'9') {
            // Digit by digit, as a telephone number is read, 1 as 幺.
            static constexpr char16_t kDigits[] = u"零幺二三四五六七八九";
            out += QChar(kDigits[c.unicode() - u'0']);
            continue;
        }
        if (options.punctuation) {
            const auto* found = std::find_if(std::begin(kMarkNames), std::end(kMarkNames),
                                             [c](const MarkName& m) { return m.mark == c.unicode(); });
            if (found != std::end(kMarkNames)) {
                out += QStringLiteral(" %1 ").arg(QString::fromUtf16(found->name));
                continue;
            }
        }
        out += c;
    }
    return out;
}

Pcm Speech::Say(const QString& text, const ReadingOptions& options, bool english) {
    const std::lock_guard<std::mutex> lock(gLock);
    Pcm pcm;
    if (!EnsureReady()) return pcm;
    UseVoice(english);
    espeak_SetParameter(espeakPUNCTUATION, options.punctuation ? espeakPUNCT_ALL : espeakPUNCT_NONE, 0);
    espeak_SetParameter(espeakRATE, options.name ? kNameRate : kRate, 0);
    const QString prepared = Prepare(text, options);
    if (!options.name) {
        Synthesize(prepared, pcm);
        return pcm;
    }
    // espeak-ng has no name mode: a name is read out syllable by syllable,
    // each character on its own with a short pause after it.
    for (const QChar c : prepared) {
        if (c.isSpace()) continue;
        Synthesize(QString(c), pcm);
        AppendSilence(pcm, 0.08);
    }
    return pcm;
}

QString Speech::Phonemes(const QString& text, const ReadingOptions& options) {
    const std::lock_guard<std::mutex> lock(gLock);
    if (!EnsureReady()) return QString();
    UseVoice(false);
    const QByteArray utf8 = Prepare(text, options).toUtf8();
    const void* at = utf8.constData();
    QStringList clauses;
    // One clause a call, until the text is used up.
    while (at != nullptr) {
        const char* phonemes = espeak_TextToPhonemes(&at, espeakCHARS_UTF8, 0);
        if (phonemes && *phonemes) clauses << QString::fromUtf8(phonemes);
    }
    return clauses.join(u' ');
}

}  // namespace vorla::sim
