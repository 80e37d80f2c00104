#include "fuzz/instance.h"

#include "shell/instance.h"
#include "shell/vest.h"
#include "testkit/quiet_host.h"

#include <cstdlib>

namespace fuzz {

LevelerInstance::LevelerInstance() {
    CVeST* wrapper = NewLevelerInstance(testkit::QuietHost);
    if (!wrapper) std::abort();
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
