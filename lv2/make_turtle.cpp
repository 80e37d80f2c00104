// Writes the bundle's Turtle files from the parameter table, the readings, the delivery presets and the port
// layout: the manifest, the plug-in's description, the UI's and the presets. Run at build time; its arguments
// are the folder to write into and the project's version (major.minor.micro).
#include "leveler/delivery_presets.h"
#include "leveler/parameter_table.h"
#include "leveler/readings.h"
#include "lv2/ports.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

using namespace lv2port;

namespace {

constexpr const char* kPrefixes = R"(@prefix atom: <http://lv2plug.in/ns/ext/atom#> .
@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .
@prefix doap: <http://usefulinc.com/ns/doap#> .
@prefix foaf: <http://xmlns.com/foaf/0.1/> .
@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix opts: <http://lv2plug.in/ns/ext/options#> .
@prefix param: <http://lv2plug.in/ns/ext/parameters#> .
@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .
@prefix pset: <http://lv2plug.in/ns/ext/presets#> .
@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .
@prefix state: <http://lv2plug.in/ns/ext/state#> .
@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .
@prefix units: <http://lv2plug.in/ns/extensions/units#> .
@prefix urid: <http://lv2plug.in/ns/ext/urid#> .

)";

// A Turtle decimal: always with a point, so that it reads as a number with a fraction.
std::string Decimal(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", value);
    std::string decimal = text;
    if (decimal.find_first_of(".e") == std::string::npos) decimal += ".0";
    return decimal;
}

std::string Quoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// Units the units extension has, and the loudness units it lacks, described once in the plug-in's file.
struct UnitRow {
    std::string_view unit;
    const char* resource;
    const char* label;
};
constexpr UnitRow kUnits[] = {
    {"dB", "units:db", nullptr},
    {"ms", "units:ms", nullptr},
    {"LUFS", "<urn:quellory:vandrel2#lufs>", "loudness units relative to full scale"},
    {"LU", "<urn:quellory:vandrel2#lu>", "loudness units"},
    {"dBFS", "<urn:quellory:vandrel2#dbfs>", "decibels relative to full scale"},
};

const UnitRow* UnitOf(std::string_view unit) {
    for (const UnitRow& row : kUnits)
        if (row.unit == unit) return &row;
    return nullptr;
}

struct ControlPort {
    uint32_t index;
    const char* symbol;
    const char* name;
    const char* unit;
    bool output, toggle;
    double minimum, maximum, step; // step 0: none
    const double* defaultValue;
};

void WriteControl(std::ostream& out, const ControlPort& port) {
    out << "    [\n        a lv2:" << (port.output ? "OutputPort" : "InputPort") << " , lv2:ControlPort ;\n"
        << "        lv2:index " << port.index << " ;\n"
        << "        lv2:symbol " << Quoted(port.symbol) << " ;\n"
        << "        lv2:name " << Quoted(port.name) << " ;\n";
    if (port.defaultValue) out << "        lv2:default " << Decimal(*port.defaultValue) << " ;\n";
    out << "        lv2:minimum " << Decimal(port.minimum) << " ;\n"
        << "        lv2:maximum " << Decimal(port.maximum);
    if (port.toggle) {
        out << " ;\n        lv2:portProperty lv2:toggled";
    } else if (port.step > 0) {
        const bool whole = port.step == std::floor(port.step) && port.minimum == std::floor(port.minimum);
        if (whole) out << " ;\n        lv2:portProperty lv2:integer";
        const double steps = std::round((port.maximum - port.minimum) / port.step) + 1;
        out << " ;\n        pprops:rangeSteps " << static_cast<long>(steps);
    }
    if (const UnitRow* unit = UnitOf(port.unit)) out << " ;\n        units:unit " << unit->resource;
    out << "\n    ]";
}

std::string PluginDescription(int minor, int micro) {
    std::ostringstream out;
    out << kPrefixes;
    for (const UnitRow& unit : kUnits)
        if (unit.label)
            out << unit.resource << "\n    a units:Unit ;\n    rdfs:label " << Quoted(unit.label)
                << " ;\n    units:symbol " << Quoted(unit.unit) << " ;\n    units:render "
                << Quoted(std::string("%f ") + std::string(unit.unit)) << " .\n\n";
    out << "<" << kPluginUri << ">\n"
        << "    a lv2:Plugin , lv2:DynamicsPlugin , doap:Project ;\n"
        << "    doap:name \"Vandrel 2\" ;\n"
        << "    doap:maintainer [\n        foaf:name \"Quellory\"\n    ] ;\n"
        << "    rdfs:comment \"A stereo loudness leveler: input trim, a peak-driven gate, loudness weighting "
           "and "
           "three look-ahead gain stages that ride the programme toward a target loudness.\" ;\n"
        << "    lv2:minorVersion " << minor << " ;\n"
        << "    lv2:microVersion " << micro
        << " ;\n"
        // Nothing in run allocates, locks or calls the system (tests/test_realtime.cpp).
        << "    lv2:optionalFeature lv2:hardRTCapable , urid:map , opts:options ;\n"
        << "    opts:supportedOption bufsz:nominalBlockLength , bufsz:maxBlockLength ;\n"
        << "    lv2:extensionData state:interface ;\n"
        << "    ui:ui <" << kUiUri << "> ;\n"
        << "    lv2:port\n";
    uint32_t index = 0;
    for (const AudioPort& audio : kAudioPorts) {
        out << "    [\n        a lv2:" << (audio.output ? "OutputPort" : "InputPort")
            << " , lv2:AudioPort ;\n"
            << "        lv2:index " << index++ << " ;\n"
            << "        lv2:symbol " << Quoted(audio.symbol) << " ;\n"
            << "        lv2:name " << Quoted(audio.name) << "\n    ] ,\n";
    }
    for (const leveler::ParameterRow& row : leveler::kParameters) {
        WriteControl(out, {index++, row.symbol, row.name, row.unit, false, row.toggle, row.registered.minimum,
                           row.registered.maximum, row.CommonStep(), &row.defaultValue});
        out << " ,\n";
    }
    for (const leveler::ReadingRow& row : leveler::kReadings) {
        WriteControl(out, {index++, row.symbol, row.name, row.unit, true, row.toggle, row.minimum,
                           row.maximum, 0, nullptr});
        out << " ,\n";
    }
    out << "    [\n        a lv2:OutputPort , lv2:ControlPort ;\n"
        << "        lv2:index " << index++ << " ;\n"
        << "        lv2:symbol \"latency\" ;\n"
        << "        lv2:name \"Latency\" ;\n"
        << "        lv2:designation lv2:latency ;\n"
        << "        lv2:minimum 0.0 ;\n"
        << "        lv2:maximum 1048576.0 ;\n"
        << "        lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
        << "        units:unit units:frame\n    ] .\n";
    if (index != kPortCount) throw std::logic_error("the port layout and the description disagree");
    return out.str();
}

std::string UiDescription() {
    std::ostringstream out;
    out << kPrefixes;
    out << "<" << kUiUri << ">\n"
        << "    a ui:X11UI ;\n"
        << "    lv2:requiredFeature ui:idleInterface ;\n"
        << "    lv2:optionalFeature ui:parent , ui:resize , ui:touch , urid:map , opts:options ;\n"
        << "    opts:supportedOption param:sampleRate ;\n"
        << "    lv2:extensionData ui:idleInterface , ui:showInterface ;\n"
        << "    ui:portNotification";
    bool first = true;
    for (const leveler::ReadingRow& row : leveler::kReadings) {
        out << (first ? "\n" : " ,\n") << "    [\n        ui:plugin <" << kPluginUri << "> ;\n"
            << "        lv2:symbol " << Quoted(row.symbol) << " ;\n"
            << "        ui:protocol ui:floatProtocol\n    ]";
        first = false;
    }
    out << " .\n";
    return out.str();
}

// A preset's subject: the plug-in's URI with the preset's name.
std::string PresetUri(const leveler::DeliveryPreset& preset) {
    return std::string(kPluginUri) + ":preset:" + preset.name;
}

// A preset's value for a parameter: the target, a setting it makes, or the default.
double PresetValue(const leveler::DeliveryPreset& preset, const leveler::ParameterRow& row) {
    if (std::string_view(row.symbol) == "target_lufs") return preset.targetLufs;
    for (const leveler::PresetSetting& setting : preset.settings)
        if (setting.symbol != nullptr && std::string_view(setting.symbol) == row.symbol) return setting.value;
    return row.defaultValue;
}

// Every control input of each preset, so that applying one leaves nothing of the settings before it.
std::string Presets() {
    std::ostringstream out;
    out << kPrefixes;
    for (const leveler::DeliveryPreset& preset : leveler::kDeliveryPresets) {
        out << "<" << PresetUri(preset) << ">\n"
            << "    a pset:Preset ;\n"
            << "    lv2:appliesTo <" << kPluginUri << "> ;\n"
            << "    rdfs:label " << Quoted(preset.label) << " ;\n"
            << "    rdfs:comment "
            << Quoted(std::string(preset.use) + ": integrated loudness " + Decimal(preset.targetLufs) +
                      " LUFS within " + Decimal(preset.toleranceLu) + " LU, true peak at most " +
                      Decimal(preset.truePeakDbtp) + " dBTP.")
            << " ;\n"
            << "    lv2:port";
        bool first = true;
        for (const leveler::ParameterRow& row : leveler::kParameters) {
            out << (first ? "" : " ,") << " [\n        lv2:symbol " << Quoted(row.symbol)
                << " ;\n        pset:value " << Decimal(PresetValue(preset, row)) << "\n    ]";
            first = false;
        }
        out << " .\n\n";
    }
    return out.str();
}

std::string Manifest() {
    std::ostringstream out;
    out << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
        << "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
        << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
        << "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n\n"
        << "<" << kPluginUri << ">\n    a lv2:Plugin ;\n    lv2:binary <" << kDspBinary
        << "> ;\n    rdfs:seeAlso <vandrel2.ttl> .\n\n"
        << "<" << kUiUri << ">\n    a ui:X11UI ;\n    ui:binary <" << kUiBinary
        << "> ;\n    rdfs:seeAlso <vandrel2_ui.ttl> .\n";
    for (const leveler::DeliveryPreset& preset : leveler::kDeliveryPresets)
        out << "\n<" << PresetUri(preset) << ">\n    a pset:Preset ;\n    lv2:appliesTo <" << kPluginUri
            << "> ;\n    rdfs:seeAlso <presets.ttl> .\n";
    return out.str();
}

// Written only when the content changed, so that the build does not redo what depends on it.
void Write(const std::string& path, const std::string& content) {
    {
        std::ifstream existing(path, std::ios::binary);
        std::ostringstream old;
        old << existing.rdbuf();
        if (existing && old.str() == content) return;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    if (!file) throw std::runtime_error("cannot write " + path);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_turtle FOLDER VERSION\n";
        return 2;
    }
    int major = 0, minor = 0, micro = 0;
    if (std::sscanf(argv[2], "%d.%d.%d", &major, &minor, &micro) != 3) {
        std::cerr << "make_turtle: version " << argv[2] << " is not major.minor.micro\n";
        return 2;
    }
    try {
        const std::string folder = argv[1];
        Write(folder + "/manifest.ttl", Manifest());
        Write(folder + "/vandrel2.ttl", PluginDescription(minor, micro));
        Write(folder + "/vandrel2_ui.ttl", UiDescription());
        Write(folder + "/presets.ttl", Presets());
    } catch (const std::exception& error) {
        std::cerr << "make_turtle: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
