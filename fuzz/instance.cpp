#include "fuzz/instance.h"

#include "host/quiet_host.h"
#include "leveler/leveler.h"
#include "shell/callbacks.h"
#include "shell/vest.h"

#include <cstdlib>

namespace fuzz {

LevelerInstance::LevelerInstance() {
    auto* effect = new TParvexEffect;
    CVeST* wrapper = CVeST::Create(effect, MakeVeSTCallbacks(), host::QuietHost, 1,
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
