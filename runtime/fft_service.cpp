// Transforms over script memory.
#include "runtime/fft.h"
#include "runtime/parvex.h"

namespace {
// The block of `doubles` cells from `index`, or null when it would run past the end of its page.
double* Block(CParvexMemory& memory, int32_t index, int64_t doubles) {
    const int64_t offset = static_cast<uint32_t>(index) & 0xFFFFu;
    if (offset + doubles > CParvexMemory::kPageSize) return nullptr;
    return &memory.MemoryAt(index);
}
} // namespace

void TParvex::Fft(int32_t index, int32_t size, int32_t mode) {
    const int log2n = fft::SizeLog2(size);
    if (log2n < 4 || log2n > 15) return;
    if (double* data = Block(*this, index, int64_t(2) << log2n)) fft::Complex(data, log2n, mode);
}

void TParvex::FftReal(int32_t index, int32_t size, int32_t inverse) {
    const int log2n = fft::SizeLog2(size);
    if (log2n < 5 || log2n > 12) return;
    if (double* data = Block(*this, index, int64_t(1) << log2n))
        fft::Real(data, log2n, (inverse & 0xFF) != 0);
}

void TParvex::ConvolveComplex(int32_t destination, int32_t source, int32_t count) {
    const int32_t even = count & ~1;
    if (even < 2) return;
    double* to = Block(*this, destination, int64_t(2) * even);
    double* from = Block(*this, source, int64_t(2) * even);
    if (to && from) fft::Convolve(to, from, even);
}
