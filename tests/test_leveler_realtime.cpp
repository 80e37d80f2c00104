// After resume the audio path allocates nothing: this executable counts every allocation (operator new and,
// outside sanitizer builds, malloc) while the leveler processes blocks through the host interface, on a
// clock the test moves so that its reports to the host come when the test wants them.
#include "testkit/in_process.h"
#include "testkit/leveler_rig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

namespace {

std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};

void Count() {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

// The replacements pair malloc with free themselves; GCC cannot tell once it inlines them into callers.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    Count();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    Count();
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);

void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
    Count();
    return __libc_realloc(p, size);
}
void free(void* p) {
    __libc_free(p);
}
}
#endif

namespace {

TEST(LevelerRealtime, ProcessingAfterResumeAllocatesNothing) {
    testkit::ManualClock clock;
    const auto instance = testkit::InProcessLeveler(clock, {.sampleRate = 48000, .blockSize = 512});
    hosting::Plugin& plugin = *instance;
    plugin.open();
    plugin.setSampleRate(48000);
    plugin.setBlockSize(512);
    plugin.resume();
    ASSERT_EQ(plugin.initialDelay(), 5037);
    vst2::VstTimeInfo time{};
    time.tempo = 120;
    time.timeSigNumerator = 4;
    time.timeSigDenominator = 4;
    time.flags = vst2::kVstTransportPlaying | vst2::kVstTempoValid | vst2::kVstTimeSigValid;
    plugin.setTimeInfo(time);

    // Loud programme, then silence: the automatic trim and threshold move sliders and the host is told.
    auto programme = leveler_test::MusicLike(48000, 12);
    std::vector<float> left(512), right(512);
    std::vector<double> left64(512), right64(512);
    float* inputs[] = {left.data(), right.data()};
    double* inputs64[] = {left64.data(), right64.data()};
    const size_t blocks = programme.left.size() / 512;

    gAllocations = 0;
    gCounting = true;
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t b = 0; b < blocks; ++b) {
            for (size_t j = 0; j < 512; ++j) {
                const double gain = pass == 0 ? 3.0 : 0.0;
                left[j] = static_cast<float>(programme.left[b * 512 + j] * gain);
                right[j] = static_cast<float>(programme.right[b * 512 + j] * gain);
                left64[j] = left[j];
                right64[j] = right[j];
            }
            if (b % 2)
                plugin.processFloat(inputs, inputs, 512);
            else
                plugin.processDouble(inputs64, inputs64, 512);
        }
        // The host is told of slider changes at most four times a second, by the wall clock.
        clock.Advance(0.3);
    }
    gCounting = false;
    const long duringProcessing = gAllocations;

    EXPECT_EQ(duringProcessing, 0);
    // The sections above did run: the automatic controls moved sliders and told the host.
    EXPECT_GT(plugin.calls().count(vst2::audioMasterUpdateDisplay), 0u);

    // The counter itself works: a state restore allocates.
    gAllocations = 0;
    gCounting = true;
    plugin.setChunk(plugin.chunk());
    gCounting = false;
    EXPECT_GT(gAllocations, 0);
}

} // namespace
