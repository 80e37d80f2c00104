// Writes the synthetic test programmes as 24-bit FLAC files (or 16-bit WAV) into a folder, a minute each,
// and with "mono" the speech once more in mono (the mean of its channels), as mono-speech:
//   vandrel2_programmes DIR [SECONDS] [flac|wav] [mono]
#include "testkit/programmes.h"

#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: vandrel2_programmes DIR [SECONDS]\n");
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 60.0;
    const bool wav = argc > 3 && std::string(argv[3]) == "wav";
    const bool mono = argc > 4 && std::string(argv[4]) == "mono";
    auto written = programmes::synthesised(seconds);
    for (const auto& programme : written)
        if (mono && programme.name == "speech") {
            programmes::Programme mono{"mono-speech", {}};
            for (size_t i = 0; i + 1 < programme.samples.size(); i += 2)
                mono.samples.push_back(0.5f * (programme.samples[i] + programme.samples[i + 1]));
            written.push_back(std::move(mono));
            break;
        }
    for (const auto& programme : written) {
        const int channels = programme.name == "mono-speech" ? 1 : 2;
        const std::string path = std::string(argv[1]) + "/" + programme.name + (wav ? ".wav" : ".flac");
        SF_INFO info{};
        info.channels = channels;
        info.samplerate = programmes::kRate;
        info.format = wav ? SF_FORMAT_WAV | SF_FORMAT_PCM_16 : SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        if (file == nullptr) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), sf_strerror(nullptr));
            return 1;
        }
        sf_writef_float(file, programme.samples.data(), sf_count_t(programme.samples.size()) / channels);
        sf_close(file);
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
