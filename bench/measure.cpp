// Loudness of audio files by libebur128 alone, on every sample: integrated loudness, loudness range and
// true peak, one line per file (tab-separated: file, LUFS, LU, dBTP).
//   vandrel2_measure FILE...
#include <ebur128.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    for (int arg = 1; arg < argc; ++arg) {
        SF_INFO info{};
        SNDFILE* file = sf_open(argv[arg], SFM_READ, &info);
        if (file == nullptr) {
            std::fprintf(stderr, "%s: %s\n", argv[arg], sf_strerror(nullptr));
            return 1;
        }
        ebur128_state* state = ebur128_init(unsigned(info.channels), unsigned(info.samplerate),
                                            EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
        std::vector<double> piece(size_t(65536 * info.channels));
        for (sf_count_t got; (got = sf_readf_double(file, piece.data(), 65536)) > 0;)
            ebur128_add_frames_double(state, piece.data(), size_t(got));
        sf_close(file);
        double integrated = 0, range = 0, peak = 0;
        ebur128_loudness_global(state, &integrated);
        ebur128_loudness_range(state, &range);
        for (unsigned c = 0; c < unsigned(info.channels); ++c) {
            double channelPeak = 0;
            ebur128_true_peak(state, c, &channelPeak);
            peak = std::max(peak, channelPeak);
        }
        ebur128_destroy(&state);
        std::printf("%s\t%.2f\t%.2f\t%.2f\n", argv[arg], integrated, range, 20 * std::log10(peak));
    }
    return 0;
}
