// The fuzz targets. Each takes one input, drives a fresh leveler (or its runtime) with it and aborts with a
// message on stderr when an invariant breaks; the sanitizers catch memory errors and undefined behaviour.
// The libFuzzer executables and the replay test of tests/ run the very same functions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace fuzz {

// The input is a state chunk as a host would hand it over.
int ChunkRestore(const uint8_t* data, size_t size);
// A sequence of parameter calls with any index and any 32-bit value, interleaved with reads and blocks.
int ParameterCalls(const uint8_t* data, size_t size);
// A format text with up to eight values for its conversions.
int FormatText(const uint8_t* data, size_t size);
// Blocks of any sample data on both paths, interleaved with host automation and restarts.
int ProcessAudio(const uint8_t* data, size_t size);
// All of the above a host may do, mixed: parameter values and whole chunks of any kind, clean and hostile
// blocks on both paths, restarts at every sample rate hosts run at.
int MixedTraffic(const uint8_t* data, size_t size);

struct Target {
    const char* name; // also the folder of its corpus: fuzz/corpus/<name>
    int (*run)(const uint8_t* data, size_t size);
};

inline constexpr std::array<Target, 5> kTargets{{
    {"chunk", ChunkRestore},
    {"parameters", ParameterCalls},
    {"format", FormatText},
    {"process", ProcessAudio},
    {"mixed", MixedTraffic},
}};

} // namespace fuzz
