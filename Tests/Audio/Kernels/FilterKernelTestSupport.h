#pragma once
// Test support for the filter kernel family: kernel lookup by name in the family table, a call
// helper over std::vector storage, seeded random signals, a floating-point trap fixture and a
// naive single-frequency DFT used as the measuring oracle.

#include "Audio/Kernels/DCDAWFilterKernels.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <complex>
#include <cstdint>
#include <initializer_list>
#include <numbers>
#include <random>
#include <string_view>
#include <vector>

namespace kelvtest
{

inline const zel::CDCDAWKernel& filterKernel(std::string_view name)
{
    for (const zel::CDCDAWKernel& k : zel::dcdawFilterKernels())
        if (name == k.name)
            return k;
    ADD_FAILURE() << "no kernel " << name;
    static const zel::CDCDAWKernel none{[](zel::CDCDAWCall*) {}, 1, 0, "none"};
    return none;
}

// Runs kernel `name` with the given buffers as arguments 0, 1, ...
inline void runKernel(std::string_view name, std::int32_t n, double x,
                      std::initializer_list<double*> args)
{
    zel::CDCDAWCall call;
    call.kernel = &filterKernel(name);
    call.n = n;
    call.x = x;
    int i = 0;
    for (double* p : args)
        call.data[i++] = p;
    call.kernel->function(&call);
}

inline std::vector<double> randomSignal(std::size_t n, std::uint32_t seed, double scale = 1.0)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-scale, scale);
    std::vector<double> v(n);
    for (double& s : v)
        s = dist(gen);
    return v;
}

// Complex amplitude of the component at `cycles` cycles per `samples` (an exact bin).
inline std::complex<double> dftBin(const double* x, std::size_t samples, double cycles)
{
    std::complex<double> acc = 0.0;
    for (std::size_t i = 0; i < samples; ++i)
    {
        const double angle = -2.0 * std::numbers::pi * cycles * static_cast<double>(i) /
                             static_cast<double>(samples);
        acc += x[i] * std::complex<double>(std::cos(angle), std::sin(angle));
    }
    return acc;
}

inline double toDb(double gain)
{
    return 20.0 * std::log10(gain);
}

// Traps invalid operations, division by zero and overflow, so the first NaN or infinity a
// kernel makes fails the test where it is made.
class CFloatTrapTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
#if defined(__GLIBC__)
        std::feclearexcept(FE_ALL_EXCEPT);
        feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
#endif
    }
    void TearDown() override
    {
#if defined(__GLIBC__)
        fedisableexcept(FE_ALL_EXCEPT);
#endif
    }
};

template <class T>
class CFloatTrapParamTest : public CFloatTrapTest, public ::testing::WithParamInterface<T>
{
};

} // namespace kelvtest
