#include "render/delivery.h"

#include "render/json.h"
#include "render/progress.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace render {

namespace {

double tenths(double value) {
    return std::round(value * 10.0) / 10.0;
}

std::string figure(double value, const char* format = "%.1f") {
    if (!std::isfinite(value)) return value < 0 ? "-inf" : "none";
    return formatted(value, format);
}

std::string limits(const VerdictCheck& check) {
    if (!std::isfinite(check.lowest)) return "at most " + figure(check.highest) + " " + check.unit;
    return figure(check.lowest) + " to " + figure(check.highest) + " " + check.unit;
}

} // namespace

bool withinTolerance(double integrated, double target, double tolerance) {
    return std::isfinite(integrated) && std::abs(tenths(integrated) - target) <= tolerance + 1e-9;
}

bool atOrUnder(double truePeak, double ceiling) {
    return !(tenths(truePeak) > ceiling + 1e-9);
}

std::string presetListing() {
    std::string text;
    char line[256];
    std::snprintf(line, sizeof line, "%-10s %11s %10s %10s  %s\n", "Preset", "Target", "True peak",
                  "Tolerance", "For");
    text += line;
    for (const leveler::DeliveryPreset& preset : leveler::kDeliveryPresets) {
        std::snprintf(line, sizeof line, "%-10s %6.0f LUFS %5.0f dBTP %5s%.1f LU  %s\n", preset.name,
                      preset.targetLufs, preset.truePeakDbtp, "±", preset.toleranceLu, preset.use);
        text += line;
    }
    return text;
}

std::string presetNames() {
    std::string names;
    for (const leveler::DeliveryPreset& preset : leveler::kDeliveryPresets)
        names += (names.empty() ? "" : ", ") + std::string(preset.name);
    return names;
}

bool Verdict::pass() const {
    for (const VerdictCheck& check : checks)
        if (!check.pass) return false;
    return true;
}

std::optional<Verdict> verdictFor(const RenderOptions& options, const RenderResult& result) {
    if (options.preset == nullptr) return std::nullopt;
    const leveler::DeliveryPreset& preset = *options.preset;
    Verdict verdict{preset.name, {}};
    const double integrated = result.output.integrated;
    verdict.checks.push_back({"integrated loudness", "LUFS", preset.targetLufs - preset.toleranceLu,
                              preset.targetLufs + preset.toleranceLu, integrated,
                              withinTolerance(integrated, preset.targetLufs, preset.toleranceLu)});
    verdict.checks.push_back({"true peak", "dBTP", -std::numeric_limits<double>::infinity(),
                              preset.truePeakDbtp, result.output.truePeak,
                              atOrUnder(result.output.truePeak, preset.truePeakDbtp)});
    return verdict;
}

std::string verdictText(const Verdict& verdict) {
    std::string text = "Verdict:     " + verdict.preset + ": " + (verdict.pass() ? "pass" : "FAIL") + "\n";
    char line[160];
    for (const VerdictCheck& check : verdict.checks) {
        std::snprintf(line, sizeof line, "             %-20s %7s %-5s %-26s %s\n", check.name.c_str(),
                      figure(check.measured).c_str(), check.unit.c_str(), ("limit " + limits(check)).c_str(),
                      check.pass ? "pass" : "FAIL");
        text += line;
    }
    return text;
}

std::string verdictJson(const std::optional<Verdict>& verdict) {
    if (!verdict) return "null";
    std::string checks;
    for (const VerdictCheck& check : verdict->checks)
        checks += std::string(checks.empty() ? "" : ", ") + "{\"check\": " + jsonString(check.name) +
                  ", \"unit\": " + jsonString(check.unit) + ", \"minimum\": " + jsonNumber(check.lowest) +
                  ", \"maximum\": " + jsonNumber(check.highest) +
                  ", \"measured\": " + jsonNumber(check.measured) +
                  ", \"pass\": " + (check.pass ? "true" : "false") + "}";
    return "{\"preset\": " + jsonString(verdict->preset) +
           ", \"pass\": " + (verdict->pass() ? "true" : "false") + ", \"checks\": [" + checks + "]}";
}

std::string verdictWarning(const Verdict& verdict) {
    std::string text = "the output fails the " + verdict.preset + " preset:";
    bool first = true;
    for (const VerdictCheck& check : verdict.checks) {
        if (check.pass) continue;
        text += std::string(first ? " " : "; ") + check.name + " " + figure(check.measured) + " " +
                check.unit + ", limit " + limits(check);
        first = false;
    }
    return text;
}

} // namespace render
