// SPDX-License-Identifier: MIT
// The virtual chip's sound as 16-bit mono samples: tones and melodies,
// sound effects, mixing and loudness, and WAV files.
#pragma once

#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QString>

namespace vorla::sim {

constexpr int kSampleRate = 22050;  // the speech synthesiser's own rate

struct Pcm {
    std::vector<int16_t> samples;  // at kSampleRate
    double seconds() const { return double(samples.size()) / kSampleRate; }
};

struct Note {
    double hz = 0;  // 0: a rest
    double seconds = 0;
};

void AppendSilence(Pcm& pcm, double seconds);
void Append(Pcm& pcm, const Pcm& more);
// Soft plucked tones (a sine with its octave, quick attack, gentle decay).
Pcm RenderNotes(const std::vector<Note>& notes, double level = 0.5);
// A melody of `count` notes on the pentatonic scale, different for every seed.
std::vector<Note> PentatonicMelody(int seed, int count, double noteSeconds);
// Mixes `under` into `pcm` at `gain`, repeating it to the length of `pcm`.
void MixUnder(Pcm& pcm, const Pcm& under, double gain);
// Scales every sample by `gain`, clipping at full scale.
void ApplyGain(Pcm& pcm, double gain);
// Root mean square of samples [from, from + count), in full-scale units.
double Rms(const Pcm& pcm, size_t from = 0, size_t count = SIZE_MAX);

// A synthesized sound effect for the stored sounds that are not words; an
// empty Pcm for an index that has none.
Pcm SoundEffect(int index);

// A WAV file (RIFF, 16-bit PCM, mono) of the first `count` samples.
QByteArray WavBytes(const Pcm& pcm, size_t count = SIZE_MAX);
// Reads back what WavBytes wrote; false when the bytes are not such a file.
bool ParseWav(const QByteArray& bytes, Pcm& pcm);

}  // namespace vorla::sim
