#include "hosting/plugin.h"

#include "hosting/module.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace hosting {

namespace {

// Callbacks made inside the entry point carry no effect record yet; they belong to the instance
// this thread is creating. Afterwards the record's resvd1, a field reserved for the host, leads back.
thread_local Plugin* instanceBeingCreated = nullptr;

// A module's initialisers, its entry point and its finalisers run one at a time, as in a host that loads
// plug-ins from one thread: plug-ins need not be written for concurrent loading, and the loader's own lock
// is invisible to the thread sanitizer.
std::recursive_mutex modulesMutex;

intptr_t answerWithoutInstance(int32_t opcode) {
    return opcode == vst2::audioMasterVersion ? 2400 : 0;
}

// canDo texts this host can honour; the rest are answered "no" (-1) or "don't know" (0).
intptr_t hostCanDo(const char* text) {
    if (text == nullptr) return 0;
    static constexpr const char* kYes[] = {"sendVstTimeInfo", "acceptIOChanges"};
    static constexpr const char* kNo[] = {"sendVstEvents",       "sendVstMidiEvent",  "receiveVstEvents",
                                          "receiveVstMidiEvent", "sizeWindow",        "offline",
                                          "openFileSelector",    "closeFileSelector", "supportShell"};
    for (const char* yes : kYes)
        if (std::strcmp(text, yes) == 0) return 1;
    for (const char* no : kNo)
        if (std::strcmp(text, no) == 0) return -1;
    return 0;
}

constexpr const char* kRefused = "the plug-in refused to create an instance";
constexpr const char* kNotAnEffect = "not a VST 2.4 effect (wrong magic number)";

void copyText(void* destination, const char* text, size_t capacity) {
    if (destination == nullptr) return;
    auto* out = static_cast<char*>(destination);
    std::strncpy(out, text, capacity - 1);
    out[capacity - 1] = '\0';
}

} // namespace

void HostCallLog::record(int32_t opcode, int32_t index, float opt) {
    const auto slot = (opcode >= 0 && opcode < kOpcodeCount) ? size_t(opcode) : size_t(kOpcodeCount);
    counts_[slot].fetch_add(1, std::memory_order_relaxed);
    total_.fetch_add(1, std::memory_order_relaxed);
    if (opcode == vst2::audioMasterAutomate) {
        lastAutomatedIndex_.store(index, std::memory_order_relaxed);
        lastAutomatedValue_.store(opt, std::memory_order_relaxed);
    }
    if (opcode == vst2::audioMasterAutomate || opcode == vst2::audioMasterBeginEdit ||
        opcode == vst2::audioMasterEndEdit) {
        const std::lock_guard<std::mutex> lock(editsMutex_);
        edits_.push_back({opcode, index, opcode == vst2::audioMasterAutomate ? opt : 0.0f});
    }
}

std::vector<HostEdit> HostCallLog::edits() const {
    const std::lock_guard<std::mutex> lock(editsMutex_);
    return edits_;
}

uint64_t HostCallLog::count(int32_t opcode) const {
    const auto slot = (opcode >= 0 && opcode < kOpcodeCount) ? size_t(opcode) : size_t(kOpcodeCount);
    return counts_[slot].load(std::memory_order_relaxed);
}

void HostCallLog::clear() {
    for (auto& count : counts_) count.store(0, std::memory_order_relaxed);
    total_.store(0, std::memory_order_relaxed);
    lastAutomatedIndex_.store(-1, std::memory_order_relaxed);
    lastAutomatedValue_.store(0.0f, std::memory_order_relaxed);
    const std::lock_guard<std::mutex> lock(editsMutex_);
    edits_.clear();
}

Plugin::Plugin(const std::filesystem::path& path, HostOptions options)
    : path_(path), options_(options), sampleRate_(options.sampleRate), blockSize_(options.blockSize) {
    const std::string name = path.string();
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) throw HostError(name + ": no such file");
    std::string reason;
    const std::lock_guard<std::recursive_mutex> loading(modulesMutex);
    module_ = LoadModule(path, reason);
    if (module_ == nullptr) throw HostError(name + ": cannot load: " + reason);
    auto fail = [&](const std::string& reason) {
        UnloadModule(module_);
        module_ = nullptr;
        return HostError(name + ": " + reason);
    };
    // Older plug-ins export their entry point only as "main".
    void* symbol = ModuleSymbol(module_, "VSTPluginMain");
    if (symbol == nullptr) symbol = ModuleSymbol(module_, "main");
    if (symbol == nullptr) throw fail("no VSTPluginMain or main entry point");
    switch (create(reinterpret_cast<vst2::EntryProc>(symbol))) {
    case Creation::kCreated:
        return;
    case Creation::kRefused:
        throw fail(kRefused);
    case Creation::kNotAnEffect:
        // A record without the magic is not ours to close; the module stays loaded rather than risk it.
        module_ = nullptr;
        throw HostError(name + ": " + kNotAnEffect);
    }
}

Plugin::Plugin(vst2::EntryProc entry, const std::string& name, HostOptions options)
    : path_(name), options_(options), sampleRate_(options.sampleRate), blockSize_(options.blockSize) {
    const std::lock_guard<std::recursive_mutex> creating(modulesMutex);
    const Creation created = create(entry);
    if (created != Creation::kCreated)
        throw HostError(name + ": " + (created == Creation::kRefused ? kRefused : kNotAnEffect));
}

Plugin::Creation Plugin::create(vst2::EntryProc entry) {
    Plugin* const outer = instanceBeingCreated;
    instanceBeingCreated = this;
    vst2::AEffect* effect = entry(&Plugin::callback);
    instanceBeingCreated = outer;
    if (effect == nullptr) return Creation::kRefused;
    if (effect->magic != vst2::kEffectMagic) return Creation::kNotAnEffect;
    effect_ = effect;
    effect_->resvd1 = reinterpret_cast<intptr_t>(this);
    return Creation::kCreated;
}

Plugin::~Plugin() {
    close();
    const std::lock_guard<std::recursive_mutex> unloading(modulesMutex);
    if (module_ != nullptr) UnloadModule(module_);
}

intptr_t Plugin::callback(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                          float opt) {
    Plugin* instance = instanceBeingCreated;
    if (effect != nullptr && effect->resvd1 != 0) instance = reinterpret_cast<Plugin*>(effect->resvd1);
    if (instance == nullptr) return answerWithoutInstance(opcode);
    return instance->answer(opcode, index, value, ptr, opt);
}

intptr_t Plugin::answer(int32_t opcode, int32_t index, intptr_t, void* ptr, float opt) {
    calls_.record(opcode, index, opt);
    switch (opcode) {
    case vst2::audioMasterVersion:
        return options_.versionAnswer;
    case vst2::audioMasterAutomate:
        if (options_.echoAutomation && effect_ != nullptr) effect_->setParameter(effect_, index, opt);
        return 0;
    case vst2::audioMasterCurrentId:
        return effect_ != nullptr ? effect_->uniqueID : 0;
    case vst2::audioMasterGetTime:
        return timeInfo_ ? reinterpret_cast<intptr_t>(&*timeInfo_) : 0;
    case vst2::audioMasterGetSampleRate:
        return intptr_t(sampleRate_.load(std::memory_order_relaxed));
    case vst2::audioMasterGetBlockSize:
        return blockSize_.load(std::memory_order_relaxed);
    case vst2::audioMasterIOChanged:
        return 1;
    case vst2::audioMasterUpdateDisplay:
        return 1;
    case vst2::audioMasterGetVendorString:
        copyText(ptr, "Vandrel", vst2::kVstMaxVendorStrLen);
        return 1;
    case vst2::audioMasterGetProductString:
        copyText(ptr, "vandrel-host", vst2::kVstMaxProductStrLen);
        return 1;
    case vst2::audioMasterGetVendorVersion:
        return 1000;
    case vst2::audioMasterCanDo:
        return hostCanDo(static_cast<const char*>(ptr));
    default:
        return 0;
    }
}

intptr_t Plugin::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    if (effect_ == nullptr) throw HostError(path_.string() + ": the instance is already closed");
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

void Plugin::open() {
    dispatcher(vst2::effOpen);
}

void Plugin::close() {
    if (effect_ == nullptr) return;
    if (resumed_) suspend();
    effect_->dispatcher(effect_, vst2::effClose, 0, 0, nullptr, 0.0f);
    effect_ = nullptr;
}

void Plugin::setSampleRate(double rate) {
    sampleRate_.store(rate, std::memory_order_relaxed);
    dispatcher(vst2::effSetSampleRate, 0, 0, nullptr, float(rate));
}

void Plugin::setBlockSize(int32_t frames) {
    blockSize_.store(frames, std::memory_order_relaxed);
    dispatcher(vst2::effSetBlockSize, 0, frames);
}

void Plugin::resume() {
    dispatcher(vst2::effMainsChanged, 0, 1);
    dispatcher(vst2::effStartProcess);
    resumed_ = true;
}

void Plugin::suspend() {
    dispatcher(vst2::effStopProcess);
    dispatcher(vst2::effMainsChanged, 0, 0);
    resumed_ = false;
}

void Plugin::setTimeInfo(std::optional<vst2::VstTimeInfo> info) {
    timeInfo_ = info;
}

std::string Plugin::text(int32_t opcode, int32_t index) {
    // Generous and zeroed: plug-ins routinely write past the nominal VST text limits.
    char buffer[256] = {};
    dispatcher(opcode, index, 0, buffer);
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

std::string Plugin::effectName() {
    return text(vst2::effGetEffectName);
}
std::string Plugin::vendorString() {
    return text(vst2::effGetVendorString);
}
std::string Plugin::productString() {
    return text(vst2::effGetProductString);
}
int32_t Plugin::vendorVersion() {
    return int32_t(dispatcher(vst2::effGetVendorVersion));
}

intptr_t Plugin::canDo(const std::string& what) {
    std::vector<char> copy(what.begin(), what.end());
    copy.push_back('\0');
    return dispatcher(vst2::effCanDo, 0, 0, copy.data());
}

float Plugin::parameter(int32_t index) {
    if (effect_ == nullptr) throw HostError(path_.string() + ": the instance is already closed");
    return effect_->getParameter(effect_, index);
}

void Plugin::setParameter(int32_t index, float value) {
    if (effect_ == nullptr) throw HostError(path_.string() + ": the instance is already closed");
    effect_->setParameter(effect_, index, value);
}

std::string Plugin::parameterName(int32_t index) {
    return text(vst2::effGetParamName, index);
}
std::string Plugin::parameterLabel(int32_t index) {
    return text(vst2::effGetParamLabel, index);
}
std::string Plugin::parameterDisplay(int32_t index) {
    return text(vst2::effGetParamDisplay, index);
}

void Plugin::processFloat(float* const* inputs, float* const* outputs, int32_t frames) {
    if (effect_ == nullptr || effect_->processReplacing == nullptr)
        throw HostError(path_.string() + ": no 32-bit processing");
    effect_->processReplacing(effect_, const_cast<float**>(inputs), const_cast<float**>(outputs), frames);
}

void Plugin::processDouble(double* const* inputs, double* const* outputs, int32_t frames) {
    if (effect_ == nullptr || effect_->processDoubleReplacing == nullptr ||
        !hasFlag(vst2::effFlagsCanDoubleReplacing))
        throw HostError(path_.string() + ": no 64-bit processing");
    effect_->processDoubleReplacing(effect_, const_cast<double**>(inputs), const_cast<double**>(outputs),
                                    frames);
}

namespace {

// Channel pointers for one call, checked against the plug-in's channel counts.
template <typename Sample>
void gatherChannels(const std::filesystem::path& path, std::vector<std::vector<Sample>>& channels,
                    int32_t needed, std::vector<Sample*>& pointers, size_t& frames) {
    if (channels.size() < size_t(std::max(needed, 0)))
        throw HostError(path.string() + ": the plug-in needs " + std::to_string(needed) + " channels, got " +
                        std::to_string(channels.size()));
    pointers.resize(channels.size());
    for (size_t c = 0; c < channels.size(); ++c) {
        if (frames == SIZE_MAX) frames = channels[c].size();
        if (channels[c].size() != frames) throw HostError(path.string() + ": channels differ in length");
        pointers[c] = channels[c].data();
    }
}

} // namespace

void Plugin::processFloat(std::vector<std::vector<float>>& inputs, std::vector<std::vector<float>>& outputs) {
    size_t frames = SIZE_MAX;
    gatherChannels(path_, inputs, numInputs(), floatInputs_, frames);
    gatherChannels(path_, outputs, numOutputs(), floatOutputs_, frames);
    processFloat(floatInputs_.data(), floatOutputs_.data(), frames == SIZE_MAX ? 0 : int32_t(frames));
}

void Plugin::processDouble(std::vector<std::vector<double>>& inputs,
                           std::vector<std::vector<double>>& outputs) {
    size_t frames = SIZE_MAX;
    gatherChannels(path_, inputs, numInputs(), doubleInputs_, frames);
    gatherChannels(path_, outputs, numOutputs(), doubleOutputs_, frames);
    processDouble(doubleInputs_.data(), doubleOutputs_.data(), frames == SIZE_MAX ? 0 : int32_t(frames));
}

std::vector<uint8_t> Plugin::chunk(bool preset) {
    void* data = nullptr;
    const intptr_t size = dispatcher(vst2::effGetChunk, preset ? 1 : 0, 0, &data);
    if (size <= 0 || data == nullptr) return {};
    const auto* bytes = static_cast<const uint8_t*>(data);
    return {bytes, bytes + size};
}

intptr_t Plugin::setChunk(const std::vector<uint8_t>& bytes, bool preset) {
    // The plug-in may keep reading while it restores, so it gets a buffer of its own.
    std::vector<uint8_t> copy = bytes;
    return dispatcher(vst2::effSetChunk, preset ? 1 : 0, intptr_t(copy.size()), copy.data());
}

std::optional<vst2::ERect> Plugin::editorRect() {
    vst2::ERect* rect = nullptr;
    dispatcher(vst2::effEditGetRect, 0, 0, &rect);
    if (rect == nullptr) return std::nullopt;
    return *rect;
}

bool Plugin::openEditor(void* parent) {
    return dispatcher(vst2::effEditOpen, 0, 0, parent) != 0;
}
void Plugin::editorIdle() {
    dispatcher(vst2::effEditIdle);
}
void Plugin::closeEditor() {
    dispatcher(vst2::effEditClose);
}

std::unique_ptr<Plugin> openPlugin(const std::filesystem::path& path, double sampleRate, int32_t blockSize) {
    HostOptions options;
    options.sampleRate = sampleRate;
    options.blockSize = blockSize;
    auto plugin = std::make_unique<Plugin>(path, options);
    plugin->open();
    plugin->setSampleRate(sampleRate);
    plugin->setBlockSize(blockSize);
    return plugin;
}

} // namespace hosting
