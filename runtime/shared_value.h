// A 64-bit value that one thread writes and others read: the audio thread, the host's threads and the
// editor's window thread exchange slider values, gains and mouse state through these.
#pragma once

#include <atomic>

class SharedDouble {
public:
    constexpr SharedDouble(double value = 0.0) noexcept : value_(value) {}
    SharedDouble(const SharedDouble& other) noexcept : value_(other.Load()) {}

    SharedDouble& operator=(const SharedDouble& other) noexcept { return *this = other.Load(); }
    SharedDouble& operator=(double value) noexcept {
        value_.store(value, std::memory_order_relaxed);
        return *this;
    }
    SharedDouble& operator+=(double delta) noexcept { return *this = Load() + delta; }
    SharedDouble& operator-=(double delta) noexcept { return *this = Load() - delta; }
    SharedDouble& operator*=(double factor) noexcept { return *this = Load() * factor; }

    operator double() const noexcept { return Load(); }
    double Load() const noexcept { return value_.load(std::memory_order_relaxed); }

private:
    std::atomic<double> value_;
};

static_assert(std::atomic<double>::is_always_lock_free);
