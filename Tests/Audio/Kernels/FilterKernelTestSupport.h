#pragma once
// Test support for the filter kernel family: kernels called by name through the family table
// on std::vector storage, seeded random signals, a single-bin naive DFT as the measuring oracle,
// and a fixture that traps invalid operations, division by zero and overflow where they happen.

#include "Audio/Kernels/DCDAWFilterKernels.h"

#include "KernelTestSupport.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <complex>
#include <initializer_list>
#include <numbers>
#include <random>
#include <string_view>
#include <vector>

namespace kelvtest
{

// sum x[i] e^(-2 pi i cycles i / samples)
inline std::complex<double> dftBin(const double* x, std::size_t samples, double cycles)
{
    std::complex<double> acc = 0.0;
    for (std::size_t i = 0; i < samples; ++i)
        acc +=
            x[i] * std::polar(1.0, -2.0 * std::numbers::pi * cycles * double(i) / double(samples));
    return acc;
}

template <class Base = ::testing::Test>
class CFloatTrapTest : public Base
{
protected:
#if defined(__GLIBC__)
    void SetUp() override
    {
        std::feclearexcept(FE_ALL_EXCEPT);
        feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    }
    void TearDown() override
    {
        fedisableexcept(FE_ALL_EXCEPT);
    }
#endif
};

template <class T>
using CFloatTrapParamTest = CFloatTrapTest<::testing::TestWithParam<T>>;

} // namespace kelvtest
