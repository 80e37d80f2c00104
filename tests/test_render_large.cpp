// vandrel2-render on files beyond 4 GiB, where 32-bit sizes end: a Wave64 input, a WAV output that must
// become RF64, and that RF64 read back; plain WAV files of that length whose sizes were never written or
// wrapped around. Slow and needs about 5 GiB of disk (CTest label "large").
#include "test_render_support.h"

#include "render/audio_file.h"

#include <gmock/gmock.h>

#include <sys/statvfs.h>

namespace {

using namespace render_test;

// Past 4 GiB of 64-bit float stereo (16 bytes a frame) by one second.
constexpr int64_t kFrames = (int64_t(1) << 28) + kRate;

// Frames that are not silence: near the start, just past the 4 GiB mark of the data, and the last.
const std::vector<std::tuple<int64_t, int, double>> kMarks = {
    {1000, 0, 0.5}, {(int64_t(1) << 28) + 10, 1, -0.25}, {kFrames - 1, 0, 0.125}};

// A Wave64 file of kFrames 64-bit float frames, silent but for kMarks: written as one frame by libsndfile,
// then its sizes set and the file extended, so that the silence takes no disk.
void writeSparseWave64(const fs::path& path) {
    writeAudio(path, Audio{2, kRate, SF_FORMAT_W64 | SF_FORMAT_DOUBLE, {0.0, 0.0}});
    const int file = open(path.c_str(), O_RDWR);
    ASSERT_GE(file, 0);
    const int64_t data = lseek(file, 0, SEEK_END) - 16; // the one frame is last
    const auto put = [&](int64_t at, auto value) {
        ASSERT_EQ(pwrite(file, &value, sizeof value, at), ssize_t(sizeof value));
    };
    const uint64_t size = uint64_t(data + kFrames * 16);
    ASSERT_EQ(ftruncate(file, off_t(size)), 0);
    put(16, size);                              // the riff chunk's size
    put(data - 8, uint64_t(24 + kFrames * 16)); // the data chunk's, its 24-byte header included
    for (const auto& [frame, channel, value] : kMarks) put(data + frame * 16 + channel * 8, value);
    close(file);
}

// Every frame of a file is silent but kMarks, checked around each mark and at a few places between.
void expectMarks(const fs::path& path, int format) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.format, format);
    EXPECT_EQ(info.frames, kFrames);
    std::vector<double> frames(2 * 64);
    for (const auto& [frame, channel, value] : kMarks) {
        const int64_t from = std::max<int64_t>(0, std::min(frame - 32, kFrames - 64));
        ASSERT_EQ(sf_seek(file, from, SEEK_SET), from);
        ASSERT_EQ(sf_readf_double(file, frames.data(), 64), 64);
        for (int64_t i = 0; i < 64; ++i)
            for (int c = 0; c < 2; ++c)
                EXPECT_EQ(frames[size_t(2 * i + c)], from + i == frame && c == channel ? value : 0.0)
                    << path.filename() << " frame " << from + i;
    }
    sf_close(file);
}

TEST_F(Render, FilesBeyondFourGibibytesAreWrittenAndReadWhole) {
    struct statvfs disk {};
    ASSERT_EQ(statvfs(dir_.c_str(), &disk), 0);
    if (uint64_t(disk.f_bavail) * disk.f_frsize < (uint64_t(6) << 30))
        GTEST_SKIP() << "needs 6 GiB free in " << dir_;
    writeSparseWave64(file("long.w64"));
    const std::vector<std::string> quick = {
        "--plugin", kFixture, "--no-ceiling", "--no-input-loudness", "--block", "4096", "-q"};
    const auto render = [&](std::vector<std::string> args) {
        args.insert(args.end(), quick.begin(), quick.end());
        return run(args);
    };

    // Named .wav, written as RF64: a plain WAV's sizes would wrap around at 4 GiB.
    RunResult result = render({file("long.w64"), file("long.wav"), "--json", file("long.json")});
    ASSERT_EQ(result.status, 0) << result.err;
    fs::remove(file("long.w64"));
    EXPECT_GT(fs::file_size(file("long.wav")), uint64_t(1) << 32);
    const Json json = report(file("long.json"));
    EXPECT_EQ(*json.number("frames"), double(kFrames));
    EXPECT_EQ(json.text("output.format"), "RF64, 64-bit float");
    expectMarks(file("long.wav"), SF_FORMAT_RF64 | SF_FORMAT_DOUBLE);

    // Read back whole: into 16-bit FLAC, which holds the marks exactly.
    result = render({file("long.wav"), file("back.flac"), "--sample-format", "pcm16", "--no-dither"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, ""); // no warning: the header and the file agree
    fs::remove(file("long.wav"));
    expectMarks(file("back.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
}

// Plain WAV files beyond 4 GiB as recorders and old writers leave them: a data size a recorder never
// filled in (0, or 0xFFFFFFFF), or one that wrapped around at 4 GiB. Each is read to its last frame, with
// the warning of what the header claimed.
TEST_F(Render, PlainWavesBeyondFourGibibytesWithUnsetOrWrappedSizesAreReadWhole) {
    struct statvfs disk {};
    ASSERT_EQ(statvfs(dir_.c_str(), &disk), 0);
    if (uint64_t(disk.f_bavail) * disk.f_frsize < (uint64_t(1) << 30))
        GTEST_SKIP() << "needs 1 GiB free in " << dir_;
    const fs::path path = file("recorder.wav");
    const int out = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(out, 0);
    const auto put = [&](int64_t at, auto value) {
        ASSERT_EQ(pwrite(out, &value, sizeof value, at), ssize_t(sizeof value));
    };
    // RIFF, a 16-byte fmt chunk of 64-bit float stereo at kRate, then the data chunk's header at 36.
    constexpr int64_t kData = 44;
    ASSERT_EQ(pwrite(out, "RIFF\0\0\0\0WAVEfmt ", 16, 0), 16);
    put(16, uint32_t(16));
    put(20, uint16_t(3));
    put(22, uint16_t(2));
    put(24, uint32_t(kRate));
    put(28, uint32_t(kRate * 16));
    put(32, uint16_t(16));
    put(34, uint16_t(64));
    ASSERT_EQ(pwrite(out, "data", 4, 36), 4);
    ASSERT_EQ(ftruncate(out, off_t(kData + kFrames * 16)), 0);
    for (const auto& [frame, channel, value] : kMarks) put(kData + frame * 16 + channel * 8, value);

    const uint32_t wrapped = uint32_t(kFrames * 16);
    for (const uint32_t declared : {uint32_t(0), uint32_t(0xFFFFFFFF), wrapped}) {
        put(4, declared == wrapped ? uint32_t(kData - 8 + kFrames * 16) : declared);
        put(40, declared);
        render::AudioReader reader(path);
        std::vector<double> chunk(2 * 65536);
        int64_t frames = 0;
        double sum = 0;
        for (int64_t got; (got = reader.read(chunk.data(), 65536)) > 0; frames += got) {
            for (int64_t i = 0; i < 2 * got; ++i) sum += std::abs(chunk[size_t(i)]);
            for (const auto& [frame, channel, value] : kMarks) {
                if (frame >= frames && frame < frames + got) {
                    EXPECT_EQ(chunk[size_t(2 * (frame - frames) + channel)], value) << declared;
                }
            }
        }
        EXPECT_EQ(frames, kFrames) << "data size " << declared;
        EXPECT_EQ(sum, 0.875) << "data size " << declared; // the marks and nothing else
        EXPECT_THAT(reader.lengthWarning().value_or(""), testing::HasSubstr("read to the end of the file"))
            << "data size " << declared;
    }
    close(out);
}

} // namespace
