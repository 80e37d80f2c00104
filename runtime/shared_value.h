// A value that one thread writes and others read: the audio thread, the host's threads and the editor's
// window thread exchange slider values, gains, coefficients and mouse state through these. Relaxed order is
// enough (each value stands alone) and costs a plain load or store on x86-64. Copyable, so that whole state
// records can be reset by assignment.
#pragma once

#include <atomic>
#include <cstdint>

template <typename T> class Shared {
public:
    constexpr Shared(T value = T{}) noexcept : value_(value) {}
    Shared(const Shared& other) noexcept : value_(other.Load()) {}

    Shared& operator=(const Shared& other) noexcept { return *this = other.Load(); }
    Shared& operator=(T value) noexcept {
        value_.store(value, std::memory_order_relaxed);
        return *this;
    }
    Shared& operator+=(T delta) noexcept { return *this = Load() + delta; }
    Shared& operator-=(T delta) noexcept { return *this = Load() - delta; }
    Shared& operator*=(T factor) noexcept { return *this = Load() * factor; }

    operator T() const noexcept { return Load(); }
    T Load() const noexcept { return value_.load(std::memory_order_relaxed); }

private:
    std::atomic<T> value_;
};

using SharedDouble = Shared<double>;

static_assert(std::atomic<double>::is_always_lock_free && std::atomic<int64_t>::is_always_lock_free &&
              std::atomic<double*>::is_always_lock_free);
