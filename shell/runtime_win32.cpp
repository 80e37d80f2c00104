// What the statically linked C++ runtime (GCC 12, Windows threads) would leave behind each time a host
// unloads the DLL, and what the DLL does instead. Hosts load and unload plug-ins when they scan them and in
// many sessions; without this a scan loop grows by some 71 KB and one handle a cycle.
#include <cstdint>
#include <windows.h>

namespace __gnu_cxx {
// Frees the emergency pool libstdc++ takes when it is loaded, for exceptions thrown when memory has run
// out; libstdc++ exports it (memory checkers call it at exit) but declares it in no header.
void __freeres() noexcept;
} // namespace __gnu_cxx

namespace {

// Destroyed with the DLL's other static objects, when it is unloaded and when the process ends.
struct EmergencyPoolRelease {
    ~EmergencyPoolRelease() { __gnu_cxx::__freeres(); }
} emergencyPoolRelease;

// The guards of function-local statics. libstdc++'s own serialise first uses through a semaphore that they
// make once per load and never close. These keep the C++ ABI's contract (the first byte of the 64-bit
// guard is set once the object is made) with a slim lock and a condition variable, neither of which is
// ever made or closed. Byte 1 marks an object that a thread is making.
SRWLOCK guardLock = SRWLOCK_INIT;
CONDITION_VARIABLE guardDone = CONDITION_VARIABLE_INIT;

unsigned char* GuardBytes(int64_t* guard) {
    return reinterpret_cast<unsigned char*>(guard);
}

void EndAttempt(int64_t* guard, unsigned char made) {
    unsigned char* bytes = GuardBytes(guard);
    AcquireSRWLockExclusive(&guardLock);
    bytes[1] = 0;
    __atomic_store_n(&bytes[0], made, __ATOMIC_RELEASE);
    ReleaseSRWLockExclusive(&guardLock);
    WakeAllConditionVariable(&guardDone);
}

} // namespace

// 1: the caller makes the object; 0: it is made (by this call's wait for another thread, or before).
extern "C" int __cxa_guard_acquire(int64_t* guard) {
    unsigned char* bytes = GuardBytes(guard);
    if (__atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE)) return 0;
    AcquireSRWLockExclusive(&guardLock);
    while (!__atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE) && bytes[1])
        SleepConditionVariableSRW(&guardDone, &guardLock, INFINITE, 0);
    const bool mine = !__atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE);
    if (mine) bytes[1] = 1;
    ReleaseSRWLockExclusive(&guardLock);
    return mine;
}

extern "C" void __cxa_guard_release(int64_t* guard) {
    EndAttempt(guard, 1);
}

// The object's constructor threw: another caller may try again.
extern "C" void __cxa_guard_abort(int64_t* guard) {
    EndAttempt(guard, 0);
}
