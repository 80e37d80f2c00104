// One leveler instance inside the calling process, driven through its effect record exactly as a host
// drives the loaded module, for the fuzz targets (which cannot follow a dlopen'd module's coverage).
#pragma once

#include "vst2abi/vst2.h"

#include <cstdint>

namespace fuzz {

class LevelerInstance {
public:
    // Created and opened; not yet resumed.
    LevelerInstance();
    ~LevelerInstance();
    LevelerInstance(const LevelerInstance&) = delete;
    LevelerInstance& operator=(const LevelerInstance&) = delete;

    vst2::AEffect* Record() const { return record_; }
    intptr_t Dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);
    int32_t ParameterCount() const { return record_->numParams; }

    void SetSampleRate(float rate) { Dispatch(vst2::effSetSampleRate, 0, 0, nullptr, rate); }
    void SetBlockSize(int32_t frames) { Dispatch(vst2::effSetBlockSize, 0, frames); }
    void Resume();
    void Suspend();
    bool Resumed() const { return resumed_; }

private:
    vst2::AEffect* record_ = nullptr;
    bool resumed_ = false;
};

} // namespace fuzz
