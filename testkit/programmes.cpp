#include "testkit/programmes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace programmes {

namespace {

constexpr double kPi = std::numbers::pi;

// Uniform from -1 to 1 straight from the generator's bits, so the programmes are the same everywhere.
class Noise {
public:
    explicit Noise(uint32_t seed) : random_(seed) {}
    double white() { return double(random_()) / 2147483648.0 - 1.0; }
    double uniform() { return double(random_()) / 4294967296.0; }
    // Pink-ish: three one-pole low-passes of white noise at spread corners.
    double pink() {
        const double w = white();
        b0_ = 0.997 * b0_ + 0.029 * w;
        b1_ = 0.985 * b1_ + 0.032 * w;
        b2_ = 0.950 * b2_ + 0.048 * w;
        return b0_ + b1_ + b2_ + 0.03 * w;
    }

private:
    std::mt19937 random_;
    double b0_ = 0, b1_ = 0, b2_ = 0;
};

// A two-pole resonator (constant peak gain band-pass).
struct Resonator {
    double a1 = 0, a2 = 0, gain = 0, y1 = 0, y2 = 0;
    void tune(double frequency, double bandwidth) {
        const double r = std::exp(-kPi * bandwidth / kRate);
        a1 = 2 * r * std::cos(2 * kPi * frequency / kRate);
        a2 = -r * r;
        gain = 1 - r;
    }
    double step(double x) {
        const double y = gain * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// One voice speaking made-up sentences: syllables of a consonant and a vowel, words, pauses.
class Voice {
public:
    Voice(double pitch, double formantScale, uint32_t seed)
        : pitch_(pitch), scale_(formantScale), noise_(seed) {}

    std::vector<double> speak(double seconds) {
        std::vector<double> out(size_t(seconds * kRate), 0.0);
        size_t at = size_t(0.3 * kRate);
        while (at < out.size()) {
            // A sentence: 4 to 12 words, pitch falling across it.
            const int words = 4 + int(noise_.uniform() * 9);
            const size_t sentenceStart = at;
            const double sentenceLength = words * 0.45;
            for (int w = 0; w < words && at < out.size(); ++w) {
                const int syllables = 1 + int(noise_.uniform() * 3);
                const double stress = 0.6 + 0.7 * noise_.uniform();
                for (int s = 0; s < syllables && at < out.size(); ++s) {
                    const double fall = 1.0 - 0.25 * double(at - sentenceStart) / (sentenceLength * kRate);
                    at = syllable(out, at, pitch_ * fall * (s == 0 ? 1.0 + 0.15 * stress : 1.0),
                                  s == 0 ? stress : 0.7);
                }
                at += size_t((0.03 + 0.08 * noise_.uniform()) * kRate);
            }
            at += size_t((0.35 + 0.7 * noise_.uniform()) * kRate);
        }
        return out;
    }

private:
    size_t syllable(std::vector<double>& out, size_t at, double pitch, double loudness) {
        // Vowel formants (F1, F2, F3) of a, e, i, o, u.
        static constexpr std::array<std::array<double, 3>, 5> kVowels = {
            {{730, 1090, 2440}, {530, 1840, 2480}, {270, 2290, 3010}, {570, 840, 2410}, {300, 870, 2240}}};
        const auto& vowel = kVowels[size_t(noise_.uniform() * 5) % 5];
        const double kind = noise_.uniform();
        // Onset: a plosive burst, a fricative, or none.
        if (kind < 0.35) {
            const size_t gap = size_t(0.03 * kRate), burst = size_t(0.008 * kRate);
            for (size_t i = 0; i < burst && at + gap + i < out.size(); ++i)
                out[at + gap + i] +=
                    0.12 * loudness * noise_.white() * std::exp(-double(i) / (0.002 * kRate));
            at += gap + burst;
        } else if (kind < 0.65) {
            Resonator hiss;
            hiss.tune(kind < 0.5 ? 6000 : 3500, 2000);
            const size_t length = size_t((0.06 + 0.06 * noise_.uniform()) * kRate);
            for (size_t i = 0; i < length && at + i < out.size(); ++i) {
                const double envelope = std::sin(kPi * double(i) / double(length));
                out[at + i] += 0.35 * loudness * envelope * hiss.step(noise_.white()) * 4;
            }
            at += length;
        }
        // The vowel: a glottal pulse train, two one-pole low-passes for its slope, three formants.
        std::array<Resonator, 3> formants;
        for (size_t f = 0; f < 3; ++f) formants[f].tune(vowel[f] * scale_, 80 + 30 * double(f));
        const size_t length = size_t((0.09 + 0.14 * noise_.uniform()) * kRate);
        for (size_t i = 0; i < length && at + i < out.size(); ++i) {
            phase_ += pitch * (1 + 0.01 * noise_.white()) / kRate;
            double pulse = 0;
            if (phase_ >= 1) {
                phase_ -= 1;
                pulse = 1;
            }
            glottis1_ += 0.25 * (pulse - glottis1_);
            glottis2_ += 0.25 * (glottis1_ - glottis2_);
            const double source = glottis2_ - 0.9 * lastSource_;
            lastSource_ = glottis2_;
            const double t = double(i) / double(length);
            const double envelope = std::min(1.0, t / 0.12) * std::min(1.0, (1 - t) / 0.25);
            const double voiced = 3.0 * formants[0].step(source) + 2.0 * formants[1].step(source) +
                                  1.0 * formants[2].step(source);
            out[at + i] += 1.6 * loudness * envelope * voiced;
        }
        return at + length;
    }

    double pitch_, scale_;
    Noise noise_;
    double phase_ = 0, glottis1_ = 0, glottis2_ = 0, lastSource_ = 0;
};

void setLevel(std::vector<float>& samples, double peakDb) {
    float peak = 0;
    for (float s : samples) peak = std::max(peak, std::abs(s));
    if (peak == 0) return;
    const auto gain = float(std::pow(10.0, peakDb / 20) / peak);
    for (float& s : samples) s *= gain;
}

std::vector<float> stereo(const std::vector<double>& left, const std::vector<double>& right) {
    std::vector<float> out(2 * left.size());
    for (size_t i = 0; i < left.size(); ++i) out[2 * i] = float(left[i]), out[2 * i + 1] = float(right[i]);
    return out;
}

// A close microphone in a quiet room: a little room tone, and the voice a little to one side.
std::vector<float> speech(double seconds) {
    const auto voice = Voice(118, 1.0, 11).speak(seconds);
    Noise room(12);
    std::vector<double> left(voice.size()), right(voice.size());
    for (size_t i = 0; i < voice.size(); ++i) {
        const double tone = 0.0015 * room.pink();
        left[i] = voice[i] + tone;
        right[i] = 0.9 * voice[i] + tone;
    }
    auto out = stereo(left, right);
    setLevel(out, -6);
    return out;
}

// A voice on a street: traffic rumble that swells and fades, hiss and hum at about 12 dB under the voice.
std::vector<float> noisySpeech(double seconds) {
    auto voice = Voice(205, 1.17, 21).speak(seconds);
    Noise street(22);
    Resonator rumble;
    rumble.tune(90, 120);
    std::vector<double> left(voice.size()), right(voice.size());
    for (size_t i = 0; i < voice.size(); ++i) {
        const double t = double(i) / kRate;
        const double traffic = (0.6 + 0.4 * std::sin(2 * kPi * t / 7.3)) * 0.5 * rumble.step(street.white());
        const double hiss = 0.012 * street.pink() + 0.003 * std::sin(2 * kPi * 50 * t);
        left[i] = 0.3 * voice[i] + traffic + hiss;
        right[i] = 0.3 * voice[i] + 0.8 * traffic + hiss;
    }
    auto out = stereo(left, right);
    setLevel(out, -9);
    return out;
}

double midi(int note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

// Four bars repeated with changes: kick, snare, hats, a saw bass, chords and a square lead.
std::vector<double> popChannel(double seconds, double pan, uint32_t seed) {
    Noise noise(seed);
    const size_t frames = size_t(seconds * kRate);
    std::vector<double> out(frames, 0.0);
    const double beat = 0.5; // 120 bpm
    static constexpr int kRoots[] = {45, 41, 48, 43};
    double bassPhase = 0, bassLow = 0, leadPhase = 0;
    std::array<double, 3> chordPhases{};
    double chordLow = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / kRate;
        const double inBeat = std::fmod(t, beat);
        const int beatNumber = int(t / beat);
        const int bar = beatNumber / 4;
        const int root = kRoots[bar % 4];
        // Drums
        // A sine falling from 170 Hz to 50 Hz.
        const double kick =
            std::sin(2 * kPi * (50 * inBeat + 4 * (1 - std::exp(-inBeat * 30)))) * std::exp(-inBeat * 9);
        double snare = 0;
        if (beatNumber % 2 == 1)
            snare = (0.6 * noise.white() + 0.4 * std::sin(2 * kPi * 185 * inBeat)) * std::exp(-inBeat * 18);
        const double eighth = std::fmod(t, beat / 2);
        const double hat = 0.25 * noise.white() * std::exp(-eighth * 90);
        // Bass
        bassPhase += midi(root - 12) / kRate;
        bassPhase -= std::floor(bassPhase);
        bassLow += 0.06 * ((2 * bassPhase - 1) - bassLow);
        // Chords: root, third, fifth
        double chord = 0;
        static constexpr int kIntervals[] = {0, 4, 7};
        for (size_t v = 0; v < 3; ++v) {
            chordPhases[v] += midi(root + 12 + kIntervals[v]) * (1 + 0.002 * double(v)) / kRate;
            chordPhases[v] -= std::floor(chordPhases[v]);
            chord += 2 * chordPhases[v] - 1;
        }
        chordLow += 0.08 * (chord - chordLow);
        // Lead: a note each beat from the chord, silent every fourth bar
        static constexpr int kMelody[] = {0, 4, 7, 12, 7, 4, 2, 4};
        leadPhase += midi(root + 24 + kMelody[beatNumber % 8]) / kRate;
        leadPhase -= std::floor(leadPhase);
        const double lead = bar % 4 == 3 ? 0.0 : (leadPhase < 0.5 ? 1.0 : -1.0) * std::exp(-inBeat * 4);
        const double drums = 0.9 * kick + 0.5 * snare + pan * hat;
        out[i] = drums + 0.5 * bassLow + (0.6 + 0.3 * pan) * 0.15 * chordLow + (1.2 - pan) * 0.12 * lead;
    }
    return out;
}

std::vector<float> pop(double seconds) {
    auto out = stereo(popChannel(seconds, 0.7, 31), popChannel(seconds, 1.0, 32));
    setLevel(out, -1);
    return out;
}

// Phrases of piano notes and chords from pianissimo to fortissimo and back, with rests.
std::vector<float> piano(double seconds) {
    const size_t frames = size_t(seconds * kRate);
    std::vector<double> left(frames, 0.0), right(frames, 0.0);
    Noise noise(41);
    static constexpr int kScale[] = {0, 2, 4, 5, 7, 9, 11, 12};
    double t = 0.5;
    while (t < seconds - 2) {
        // Loudness follows a slow arc over the piece: 30 dB from the quietest phrase to the loudest.
        const double arc = std::sin(kPi * t / seconds);
        const double velocity = std::pow(10.0, (-30 + 30 * arc * arc) / 20);
        const bool chord = noise.uniform() < 0.3;
        const int base = 48 + kScale[size_t(noise.uniform() * 8) % 8] + (chord ? 0 : 12);
        const int notes = chord ? 3 : 1;
        for (int n = 0; n < notes; ++n) {
            const double f0 = midi(base + 4 * n - (n == 2 ? 1 : 0));
            const size_t start = size_t(t * kRate), length = std::min(frames - start, size_t(3.0 * kRate));
            const double pan = 0.3 + 0.4 * (double(base) - 48) / 24;
            for (int h = 1; h <= 10; ++h) {
                const double frequency = f0 * h * std::sqrt(1 + 0.0004 * h * h);
                if (frequency > 0.45 * kRate) break;
                const double amplitude = velocity / std::pow(h, 1.1 + 0.3 * (1 - velocity));
                const double decay = 0.8 + 0.45 * h;
                for (size_t i = 0; i < length; ++i) {
                    const double time = double(i) / kRate;
                    const double s = amplitude * std::min(1.0, time / 0.002) * std::exp(-decay * time) *
                                     std::sin(2 * kPi * frequency * time);
                    left[start + i] += (1 - pan) * s;
                    right[start + i] += pan * s;
                }
            }
        }
        t += noise.uniform() < 0.1 ? 1.5 : 0.25 + 0.25 * double(int(noise.uniform() * 3));
    }
    auto out = stereo(left, right);
    setLevel(out, -2);
    return out;
}

// Music for an opening, speech over a music bed 24 dB under it, and music to close.
std::vector<float> podcast(double seconds) {
    const auto music = pop(seconds);
    const auto voice = speech(seconds);
    std::vector<float> out(music.size());
    const double intro = 8, outro = seconds - 6;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = double(i / 2) / kRate;
        const double bed = t < intro       ? 1.0
                           : t < intro + 1 ? 1 - (t - intro) * (1 - 0.063)
                           : t < outro     ? 0.063
                                           : 1.0;
        const double speaking = t > intro + 0.5 && t < outro - 0.5 ? 1.0 : 0.0;
        out[i] = float(0.7 * bed * music[i] + speaking * voice[i]);
    }
    setLevel(out, -3);
    return out;
}

} // namespace

std::vector<Programme> synthesised(double seconds) {
    return {{"speech", speech(seconds)},
            {"noisy-speech", noisySpeech(seconds)},
            {"podcast", podcast(seconds)},
            {"pop", pop(seconds)},
            {"piano", piano(seconds)}};
}

} // namespace programmes
