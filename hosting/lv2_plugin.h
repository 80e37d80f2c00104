// A small LV2 host on lilv: loads one bundle, instantiates a plug-in from it, owns a buffer for every
// control port, runs stereo audio through it and saves and restores its state as a session would.
#pragma once

#include <lilv/lilv.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace hosting {

class Lv2Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// URIs to numbers and back, for the plug-ins and UIs of one host. Any thread.
class UridMap {
public:
    UridMap();
    LV2_URID Map(const char* uri);
    const char* Unmap(LV2_URID urid);
    LV2_URID_Map* map() { return &map_; }
    LV2_URID_Unmap* unmap() { return &unmap_; }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<std::string>> uris_;
    LV2_URID_Map map_;
    LV2_URID_Unmap unmap_;
};

struct Lv2Port {
    uint32_t index = 0;
    std::string symbol, name;
    bool input = false, audio = false, control = false;
    float minimum = 0, maximum = 0, defaultValue = 0;
    std::vector<std::string> properties; // lv2:portProperty URIs
    std::string unit;                    // units:unit URI, or empty
    int rangeSteps = 0;                  // pprops:rangeSteps, or 0
    bool has(std::string_view property) const;
};

// A preset a host lists for the plug-in.
struct Lv2Preset {
    std::string uri, label;
};

struct Lv2Options {
    double sampleRate = 48000;
    // The buf-size options given at instantiation; with neither, no options feature at all.
    std::optional<int32_t> nominalBlockLength, maxBlockLength;
};

class Lv2Plugin {
public:
    // Loads the bundle and instantiates the plug-in `uri` from it; throws Lv2Error.
    Lv2Plugin(const std::filesystem::path& bundle, const std::string& uri, Lv2Options options = {});
    ~Lv2Plugin();
    Lv2Plugin(const Lv2Plugin&) = delete;
    Lv2Plugin& operator=(const Lv2Plugin&) = delete;

    const std::vector<Lv2Port>& ports() const { return ports_; }
    const Lv2Port& port(std::string_view symbol) const; // throws Lv2Error
    // The buffer of a control port, input or output; every control input starts at its default.
    float& control(std::string_view symbol) { return controls_[port(symbol).index]; }
    float& control(uint32_t index) { return controls_.at(index); }
    // The latency output's value, as of the last run.
    float latency() const;

    void activate();
    void deactivate();
    bool isActive() const { return active_; }
    // Stereo in and out; inputs and outputs may be the same buffers. Audio thread.
    void run(const float* const* inputs, float* const* outputs, uint32_t frames);

    // The instance's state as a host keeps it in a session (control inputs and the plug-in's properties, as
    // Turtle), and restoring it: control inputs set, then the plug-in's own restore.
    std::string saveState();
    void restoreState(const std::string& turtle);
    // The plug-in's presets in its bundle, by label; and applying one as a host does (its control values
    // set, then the plug-in's own restore). Throws Lv2Error for a preset that cannot be loaded.
    std::vector<Lv2Preset> presets() const;
    void applyPreset(const std::string& uri);

    const void* extensionData(const char* uri) const;
    UridMap& urids() { return *urids_; }
    const LilvPlugin* plugin() const { return plugin_; }

private:
    // Sets the control inputs the state holds, then runs the plug-in's restore; frees the state.
    void restore(LilvState* state);

    std::unique_ptr<UridMap> urids_;
    LilvWorld* world_ = nullptr;
    const LilvPlugin* plugin_ = nullptr;
    LilvInstance* instance_ = nullptr;
    std::vector<Lv2Port> ports_;
    std::vector<float> controls_; // by port index
    std::vector<uint32_t> audioIn_, audioOut_;
    std::optional<uint32_t> latencyPort_;
    bool active_ = false;
};

} // namespace hosting
