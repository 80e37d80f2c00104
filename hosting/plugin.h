// A small VST 2.4 host: loads a plug-in module, answers its callbacks and drives its dispatcher.
#pragma once

#include "vst2abi/vst2.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace hosting {

// Loading failed, or a call the host needs was refused; what() names the module and the reason.
class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An edit the plug-in reported: audioMasterBeginEdit, audioMasterAutomate (with the normalised value) or
// audioMasterEndEdit, for the parameter at `index`.
struct HostEdit {
    int32_t opcode = 0;
    int32_t index = 0;
    float value = 0;
    bool operator==(const HostEdit&) const = default;
};

// What the host callback was asked, counted per opcode. The audio thread calls the callback too.
class HostCallLog {
public:
    static constexpr int32_t kOpcodeCount = 64;

    void record(int32_t opcode, int32_t index, float opt);
    uint64_t count(int32_t opcode) const;
    uint64_t total() const { return total_.load(std::memory_order_relaxed); }
    // Last audioMasterAutomate: parameter index and normalised value.
    int32_t lastAutomatedIndex() const { return lastAutomatedIndex_.load(std::memory_order_relaxed); }
    float lastAutomatedValue() const { return lastAutomatedValue_.load(std::memory_order_relaxed); }
    // Every begin-edit, automate and end-edit so far, in order.
    std::vector<HostEdit> edits() const;
    void clear();

private:
    // Opcodes outside 0..kOpcodeCount-1 share the last slot.
    std::array<std::atomic<uint64_t>, kOpcodeCount + 1> counts_{};
    std::atomic<uint64_t> total_{0};
    std::atomic<int32_t> lastAutomatedIndex_{-1};
    std::atomic<float> lastAutomatedValue_{0.0f};
    mutable std::mutex editsMutex_; // taken for edit opcodes only, which never come from the audio thread
    std::vector<HostEdit> edits_;
};

struct HostOptions {
    // Answer to audioMasterVersion; 0 makes a VST 2.4 plug-in refuse to load.
    intptr_t versionAnswer = 2400;
    double sampleRate = 44100.0;
    int32_t blockSize = 512;
    // Like hosts that pass every value a plug-in automates straight back through setParameter.
    bool echoAutomation = false;
};

class Plugin {
public:
    // Loads the module and creates one instance through its entry point; throws HostError.
    explicit Plugin(const std::filesystem::path& path, HostOptions options = {});
    // An instance of a plug-in linked into the program itself, through its entry point; `name` stands for
    // the module's path in messages. Throws HostError.
    Plugin(vst2::EntryProc entry, const std::string& name, HostOptions options = {});
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    vst2::AEffect* effect() const { return effect_; }
    const std::filesystem::path& path() const { return path_; }
    intptr_t dispatcher(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                        float opt = 0.0f);

    // Lifecycle. close() sends effClose once (suspending first when resumed); the instance is gone after.
    void open();
    void close();
    bool isClosed() const { return effect_ == nullptr; }
    void setSampleRate(double rate);
    void setBlockSize(int32_t frames);
    void resume();
    void suspend();
    bool isResumed() const { return resumed_; }

    // What the callback answers to audioMasterGetTime: a copy of this record, or null when unset.
    // Change it only while no block is being processed.
    void setTimeInfo(std::optional<vst2::VstTimeInfo> info);
    const HostCallLog& calls() const { return calls_; }
    HostCallLog& calls() { return calls_; }

    // Description.
    std::string effectName();
    std::string vendorString();
    std::string productString();
    int32_t vendorVersion();
    int32_t uniqueId() const { return effect_->uniqueID; }
    int32_t flags() const { return effect_->flags; }
    bool hasFlag(int32_t flag) const { return (effect_->flags & flag) != 0; }
    int32_t numInputs() const { return effect_->numInputs; }
    int32_t numOutputs() const { return effect_->numOutputs; }
    int32_t initialDelay() const { return effect_->initialDelay; }
    // 1 yes, -1 no, 0 don't know (some plug-ins answer other positive values for yes).
    intptr_t canDo(const std::string& text);

    // Parameters, as normalised values from 0 to 1.
    int32_t numParams() const { return effect_->numParams; }
    float parameter(int32_t index);
    void setParameter(int32_t index, float value);
    std::string parameterName(int32_t index);
    std::string parameterLabel(int32_t index);
    std::string parameterDisplay(int32_t index);

    // Audio over planar channel buffers; input and output may be the same buffers.
    void processFloat(float* const* inputs, float* const* outputs, int32_t frames);
    void processDouble(double* const* inputs, double* const* outputs, int32_t frames);
    void processFloat(std::vector<std::vector<float>>& inputs, std::vector<std::vector<float>>& outputs);
    void processDouble(std::vector<std::vector<double>>& inputs, std::vector<std::vector<double>>& outputs);

    // State: a copy of the plug-in's chunk (empty when it has none), and restoring one.
    std::vector<uint8_t> chunk(bool preset = false);
    intptr_t setChunk(const std::vector<uint8_t>& bytes, bool preset = false);

    // Editor; the parent is the native window id, as the plug-in expects it.
    bool hasEditor() const { return hasFlag(vst2::effFlagsHasEditor); }
    std::optional<vst2::ERect> editorRect();
    bool openEditor(void* parent);
    void editorIdle();
    void closeEditor();

private:
    static intptr_t callback(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                             float opt);
    intptr_t answer(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
    // Calls the entry point and takes the instance it answers.
    enum class Creation { kCreated, kRefused, kNotAnEffect };
    Creation create(vst2::EntryProc entry);
    std::string text(int32_t opcode, int32_t index = 0);

    std::filesystem::path path_;
    void* module_ = nullptr;
    vst2::AEffect* effect_ = nullptr;
    HostOptions options_;
    std::atomic<double> sampleRate_;
    std::atomic<int32_t> blockSize_;
    bool resumed_ = false;
    std::optional<vst2::VstTimeInfo> timeInfo_;
    HostCallLog calls_;
    // Channel pointers for the vector overloads.
    std::vector<float*> floatInputs_, floatOutputs_;
    std::vector<double*> doubleInputs_, doubleOutputs_;
};

// An instance opened for the sample rate and block size, as a host has it before resuming; throws HostError.
std::unique_ptr<Plugin> openPlugin(const std::filesystem::path& path, double sampleRate, int32_t blockSize);

} // namespace hosting
