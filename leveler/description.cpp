#include "leveler/leveler.h"

namespace {

struct SliderRow {
    int32_t number;
    const char* name;
    double defaultValue, minimum, maximum, step;
};

// Registration order is the host's parameter order.
constexpr SliderRow kSliderTable[] = {
    {1, "Input Trim [dB]", 0, -20, 20, 0.5},
    {2, "Target LUFS", -23, -46, 0, 1},
    {3, "Noise Floor [dBfs]", -40, -80, 0, 1},
    {4, "Gate Speed", 500, 20, 2000, 10},
    {5, "Automatic Trim", 1, 0, 1, 1},
    {6, "HPF", 0, 0, 1, 0.1},
    {7, "Automatic Threshold", 1, 0, 1, 1},
    {10, "Fast Dynamics Max Attenuation", 10, 0, 20, 1},
    {11, "Fast Dynamics Max Gain", 0, 0, 20, 1},
    {12, "Med Dynamics Max Attenuation", 10, 0, 20, 1},
    {13, "Med Dynamics Max Gain", 10, 0, 20, 1},
    {14, "Slow Dynamics Max Attenuation", 20, 0, 20, 1},
    {15, "Slow Dynamics Max Gain", 20, 0, 20, 1},
    {20, "Output Trim [dB]", 0, -3, 3, 0.1},
};

constexpr bool NumbersMatch() {
    if (std::size(kSliderTable) != std::size(leveler::kSliderNumbers)) return false;
    for (size_t i = 0; i < std::size(kSliderTable); ++i)
        if (kSliderTable[i].number != leveler::kSliderNumbers[i]) return false;
    return true;
}
static_assert(NumbersMatch(), "the slider copies follow the registered sliders");

constexpr const char* kImageFileNames[] = {
    "vandrel_gfx\\knob_sm.png",
    "vandrel_gfx\\bg.png",
    "vandrel_gfx\\conf.png",
};

// The panel's texts, addressed by number from 10000 on.
constexpr int32_t kFirstLiteralId = 10000;
constexpr const char* kLiterals[] = {
    "build 170407",
    "Courier New",
    "%.2f",
    "Arial",
    " dB",
    "Input Trim",
    " LUFS",
    "Target",
    " dBfs",
    "Noise Floor",
    " ms",
    "Gate Speed",
    " dB",
    "Output Trim",
    "Automatic Trim",
    "Automatic Threshold",
    "Config",
    " dB",
    "Fast Attenuation",
    " dB",
    "Fast Gain",
    " dB",
    "Med Attenuation",
    " dB",
    "Med Gain",
    " dB",
    "Slow Attenuation",
    " dB",
    "Slow Gain",
    "",
    "HPF Amount",
    "%.1f",
    " LUFS",
    "%.1f",
    " LU",
    "INVALID",
    "INVALID",
    "Arial",
    "Arial",
    "EXCESSIVE GATING!",
    "Arial",
};
static_assert(std::size(kLiterals) == 41);

} // namespace

TParvexEffect::TParvexEffect() {
    EffectName = "Vandrel 2";
    ProductString = "Vandrel2";
    VendorString = "Quellory";
    ProgramName = "Vandrel2";
    Version = 1000;
    UniqueId = 0x514D5637; // 'QMV7'
    ChannelCount = 2;
    for (const SliderRow& row : kSliderTable)
        AddSlider(row.number, nullptr, row.defaultValue, row.minimum, row.maximum, row.step, "", "", "",
                  row.name);
}

void TParvexEffect::RegisterTables() {
    for (int32_t i = 0; i < int32_t(std::size(kImageFileNames)); ++i) SetFileName(i, kImageFileNames[i]);
    for (int32_t i = 0; i < int32_t(std::size(kLiterals)); ++i) SetString(kFirstLiteralId + i, kLiterals[i]);
}
