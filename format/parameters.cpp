#include "format/parameters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace format {

const TSlider* SliderAt(const TParvex& effect, int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= effect.Sliders.size()) return nullptr;
    return &effect.Sliders[static_cast<size_t>(index)];
}

double SliderValue(const TParvex& effect, const TSlider& slider) {
    return slider.number >= 0 && slider.number < CParvexSliders::kSliderCount
               ? effect.SliderValues[slider.number].Load()
               : 0.0;
}

double NormalisedValue(const TSlider& slider, double value) {
    const double range = slider.maximum - slider.minimum;
    if (range == 0) return 0;
    const double share = (value - slider.minimum) / range;
    return std::isnan(share) ? 0 : std::clamp(share, 0.0, 1.0);
}

double NormalisedParameter(const TParvex& effect, int32_t index) {
    const TSlider* slider = SliderAt(effect, index);
    return slider ? NormalisedValue(*slider, SliderValue(effect, *slider)) : 0;
}

bool SetParameter(TParvex& effect, int32_t index, double value) {
    const TSlider* slider = SliderAt(effect, index);
    if (!slider || !std::isfinite(value)) return false;
    if (slider->number < 0 || slider->number >= CParvexSliders::kSliderCount) return false;
    const double lowest = std::min(slider->minimum, slider->maximum);
    const double highest = std::max(slider->minimum, slider->maximum);
    value = std::min(std::max(value, lowest), highest);
    double stepped = value;
    if (slider->step != 0) {
        const double q = (value + slider->step * 0.5) / slider->step;
        stepped = std::floor(q) * slider->step;
    }
    SharedDouble& current = effect.SliderValues[slider->number];
    const double change = stepped - current.Load();
    if (change > -0.00001 && change < 0.00001) return false;
    current = stepped;
    if (slider->boundVariable) *slider->boundVariable = stepped;
    effect.DoSlider();
    return true;
}

bool SetNormalisedParameter(TParvex& effect, int32_t index, double normalised) {
    const TSlider* slider = SliderAt(effect, index);
    if (!slider || !std::isfinite(normalised)) return false;
    // Beyond 0 to 1 a host asks for a setting the slider does not have (1e30 would make a trim of 4e30 dB).
    normalised = std::clamp(normalised, 0.0, 1.0);
    if (static_cast<float>(normalised) == static_cast<float>(NormalisedParameter(effect, index)))
        return false;
    return SetParameter(effect, index, slider->minimum + normalised * (slider->maximum - slider->minimum));
}

void CopyBounded(char* destination, const std::string& text, size_t capacity) {
    if (!destination || capacity == 0) return;
    const size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(destination, text.data(), length);
    destination[length] = 0;
}

void CopyParameterName(const TParvex& effect, int32_t index, char* text, size_t capacity) {
    if (const TSlider* slider = SliderAt(effect, index)) CopyBounded(text, slider->name, capacity);
}

void CopyParameterLabel(const TParvex& effect, int32_t index, char* text, size_t capacity) {
    if (const TSlider* slider = SliderAt(effect, index)) CopyBounded(text, slider->label, capacity);
}

void CopyParameterDisplay(const TParvex& effect, int32_t index, char* text, size_t capacity) {
    const TSlider* slider = SliderAt(effect, index);
    if (!slider) return;
    const double value = SliderValue(effect, *slider);
    const size_t names = slider->valueNames.size();
    if (names == 0) {
        char number[64];
        std::snprintf(number, sizeof number, "%.2f", value);
        CopyBounded(text, number, capacity);
        return;
    }
    // Chosen by truncation: with three names on 0..1, [0, 0.5) shows the first, [0.5, 1) the second. A
    // position that is not a number or does not fit an integer shows the first.
    const double position =
        (value - slider->minimum) * static_cast<double>(names - 1) / (slider->maximum - slider->minimum);
    size_t chosen = 0;
    if (position > 0 && position < 2147483648.0)
        chosen = position >= static_cast<double>(names - 1) ? names - 1 : static_cast<size_t>(position);
    CopyBounded(text, slider->valueNames[chosen], capacity);
}

} // namespace format
