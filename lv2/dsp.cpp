// The LV2 plug-in: the leveler behind stereo audio ports, one control input per parameter, the readings and
// the latency as control outputs, and its state through the state extension.
#include "format/control_inputs.h"
#include "format/process_link.h"
#include "format/processing.h"
#include "leveler/leveler.h"
#include "leveler/readings.h"
#include "lv2/features.h"
#include "lv2/ports.h"

#include <lv2/buf-size/buf-size.h>
#include <lv2/state/state.h>

#include <array>
#include <cstring>
#include <limits>
#include <optional>

using namespace lv2port;

namespace {

constexpr int32_t kControlCount = leveler::kParameterCount;
constexpr int32_t kReadingCount = leveler::kReadingCount;
static_assert(kControlCount <= format::TControlInputs::kMaxControls);

// The block section's cadence when the host states no block length (lv2apply, which runs one frame at a
// time, states none): the length a VST host's wrapper starts with, so that both formats level alike.
constexpr int32_t kUnstatedBlockLength = CParvexSamples::kDefaultBlockFrames;

struct StateKeys {
    LV2_URID chunk = 0, controls = 0, chunkType = 0;
};

class Instance {
public:
    Instance(double sampleRate, const LV2_Feature* const* features) {
        link_.SetSampleRate(sampleRate);
        link_.SetInputCount(2);
        // The block length as a VST host sets it while suspended: the nominal length, else the largest.
        std::optional<double> blockLength = InstanceOption(features, LV2_BUF_SIZE__nominalBlockLength);
        if (!blockLength) blockLength = InstanceOption(features, LV2_BUF_SIZE__maxBlockLength);
        link_.SetBlockSize(blockLength && *blockLength >= 1 && *blockLength <= 1 << 30
                               ? static_cast<int32_t>(*blockLength)
                               : kUnstatedBlockLength);
        if (auto* map = static_cast<LV2_URID_Map*>(FeatureData(features, LV2_URID__map))) {
            keys_.chunk = map->map(map->handle, kChunkKeyUri);
            keys_.controls = map->map(map->handle, kControlsKeyUri);
            keys_.chunkType = map->map(map->handle, LV2_ATOM__Chunk);
        }
        effect_.Host = &link_;
        effect_.DoReset();
    }
    ~Instance() { effect_.DoClose(); }

    void Connect(uint32_t port, void* data) {
        if (port < kAudioOutput)
            audioIn_[port - kAudioInput] = static_cast<const float*>(data);
        else if (port < kFirstControl)
            audioOut_[port - kAudioOutput] = static_cast<float*>(data);
        else if (const int32_t parameter = ParameterOfPort(port); parameter >= 0)
            controls_[static_cast<size_t>(parameter)] = static_cast<const float*>(data);
        else if (const int32_t reading = ReadingOfPort(port); reading >= 0)
            readings_[static_cast<size_t>(reading)] = static_cast<float*>(data);
        else if (port == kLatency)
            latency_ = static_cast<float*>(data);
    }

    void Activate() { effect_.DoResume(); }
    void Deactivate() { effect_.DoSuspend(); }

    // Audio thread.
    void Run(uint32_t frames) {
        std::array<float, kControlCount> values;
        for (int32_t i = 0; i < kControlCount; ++i) {
            const float* port = controls_[static_cast<size_t>(i)];
            values[static_cast<size_t>(i)] = port ? *port : std::numeric_limits<float>::quiet_NaN();
        }
        inputs_.Apply(effect_, values);
        if (audioIn_[0] && audioIn_[1] && audioOut_[0] && audioOut_[1])
            format::ProcessBlock(effect_, 2, audioIn_.data(), audioOut_.data(), static_cast<int32_t>(frames));
        std::array<float, kReadingCount> now;
        leveler::TakeReadings(effect_, now);
        for (int32_t i = 0; i < kReadingCount; ++i)
            if (float* port = readings_[static_cast<size_t>(i)]) *port = now[static_cast<size_t>(i)];
        if (latency_) *latency_ = static_cast<float>(link_.Latency());
    }

    // The chunk, then the control values last seen, so that a restored session's controls count as seen
    // and the settings the automatic controls reached stay.
    LV2_State_Status Save(LV2_State_Store_Function store, LV2_State_Handle handle) {
        if (!keys_.chunk) return LV2_STATE_ERR_NO_FEATURE;
        void* chunk = nullptr;
        const int32_t bytes = effect_.GetStateChunk(&chunk, false);
        const uint32_t flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
        LV2_State_Status status = LV2_STATE_SUCCESS;
        if (bytes > 0)
            status = store(handle, keys_.chunk, chunk, static_cast<size_t>(bytes), keys_.chunkType, flags);
        if (status != LV2_STATE_SUCCESS) return status;
        std::array<float, kControlCount> seen;
        inputs_.LastSeen(seen);
        return store(handle, keys_.controls, seen.data(), sizeof seen, keys_.chunkType, flags);
    }

    LV2_State_Status Restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle) {
        if (!keys_.chunk) return LV2_STATE_ERR_NO_FEATURE;
        size_t size = 0;
        uint32_t type = 0, flags = 0;
        const void* chunk = retrieve(handle, keys_.chunk, &size, &type, &flags);
        if (chunk && type == keys_.chunkType && size <= 1 << 20)
            effect_.SetStateChunk(chunk, static_cast<int32_t>(size), false);
        const void* seen = retrieve(handle, keys_.controls, &size, &type, &flags);
        if (seen && type == keys_.chunkType && size == kControlCount * sizeof(float)) {
            std::array<float, kControlCount> values;
            std::memcpy(values.data(), seen, sizeof values);
            inputs_.RestoreLastSeen(values);
        } else {
            // Without them every control the host holds counts as its setting.
            inputs_.Forget();
        }
        return LV2_STATE_SUCCESS;
    }

private:
    TParvexEffect effect_;
    format::TProcessLink link_;
    format::TControlInputs inputs_;
    StateKeys keys_;
    std::array<const float*, 2> audioIn_{};
    std::array<float*, 2> audioOut_{};
    std::array<const float*, kControlCount> controls_{};
    std::array<float*, kReadingCount> readings_{};
    float* latency_ = nullptr;
};

Instance* Of(LV2_Handle handle) {
    return static_cast<Instance*>(handle);
}

LV2_Handle Instantiate(const LV2_Descriptor*, double sampleRate, const char*,
                       const LV2_Feature* const* features) {
    if (!(sampleRate > 0)) return nullptr;
    return new Instance(sampleRate, features);
}

void ConnectPort(LV2_Handle handle, uint32_t port, void* data) {
    Of(handle)->Connect(port, data);
}
void Activate(LV2_Handle handle) {
    Of(handle)->Activate();
}
void Run(LV2_Handle handle, uint32_t frames) {
    Of(handle)->Run(frames);
}
void Deactivate(LV2_Handle handle) {
    Of(handle)->Deactivate();
}
void Cleanup(LV2_Handle handle) {
    delete Of(handle);
}

LV2_State_Status Save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state, uint32_t,
                      const LV2_Feature* const*) {
    return Of(handle)->Save(store, state);
}
LV2_State_Status Restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve, LV2_State_Handle state,
                         uint32_t, const LV2_Feature* const*) {
    return Of(handle)->Restore(retrieve, state);
}

const void* ExtensionData(const char* uri) {
    static const LV2_State_Interface kState{Save, Restore};
    if (std::strcmp(uri, LV2_STATE__interface) == 0) return &kState;
    return nullptr;
}

const LV2_Descriptor kDescriptor{kPluginUri, Instantiate, ConnectPort, Activate,
                                 Run,        Deactivate,  Cleanup,     ExtensionData};

} // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
