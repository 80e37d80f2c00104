// The effect's sliders as a plug-in format shows them to its host: one parameter per registered slider, in
// registration order, with its value, range, step and texts. Every format reads and sets parameters here,
// so that a value a host sets takes the same way into the effect whatever the format.
#pragma once

#include "runtime/parvex.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace format {

// The slider behind parameter `index`, or null outside the effect's table.
const TSlider* SliderAt(const TParvex& effect, int32_t index);
// The slider's current value (0 for a slider number beyond SliderValues).
double SliderValue(const TParvex& effect, const TSlider& slider);

// A slider value as a host speaking 0 to 1 sees it: its share of the slider's range, within 0 to 1 (the
// panel and the automatic controls may take a slider beyond its range; the host is told of the range's end).
double NormalisedValue(const TSlider& slider, double value);
double NormalisedParameter(const TParvex& effect, int32_t index);

// A value in the slider's own units, as a host sets it: limited to the slider's range, rounded to the
// nearest whole multiple of the step counted from 0 (halves up), and applied only when it moved by at least
// 0.00001 from the current value: stored (and in the slider's bound variable), then the effect's DoSlider
// runs once. True when applied. Non-finite values and indices outside the table change nothing. Real-time
// safe: DoSlider is the effect's own.
bool SetParameter(TParvex& effect, int32_t index, double value);
// The same from a normalised value (limited to 0 to 1). A value that normalises to what the host reads now,
// at the 32-bit precision hosts speak, is no change: hosts echo the edits they are told of, and the panel's
// finer steps and wider ranges must stay as the user set them.
bool SetNormalisedParameter(TParvex& effect, int32_t index, double normalised);

// Texts, copied whole up to `capacity` bytes (terminator included). The display text is the value with
// "%.2f", or for a slider with value names the name its position selects by truncation.
void CopyParameterName(const TParvex& effect, int32_t index, char* text, size_t capacity);
void CopyParameterLabel(const TParvex& effect, int32_t index, char* text, size_t capacity);
void CopyParameterDisplay(const TParvex& effect, int32_t index, char* text, size_t capacity);

// Copies a text into a host buffer of `capacity` bytes, always terminated; nothing for a null buffer.
void CopyBounded(char* destination, const std::string& text, size_t capacity);

} // namespace format
