// The module the toolkit's code lives in, for registering window classes and finding resources; included
// only by toolkit sources on Windows.
#pragma once

#include <windows.h>

// The instance handle kept when the system attached the DLL; in a program that links the toolkit
// directly, the module holding this code.
HINSTANCE ModuleInstance();

// Holds a slim lock for a scope. The DLL's C++ runtime (cmake/mingw-w64.cmake) has no std::mutex; a slim lock
// is never made or closed, so an unloaded DLL leaves nothing of it behind.
class SlimLockGuard {
public:
    explicit SlimLockGuard(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~SlimLockGuard() { ReleaseSRWLockExclusive(&lock_); }
    SlimLockGuard(const SlimLockGuard&) = delete;
    SlimLockGuard& operator=(const SlimLockGuard&) = delete;

private:
    SRWLOCK& lock_;
};
