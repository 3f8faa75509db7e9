#pragma once
// Test support for the dynamics kernels: kernels called by name over plain vectors, irregular
// block splits, and the one-pole coefficient written out.

#include "Audio/Kernels/DCDAWKernel.h"

#include "KernelTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace kelvtest
{

// Calls f(offset, length) over [0, total) in blocks of irregular lengths around the kernels'
// internal stretch and sub-block sizes.
template <typename F>
void forEachBlock(std::size_t total, F&& f)
{
    static const std::size_t sizes[] = {1, 7, 64, 65, 2, 127, 128, 3, 200, 512, 33};
    for (std::size_t k = 0, done = 0; done < total; done += sizes[k++ % std::size(sizes)])
        f(done, static_cast<std::int32_t>(std::min(sizes[k % std::size(sizes)], total - done)));
}

inline double onePoleReference(double f, double fs)
{
    const double b = 2.0 - std::cos(2.0 * 3.14159265358979323846 * f / fs);
    return 1.0 - b + std::sqrt(b * b - 1.0);
}

} // namespace kelvtest
