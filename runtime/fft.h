// Fourier transforms over blocks of 64-bit floats in place, with tables shared by the whole process.
// Complex values are interleaved (re, im). Forward transforms use exp(-2πi·kn/N); inverse transforms are
// unscaled, so a forward-then-inverse round trip multiplies every value by N.
#pragma once

#include <cstdint>
#include <span>

namespace fft {

enum Mode : int { kForward = 0, kInverse = 1, kToNatural = 4, kToPermuted = 5 };

// Builds the twiddle and permutation tables once per process; safe from several threads at once.
// Every other function here builds them itself when needed, so calling this early only moves the cost.
void BuildTables();

// cos(2πk/n), sin(2πk/n) interleaved for k from 1: n/4 - 1 entries up to n = 512, n/8 - 1 from 1024.
// Empty unless n is a power of two from 32 to 32768.
std::span<const double> Twiddles(int n);

// The bit-reversal permutation of 0 .. n-1; empty unless n is a power of two from 2 to 32768.
std::span<const std::uint16_t> Permutation(int n);

// floor(log2(size)), or -1 when size < 1: the block length 2^result that a size argument selects.
int SizeLog2(int size);

// In place over 2^log2n complex values, log2n from 4 to 15; otherwise nothing. The permuted order is
// bit-reversed: kForward takes natural order and leaves its result permuted, kInverse takes permuted order
// and leaves natural order, so forward, pointwise products, inverse need no reordering. kToNatural and
// kToPermuted both swap by bit reversal, which is its own inverse. Any other mode does nothing.
void Complex(double* data, int log2n, int mode);

// In place over N = 2^log2n real values, log2n from 5 to 12; otherwise nothing. The spectrum is in natural
// order: data[0] = X[0] and data[1] = X[N/2] (both real), then X[k] as (re, im) at data[2k], data[2k+1]
// for k from 1 to N/2 - 1. The inverse takes that packing and returns N times the signal.
void Real(double* data, int log2n, bool inverse);

// dest[k] *= src[k] as complex values for every k below count rounded down to even; count < 2 does nothing.
void Convolve(double* dest, const double* src, int count);

} // namespace fft
