// SPDX-License-Identifier: MIT
#include "sim/pcm.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include <QtEndian>

namespace vorla::sim {

namespace {
constexpr double kTwoPi = 2 * std::numbers::pi;

int16_t Clip(double v) { return int16_t(std::clamp(v, -32767.0, 32767.0)); }

// An equal-tempered pitch: `step` semitones from the A below middle C.
double Pitch(int step) { return 220.0 * std::pow(2.0, step / 12.0); }

// A tone whose pitch glides from `from` to `to` Hz, with an envelope.
void Sweep(Pcm& pcm, double from, double to, double seconds, double level, double decay) {
    const size_t n = size_t(seconds * kSampleRate);
    double phase = 0;
    for (size_t i = 0; i < n; ++i) {
        const double t = double(i) / kSampleRate;
        const double hz = from + (to - from) * double(i) / double(n);
        phase += kTwoPi * hz / kSampleRate;
        const double envelope = std::min(1.0, t / 0.005) * std::exp(-decay * t);
        pcm.samples.push_back(Clip(32767 * level * envelope * std::sin(phase)));
    }
}

// A square wave, for a harsh buzz.
void Buzz(Pcm& pcm, double hz, double seconds, double level) {
    const size_t n = size_t(seconds * kSampleRate);
    for (size_t i = 0; i < n; ++i) {
        const double phase = std::fmod(double(i) * hz / kSampleRate, 1.0);
        const double edge = std::min({1.0, double(i) / 100.0, double(n - i) / 100.0});
        pcm.samples.push_back(Clip(32767 * level * edge * (phase < 0.5 ? 1 : -1)));
    }
}

// A struck bell: inharmonic partials dying away.
void Bell(Pcm& pcm, double hz, double seconds, double level) {
    static constexpr std::pair<double, double> kPartials[] = {{1.0, 1.0}, {2.76, 0.5}, {5.40, 0.25}, {8.93, 0.12}};
    const size_t n = size_t(seconds * kSampleRate);
    for (size_t i = 0; i < n; ++i) {
        const double t = double(i) / kSampleRate;
        double v = 0;
        for (const auto& [ratio, weight] : kPartials)
            v += weight * std::exp(-t * (1.5 + ratio)) * std::sin(kTwoPi * hz * ratio * t);
        pcm.samples.push_back(Clip(32767 * level * 0.55 * v));
    }
}

// A burst of noise, for a shutter.
void Click(Pcm& pcm, double seconds, double level, uint32_t& seed) {
    const size_t n = size_t(seconds * kSampleRate);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = double(int32_t(seed)) / 2147483648.0;
        pcm.samples.push_back(Clip(32767 * level * noise * std::exp(-double(i) / (0.012 * kSampleRate))));
    }
}
}  // namespace

void AppendSilence(Pcm& pcm, double seconds) {
    pcm.samples.insert(pcm.samples.end(), size_t(std::max(0.0, seconds) * kSampleRate), 0);
}

void Append(Pcm& pcm, const Pcm& more) {
    pcm.samples.insert(pcm.samples.end(), more.samples.begin(), more.samples.end());
}

Pcm RenderNotes(const std::vector<Note>& notes, double level) {
    Pcm pcm;
    for (const Note& note : notes) {
        const size_t n = size_t(note.seconds * kSampleRate);
        for (size_t i = 0; i < n; ++i) {
            if (note.hz <= 0) {
                pcm.samples.push_back(0);
                continue;
            }
            const double t = double(i) / kSampleRate;
            // Quick attack, a gentle decay, and a short release so that notes
            // do not click into each other.
            const double envelope =
                std::min({1.0, t / 0.01, double(n - i) / (0.02 * kSampleRate)}) * std::exp(-2.5 * t);
            const double v = std::sin(kTwoPi * note.hz * t) + 0.3 * std::sin(2 * kTwoPi * note.hz * t);
            pcm.samples.push_back(Clip(32767 * level * envelope * v / 1.3));
        }
    }
    return pcm;
}

std::vector<Note> PentatonicMelody(int seed, int count, double noteSeconds) {
    static constexpr int kScale[] = {0, 2, 4, 7, 9, 12, 14, 16};  // do re mi sol la, an octave up
    uint32_t state = 2166136261u ^ uint32_t(seed * 16777619);
    int degree = 2;
    std::vector<Note> notes;
    for (int i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        // Small steps mostly, a leap now and then; every fourth note longer.
        const int move = int((state >> 24) % 5) - 2;
        degree = std::clamp(degree + move, 0, 7);
        const double length = (i % 4 == 3) ? 2 * noteSeconds : noteSeconds;
        notes.push_back(Note{Pitch(3 + kScale[degree]), length});
    }
    notes.push_back(Note{Pitch(3 + kScale[0]), 2 * noteSeconds});  // home
    return notes;
}

void MixUnder(Pcm& pcm, const Pcm& under, double gain) {
    if (under.samples.empty()) return;
    for (size_t i = 0; i < pcm.samples.size(); ++i)
        pcm.samples[i] = Clip(pcm.samples[i] + gain * under.samples[i % under.samples.size()]);
}

void ApplyGain(Pcm& pcm, double gain) {
    for (int16_t& s : pcm.samples) s = Clip(s * gain);
}

double Rms(const Pcm& pcm, size_t from, size_t count) {
    const size_t end = std::min(pcm.samples.size(), count == SIZE_MAX ? SIZE_MAX : from + count);
    if (from >= end) return 0;
    double sum = 0;
    for (size_t i = from; i < end; ++i) sum += double(pcm.samples[i]) * pcm.samples[i];
    return std::sqrt(sum / double(end - from)) / 32768.0;
}

namespace {
void ErrorBuzz(Pcm& pcm) {  // two low buzzes, the second lower
    Buzz(pcm, 220, 0.18, 0.35);
    AppendSilence(pcm, 0.06);
    Buzz(pcm, 165, 0.32, 0.35);
}
void Laser(Pcm& pcm) {  // a fast falling sweep, twice
    for (int i = 0; i < 2; ++i) {
        Sweep(pcm, 2600, 300, 0.22, 0.6, 6);
        AppendSilence(pcm, 0.05);
    }
}
void Camera(Pcm& pcm) {  // the shutter, then the mirror coming back
    uint32_t seed = 7;
    Click(pcm, 0.04, 0.8, seed);
    AppendSilence(pcm, 0.08);
    Click(pcm, 0.06, 0.6, seed);
    AppendSilence(pcm, 0.1);
}
void StruckBell(Pcm& pcm) { Bell(pcm, 330, 2.2, 0.8); }
void Ringing(Pcm& pcm) {  // two bursts of a fast warble
    for (int burst = 0; burst < 2; ++burst) {
        for (int i = 0; i < 10; ++i) {
            const double hz = i % 2 ? 1200 : 1500;
            Sweep(pcm, hz, hz, 0.04, 0.45, 0);
        }
        AppendSilence(pcm, 0.2);
    }
}
}  // namespace

Pcm SoundEffect(int index) {
    // By the stored sounds' list order: error, laser, camera, bell, ringing.
    static constexpr void (*kEffects[])(Pcm&) = {nullptr, ErrorBuzz, Laser, Camera, StruckBell, Ringing};
    Pcm pcm;
    if (index > 0 && index < int(std::size(kEffects))) kEffects[index](pcm);
    return pcm;
}

QByteArray WavBytes(const Pcm& pcm, size_t count) {
    const size_t n = std::min(count, pcm.samples.size());
    const auto u32 = [](QByteArray& b, uint32_t v) {
        char le[4];
        qToLittleEndian(v, le);
        b.append(le, 4);
    };
    const auto u16 = [](QByteArray& b, uint16_t v) {
        char le[2];
        qToLittleEndian(v, le);
        b.append(le, 2);
    };
    QByteArray wav;
    wav += "RIFF";
    u32(wav, uint32_t(36 + 2 * n));
    wav += "WAVEfmt ";
    u32(wav, 16);
    u16(wav, 1);  // PCM
    u16(wav, 1);  // mono
    u32(wav, kSampleRate);
    u32(wav, kSampleRate * 2);
    u16(wav, 2);
    u16(wav, 16);
    wav += "data";
    u32(wav, uint32_t(2 * n));
    for (size_t i = 0; i < n; ++i) u16(wav, uint16_t(pcm.samples[i]));
    return wav;
}

bool ParseWav(const QByteArray& bytes, Pcm& pcm) {
    if (bytes.size() < 44 || !bytes.startsWith("RIFF") || bytes.mid(8, 8) != "WAVEfmt " || bytes.mid(36, 4) != "data")
        return false;
    const uint32_t size = qFromLittleEndian<uint32_t>(bytes.constData() + 40);
    if (size > uint32_t(bytes.size() - 44) || size % 2 != 0) return false;
    pcm.samples.resize(size / 2);
    for (size_t i = 0; i < pcm.samples.size(); ++i)
        pcm.samples[i] = qFromLittleEndian<int16_t>(bytes.constData() + 44 + 2 * i);
    return true;
}

}  // namespace vorla::sim
