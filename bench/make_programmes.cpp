// Writes the synthetic test programmes as 24-bit FLAC files (or 16-bit WAV) into a folder, a minute each:
//   vandrel2_programmes DIR [SECONDS] [flac|wav]
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
    for (const auto& programme : programmes::synthesised(seconds)) {
        const std::string path = std::string(argv[1]) + "/" + programme.name + (wav ? ".wav" : ".flac");
        SF_INFO info{};
        info.channels = 2;
        info.samplerate = programmes::kRate;
        info.format = wav ? SF_FORMAT_WAV | SF_FORMAT_PCM_16 : SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        if (file == nullptr) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), sf_strerror(nullptr));
            return 1;
        }
        sf_writef_float(file, programme.samples.data(), sf_count_t(programme.samples.size() / 2));
        sf_close(file);
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
