// Block staging between a host's channel buffers and the effect: DoBlock once per host block (also for a
// block of no frames), then the frames. Allocates nothing and takes no lock: audio thread only.
#pragma once

#include "runtime/parvex.h"

#include <algorithm>
#include <cstdint>

namespace format {

// `channels` is the host's channel count; inputs and outputs may be the same buffers.
template <typename Sample>
void ProcessBlock(TParvex& effect, int32_t channels, const Sample* const* inputs, Sample* const* outputs,
                  int32_t frames) {
    double* slots = effect.SampleSlots;
    effect.DoBlock();
    if (channels == 2) {
        // Stereo goes to the effect in runs, through buffers on the stack.
        constexpr int32_t kRunFrames = 256;
        double left[kRunFrames], right[kRunFrames];
        for (int32_t start = 0; start < frames; start += kRunFrames) {
            const int32_t count = std::min(kRunFrames, frames - start);
            for (int32_t j = 0; j < count; ++j) {
                left[j] = static_cast<double>(inputs[0][start + j]);
                right[j] = static_cast<double>(inputs[1][start + j]);
            }
            effect.DoSamples(left, right, count);
            for (int32_t j = 0; j < count; ++j) {
                outputs[0][start + j] = static_cast<Sample>(left[j]);
                outputs[1][start + j] = static_cast<Sample>(right[j]);
            }
        }
        return;
    }
    const int32_t count = std::min(channels, CParvexSamples::kSlotCount);
    for (int32_t j = 0; j < frames; ++j) {
        for (int32_t c = count - 1; c >= 0; --c) slots[c] = static_cast<double>(inputs[c][j]);
        effect.DoSample();
        for (int32_t c = count - 1; c >= 0; --c) outputs[c][j] = static_cast<Sample>(slots[c]);
    }
}

} // namespace format
