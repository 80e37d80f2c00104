// Real-time safety of the audio thread, measured on the built module: once resumed, processing allocates
// nothing, takes no lock and makes no system call. This executable replaces the allocator and the pthread
// lock functions (the loaded module finds them here first) and counts the calls made on a watched thread;
// a seccomp filter on that thread traps every system call, and the SIGSYS handler counts it and then makes
// it from a stub of ours that the filter lets through, so that the thread carries on normally.
#include "hosting/lv2_plugin.h"
#include "hosting/plugin.h"
#include "lv2/ports.h"

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VANDREL_SANITIZED 1
#endif

#ifndef VANDREL_SANITIZED

#include <dlfcn.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// What the watched thread did. Written from the allocator, lock functions and a signal handler: plain
// atomics only.
struct Tally {
    std::atomic<uint64_t> allocations{0}, releases{0}, locks{0}, syscalls{0};
    std::atomic<long> firstSyscall{-1};
    std::atomic<const char*> firstLock{nullptr};

    void Clear() {
        allocations = releases = locks = syscalls = 0;
        firstSyscall = -1;
        firstLock = nullptr;
    }
};
Tally gTally;
thread_local bool tWatching = false;

void NoteLock(const char* name) {
    if (!tWatching) return;
    const char* none = nullptr;
    gTally.firstLock.compare_exchange_strong(none, name);
    gTally.locks.fetch_add(1, std::memory_order_relaxed);
}

// The real lock functions, found on first use; dlsym takes no lock of the kind counted here.
template <typename Function> Function Next(std::atomic<void*>& slot, const char* name) {
    void* address = slot.load(std::memory_order_relaxed);
    if (!address) {
        address = dlsym(RTLD_NEXT, name);
        slot.store(address, std::memory_order_relaxed);
    }
    return reinterpret_cast<Function>(address);
}

} // namespace

// The allocator, forwarded to the C library's own.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);

void* malloc(size_t size) {
    if (tWatching) gTally.allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    if (tWatching) gTally.allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    if (tWatching) gTally.allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}
void* memalign(size_t alignment, size_t size) {
    if (tWatching) gTally.allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    return memalign(alignment, size);
}
int posix_memalign(void** result, size_t alignment, size_t size) {
    void* pointer = memalign(alignment, size);
    if (!pointer) return ENOMEM;
    *result = pointer;
    return 0;
}
void* valloc(size_t size) {
    return memalign(size_t(sysconf(_SC_PAGESIZE)), size);
}
void free(void* pointer) {
    if (pointer && tWatching) gTally.releases.fetch_add(1, std::memory_order_relaxed);
    __libc_free(pointer);
}

#define VANDREL_COUNTED_LOCK(name, parameters, arguments)                                                    \
    int name parameters {                                                                                    \
        static std::atomic<void*> next{nullptr};                                                             \
        NoteLock(#name);                                                                                     \
        return Next<int(*) parameters>(next, #name) arguments;                                               \
    }
VANDREL_COUNTED_LOCK(pthread_mutex_lock, (pthread_mutex_t * m), (m))
VANDREL_COUNTED_LOCK(pthread_mutex_trylock, (pthread_mutex_t * m), (m))
VANDREL_COUNTED_LOCK(pthread_mutex_timedlock, (pthread_mutex_t * m, const struct timespec* t), (m, t))
VANDREL_COUNTED_LOCK(pthread_rwlock_rdlock, (pthread_rwlock_t * l), (l))
VANDREL_COUNTED_LOCK(pthread_rwlock_wrlock, (pthread_rwlock_t * l), (l))
VANDREL_COUNTED_LOCK(pthread_rwlock_tryrdlock, (pthread_rwlock_t * l), (l))
VANDREL_COUNTED_LOCK(pthread_rwlock_trywrlock, (pthread_rwlock_t * l), (l))
VANDREL_COUNTED_LOCK(pthread_spin_lock, (pthread_spinlock_t * l), (l))
VANDREL_COUNTED_LOCK(pthread_spin_trylock, (pthread_spinlock_t * l), (l))
VANDREL_COUNTED_LOCK(pthread_cond_wait, (pthread_cond_t * c, pthread_mutex_t* m), (c, m))
VANDREL_COUNTED_LOCK(pthread_cond_timedwait,
                     (pthread_cond_t * c, pthread_mutex_t* m, const struct timespec* t), (c, m, t))
VANDREL_COUNTED_LOCK(sem_wait, (sem_t * s), (s))
VANDREL_COUNTED_LOCK(sem_trywait, (sem_t * s), (s))
VANDREL_COUNTED_LOCK(sem_timedwait, (sem_t * s, const struct timespec* t), (s, t))
// The C library's random numbers sit behind a lock of their own.
VANDREL_COUNTED_LOCK(rand, (void), ())
VANDREL_COUNTED_LOCK(rand_r, (unsigned* seed), (seed))
#undef VANDREL_COUNTED_LOCK

long random(void) {
    static std::atomic<void*> next{nullptr};
    NoteLock("random");
    return Next<long (*)(void)>(next, "random")();
}

// Makes a system call from one known place: the filter lets exactly this instruction through.
long vandrel_reissue(long number, long a1, long a2, long a3, long a4, long a5, long a6);
extern const char vandrel_reissue_return[];
}

asm(R"(
    .text
    .globl vandrel_reissue
    .type vandrel_reissue, @function
vandrel_reissue:
    movq %rdi, %rax
    movq %rsi, %rdi
    movq %rdx, %rsi
    movq %rcx, %rdx
    movq %r8, %r10
    movq %r9, %r8
    movq 8(%rsp), %r9
    syscall
    .globl vandrel_reissue_return
vandrel_reissue_return:
    ret
    .size vandrel_reissue, .-vandrel_reissue
)");

namespace {

void OnTrappedSyscall(int, siginfo_t* info, void* context) {
    greg_t* r = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
    const long number = info->si_syscall;
    if (tWatching) {
        long none = -1;
        gTally.firstSyscall.compare_exchange_strong(none, number);
        gTally.syscalls.fetch_add(1, std::memory_order_relaxed);
    }
    r[REG_RAX] =
        vandrel_reissue(number, r[REG_RDI], r[REG_RSI], r[REG_RDX], r[REG_R10], r[REG_R8], r[REG_R9]);
}

// From here on every system call of the calling thread traps, except the re-issued ones and the return
// from the handler itself.
void TrapSystemCallsOnThisThread() {
    static const bool handlerInstalled = [] {
        struct sigaction action {};
        action.sa_sigaction = OnTrappedSyscall;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        return sigaction(SIGSYS, &action, nullptr) == 0;
    }();
    ASSERT_TRUE(handlerInstalled);
    const auto stub = reinterpret_cast<uint64_t>(vandrel_reissue_return);
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_rt_sigreturn, 4, 0),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, instruction_pointer)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(stub), 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, instruction_pointer) + 4),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(stub >> 32), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
    };
    sock_fprog filter{static_cast<unsigned short>(std::size(program)), program};
    ASSERT_EQ(prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0), 0);
    ASSERT_EQ(syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter), 0) << std::strerror(errno);
}

struct Counts {
    uint64_t allocations, releases, locks, syscalls;
    long firstSyscall;
    const char* firstLock;
};

// Runs `work` on a new thread under the filter, counting only while it runs.
template <typename Work> Counts Watched(Work work) {
    gTally.Clear();
    std::thread thread([&] {
        // A thread's first allocation sets up its arena: part of starting the thread, not of the work.
        free(malloc(1));
        TrapSystemCallsOnThisThread();
        tWatching = true;
        work();
        tWatching = false;
    });
    thread.join();
    return {gTally.allocations, gTally.releases,     gTally.locks,
            gTally.syscalls,    gTally.firstSyscall, gTally.firstLock.load()};
}

std::string Describe(const Counts& c) {
    return std::to_string(c.allocations) + " allocations, " + std::to_string(c.releases) + " releases, " +
           std::to_string(c.locks) + " locks (first " + (c.firstLock ? c.firstLock : "none") + "), " +
           std::to_string(c.syscalls) + " system calls (first " + std::to_string(c.firstSyscall) + ")";
}

TEST(RealtimeProbe, SeesAllocationsLocksAndSystemCalls) {
    const Counts c = Watched([] {
        void* volatile block = malloc(100);
        free(block);
        pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
        pthread_mutex_lock(&mutex);
        pthread_mutex_unlock(&mutex);
        EXPECT_EQ(syscall(SYS_getppid), getppid());
    });
    EXPECT_EQ(c.allocations, 1u) << Describe(c);
    EXPECT_EQ(c.releases, 1u);
    EXPECT_EQ(c.locks, 1u);
    EXPECT_EQ(c.syscalls, 2u);
    EXPECT_EQ(c.firstSyscall, SYS_getppid);
}

TEST(RealtimeProbe, SeesTheModulesAllocations) {
    hosting::Plugin plugin(VANDREL_PLUGIN_PATH);
    plugin.open();
    const std::vector<uint8_t> state = plugin.chunk();
    // Restoring copies the chunk into storage of the module's own.
    const Counts c = Watched([&] {
        plugin.dispatcher(vst2::effSetChunk, 0, intptr_t(state.size()), const_cast<uint8_t*>(state.data()));
    });
    EXPECT_GE(c.allocations, 1u) << Describe(c);
}

// The block section reads the wall clock every block; only where the kernel maps its clock into the
// process (vDSO) is that free of system calls.
bool ClockReadsAreSystemCalls() {
    const Counts c = Watched([] {
        timespec now;
        timeval tv;
        clock_gettime(CLOCK_REALTIME, &now);
        clock_gettime(CLOCK_MONOTONIC, &now);
        gettimeofday(&tv, nullptr);
    });
    return c.syscalls != 0;
}

template <typename Sample> struct Buffers {
    std::vector<Sample> left, right;
    Sample* channels[2];
    explicit Buffers(size_t frames) : left(frames), right(frames), channels{left.data(), right.data()} {}
};

struct AudioBuffers {
    Buffers<float> narrow{4096}, narrowOut{4096};
    Buffers<double> wide{4096}, wideOut{4096};
};

// A host's audio thread: blocks of every size and kind on both paths, some of them hostile.
void AudioThreadWork(hosting::Plugin& plugin, AudioBuffers& buffers, std::atomic<bool>& anyNonFinite) {
    auto& [narrow, narrowOut, wide, wideOut] = buffers;
    std::minstd_rand random(5);
    double phase = 0;
    for (int block = 0; block < 600; ++block) {
        const auto frames = static_cast<int32_t>(block % 50 == 0 ? 0 : 1 + random() % 4096);
        const double level = block % 7 == 3 ? 0.0 : 0.05 * double(block % 9 + 1);
        for (int32_t i = 0; i < frames; ++i) {
            phase += 2 * std::numbers::pi * 220 / 48000;
            const double s = level * std::sin(phase);
            narrow.left[size_t(i)] = float(s);
            narrow.right[size_t(i)] = float(-s);
            wide.left[size_t(i)] = s;
            wide.right[size_t(i)] = s * 0.5;
        }
        if (block % 11 == 5 && frames > 2) {
            narrow.left[0] = std::nanf("");
            wide.right[1] = -HUGE_VAL;
        }
        if (block % 2 == 0) {
            plugin.processFloat(narrow.channels, narrowOut.channels, frames);
            for (int32_t i = 0; i < frames; ++i)
                if (!std::isfinite(narrowOut.left[size_t(i)])) anyNonFinite = true;
        } else {
            plugin.processDouble(wide.channels, wideOut.channels, frames);
            for (int32_t i = 0; i < frames; ++i)
                if (!std::isfinite(wideOut.right[size_t(i)])) anyNonFinite = true;
        }
    }
}

TEST(Realtime, ProcessingAfterResumeAllocatesLocksAndCallsNothing) {
    if (ClockReadsAreSystemCalls())
        GTEST_SKIP() << "this machine's clock source has no vDSO path: every clock read is a system call";
    hosting::HostOptions options;
    options.sampleRate = 48000;
    options.blockSize = 4096;
    hosting::Plugin plugin(VANDREL_PLUGIN_PATH, options);
    plugin.open();
    plugin.setSampleRate(48000);
    plugin.setBlockSize(4096);

    // Twice: from the very first block after the first resume, and after a restart at a new sample rate.
    for (const double rate : {48000.0, 96000.0}) {
        SCOPED_TRACE(rate);
        if (plugin.isResumed()) plugin.suspend();
        plugin.setSampleRate(rate);
        plugin.resume();
        // Meanwhile the host automates and restores state on its own thread, as hosts do.
        std::atomic<bool> stop{false}, anyNonFinite{false};
        std::thread hostThread([&] {
            std::minstd_rand random(9);
            const auto state = plugin.chunk();
            for (int k = 0; !stop.load(); ++k) {
                plugin.setParameter(int32_t(random() % 14), float(random() % 1000) / 999.0f);
                if (k % 64 == 0) plugin.setChunk(state);
                std::this_thread::yield();
            }
        });
        AudioBuffers buffers;
        const Counts c = Watched([&] { AudioThreadWork(plugin, buffers, anyNonFinite); });
        stop = true;
        hostThread.join();
        std::printf("audio thread at %.0f Hz, 600 blocks: %s\n", rate, Describe(c).c_str());
        EXPECT_EQ(c.allocations, 0u) << Describe(c);
        EXPECT_EQ(c.releases, 0u) << Describe(c);
        EXPECT_EQ(c.locks, 0u) << Describe(c);
        EXPECT_EQ(c.syscalls, 0u) << Describe(c);
        EXPECT_FALSE(anyNonFinite);
    }
}

// The LV2 plug-in's run, with its controls moved between blocks as a host's automation moves them, while
// the host saves the plug-in's state on another thread (which the state extension allows).
TEST(Realtime, Lv2RunAfterActivateAllocatesLocksAndCallsNothing) {
    if (ClockReadsAreSystemCalls())
        GTEST_SKIP() << "this machine's clock source has no vDSO path: every clock read is a system call";
    hosting::Lv2Options options;
    options.sampleRate = 48000;
    options.nominalBlockLength = 4096;
    options.maxBlockLength = 4096;
    hosting::Lv2Plugin plugin(VANDREL_LV2_BUNDLE, lv2port::kPluginUri, options);
    plugin.activate();
    std::atomic<bool> stop{false};
    std::thread hostThread([&] {
        for (int k = 0; !stop.load(); ++k) {
            plugin.saveState();
            std::this_thread::yield();
        }
    });
    Buffers<float> in(4096), out(4096);
    bool anyNonFinite = false;
    const Counts c = Watched([&] {
        std::minstd_rand random(3);
        double phase = 0;
        for (int block = 0; block < 600; ++block) {
            const auto frames = static_cast<uint32_t>(block % 50 == 0 ? 0 : 1 + random() % 4096);
            for (uint32_t i = 0; i < frames; ++i) {
                phase += 2 * std::numbers::pi * 220 / 48000;
                in.left[i] = static_cast<float>(0.1 * std::sin(phase));
                in.right[i] = -in.left[i];
            }
            if (block % 5 == 0) {
                const hosting::Lv2Port& port = plugin.ports()[lv2port::kFirstControl + random() % 14];
                plugin.control(port.index) = port.minimum + (port.maximum - port.minimum) *
                                                                static_cast<float>(random() % 1000) / 999.0f;
            }
            plugin.run(in.channels, out.channels, frames);
            for (uint32_t i = 0; i < frames; ++i) anyNonFinite |= !std::isfinite(out.left[i]);
        }
    });
    stop = true;
    hostThread.join();
    std::printf("LV2 run, 600 blocks: %s\n", Describe(c).c_str());
    EXPECT_EQ(c.allocations, 0u) << Describe(c);
    EXPECT_EQ(c.releases, 0u) << Describe(c);
    EXPECT_EQ(c.locks, 0u) << Describe(c);
    EXPECT_EQ(c.syscalls, 0u) << Describe(c);
    EXPECT_FALSE(anyNonFinite);
}

} // namespace

#else

TEST(Realtime, ProcessingAfterResumeAllocatesLocksAndCallsNothing) {
    GTEST_SKIP() << "the sanitizers bring their own allocator and system calls";
}

#endif
