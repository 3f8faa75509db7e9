#pragma once
// The level meter as described, sample by sample: an oracle for the meter kernels and the meter
// module. The peak is the extreme of the last R sub-block values kept in a plain list, found by
// scanning it every time, independent of the kernel's ring and peak-life bookkeeping.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <deque>
#include <numbers>

namespace kelvtest
{

// The meter's one-pole coefficient of a time constant t at rate fs.
inline double meterCoef(double t, double fs)
{
    const double b = 2.0 - std::cos(2.0 * std::numbers::pi / (fs * 1.3643161 * t));
    return 1.0 - b + std::sqrt(b * b - 1.0);
}

struct CMeterReference
{
    enum EKind
    {
        kMax,
        kMin,
        kRatio,
        kRatioInverted
    };
    explicit CMeterReference(EKind k) : kind(k) {}

    EKind kind;
    double ci = 1.0, cr = 1.0, c3 = 1.0, m = 0, m2 = 0, h = 0, q = 0, peak = 0;
    std::size_t sub = 1, left = 1;
    std::deque<double> window; // oldest first

    // Integration, release and third times (seconds) at fs; a release below 0.1 ms is none.
    void times(double fs, double integration, double release, double third)
    {
        ci = meterCoef(integration, fs);
        cr = release < 0.0001 ? 1.0 : meterCoef(release, fs);
        c3 = meterCoef(third, fs);
    }
    void reset(double initial, std::size_t s, std::size_t r)
    {
        m = m2 = h = q = peak = initial;
        sub = left = s;
        window.assign(r, initial);
    }
    void step(double a, double b)
    {
        const bool ratio = kind == kRatio || kind == kRatioInverted, min = kind == kMin;
        m += (a * a - m) * ci;
        m2 += (b * b - m2) * c3;
        const double instant = !ratio           ? a * a
                               : kind == kRatio ? (m + 1e-30) / (m2 + 1e-30)
                                                : (m2 + 1e-30) / (m + 1e-30);
        const double level = ratio ? instant : m;
        h = (min ? level < h : level > h) ? level : h + (level - h) * cr;
        q = min ? std::min({h, instant, q}) : std::max({h, instant, q});
        if (--left > 0)
            return;
        window.pop_front();
        window.push_back(q);
        peak = min ? *std::min_element(window.begin(), window.end())
                   : *std::max_element(window.begin(), window.end());
        q = h;
        left = sub;
    }
};

} // namespace kelvtest
