// A render done again when the first one misses: a preset's tolerance, corrected by a static gain, and a
// codec's output decoded and measured, whose true peak came out over the ceiling, with the ceiling lowered.
#include "render/passes.h"

#include "render/audio_file.h"
#include "render/delivery.h"
#include "render/json.h"
#include "render/progress.h"

#include <chrono>
#include <cmath>
#include <sndfile.h>

namespace render {

namespace {

// Renders at most this many times, for the loudness and a codec's overshoot together.
constexpr int kMostRenders = 5;
// Corrections of the loudness: a gain the ceiling takes back in part is raised once or twice more by what
// is still missing, while the output lies in the outer half of the tolerance.
constexpr int kMostCorrections = 3;
// Lowered past a codec's overshoot by this much more: the overshoot moves by up to 0.2 dB as the ceiling
// changes (Vorbis, on speech).
constexpr double kOvershootMargin = 0.25; // dB

bool decodedDiffers(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return true;
    default:
        return false;
    }
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The written file as a player decodes it, measured: the output's figures become the decoded file's.
void measureDecoded(Pass& pass, mastering::MonoCount mono) {
    AudioReader reader(pass.file->path());
    mastering::LoudnessMeter meter(reader.channels(), reader.sampleRate(), mono);
    constexpr int64_t kChunk = 65536;
    std::vector<float> chunk(size_t(kChunk * reader.channels()));
    for (int64_t got; (got = reader.read(chunk.data(), kChunk)) > 0;) meter.add(chunk.data(), got);
    pass.result.output = meter.summary();
    pass.result.outputShortTerm = meter.shortTerm();
}

} // namespace

RenderResult renderFile(const RenderOptions& options, const std::atomic<bool>& stop) {
    const auto start = std::chrono::steady_clock::now();
    const auto mono = options.dualMono ? mastering::MonoCount::kDualMono : mastering::MonoCount::kOneChannel;
    PassAdjustments adjustments;
    Pass pass = renderPass(options, adjustments, stop);
    std::optional<DecodedCheck> decoded;
    if (decodedDiffers(pass.format)) {
        const auto measuring = std::chrono::steady_clock::now();
        measureDecoded(pass, mono);
        decoded = DecodedCheck{pass.result.output.truePeak, options.ceiling.value_or(0.0), 1,
                               secondsSince(measuring)};
    }
    std::optional<double> missedBy;
    int corrections = 0;
    // A render played with the editor open is the one the user heard and ended: it is not done again.
    const int mostRenders = options.editor ? 1 : kMostRenders;
    for (int renders = 1; renders < mostRenders; ++renders) {
        const RenderResult& result = pass.result;
        const double integrated = result.output.integrated;
        bool forLoudness = false, forCodec = false;
        if (options.preset && result.target && std::isfinite(integrated) && corrections < kMostCorrections &&
            !withinTolerance(integrated, *result.target,
                             options.preset->toleranceLu * (corrections == 0 ? 1.0 : 0.5))) {
            if (!missedBy) missedBy = integrated - *result.target;
            adjustments.correctionDb += *result.target - integrated;
            ++corrections;
            forLoudness = true;
        }
        if (decoded && options.ceiling && result.output.truePeak > *options.ceiling) {
            adjustments.ceilingLowerDb += result.output.truePeak - *options.ceiling + kOvershootMargin;
            forCodec = true;
        }
        if (!forLoudness && !forCodec) break;
        const auto rendering = std::chrono::steady_clock::now();
        pass = renderPass(options, adjustments, stop);
        if (!decoded) continue;
        // A render done again for the codec's sake alone is the check's cost.
        if (!forLoudness) decoded->seconds += secondsSince(rendering);
        const auto measuring = std::chrono::steady_clock::now();
        measureDecoded(pass, mono);
        decoded->seconds += secondsSince(measuring);
        decoded->renders = renders + 1;
        decoded->ceilingUsed = *options.ceiling - adjustments.ceilingLowerDb;
    }
    if (stop.load()) throw Interrupted();
    pass.file->commit();
    RenderResult result = std::move(pass.result);
    if (result.correction && missedBy) {
        result.correction->missedByLu = *missedBy;
        result.correction->steps = corrections;
    }
    if (result.ceiling && options.ceiling) result.ceiling->dbtp = *options.ceiling;
    result.decoded = decoded;
    result.seconds = secondsSince(start);
    return result;
}

std::string passesText(const RenderResult& result) {
    std::string text;
    if (result.channels == 1) {
        text += "Mono:        ";
        if (result.dualMono)
            text += "counted twice, as played on two loudspeakers (--dual-mono)\n";
        else
            text += "counted once, as BS.1770 counts one channel" +
                    (result.monoPluginTarget ? "; the plug-in, fed it on both inputs, aimed at " +
                                                   formatted(*result.monoPluginTarget, "%.0f") + " LUFS"
                                             : std::string()) +
                    "\n";
    }
    if (result.correction) {
        const LoudnessCorrection& correction = *result.correction;
        text += "Corrected:   the first render missed the target by " +
                formatted(correction.missedByLu, "%+.1f") + " LU; rendered again (" +
                (correction.steps > 1
                     ? "in " + std::to_string(correction.steps) + " steps, as the ceiling took part back"
                     : "once") +
                ") with ";
        if (correction.trimTo)
            text += "Output Trim " + formatted(*correction.trimFrom, "%+.1f") + " -> " +
                    formatted(*correction.trimTo, "%+.1f") + " dB" +
                    (correction.gainDb != 0.0 ? " and " : "");
        if (correction.gainDb != 0.0 || !correction.trimTo)
            text += formatted(correction.gainDb, "%+.2f") + " dB before the ceiling";
        text += "\n";
    }
    if (result.decoded) {
        const DecodedCheck& decoded = *result.decoded;
        const double share = result.seconds > 0 ? 100.0 * decoded.seconds / result.seconds : 0.0;
        text += "Decoded:     the output's figures are of the written file decoded again (" +
                formatted(decoded.seconds, "%.2f") + " s, " + formatted(share, "%.0f") +
                " % of the render)\n";
        if (decoded.renders > 1)
            text += "             its true peak came out at " + formatted(decoded.firstTruePeak, "%.2f") +
                    " dBTP, over the ceiling; rendered again under " +
                    formatted(decoded.ceilingUsed, "%.2f") + " dBTP (" + std::to_string(decoded.renders) +
                    " renders)\n";
    }
    return text;
}

std::string passesJson(const RenderResult& result) {
    std::string mono = "null";
    if (result.channels == 1)
        mono = "{\"counted\": " + jsonString(result.dualMono ? "dual mono" : "one channel") +
               ", \"plugin_target_lufs\": " +
               (result.monoPluginTarget ? jsonNumber(*result.monoPluginTarget) : std::string("null")) + "}";
    std::string correction = "null";
    if (result.correction)
        correction = "{\"missed_by_lu\": " + jsonNumber(result.correction->missedByLu) +
                     ", \"output_trim_from_db\": " +
                     (result.correction->trimFrom ? jsonNumber(*result.correction->trimFrom) : "null") +
                     ", \"output_trim_to_db\": " +
                     (result.correction->trimTo ? jsonNumber(*result.correction->trimTo) : "null") +
                     ", \"gain_before_ceiling_db\": " + jsonNumber(result.correction->gainDb) +
                     ", \"steps\": " + std::to_string(result.correction->steps) + "}";
    std::string decoded = "null";
    if (result.decoded)
        decoded = "{\"first_true_peak_dbtp\": " + jsonNumber(result.decoded->firstTruePeak) +
                  ", \"ceiling_used_dbtp\": " + jsonNumber(result.decoded->ceilingUsed) +
                  ", \"renders\": " + std::to_string(result.decoded->renders) + "}";
    return "\"mono\": " + mono + ",\n  \"correction\": " + correction + ",\n  \"decoded_check\": " + decoded;
}

} // namespace render
