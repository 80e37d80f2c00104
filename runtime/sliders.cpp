#include "runtime/parvex.h"

#include <dirent.h>
#include <sys/stat.h>

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
    DIR* listing = opendir(folder.c_str());
    if (!listing) return;
    const bool hasSeparator = !folder.empty() && folder.back() == '/';
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        struct stat status;
        const std::string full = hasSeparator ? folder + name : folder + "/" + name;
        if (stat(full.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) continue;
        slider.valueNames.push_back(name);
    }
    closedir(listing);
}
