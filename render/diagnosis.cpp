#include "render/diagnosis.h"

#include "render/progress.h"

#include <algorithm>
#include <cmath>

namespace render {

namespace {

// A loudness measurement counts nothing under this, and so nothing under it is programme.
constexpr double kAbsoluteGateLufs = -70.0;
// The shortest programme a loudness measurement takes: one 400 ms block.
constexpr double kShortestMeasuredSeconds = 0.4;
// The output this much under the input, where the input is under the target, is the gate's doing: the
// leveler's stages only cut what is over the target.
constexpr double kGatedBelowInputDb = 6.0;
// Half of a stretch's programme with its peaks under the floor: the floor closed the gate there.
constexpr double kMostlyUnderFloor = 0.5;
// A quarter of the whole programme under the floor holds the leveler back enough to miss the target.
constexpr double kMuchUnderFloor = 0.25;
// A floor this far under the quieter peaks of the material (their 10th percentile) lets them through;
// the material's peaks are those within kMaterialRangeDb of its loud ones (their 90th percentile), which
// leaves out the pauses a short-term window spans.
constexpr double kFloorMarginDb = 3.0;
constexpr double kMaterialRangeDb = 30.0;

double decibels(double linear) {
    return linear > 0.0 ? 20.0 * std::log10(linear) : -INFINITY;
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    return values[size_t(fraction * double(values.size() - 1) + 0.5)];
}

// The render's figures on the short-term grid: each hop's input and output short-term loudness, the
// input's largest sample in it, and the plug-in's noise floor then.
class Timeline {
public:
    explicit Timeline(const RenderResult& result)
        : result_(result), hopFrames_(std::max<int64_t>(1, result.sampleRate / 10)),
          hops_(std::min(
              {result.inputShortTerm.size(), result.outputShortTerm.size(), result.inputHopPeaks.size()})) {}

    size_t hops() const { return hops_; }
    double hopSeconds() const { return double(hopFrames_) / result_.sampleRate; }
    // Programme: the 3 s window before the hop's end is counted by a loudness measurement.
    bool programme(size_t hop) const { return result_.inputShortTerm[hop] > kAbsoluteGateLufs; }
    double input(size_t hop) const { return result_.inputShortTerm[hop]; }
    double output(size_t hop) const { return result_.outputShortTerm[hop]; }
    double peakDbfs(size_t hop) const { return decibels(result_.inputHopPeaks[hop]); }
    // The floor the plug-in held by the end of the hop.
    std::optional<double> floorAt(size_t hop) const {
        std::optional<double> floor = result_.noiseFloor;
        for (const auto& [frame, value] : result_.trace.noiseFloor) {
            if (frame > int64_t(hop + 1) * hopFrames_) break;
            floor = value;
        }
        return floor;
    }
    // A window's middle, where what it measures lies on average.
    double windowMiddle(size_t hop) const {
        return std::max(0.0, double(hop + 1) * hopSeconds() - 0.5 * kShortTermSeconds);
    }
    // The hop that holds the middle of the window ending at `hop`.
    size_t middleHop(size_t hop) const {
        return size_t(std::max<int64_t>(0, int64_t(hop) -
                                               int64_t(std::lround(0.5 * kShortTermSeconds / hopSeconds()))));
    }

    static constexpr double kShortTermSeconds = 3.0;

private:
    const RenderResult& result_;
    const int64_t hopFrames_;
    const size_t hops_;
};

// A floor that lets the quieter peaks of some hops' material through, not below the lowest the plug-in
// takes.
double floorUnder(std::vector<double> peaksDbfs, const RenderResult& result) {
    const double loud = percentile(peaksDbfs, 0.90);
    std::erase_if(peaksDbfs, [&](double peak) { return peak < loud - kMaterialRangeDb; });
    const double floor = std::floor(percentile(peaksDbfs, 0.10) - kFloorMarginDb);
    return std::max(result.noiseFloorLowest.value_or(-INFINITY), floor);
}

std::string setFloor(double floor) {
    return "--set \"Noise Floor=" + formatted(floor, "%.0f") + "\"";
}

// Where the automatic threshold raised the floor before `until` (seconds), from the first rise to the last.
struct Rise {
    double from = 0, to = 0, highest = -INFINITY;
};
std::optional<Rise> floorRise(const RenderResult& result, double until) {
    std::optional<Rise> rise;
    double previous = result.noiseFloor.value_or(INFINITY);
    for (const auto& [frame, value] : result.trace.noiseFloor) {
        const double at = double(frame) / result.sampleRate;
        if (at > until) break;
        if (value > previous) {
            if (!rise) rise = Rise{at, at, value};
            rise->to = at;
            rise->highest = std::max(rise->highest, value);
        }
        previous = value;
    }
    return rise;
}

// One stretch of hops (ends included) explained.
std::string stretchWarning(const RenderResult& result, const Timeline& timeline, size_t first, size_t last) {
    const double target = *result.target;
    std::vector<double> peaks, gains;
    size_t underFloor = 0, measured = 0;
    double highestFloor = -INFINITY;
    for (size_t hop = first; hop <= last; ++hop) {
        gains.push_back(timeline.output(hop) - timeline.input(hop));
        const size_t middle = timeline.middleHop(hop);
        const double peak = timeline.peakDbfs(middle);
        if (peak <= result.inputFloorDbfs) continue; // a pause in the programme says nothing of the gate
        peaks.push_back(peak);
        ++measured;
        if (const auto floor = timeline.floorAt(middle)) {
            underFloor += peak < *floor;
            highestFloor = std::max(highestFloor, *floor);
        }
    }
    const double from = timeline.windowMiddle(first), to = timeline.windowMiddle(last);
    double outputSum = 0, inputSum = 0;
    for (size_t hop = first; hop <= last; ++hop) {
        outputSum += std::pow(10.0, timeline.output(hop) / 10.0);
        inputSum += std::pow(10.0, timeline.input(hop) / 10.0);
    }
    const double hops = double(last - first + 1);
    const double outputLufs = 10.0 * std::log10(outputSum / hops),
                 inputLufs = 10.0 * std::log10(inputSum / hops);
    std::string text =
        "from " + formatClock(from) + " to " + formatClock(to) + " (" + formatted(to - from, "%.0f") +
        " s) the output stays more than " + formatted(kQuietStretchLu, "%.0f") + " LU under the target, " +
        (outputLufs > kAbsoluteGateLufs ? "at " + formatted(outputLufs, "%.1f") + " LUFS" : "silent") +
        " where the input is at " + formatted(inputLufs, "%.1f") + " LUFS";
    // The stages cut no further than to the target: an output further under the input is the gate's.
    const bool gated = percentile(gains, 0.5) < -std::max(0.0, inputLufs - target) - kGatedBelowInputDb;
    const double peak = percentile(peaks, 0.5);
    const bool floorClosed = measured > 0 && double(underFloor) >= kMostlyUnderFloor * double(measured);
    if (floorClosed) {
        const auto rise = floorRise(result, to);
        if (result.trace.automaticThreshold && rise && result.noiseFloor && highestFloor > *result.noiseFloor)
            return text + ": the automatic threshold raised the noise floor from " +
                   formatted(*result.noiseFloor, "%.0f") + " to " + formatted(rise->highest, "%.0f") +
                   " dBFS during steady material at " + formatClock(rise->from) + " to " +
                   formatClock(rise->to) + ", and the input here peaks under it (at " +
                   formatted(peak, "%.0f") +
                   " dBFS), so the gate closed; set --set \"Automatic Threshold=off\" to keep the floor "
                   "where it was "
                   "set";
        return text + ": the input here peaks at " + formatted(peak, "%.0f") +
               " dBFS, under the Noise Floor of " + formatted(highestFloor, "%.0f") +
               " dBFS, where the gate closes and holds the leveler; set a lower " + "floor, e.g. " +
               setFloor(floorUnder(peaks, result));
    }
    if (gated)
        return text + ": the gate was closed (the output is " + formatted(-percentile(gains, 0.5), "%.0f") +
               " dB under the input) though the input here peaks at " + formatted(peak, "%.0f") +
               " dBFS; a lower floor keeps it open, e.g. " + setFloor(floorUnder(peaks, result));
    return text + ": the leveler raised it by " + formatted(outputLufs - inputLufs, "%.1f") +
           " dB only (its gain climbs over seconds and stops at its stages' largest); \"Input Trim\" adds "
           "gain "
           "from the start";
}

} // namespace

std::string targetMissCause(const RenderResult& result) {
    const double seconds = double(result.frames) / result.sampleRate;
    if (result.inputMeasured) {
        if (!(result.input.samplePeak > result.inputFloorDbfs))
            return "the input is silent: no sample above its quantization floor (" +
                   formatted(result.inputFloorDbfs, "%.0f") + " dBFS)";
        if (!std::isfinite(result.input.integrated) && seconds < kShortestMeasuredSeconds)
            return "the input lasts " +
                   (result.frames < result.sampleRate
                        ? std::to_string(result.frames) + (result.frames == 1 ? " sample" : " samples")
                        : formatted(seconds, "%.2f") + " s") +
                   ", less than the " + formatted(kShortestMeasuredSeconds, "%.1f") +
                   " s a loudness measurement needs";
        if (!std::isfinite(result.input.integrated))
            return "the input stays under " + formatted(kAbsoluteGateLufs, "%.0f") +
                   " LUFS, below which a loudness measurement counts nothing";
        if (result.noiseFloor && result.input.truePeak < *result.noiseFloor) {
            const double suggested = std::max(result.noiseFloorLowest.value_or(-INFINITY),
                                              std::floor(result.input.truePeak - 10.0));
            return "the input's peaks (" + formatted(result.input.truePeak, "%.1f") +
                   " dBTP) stay below the Noise Floor (" + formatted(*result.noiseFloor, "%.0f") +
                   " dBFS), so the gate never opens; set a lower floor, e.g. " + setFloor(suggested);
        }
        // The gate held the leveler back over much of the programme.
        const Timeline timeline(result);
        std::vector<double> peaks;
        size_t underFloor = 0;
        for (size_t hop = 0; hop < timeline.hops(); ++hop) {
            const double peak = timeline.peakDbfs(hop);
            if (!timeline.programme(hop) || !(peak > result.inputFloorDbfs)) continue;
            peaks.push_back(peak);
            if (const auto floor = timeline.floorAt(hop)) underFloor += peak < *floor;
        }
        const double share = peaks.empty() ? 0.0 : double(underFloor) / double(peaks.size());
        if (result.target && result.output.integrated < *result.target && share >= kMuchUnderFloor)
            return "the input's peaks sit under the Noise Floor for " + formatted(100.0 * share, "%.0f") +
                   " % of the programme, where the gate holds the leveler back; set a lower floor, e.g. " +
                   setFloor(floorUnder(peaks, result));
    }
    if (!std::isfinite(result.output.integrated)) return "the output is silent";
    if (result.ceiling && result.ceiling->largestReduction > 3.0)
        return "the true-peak ceiling lowered peaks by up to " +
               formatted(result.ceiling->largestReduction, "%.1f") +
               " dB: the programme's peaks leave no room for this target";
    return "";
}

std::vector<std::string> quietStretchWarnings(const RenderResult& result) {
    std::vector<std::string> warnings;
    if (!result.target || !result.inputMeasured) return warnings;
    const Timeline timeline(result);
    const double under = *result.target - kQuietStretchLu;
    const auto longest = size_t(std::ceil(kQuietStretchSeconds / timeline.hopSeconds()));
    for (size_t hop = 0; hop < timeline.hops();) {
        if (!(timeline.programme(hop) && timeline.output(hop) < under)) {
            ++hop;
            continue;
        }
        const size_t first = hop;
        while (hop < timeline.hops() && timeline.programme(hop) && timeline.output(hop) < under) ++hop;
        if (hop - first > longest) warnings.push_back(stretchWarning(result, timeline, first, hop - 1));
    }
    return warnings;
}

std::vector<std::string> sampleWarnings(const RenderResult& result) {
    std::vector<std::string> warnings;
    const auto setToZero = [](int64_t count, const char* one, const char* many) {
        return count == 1 ? std::string("1 sample was ") + one + " and was set to 0"
                          : std::to_string(count) + " samples were " + many + " and were set to 0";
    };
    if (result.inputNotNumbers > 0)
        warnings.push_back(setToZero(result.inputNotNumbers, "not a number", "not numbers"));
    if (result.inputInfinite > 0) warnings.push_back(setToZero(result.inputInfinite, "infinite", "infinite"));
    if (result.pluginNonFinite > 0)
        warnings.push_back("the plug-in's output: " +
                           setToZero(result.pluginNonFinite, "not a finite number", "not finite numbers"));
    return warnings;
}

} // namespace render
