// Reads a fuzzer's input as a stream of values; an exhausted stream reads as zeros.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace fuzz {

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return size_ == 0; }
    size_t Remaining() const { return size_; }

    // The next sizeof(T) bytes as they lie in memory (floats arrive with any bit pattern: NaN, infinity,
    // denormals).
    template <typename T> T Take() {
        T value{};
        const size_t count = std::min(sizeof value, size_);
        if (count) std::memcpy(&value, data_, count);
        Skip(count);
        return value;
    }
    uint8_t Byte() { return Take<uint8_t>(); }
    uint16_t Word() { return Take<uint16_t>(); }
    // Whatever is left, as a text (zeros included).
    std::string Rest() {
        std::string text(reinterpret_cast<const char*>(data_), size_);
        Skip(size_);
        return text;
    }

private:
    void Skip(size_t count) {
        data_ += count;
        size_ -= count;
    }

    const uint8_t* data_;
    size_t size_;
};

} // namespace fuzz
