// What a host learns from the plug-in and what it hears from it, written so that two builds can be compared
// line by line and byte by byte: the Windows test host runs this against vandrel2.dll under Wine, the Linux
// test against vandrel2.so, and every line and every output byte must agree.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace probe {

constexpr double kSampleRates[] = {22050, 44100, 48000, 88200, 96000, 192000};

// Description, parameters at an 11-step grid of values with their texts, the state chunk and its round
// trip, the lifecycle, and a fingerprint of every output bit for a fixed programme with automation at the
// six sample rates in both sample widths and at several block sizes. Checks that must hold on their own
// (the lifecycle, finite output, chunk round trips) appear as "check <name> ok" or "check <name> FAILED".
std::vector<std::string> Describe(const std::filesystem::path& module);

// The programme in `input` (interleaved stereo 32-bit floats at `rate`) through a fresh instance at its
// defaults, in blocks of 512 frames: the 32-bit path's output to `output32` (interleaved 32-bit floats),
// the 64-bit path's to `output64` (interleaved 64-bit floats). False when a file cannot be read or written.
bool ProcessProgramme(const std::filesystem::path& module, const std::filesystem::path& input, double rate,
                      const std::filesystem::path& output32, const std::filesystem::path& output64);

} // namespace probe
