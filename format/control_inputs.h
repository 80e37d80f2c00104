// Control inputs that the host keeps and the plug-in only reads (LV2's control ports): one value per
// parameter, which the host may change before any block. A value is applied, through SetParameter, only
// when it differs from the value last seen on that input, never because it differs from the effect's
// value: the effect moves some sliders itself (the automatic trim and threshold), and a control the host
// left alone must not pull them back at every block.
#pragma once

#include "runtime/parvex.h"
#include "runtime/shared_value.h"

#include <array>
#include <cstdint>
#include <limits>
#include <span>

namespace format {

class TControlInputs {
public:
    static constexpr int32_t kMaxControls = 64;

    // Applies every value that changed since it was last seen; answers how many reached the effect. Audio
    // thread (allocates nothing); a value not a number is taken as seen and applied never.
    int32_t Apply(TParvex& effect, std::span<const float> values);

    // The values last seen, in parameter order (NaN where none yet), for saving beside the effect's state:
    // restored together, a host's session comes back with the controls as it left them counting as seen.
    void LastSeen(std::span<float> values) const;
    void RestoreLastSeen(std::span<const float> values);
    // Nothing seen yet: the next Apply takes every value as the host's.
    void Forget();

private:
    static constexpr float kUnseen = std::numeric_limits<float>::quiet_NaN();
    // Written by the audio thread, read by a host saving state at the same time.
    std::array<Shared<float>, kMaxControls> lastSeen_ = MakeUnseen();
    static std::array<Shared<float>, kMaxControls> MakeUnseen();
};

} // namespace format
