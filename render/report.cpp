#include "render/report.h"

#include "render/json.h"
#include "render/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace render {

namespace {

// "-" for a figure not measured.
std::string number(double value, const char* format = "%.2f") {
    if (std::isnan(value)) return "-";
    if (!std::isfinite(value)) return value < 0 ? "-inf" : "inf";
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string joined(const std::vector<std::string>& texts) {
    std::string out;
    for (const auto& text : texts) out += (out.empty() ? "" : ", ") + text;
    return out;
}

std::optional<double> deviation(const RenderResult& result) {
    if (!result.target || !std::isfinite(result.output.integrated)) return std::nullopt;
    return result.output.integrated - *result.target;
}

// What can be seen to keep the output from its target.
std::string missCause(const RenderResult& result) {
    if (result.inputMeasured && !std::isfinite(result.input.integrated)) return "the input is silent";
    if (result.inputMeasured && result.noiseFloor && result.input.truePeak < *result.noiseFloor) {
        const double suggested =
            std::max(result.noiseFloorLowest.value_or(-INFINITY), std::floor(result.input.truePeak - 10.0));
        return "the input's peaks (" + number(result.input.truePeak, "%.1f") +
               " dBTP) stay below the Noise Floor (" + number(*result.noiseFloor, "%.0f") +
               " dBFS), so the gate never opens; set a lower floor, e.g. --set \"Noise Floor=" +
               number(suggested, "%.0f") + "\"";
    }
    if (!std::isfinite(result.output.integrated)) return "the output is silent";
    if (result.ceiling && result.ceiling->largestReduction > 3.0)
        return "the true-peak ceiling lowered peaks by up to " +
               number(result.ceiling->largestReduction, "%.1f") +
               " dB: the programme's peaks leave no room for this target";
    return "";
}

std::string jsonLoudness(const std::filesystem::path& file, const mastering::LoudnessSummary& loudness) {
    return "{\"file\": " + jsonString(file.string()) +
           ", \"integrated_lufs\": " + jsonNumber(loudness.integrated) +
           ", \"loudness_range_lu\": " + jsonNumber(loudness.range) +
           ", \"true_peak_dbtp\": " + jsonNumber(loudness.truePeak) +
           ", \"short_term_p10_lufs\": " + jsonNumber(loudness.shortTermLow) +
           ", \"short_term_p90_lufs\": " + jsonNumber(loudness.shortTermHigh) +
           ", \"short_term_spread_lu\": " + jsonNumber(loudness.shortTermSpread) + "}";
}

} // namespace

std::vector<std::string> warningsFor(const RenderResult& result) {
    std::vector<std::string> warnings = result.warnings;
    if (result.clippedSamples && *result.clippedSamples > 0)
        warnings.push_back(std::to_string(*result.clippedSamples) +
                           " samples clipped at full scale in the output (" + result.outputFormat + ")" +
                           (result.ceiling ? "" : "; the true-peak ceiling is off"));
    if (!result.target || result.frames == 0) return warnings;
    const auto missed = deviation(result);
    if (missed && std::abs(*missed) <= kTargetTolerance) return warnings;
    std::string text =
        missed ? "the output is at " + number(result.output.integrated, "%.1f") + " LUFS, " +
                     number(std::abs(*missed), "%.1f") + " LU " + (*missed > 0 ? "above" : "below") +
                     " the target of " + number(*result.target, "%.1f") + " LUFS"
               : "the output has no loudness; the target was " + number(*result.target, "%.1f") + " LUFS";
    if (const std::string cause = missCause(result); !cause.empty()) text += ": " + cause;
    warnings.push_back(text);
    return warnings;
}

std::string textReport(const RenderOptions& options, const RenderResult& result) {
    std::string text;
    text += "Input:   " + options.input.string() + "\n";
    text += "Output:  " + options.output.string() + "\n";
    text += "Plug-in: " + result.pluginName + " (" + options.setup.plugin.string() + "), latency " +
            std::to_string(result.latency) + " samples" + (result.latencyCompensated ? ", compensated" : "") +
            "\n\n";
    char line[160];
    std::snprintf(line, sizeof line, "%-22s %14s %14s\n", "", "Input", "Output");
    text += line;
    auto row = [&](const char* name, double in, double out, const char* unit) {
        std::snprintf(line, sizeof line, "%-22s %9s %-4s %9s %-4s\n", name, number(in, "%.1f").c_str(), unit,
                      number(out, "%.1f").c_str(), unit);
        text += line;
    };
    row("Integrated loudness", result.input.integrated, result.output.integrated, "LUFS");
    row("Loudness range", result.input.range, result.output.range, "LU");
    row("Maximum true peak", result.input.truePeak, result.output.truePeak, "dBTP");
    row("Short-term spread", result.input.shortTermSpread, result.output.shortTermSpread, "LU");
    text += "(spread: 10th to 90th percentile of short-term loudness)\n\n";
    text += "Written as:  " + result.outputFormat + (result.dithered ? ", TPDF dither" : "") + "\n";
    if (!result.formatNote.empty()) text += "             (" + result.formatNote + ")\n";
    if (result.ceiling) {
        const auto& ceiling = *result.ceiling;
        text += "Ceiling:     " + number(ceiling.dbtp, "%.1f") + " dBTP, " +
                (ceiling.largestReduction > 0
                     ? "peaks lowered by up to " + number(ceiling.largestReduction, "%.1f") + " dB (" +
                           number(ceiling.limitedSeconds, "%.1f") + " s in all)"
                     : "nothing to lower") +
                "\n";
    } else {
        text += "Ceiling:     off\n";
    }
    if (result.target) {
        const auto missed = deviation(result);
        text += "Target:      " + number(*result.target, "%.1f") + " LUFS" +
                (missed ? ", output " + number(*missed, "%+.1f") + " LU from it" : "") + "\n";
    }
    if (!result.metadataCarried.empty()) text += "Metadata:    " + joined(result.metadataCarried) + "\n";
    if (!result.metadataDropped.empty())
        text +=
            "Not carried: " + joined(result.metadataDropped) + " (no place for it in the output format)\n";
    text += "\n";
    const double audio = double(result.frames) / result.sampleRate;
    std::snprintf(line, sizeof line, "%s of audio rendered in %.2f s, %.0fx real time\n",
                  formatClock(audio).c_str(), result.seconds,
                  result.seconds > 0 ? audio / result.seconds : 0.0);
    text += line;
    return text;
}

std::string jsonReport(const RenderOptions& options, const RenderResult& result) {
    const double audio = double(result.frames) / result.sampleRate;
    std::string ceiling = "null";
    if (result.ceiling)
        ceiling = "{\"true_peak_dbtp\": " + jsonNumber(result.ceiling->dbtp) +
                  ", \"latency_samples\": " + std::to_string(result.ceiling->latency) +
                  ", \"largest_reduction_db\": " + jsonNumber(result.ceiling->largestReduction) +
                  ", \"limited_seconds\": " + jsonNumber(result.ceiling->limitedSeconds) + "}";
    std::string target = "null";
    if (result.target) {
        const auto missed = deviation(result);
        target = "{\"lufs\": " + jsonNumber(*result.target) +
                 ", \"set_on_plugin\": " + (result.targetFromPlugin ? "true" : "false") +
                 ", \"deviation_lu\": " + (missed ? jsonNumber(*missed) : "null") + "}";
    }
    std::string output = jsonLoudness(options.output, result.output);
    output.pop_back();
    output += ", \"format\": " + jsonString(result.outputFormat) +
              ", \"format_note\": " + (result.formatNote.empty() ? "null" : jsonString(result.formatNote)) +
              ", \"dither\": " + (result.dithered ? "true" : "false") + ", \"clipped_samples\": " +
              (result.clippedSamples ? std::to_string(*result.clippedSamples) : "null") +
              ", \"metadata_carried\": " + jsonStrings(result.metadataCarried) +
              ", \"metadata_dropped\": " + jsonStrings(result.metadataDropped) + "}";
    return "{\n  \"input\": " + jsonLoudness(options.input, result.input) + ",\n  \"output\": " + output +
           ",\n  \"plugin\": {\"path\": " + jsonString(options.setup.plugin.string()) +
           ", \"name\": " + jsonString(result.pluginName) +
           ", \"latency_samples\": " + std::to_string(result.latency) +
           ", \"latency_compensated\": " + (result.latencyCompensated ? "true" : "false") +
           ", \"double_precision\": " + (options.doublePrecision ? "true" : "false") +
           ", \"block_size\": " + std::to_string(options.setup.block) + "}" + ",\n  \"ceiling\": " + ceiling +
           ",\n  \"target\": " + target + ",\n  \"warnings\": " + jsonStrings(warningsFor(result)) +
           ",\n  \"notes\": " + jsonStrings(result.notes) +
           ",\n  \"sample_rate\": " + std::to_string(result.sampleRate) +
           ",\n  \"channels\": " + std::to_string(result.channels) +
           ",\n  \"frames\": " + std::to_string(result.frames) +
           ",\n  \"duration_seconds\": " + jsonNumber(audio) + "\n}\n";
}

} // namespace render
