#pragma once
// Helpers for kernel tests: run a kernel on plain vectors through a call record built by hand
// (no context), feed a signal in blocks of irregular lengths, make reproducible random signals
// compute the one-pole coefficient from its definition and set up gain computer records.

#include "Audio/Kernels/BasicKernels.h"
#include "Audio/Kernels/DCDAWGainComputer.h"
#include "Audio/Kernels/DCDAWKernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace kelvtest
{

inline void runKernel(const zel::CDCDAWKernel& k, std::int32_t n, double x,
                      std::initializer_list<double*> args)
{
    zel::CDCDAWCall call;
    call.kernel = &k;
    call.n = n;
    call.x = x;
    int i = 0;
    for (double* p : args)
        call.data[i++] = p;
    k.function(&call);
}
inline void runKernel(std::string_view name, std::int32_t n, double x,
                      std::initializer_list<double*> args)
{
    const zel::CDCDAWKernel* k = zel::findDCDAWKernel(name);
    ASSERT_NE(k, nullptr) << name;
    runKernel(*k, n, x, args);
}

inline std::vector<double> randomSignal(std::size_t size, std::uint32_t seed, double lo = -1.0,
                                        double hi = 1.0)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(lo, hi);
    std::vector<double> v(size);
    for (double& d : v)
        d = dist(gen);
    return v;
}

// Calls f(offset, length) over [0, total) in blocks of irregular lengths (odd tails, sizes
// around the kernels' internal stretch and sub-block sizes), as a module does block after
// block with one state record.
template <typename F>
void forEachBlock(std::size_t total, F&& f)
{
    static const std::size_t sizes[] = {1, 7, 64, 65, 2, 127, 128, 3, 200, 513, 33};
    for (std::size_t k = 0, done = 0; done < total; done += sizes[k++ % std::size(sizes)])
        f(done, static_cast<std::int32_t>(std::min(sizes[k % std::size(sizes)], total - done)));
}

inline double onePoleReference(double f, double fs)
{
    const double b = 2.0 - std::cos(2.0 * 3.14159265358979323846 * f / fs);
    return 1.0 - b + std::sqrt(b * b - 1.0);
}

// The gain computer's law: slope R, inverse detection, attack and release times, threshold T
// and range L.
struct CKelvCompLaw
{
    double slope = 0.25;
    bool inverse = false;
    double attack = 0.01, release = 0.15, threshold = 0.1, range = 31.62;
};

// A gain computer record filled from p and set up by kelvcompi at fs, or by kelvcompu from
// previous.
inline std::vector<double> kelvCompRecord(const CKelvCompLaw& p, double fs,
                                          double* previous = nullptr)
{
    std::vector<double> st(zel::kKelvCompFieldCount, -123.0);
    st[zel::kKelvCompThreshold] = p.threshold;
    st[zel::kKelvCompSlope] = p.slope;
    st[zel::kKelvCompRange] = p.range;
    st[zel::kKelvCompAttackTime] = p.attack;
    st[zel::kKelvCompReleaseTime] = p.release;
    zel::setKelvCompInverse(st.data(), p.inverse);
    if (previous)
        runKernel("DCDAW_kelvcompu", 1, fs, {st.data(), previous});
    else
        runKernel("DCDAW_kelvcompi", 1, fs, {st.data()});
    return st;
}

// Sample counts that cover the pair loops' odd tails and sizes around powers of two.
constexpr std::int32_t kTestLengths[] = {1,  2,  3,  4,  5,  7,  8,   15,  16,
                                         17, 31, 32, 33, 64, 65, 100, 999, 4095};

} // namespace kelvtest
