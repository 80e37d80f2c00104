#include "runtime/parvex.h"

#include "runtime/fft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

int32_t ToIndex(double value) {
    if (std::isnan(value)) return 0;
    const double nudged = value >= 0 ? value + 0.0001 : value - 0.0001;
    if (nudged >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (nudged <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(nudged);
}

double& CParvexMemory::MemoryAt(int32_t index) {
    const int32_t pageNumber = index >> 16;
    auto& page = Pages[pageNumber];
    if (!page) page = std::make_unique<double[]>(kPageSize); // value-initialised: zeros
    return page[static_cast<uint32_t>(index) & 0xFFFFu];
}

double* CParvexMemory::FindPage(int32_t index) const {
    const auto found = Pages.find(index >> 16);
    return found == Pages.end() ? nullptr : found->second.get();
}

void CParvexMemory::ClearPages() {
    for (auto& [number, page] : Pages) std::fill_n(page.get(), kPageSize, 0.0);
}

TParvex::TParvex() {
    fft::BuildTables();
    ResetRuntime();
}

TParvex::~TParvex() = default;

void TParvex::ResetRuntime() {
    Pages.clear();
    Strings.clear();
    LastRedrawTick.store(0, std::memory_order_relaxed);
}

void TParvex::DoReset() {
    ResetRuntime();
}

void TParvex::DoResume() {
    BlockFrames = BlockFramesFor(HostBlockSize(Host));
    FramesIntoBlock = 0;
    DoInit();
    DoSlider();
}

int32_t TParvex::DoInitOnce() {
    const int32_t count = InitCount;
    if (count == 0) DoInit();
    InitCount = count + 1;
    return InitCount;
}

void TParvex::DoIdle() {
    const double rate = FrameRate;
    if (!(rate > 0)) return;
    const uint32_t since = static_cast<uint32_t>(LastRedrawTick.load(std::memory_order_relaxed));
    const auto elapsed = static_cast<int32_t>(static_cast<uint32_t>(Clock->MillisecondTick()) - since);
    if (static_cast<double>(elapsed) > 1000.0 / rate) {
        if (Host) Host->InvalidateEditor();
        LastRedrawTick.store(Clock->MillisecondTick(), std::memory_order_relaxed);
    }
}

namespace {
constexpr float kChunkSentinel = -1000.0f;
}

int32_t TParvex::GetStateChunk(void** data, bool /*isPreset*/) {
    TFile& state = StateHandle();
    if (state.mode == TFile::kWriting && !state.name.empty()) FlushFile(state);
    state.name.clear();
    state.position = 0;
    state.values.clear();
    state.mode = TFile::kWriting;
    state.values.push_back(kChunkSentinel);
    state.position = 1;
    DoSerialize();
    if (state.values.size() <= 1) return 0;
    *data = state.values.data();
    return static_cast<int32_t>(state.values.size() * sizeof(float));
}

int32_t TParvex::SetStateChunk(const void* data, int32_t byteCount, bool /*isPreset*/) {
    // Copy first: the host may hand back the very storage that GetStateChunk lent it.
    const size_t count = (byteCount > 0 && data) ? static_cast<size_t>(byteCount) / sizeof(float) : 0;
    std::vector<float> incoming(count);
    if (count) std::memcpy(incoming.data(), data, count * sizeof(float));

    TFile& state = StateHandle();
    CloseFile(state);
    state.mode = TFile::kReading;
    state.values = std::move(incoming);
    if (state.values.empty()) return byteCount;
    const float first = state.values[0];
    state.position = 1;
    if (!(first == kChunkSentinel)) return byteCount;
    DoInitOnce();
    DoSerialize();
    DoSlider();
    return byteCount;
}
