#include "fuzz/instance.h"

#include "leveler/leveler.h"
#include "shell/callbacks.h"
#include "shell/vest.h"

#include <cstdlib>

namespace fuzz {

namespace {

// A host with no time information that accepts whatever the plug-in reports.
intptr_t QuietHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    switch (opcode) {
    case vst2::audioMasterVersion:
        return 2400;
    case vst2::audioMasterUpdateDisplay:
        return 1;
    default:
        return 0;
    }
}

} // namespace

LevelerInstance::LevelerInstance() {
    auto* effect = new TParvexEffect;
    CVeST* wrapper = CVeST::Create(effect, MakeVeSTCallbacks(), QuietHost, 1,
                                   static_cast<int32_t>(effect->Sliders.size()));
    if (!wrapper) std::abort();
    effect->Host = wrapper;
    record_ = wrapper->getAeffect();
    Dispatch(vst2::effOpen);
}

LevelerInstance::~LevelerInstance() {
    if (resumed_) Suspend();
    Dispatch(vst2::effClose);
}

intptr_t LevelerInstance::Dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    return record_->dispatcher(record_, opcode, index, value, ptr, opt);
}

void LevelerInstance::Resume() {
    Dispatch(vst2::effMainsChanged, 0, 1);
    resumed_ = true;
}

void LevelerInstance::Suspend() {
    Dispatch(vst2::effMainsChanged, 0, 0);
    resumed_ = false;
}

} // namespace fuzz
