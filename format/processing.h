// Block staging between a host's channel buffers and the effect: DoBlock once every BlockFrames frames of
// the stream, wherever the host's calls begin and end, then the frames. Allocates nothing and takes no lock:
// audio thread only.
#pragma once

#include "runtime/parvex.h"

#include <algorithm>
#include <cstdint>

namespace format {

// Frames `start` to `start + frames` of the host's buffers through the effect.
template <typename Sample>
void ProcessFrames(TParvex& effect, int32_t channels, const Sample* const* inputs, Sample* const* outputs,
                   int32_t start, int32_t frames) {
    if (channels == 2) {
        // Stereo goes to the effect in runs, through buffers on the stack.
        constexpr int32_t kRunFrames = 256;
        double left[kRunFrames], right[kRunFrames];
        for (const int32_t end = start + frames; start < end; start += kRunFrames) {
            const int32_t count = std::min(kRunFrames, end - start);
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
    double* slots = effect.SampleSlots;
    const int32_t count = std::min(channels, CParvexSamples::kSlotCount);
    for (int32_t j = start; j < start + frames; ++j) {
        for (int32_t c = count - 1; c >= 0; --c) slots[c] = static_cast<double>(inputs[c][j]);
        effect.DoSample();
        for (int32_t c = count - 1; c >= 0; --c) outputs[c][j] = static_cast<Sample>(slots[c]);
    }
}

// `channels` is the host's channel count; inputs and outputs may be the same buffers. The block section
// runs before the first frame of each block, so a host that always sends whole blocks has it run at the
// start of every call, and a call of no frames runs nothing.
template <typename Sample>
void ProcessBlock(TParvex& effect, int32_t channels, const Sample* const* inputs, Sample* const* outputs,
                  int32_t frames) {
    const int32_t blockFrames = effect.BlockFrames;
    int32_t intoBlock = effect.FramesIntoBlock;
    for (int32_t start = 0; start < frames;) {
        if (intoBlock >= blockFrames) intoBlock = 0;
        if (intoBlock == 0) effect.DoBlock();
        const int32_t count = std::min(frames - start, blockFrames - intoBlock);
        ProcessFrames(effect, channels, inputs, outputs, start, count);
        start += count;
        intoBlock += count;
    }
    effect.FramesIntoBlock = intoBlock;
}

} // namespace format
