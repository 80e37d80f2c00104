#include "host/report.h"

#include "host/progress.h"

#include <cmath>
#include <cstdio>

namespace host {

namespace {

std::string number(double value, const char* format = "%.2f") {
    if (!std::isfinite(value)) return value < 0 ? "-inf" : "inf";
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string jsonNumber(double value) {
    return std::isfinite(value) ? number(value, "%.3f") : "null";
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string jsonLoudness(const std::filesystem::path& file, const LoudnessSummary& loudness) {
    return "{\"file\": " + jsonString(file.string()) +
           ", \"integrated_lufs\": " + jsonNumber(loudness.integrated) +
           ", \"loudness_range_lu\": " + jsonNumber(loudness.range) +
           ", \"true_peak_dbtp\": " + jsonNumber(loudness.truePeak) +
           ", \"short_term_p10_lufs\": " + jsonNumber(loudness.shortTermLow) +
           ", \"short_term_p90_lufs\": " + jsonNumber(loudness.shortTermHigh) +
           ", \"short_term_spread_lu\": " + jsonNumber(loudness.shortTermSpread) + "}";
}

} // namespace

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
    const double audio = double(result.frames) / result.sampleRate;
    std::snprintf(line, sizeof line, "%s of audio rendered in %.2f s, %.0fx real time\n",
                  formatClock(audio).c_str(), result.seconds,
                  result.seconds > 0 ? audio / result.seconds : 0.0);
    text += line;
    return text;
}

std::string jsonReport(const RenderOptions& options, const RenderResult& result) {
    const double audio = double(result.frames) / result.sampleRate;
    return "{\n  \"input\": " + jsonLoudness(options.input, result.input) +
           ",\n  \"output\": " + jsonLoudness(options.output, result.output) +
           ",\n  \"plugin\": {\"path\": " + jsonString(options.setup.plugin.string()) +
           ", \"name\": " + jsonString(result.pluginName) +
           ", \"latency_samples\": " + std::to_string(result.latency) +
           ", \"latency_compensated\": " + (result.latencyCompensated ? "true" : "false") +
           ", \"double_precision\": " + (options.doublePrecision ? "true" : "false") +
           ", \"block_size\": " + std::to_string(options.setup.block) + "}" +
           ",\n  \"sample_rate\": " + std::to_string(result.sampleRate) +
           ",\n  \"channels\": " + std::to_string(result.channels) +
           ",\n  \"frames\": " + std::to_string(result.frames) +
           ",\n  \"duration_seconds\": " + jsonNumber(audio) +
           ",\n  \"render_seconds\": " + jsonNumber(result.seconds) +
           ",\n  \"realtime_factor\": " + jsonNumber(result.seconds > 0 ? audio / result.seconds : 0.0) +
           "\n}\n";
}

} // namespace host
