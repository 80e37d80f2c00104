#include "render/report.h"

#include "render/delivery.h"
#include "render/diagnosis.h"
#include "render/json.h"
#include "render/passes.h"
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
    return formatted(value, format);
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

std::vector<std::string> warningsFor(const RenderOptions& options, const RenderResult& result) {
    std::vector<std::string> warnings = result.warnings;
    for (auto& warning : sampleWarnings(result)) warnings.push_back(std::move(warning));
    if (result.clippedSamples && *result.clippedSamples > 0)
        warnings.push_back(counted(*result.clippedSamples, "sample") +
                           " clipped at full scale in the output (" + result.outputFormat + ")" +
                           (result.ceiling ? "" : "; the true-peak ceiling is off"));
    if (result.decoded && result.ceiling && !atOrUnder(result.output.truePeak, result.ceiling->dbtp))
        warnings.push_back("the written file decoded again peaks at " + number(result.output.truePeak) +
                           " dBTP, over the ceiling of " + number(result.ceiling->dbtp, "%.1f") +
                           " dBTP, after " + std::to_string(result.decoded->renders) + " renders");
    if (!result.target || result.frames == 0) return warnings;
    const auto verdict = verdictFor(options, result);
    const auto missed = deviation(result);
    const bool loudnessFails =
        verdict ? !verdict->checks.front().pass : !(missed && std::abs(*missed) <= kTargetTolerance);
    if (verdict && !verdict->pass()) {
        std::string text = verdictWarning(*verdict);
        if (const std::string cause = targetMissCause(result); loudnessFails && !cause.empty())
            text += ": " + cause;
        warnings.push_back(text);
    } else if (!verdict && loudnessFails) {
        std::string text =
            missed ? "the output is at " + number(result.output.integrated, "%.1f") + " LUFS, " +
                         number(std::abs(*missed), "%.1f") + " LU " + (*missed > 0 ? "above" : "below") +
                         " the target of " + number(*result.target, "%.1f") + " LUFS"
                   : "the output has no loudness; the target was " + number(*result.target, "%.1f") + " LUFS";
        if (const std::string cause = targetMissCause(result); !cause.empty()) text += ": " + cause;
        warnings.push_back(text);
    }
    // Met on the whole, the target may still have been missed for long stretches.
    if (!loudnessFails)
        for (std::string& warning : quietStretchWarnings(result)) warnings.push_back(std::move(warning));
    return warnings;
}

std::string textReport(const RenderOptions& options, const RenderResult& result) {
    std::string text;
    text += "Input:   " + options.input.string() + "\n";
    text += "Output:  " + options.output.string() + "\n";
    text += "Plug-in: " + result.pluginName + " (" + options.setup.plugin.string() + "), latency " +
            counted(result.latency, "sample") + (result.latencyCompensated ? ", compensated" : "") + "\n\n";
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
    text += passesText(result);
    if (const auto verdict = verdictFor(options, result)) text += verdictText(*verdict);
    if (!result.metadataCarried.empty()) text += "Metadata:    " + joined(result.metadataCarried) + "\n";
    if (!result.metadataDropped.empty()) text += "Not carried: " + joined(result.metadataDropped) + "\n";
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
           ",\n  \"target\": " + target + ",\n  \"verdict\": " + verdictJson(verdictFor(options, result)) +
           ",\n  " + passesJson(result) + ",\n  \"warnings\": " + jsonStrings(warningsFor(options, result)) +
           ",\n  \"notes\": " + jsonStrings(result.notes) +
           ",\n  \"sample_rate\": " + std::to_string(result.sampleRate) +
           ",\n  \"channels\": " + std::to_string(result.channels) +
           ",\n  \"frames\": " + std::to_string(result.frames) +
           ",\n  \"duration_seconds\": " + jsonNumber(audio) + "\n}\n";
}

} // namespace render
