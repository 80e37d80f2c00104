#include "format/control_inputs.h"

#include "format/parameters.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace format {

std::array<Shared<float>, TControlInputs::kMaxControls> TControlInputs::MakeUnseen() {
    std::array<Shared<float>, kMaxControls> values;
    for (Shared<float>& value : values) value = kUnseen;
    return values;
}

int32_t TControlInputs::Apply(TParvex& effect, std::span<const float> values) {
    const size_t count = std::min(values.size(), lastSeen_.size());
    int32_t applied = 0;
    for (size_t index = 0; index < count; ++index) {
        const float value = values[index];
        // Compared bit for bit: NaN equals itself, and -0 is a change from 0 that SetParameter then ignores.
        if (std::bit_cast<uint32_t>(value) == std::bit_cast<uint32_t>(lastSeen_[index].Load())) continue;
        lastSeen_[index] = value;
        if (SetParameter(effect, static_cast<int32_t>(index), static_cast<double>(value))) ++applied;
    }
    return applied;
}

void TControlInputs::LastSeen(std::span<float> values) const {
    const size_t count = std::min(values.size(), lastSeen_.size());
    for (size_t index = 0; index < count; ++index) values[index] = lastSeen_[index].Load();
}

void TControlInputs::RestoreLastSeen(std::span<const float> values) {
    const size_t count = std::min(values.size(), lastSeen_.size());
    for (size_t index = 0; index < count; ++index) lastSeen_[index] = values[index];
}

void TControlInputs::Forget() {
    for (Shared<float>& value : lastSeen_) value = kUnseen;
}

} // namespace format
