// The LV2 plug-in's identity and port layout: stereo audio in and out, one control input per parameter (in
// the parameter table's order, under its symbol), one control output per reading, and the latency. The DSP
// binary, the UI binary and the generated Turtle files all read it from here.
#pragma once

#include "leveler/parameter_table.h"
#include "leveler/readings.h"

#include <cstdint>

namespace lv2port {

// Owned by the project; hosts store sessions by these, so they never change.
inline constexpr const char* kPluginUri = "urn:quellory:vandrel2";
inline constexpr const char* kUiUri = "urn:quellory:vandrel2:ui";
// State properties: the effect's chunk, and the control values last seen.
inline constexpr const char* kChunkKeyUri = "urn:quellory:vandrel2#chunk";
inline constexpr const char* kControlsKeyUri = "urn:quellory:vandrel2#controls";

inline constexpr const char* kDspBinary = "vandrel2_dsp.so";
inline constexpr const char* kUiBinary = "vandrel2_ui.so";

struct AudioPort {
    const char* symbol;
    const char* name;
    bool output;
};
inline constexpr AudioPort kAudioPorts[] = {
    {"in_left", "Input Left", false},
    {"in_right", "Input Right", false},
    {"out_left", "Output Left", true},
    {"out_right", "Output Right", true},
};

inline constexpr uint32_t kAudioInput = 0;  // left, then right
inline constexpr uint32_t kAudioOutput = 2; // left, then right
inline constexpr uint32_t kFirstControl = 4;
inline constexpr uint32_t kFirstReading = kFirstControl + leveler::kParameterCount;
inline constexpr uint32_t kLatency = kFirstReading + leveler::kReadingCount;
inline constexpr uint32_t kPortCount = kLatency + 1;

// The parameter index of a control port, or -1.
constexpr int32_t ParameterOfPort(uint32_t port) {
    return port >= kFirstControl && port < kFirstReading ? static_cast<int32_t>(port - kFirstControl) : -1;
}
// The reading index of an output port, or -1.
constexpr int32_t ReadingOfPort(uint32_t port) {
    return port >= kFirstReading && port < kLatency ? static_cast<int32_t>(port - kFirstReading) : -1;
}

} // namespace lv2port
