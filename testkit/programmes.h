// Test programmes made in code, the same on every run: synthetic speech (formants over a glottal pulse
// train, with plosives and fricatives), the same over a noisy street, a podcast (music, then speech over
// a music bed), pop music with drums and piano music with wide dynamics. 48 kHz stereo, interleaved.
#pragma once

#include <string>
#include <vector>

namespace programmes {

constexpr int kRate = 48000;

struct Programme {
    std::string name;
    std::vector<float> samples; // interleaved stereo
};

// The five synthetic programmes, `seconds` long each.
std::vector<Programme> synthesised(double seconds);

} // namespace programmes
