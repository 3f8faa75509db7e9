#pragma once
// Test support for the dynamics kernels: a kernel looked up by name in the family table, a
// call record built directly over vectors, and signal generators with fixed seeds.

#include "Audio/Kernels/DCDAWKernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <string_view>
#include <vector>

namespace kelvtest
{

inline const zel::CDCDAWKernel& dynKernel(std::string_view name)
{
    for (const zel::CDCDAWKernel& k : zel::dcdawDynamicsKernels())
        if (name == k.name)
            return k;
    ADD_FAILURE() << "no kernel " << name;
    static const zel::CDCDAWKernel none{[](zel::CDCDAWCall*) {}, 0, 0, "none"};
    return none;
}

inline void runKernel(std::string_view name, std::int32_t n, double x,
                      std::initializer_list<double*> args)
{
    zel::CDCDAWCall call;
    call.kernel = &dynKernel(name);
    call.n = n;
    call.x = x;
    int i = 0;
    for (double* a : args)
        call.data[i++] = a;
    call.kernel->function(&call);
}

// Rectified Gaussian noise of the given spread.
inline std::vector<double> rectifiedNoise(std::size_t n, double spread, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, spread);
    std::vector<double> v(n);
    for (double& x : v)
        x = std::fabs(noise(rng));
    return v;
}

inline std::vector<double> uniformNoise(std::size_t n, double lo, double hi, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(lo, hi);
    std::vector<double> v(n);
    for (double& x : v)
        x = u(rng);
    return v;
}

// Irregular block lengths covering lengths around the kernels' internal stretch sizes.
inline const std::vector<std::int32_t>& irregularBlocks()
{
    static const std::vector<std::int32_t> sizes{1, 7, 64, 65, 2, 127, 128, 3, 200, 512, 33};
    return sizes;
}

// Calls f(offset, length) over [0, total) in irregular blocks.
template <typename F>
void forEachBlock(std::size_t total, F&& f)
{
    std::size_t done = 0;
    for (std::size_t k = 0; done < total; ++k)
    {
        const auto want = static_cast<std::size_t>(irregularBlocks()[k % irregularBlocks().size()]);
        const std::size_t len = std::min(want, total - done);
        f(done, static_cast<std::int32_t>(len));
        done += len;
    }
}

// The one-pole coefficient written out from its definition.
inline double onePoleReference(double f, double fs)
{
    const double pi = 3.14159265358979323846;
    const double b = 2.0 - std::cos(2.0 * pi * f / fs);
    return 1.0 - b + std::sqrt(b * b - 1.0);
}

} // namespace kelvtest
