#include "runtime/fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

namespace {

using Values = std::vector<double>;

Values Random(std::size_t count, unsigned seed) {
    std::mt19937_64 generator(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    Values values(count);
    for (double& v : values) v = uniform(generator);
    return values;
}

// exp(sign·2πi·m/n) for m below n, in extended precision, so the references carry their own rounding only.
struct Roots {
    std::vector<long double> cos, sin;
    Roots(int n, int sign) : cos(n), sin(n) {
        for (int m = 0; m < n; ++m) {
            const long double angle = sign * 2 * std::numbers::pi_v<long double> * m / n;
            cos[m] = std::cos(angle);
            sin[m] = std::sin(angle);
        }
    }
};

// Bin k of the unscaled DFT of interleaved complex values by direct summation.
std::pair<long double, long double> DftBin(const Values& x, const Roots& roots, int k) {
    const int n = static_cast<int>(x.size() / 2);
    long double re = 0, im = 0;
    for (int j = 0; j < n; ++j) {
        const int m = static_cast<int>((static_cast<std::int64_t>(k) * j) % n);
        re += x[2 * j] * roots.cos[m] - x[2 * j + 1] * roots.sin[m];
        im += x[2 * j] * roots.sin[m] + x[2 * j + 1] * roots.cos[m];
    }
    return {re, im};
}

Values NaiveDft(const Values& x, int sign) {
    const int n = static_cast<int>(x.size() / 2);
    const Roots roots(n, sign);
    Values result(x.size());
    for (int k = 0; k < n; ++k) {
        const auto [re, im] = DftBin(x, roots, k);
        result[2 * k] = static_cast<double>(re);
        result[2 * k + 1] = static_cast<double>(im);
    }
    return result;
}

// The real forward transform's packing computed directly: X[0], X[N/2], then X[k] for 0 < k < N/2.
Values NaiveRealDft(const Values& x) {
    const int n = static_cast<int>(x.size());
    const Roots roots(n, -1);
    Values result(n);
    for (int k = 0; k <= n / 2; ++k) {
        long double re = 0, im = 0;
        for (int j = 0; j < n; ++j) {
            const int m = (k * j) % n;
            re += x[j] * roots.cos[m];
            im += x[j] * roots.sin[m];
        }
        if (k == 0) {
            result[0] = static_cast<double>(re);
        } else if (k == n / 2) {
            result[1] = static_cast<double>(re);
        } else {
            result[2 * k] = static_cast<double>(re);
            result[2 * k + 1] = static_cast<double>(im);
        }
    }
    return result;
}

// The unscaled inverse of the Hermitian spectrum that a real packing stands for.
Values NaiveRealInverse(const Values& packed) {
    const int n = static_cast<int>(packed.size());
    const Roots roots(n, 1);
    Values result(n);
    for (int j = 0; j < n; ++j) {
        long double sum = packed[0] + (j % 2 ? -packed[1] : packed[1]);
        for (int k = 1; k < n / 2; ++k) {
            const int m = (k * j) % n;
            sum += 2 * (packed[2 * k] * roots.cos[m] - packed[2 * k + 1] * roots.sin[m]);
        }
        result[j] = static_cast<double>(sum);
    }
    return result;
}

double MaxDifference(const Values& a, const Values& b) {
    double worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

// Inputs lie in [-1, 1], so rounding errors grow like sqrt(N) for each of the log2(N) stages.
double Tolerance(int n) {
    return 1e-15 * std::sqrt(n) * std::log2(n);
}

TEST(FftTables, TwiddleTablesHoldTheFirstQuarterThenTheFirstEighth) {
    const auto t32 = fft::Twiddles(32);
    ASSERT_EQ(t32.size(), 2u * 7);
    EXPECT_DOUBLE_EQ(t32[0], 0.9807852804032304);
    EXPECT_DOUBLE_EQ(t32[1], 0.19509032201612825);
    EXPECT_EQ(fft::Twiddles(32768).size(), 2u * 4095);
    for (int n = 32; n <= 32768; n *= 2) {
        const auto table = fft::Twiddles(n);
        const int entries = n <= 512 ? n / 4 - 1 : n / 8 - 1;
        ASSERT_EQ(table.size(), 2u * entries) << n;
        // The last entry is the root just below 90 or 45 degrees.
        const double angle = 2 * std::numbers::pi * entries / n;
        EXPECT_NEAR(table[2 * entries - 2], std::cos(angle), 1e-16) << n;
        EXPECT_NEAR(table[2 * entries - 1], std::sin(angle), 1e-16) << n;
    }
    EXPECT_TRUE(fft::Twiddles(16).empty());
    EXPECT_TRUE(fft::Twiddles(48).empty());
    EXPECT_TRUE(fft::Twiddles(65536).empty());
}

TEST(FftTables, PermutationsAreBitReversalsThatUndoThemselves) {
    for (int n = 2; n <= 32768; n *= 2) {
        const auto p = fft::Permutation(n);
        ASSERT_EQ(p.size(), static_cast<std::size_t>(n));
        std::vector<bool> seen(n);
        for (int i = 0; i < n; ++i) {
            ASSERT_LT(p[i], n);
            seen[p[i]] = true;
            ASSERT_EQ(p[p[i]], i) << n;
        }
        EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](bool b) { return b; })) << n;
        EXPECT_EQ(p[1], n / 2) << n;
    }
    EXPECT_TRUE(fft::Permutation(1).empty());
    EXPECT_TRUE(fft::Permutation(12).empty());
    EXPECT_TRUE(fft::Permutation(65536).empty());
}

TEST(FftTables, SizeSelectsTheLargestPowerOfTwoBelowIt) {
    EXPECT_EQ(fft::SizeLog2(100), 6);
    EXPECT_EQ(fft::SizeLog2(15), 3);
    EXPECT_EQ(fft::SizeLog2(16), 4);
    EXPECT_EQ(fft::SizeLog2(65535), 15);
    EXPECT_EQ(fft::SizeLog2(65536), 16);
    EXPECT_EQ(fft::SizeLog2(4096), 12);
    EXPECT_EQ(fft::SizeLog2(8191), 12);
    EXPECT_EQ(fft::SizeLog2(8192), 13);
    EXPECT_EQ(fft::SizeLog2(1), 0);
    EXPECT_EQ(fft::SizeLog2(0), -1);
    EXPECT_EQ(fft::SizeLog2(-7), -1);
}

TEST(FftComplex, ForwardMatchesDirectSumsUpTo2048Points) {
    for (int log2n = 4; log2n <= 11; ++log2n) {
        const int n = 1 << log2n;
        const Values input = Random(2 * n, log2n);
        Values data = input;
        fft::Complex(data.data(), log2n, fft::kForward);
        fft::Complex(data.data(), log2n, fft::kToNatural);
        EXPECT_LT(MaxDifference(data, NaiveDft(input, -1)), Tolerance(n)) << n;
    }
}

TEST(FftComplex, InverseMatchesDirectSumsUpTo2048Points) {
    for (int log2n = 4; log2n <= 11; ++log2n) {
        const int n = 1 << log2n;
        const Values input = Random(2 * n, 100 + log2n);
        Values data = input;
        fft::Complex(data.data(), log2n, fft::kToPermuted);
        fft::Complex(data.data(), log2n, fft::kInverse);
        EXPECT_LT(MaxDifference(data, NaiveDft(input, 1)), Tolerance(n)) << n;
    }
}

TEST(FftComplex, RoundTripAndSpotBinsUpTo32768Points) {
    for (int log2n = 4; log2n <= 15; ++log2n) {
        const int n = 1 << log2n;
        const Values input = Random(2 * n, 200 + log2n);
        Values data = input;
        fft::Complex(data.data(), log2n, fft::kForward);
        if (log2n >= 12) {
            const Roots roots(n, -1);
            const auto p = fft::Permutation(n);
            for (int k : {0, 1, 7, n / 8 + 3, n / 4, n / 2, n / 2 + 1, 3 * n / 4 - 5, n - 1}) {
                const auto [re, im] = DftBin(input, roots, k);
                EXPECT_NEAR(data[2 * p[k]], static_cast<double>(re), Tolerance(n)) << n << " bin " << k;
                EXPECT_NEAR(data[2 * p[k] + 1], static_cast<double>(im), Tolerance(n)) << n << " bin " << k;
            }
        }
        fft::Complex(data.data(), log2n, fft::kInverse);
        for (double& v : data) v /= n;
        EXPECT_LT(MaxDifference(data, input), 1e-12) << n;
    }
}

TEST(FftComplex, ReorderModesUndoEachOther) {
    for (int log2n = 4; log2n <= 15; ++log2n) {
        const Values input = Random(2 << log2n, 300 + log2n);
        Values data = input;
        fft::Complex(data.data(), log2n, fft::kToNatural);
        EXPECT_NE(data, input);
        EXPECT_EQ(data[2], input[2 << (log2n - 1)]); // value 1 comes from value n/2
        fft::Complex(data.data(), log2n, fft::kToPermuted);
        EXPECT_EQ(data, input) << log2n;
    }
}

TEST(FftComplex, OutOfRangeSizesAndUnknownModesLeaveDataAlone) {
    const Values input = Random(2 << 16, 400);
    Values data = input;
    fft::Complex(data.data(), 3, fft::kForward);
    fft::Complex(data.data(), 16, fft::kForward);
    fft::Complex(data.data(), -1, fft::kInverse);
    for (int mode : {-1, 2, 3, 6, 100}) fft::Complex(data.data(), 10, mode);
    EXPECT_EQ(data, input);
    // The 65535-size case: 15 is the largest transform and touches exactly 32768 values.
    fft::Complex(data.data(), fft::SizeLog2(65535), fft::kForward);
    EXPECT_NE(data, input);
    EXPECT_TRUE(std::equal(data.begin() + 65536, data.end(), input.begin() + 65536));
}

TEST(FftReal, ForwardMatchesDirectSums) {
    for (int log2n = 5; log2n <= 12; ++log2n) {
        const int n = 1 << log2n;
        const Values input = Random(n, 500 + log2n);
        Values data = input;
        fft::Real(data.data(), log2n, false);
        EXPECT_LT(MaxDifference(data, NaiveRealDft(input)), Tolerance(n)) << n;
    }
}

TEST(FftReal, InverseMatchesDirectSumsAndUndoesForward) {
    for (int log2n = 5; log2n <= 12; ++log2n) {
        const int n = 1 << log2n;
        const Values input = Random(n, 600 + log2n);
        Values data = input;
        fft::Real(data.data(), log2n, true);
        EXPECT_LT(MaxDifference(data, NaiveRealInverse(input)), 2 * Tolerance(n)) << n;

        data = input;
        fft::Real(data.data(), log2n, false);
        fft::Real(data.data(), log2n, true);
        for (double& v : data) v /= n;
        EXPECT_LT(MaxDifference(data, input), 1e-12) << n;
    }
}

TEST(FftReal, OutOfRangeSizesLeaveDataAlone) {
    const Values input = Random(1 << 14, 700);
    Values data = input;
    fft::Real(data.data(), 4, false);
    fft::Real(data.data(), 13, false);
    fft::Real(data.data(), fft::SizeLog2(8192), true);
    EXPECT_EQ(data, input);
    fft::Real(data.data(), fft::SizeLog2(4096), false);
    EXPECT_NE(data, input);
    EXPECT_TRUE(std::equal(data.begin() + 4096, data.end(), input.begin() + 4096));
}

TEST(FftConvolve, MultipliesAnEvenNumberOfComplexValues) {
    // (1+2i)(3+4i) = -5+10i, (0+1i)(0+1i) = -1, (2-1i)(0.5+0i) = 1-0.5i, (-3+0i)(1-1i) = -3+3i
    Values dest = {1, 2, 0, 1, 2, -1, -3, 0, 7, 8};
    const Values src = {3, 4, 0, 1, 0.5, 0, 1, -1, 9, 9};
    fft::Convolve(dest.data(), src.data(), 5);
    EXPECT_EQ(dest, (Values{-5, 10, -1, 0, 1, -0.5, -3, 3, 7, 8}));

    Values untouched = {1, 2, 3, 4};
    for (int count : {1, 0, -4}) fft::Convolve(untouched.data(), src.data(), count);
    EXPECT_EQ(untouched, (Values{1, 2, 3, 4}));
}

TEST(FftConvolve, ForwardProductInverseIsCircularConvolution) {
    constexpr int log2n = 8;
    constexpr int n = 1 << log2n;
    const Values a = Random(2 * n, 800);
    const Values b = Random(2 * n, 801);
    Values fa = a, fb = b;
    fft::Complex(fa.data(), log2n, fft::kForward);
    fft::Complex(fb.data(), log2n, fft::kForward);
    fft::Convolve(fa.data(), fb.data(), n);
    fft::Complex(fa.data(), log2n, fft::kInverse);

    Values expected(2 * n);
    for (int i = 0; i < n; ++i) {
        long double re = 0, im = 0;
        for (int j = 0; j < n; ++j) {
            const int k = (i - j + n) % n;
            re += a[2 * j] * b[2 * k] - a[2 * j + 1] * b[2 * k + 1];
            im += a[2 * j] * b[2 * k + 1] + a[2 * j + 1] * b[2 * k];
        }
        expected[2 * i] = static_cast<double>(re * n);
        expected[2 * i + 1] = static_cast<double>(im * n);
    }
    EXPECT_LT(MaxDifference(fa, expected), 1e-9);
}

// Several effects may be constructed at once; every thread must see complete tables.
TEST(FftThreads, FirstUsesFromSeveralThreadsAgree) {
    const Values input = Random(4096, 900);
    std::vector<Values> results(4, input);
    std::vector<std::thread> threads;
    for (Values& r : results) {
        threads.emplace_back([&r] {
            fft::BuildTables();
            fft::Real(r.data(), 12, false);
            fft::Real(r.data(), 7, false);
            fft::Complex(r.data(), 11, fft::kForward);
        });
    }
    for (std::thread& t : threads) t.join();
    Values expected = input;
    fft::Real(expected.data(), 12, false);
    fft::Real(expected.data(), 7, false);
    fft::Complex(expected.data(), 11, fft::kForward);
    for (const Values& r : results) EXPECT_EQ(r, expected);
}

} // namespace
