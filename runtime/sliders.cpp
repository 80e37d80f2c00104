#include "runtime/parvex.h"

int32_t CParvexDescription::AddSlider(int32_t number, SharedDouble* boundVariable, double defaultValue,
                                      double minimum, double maximum, double step, const std::string& path,
                                      const std::string& extraText, const std::string& label,
                                      const std::string& name) {
    if (number >= 0 && number < kSliderCount) SliderValues[number] = defaultValue;
    TSlider slider;
    slider.number = number;
    slider.boundVariable = boundVariable;
    slider.defaultValue = defaultValue;
    slider.minimum = minimum;
    slider.maximum = maximum;
    slider.step = step;
    slider.path = path;
    slider.extraText = extraText;
    slider.label = label;
    slider.name = name;
    if (!path.empty()) {
        ListDataFiles(CParvexFiles::PluginFilePath(path), slider);
        if (slider.valueNames.empty()) slider.valueNames.push_back("(No Data Files)");
        slider.minimum = 0;
        slider.maximum = static_cast<double>(slider.valueNames.size()) - 1;
        slider.defaultValue = 0;
        slider.step = 0.5;
    }
    Sliders.push_back(std::move(slider));
    return static_cast<int32_t>(Sliders.size()) - 1;
}

void CParvexDescription::ListDataFiles(const std::string& folder, TSlider& slider) {
    for (std::string& name : FileNamesIn(folder))
        if (!name.empty() && name[0] != '.') slider.valueNames.push_back(std::move(name));
}
