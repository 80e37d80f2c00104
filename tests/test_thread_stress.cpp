// Three threads on one leveler, as a host runs it: the audio thread processes, a host thread automates
// parameters and saves and restores state, an editor thread paints panel frames headlessly and moves the
// mouse across the panel through the callback table. Built with ThreadSanitizer this must report nothing;
// in any build the output stays finite. VANDREL_STRESS_SECONDS sets how long it runs (default 2).
#include "leveler/leveler.h"
#include "shell/callbacks.h"
#include "shell/instance.h"
#include "shell/vest.h"
#include "testkit/quiet_host.h"
#include "toolkit/drawcontext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

namespace {

double StressSeconds() {
    const char* text = std::getenv("VANDREL_STRESS_SECONDS");
    const double seconds = text ? std::atof(text) : 0;
    return seconds > 0 ? seconds : 2;
}

// Toolkit button bits as the view passes them: left, shift.
constexpr int32_t kLeftButton = 2, kShift = 16;

class ThreadStress : public ::testing::Test {
protected:
    void SetUp() override {
        SetPluginFolder(std::string(VANDREL_BINARY_DIR) + "/");
        effect = new TParvexEffect;
        wrapper = WireInstance(effect, testkit::QuietHost);
        ASSERT_NE(wrapper, nullptr);
        record = wrapper->getAeffect();
        Dispatch(vst2::effOpen);
        Dispatch(vst2::effSetSampleRate, 0, 0, nullptr, 48000);
        Dispatch(vst2::effSetBlockSize, 0, 256);
        Dispatch(vst2::effMainsChanged, 0, 1);
    }
    void TearDown() override {
        Dispatch(vst2::effMainsChanged, 0, 0);
        Dispatch(vst2::effClose);
    }
    intptr_t Dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0) {
        return record->dispatcher(record, opcode, index, value, ptr, opt);
    }

    TParvexEffect* effect = nullptr;
    CVeST* wrapper = nullptr;
    vst2::AEffect* record = nullptr;
};

TEST_F(ThreadStress, AudioHostAndEditorThreadsShareOneInstance) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(StressSeconds());
    auto running = [&] { return std::chrono::steady_clock::now() < until; };
    std::atomic<long> blocks{0}, automations{0}, restores{0}, frames{0};
    std::atomic<bool> nonFinite{false};

    std::thread audio([&] {
        constexpr int32_t kFrames = 256;
        std::vector<float> left(kFrames), right(kFrames);
        std::vector<double> wideLeft(kFrames), wideRight(kFrames);
        float* narrow[] = {left.data(), right.data()};
        double* wide[] = {wideLeft.data(), wideRight.data()};
        double phase = 0;
        for (long block = 0; running(); ++block) {
            // Programme with pauses, so that the gate and the automatic controls act too.
            const double level = (block / 200) % 4 == 3 ? 0.0 : 0.1 + 0.1 * double((block / 50) % 5);
            for (int32_t i = 0; i < kFrames; ++i) {
                phase += 2 * std::numbers::pi * 330 / 48000;
                wideLeft[size_t(i)] = level * std::sin(phase);
                wideRight[size_t(i)] = level * std::sin(1.5 * phase);
                left[size_t(i)] = float(wideLeft[size_t(i)]);
                right[size_t(i)] = float(wideRight[size_t(i)]);
            }
            if (block % 2 == 0) {
                record->processReplacing(record, narrow, narrow, kFrames);
                for (const float s : left)
                    if (!std::isfinite(s)) nonFinite = true;
            } else {
                record->processDoubleReplacing(record, wide, wide, kFrames);
                for (const double s : wideRight)
                    if (!std::isfinite(s)) nonFinite = true;
            }
            ++blocks;
        }
    });

    std::thread host([&] {
        std::mt19937 random(3);
        std::uniform_real_distribution<float> unit(0, 1);
        char text[vst2::kParamTextCapacity];
        while (running()) {
            const auto index = static_cast<int32_t>(random() % 14);
            record->setParameter(record, index, unit(random));
            (void)record->getParameter(record, (index + 5) % 14);
            Dispatch(vst2::effGetParamDisplay, (index + 7) % 14, 0, text);
            (void)std::atomic_ref<int32_t>(record->initialDelay).load(std::memory_order_relaxed);
            if (++automations % 50 == 0) {
                void* data = nullptr;
                const intptr_t size = Dispatch(vst2::effGetChunk, 0, 0, &data);
                const std::vector<uint8_t> copy(static_cast<uint8_t*>(data),
                                                static_cast<uint8_t*>(data) + size);
                Dispatch(vst2::effSetChunk, 0, intptr_t(copy.size()), const_cast<uint8_t*>(copy.data()));
                ++restores;
            }
        }
    });

    std::thread editor([&] {
        std::mt19937 random(4);
        const VeSTCallbacks& table = wrapper->Callbacks();
        VSTGUI::COffscreenContext image(450, 620);
        double x = 225, y = 310;
        for (long frame = 0; running(); ++frame) {
            // A drag now and then, else the pointer wanders; shift for the fine drags.
            const int32_t buttons = frame % 40 < 10 ? kLeftButton | (frame % 80 < 10 ? kShift : 0) : 0;
            x = std::clamp(x + double(int(random() % 41) - 20), 0.0, 449.0);
            y = std::clamp(y + double(int(random() % 41) - 20), 0.0, 619.0);
            if (frame % 40 == 0) table.MouseDown(wrapper, x, y, buttons);
            table.MouseMove(wrapper, x, y, buttons);
            if (frame % 40 == 10) table.MouseUp(wrapper, x, y, 0);
            table.Idle(wrapper);
            wrapper->DrawWith(&image, 450, 620);
            ++frames;
        }
    });

    audio.join();
    host.join();
    editor.join();
    std::printf("%ld blocks, %ld automations, %ld state restores, %ld panel frames\n", blocks.load(),
                automations.load(), restores.load(), frames.load());
    EXPECT_FALSE(nonFinite);
    EXPECT_GT(blocks, 100);
    EXPECT_GT(restores, 2);
    EXPECT_GT(frames, 10);
    // The panel's edits and the automatic controls went through the same sliders the host reads.
    for (int32_t i = 0; i < 14; ++i) EXPECT_TRUE(std::isfinite(record->getParameter(record, i)));
}

// The host moving the "HPF" slider back and forth as fast as it can while the audio runs: the audio must
// never apply a filter mixed from two designs, which would blow a tone of -10 dBfs up into a click far
// beyond full scale.
TEST_F(ThreadStress, HighPassMovedWhileAudioRunsNeverClicks) {
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(std::min(1.0, StressSeconds()));
    auto running = [&] { return std::chrono::steady_clock::now() < until; };
    constexpr int32_t kHighPass = 5;
    std::atomic<long> blocks{0}, moves{0};
    std::atomic<bool> click{false};

    std::thread audio([&] {
        constexpr int32_t kFrames = 128;
        std::vector<float> left(kFrames), right(kFrames);
        float* channels[] = {left.data(), right.data()};
        double phase = 0;
        while (running()) {
            for (int32_t i = 0; i < kFrames; ++i) {
                phase += 2 * std::numbers::pi * 55 / 48000;
                left[size_t(i)] = right[size_t(i)] = float(0.3 * std::sin(phase));
            }
            record->processReplacing(record, channels, channels, kFrames);
            for (const float s : left)
                if (!(std::abs(s) < 4)) click = true;
            ++blocks;
        }
    });
    std::thread host([&] {
        for (long move = 0; running(); ++move) {
            record->setParameter(record, kHighPass, move % 2 ? 1.0f : 0.001f);
            ++moves;
        }
    });
    audio.join();
    host.join();
    std::printf("%ld blocks, %ld moves of the high-pass\n", blocks.load(), moves.load());
    EXPECT_FALSE(click);
    EXPECT_GT(blocks, 100);
}

} // namespace
