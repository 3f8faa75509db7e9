#include "Audio/ParamFilters/ParamFilterMath.h"

#include <algorithm>
#include <cmath>

namespace zel
{

namespace
{
bool isUsableFreq(double f)
{
    return std::isfinite(f) && f > 0.0;
}
} // namespace

// ---- Band layout ----

void normaliseBandRange(double& lowest, double& highest)
{
    if (!isUsableFreq(lowest) || !isUsableFreq(highest))
    {
        lowest = kDefaultLowestFreq;
        highest = kDefaultHighestFreq;
        return;
    }
    if (lowest == highest)
        highest *= 1.1;
    if (lowest > highest)
        std::swap(lowest, highest);
}

double layoutLogBands(double count, double lowest, double highest, std::vector<double>& freqs)
{
    // Round half away from zero; a count that is not a number counts as one band.
    const double rounded = std::isfinite(count) ? std::round(count) : 1.0;
    if (rounded < 3.0)
    {
        freqs.resize(1);
        freqs[0] = lowest;
        return 0.0;
    }
    const std::size_t n = rounded >= static_cast<double>(kMaxParamFilterBands)
                              ? kMaxParamFilterBands
                              : static_cast<std::size_t>(rounded);
    const double r = std::pow(highest / lowest, 1.0 / static_cast<double>(n - 1));
    freqs.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        freqs[i] = lowest * std::pow(r, static_cast<double>(i));
    return r;
}

double layoutIsoBands(double spacingIndex, double lowest, double highest,
                      std::vector<double>& freqs)
{
    const double last = static_cast<double>(kIsoSpacings.size() - 1);
    const double index =
        std::isfinite(spacingIndex) ? std::clamp(std::round(spacingIndex), 0.0, last) : 0.0;
    const double r = std::exp2(kIsoSpacings[static_cast<std::size_t>(index)]);

    // Bands below the anchor, highest first; then the anchor and the bands above it. Powers
    // of r (rather than repeated division) keep the octave bands exact.
    std::size_t below = 0;
    while (below < kMaxParamFilterBands &&
           kIsoAnchorFreq / std::pow(r, static_cast<double>(below + 1)) >= lowest)
        ++below;
    std::size_t above = 0;
    while (below + above < kMaxParamFilterBands &&
           kIsoAnchorFreq * std::pow(r, static_cast<double>(above)) <= highest)
        ++above;

    if (below + above == 0)
    {
        freqs.resize(1);
        freqs[0] = lowest;
        return r;
    }
    freqs.resize(below + above);
    for (std::size_t k = 0; k < below; ++k)
        freqs[below - 1 - k] = kIsoAnchorFreq / std::pow(r, static_cast<double>(k + 1));
    for (std::size_t k = 0; k < above; ++k)
        freqs[below + k] = kIsoAnchorFreq * std::pow(r, static_cast<double>(k));
    return r;
}

double bandwidthForRatio(double r)
{
    const double lnR = std::log(r);
    return 1.46652 * lnR +
           13.5476 * lnR /
               ((r * r + 13.643) - 0.627139 * r / (r * std::cos(r + 0.0936392) - 0.676112));
}

double postGainForRatio(double r)
{
    // Horner form of 0.190897 + 0.287591 r - 0.0979994 r^2 + 0.0230334 r^3 - 0.00292178 r^4
    // + 0.000167729 r^5 - 0.00000302098 r^6.
    return 0.190897 +
           r * (0.287591 +
                r * (-0.0979994 +
                     r * (0.0230334 + r * (-0.00292178 + r * (0.000167729 + r * -0.00000302098)))));
}

// ---- Curves ----

CCatmullRomTable::CCatmullRomTable()
{
    for (int k = 1; k <= kSteps; ++k)
    {
        const double t = static_cast<double>(k) / kSteps;
        const double t2 = t * t;
        const double t3 = t2 * t;
        m_rows[static_cast<std::size_t>(k - 1)] = {
            -0.5 * t3 + t2 - 0.5 * t,
            1.5 * t3 - 2.5 * t2 + 1.0,
            -1.5 * t3 + 2.0 * t2 + 0.5 * t,
            0.5 * t3 - 0.5 * t2,
        };
    }
}

double evaluateCurve(std::span<const CCurvePoint> points, double x, const CCatmullRomTable* spline)
{
    const std::size_t n = points.size();
    if (n == 0)
        return 0.0;
    if (n == 1)
        return points[0].y;

    // The pair i, i + 1 with x(i) <= x < x(i + 1); the end pairs take everything outside.
    std::size_t lo = 0;
    std::size_t hi = n - 1;
    if (x >= points[n - 1].x)
        lo = n - 2;
    else if (x >= points[0].x)
    {
        while (hi - lo > 1)
        {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (points[mid].x <= x)
                lo = mid;
            else
                hi = mid;
        }
    }
    const std::size_t i = lo;
    const CCurvePoint& p1 = points[i];
    const CCurvePoint& p2 = points[i + 1];
    const double dx = p2.x - p1.x;
    const double t = dx == 0.0 ? 0.5 : (x - p1.x) / dx;

    if (spline != nullptr && t >= 0.0 && t <= 1.0)
    {
        const int step = static_cast<int>(std::round(t * CCatmullRomTable::kSteps));
        if (step == 0)
            return p1.y;
        const double y0 = i > 0 ? points[i - 1].y : p1.y;
        const double y3 = i + 2 < n ? points[i + 2].y : p2.y;
        const std::array<double, 4>& w = spline->weights(step);
        return w[0] * y0 + w[1] * p1.y + w[2] * p2.y + w[3] * y3;
    }
    return p1.y + (p2.y - p1.y) * t;
}

double bandNeighbourFactor(std::span<const double> freqs)
{
    if (freqs.size() < 2 || !isUsableFreq(freqs[0]) || !isUsableFreq(freqs[1]))
        return 1.0;
    return std::cbrt(freqs[1] / freqs[0]);
}

// ---- Spectral tilt ----

double slopeGain(double slopeDbPerOctave, double freq)
{
    if (!isUsableFreq(freq))
        return 1.0;
    return std::pow(
        10.0,
        ((slopeDbPerOctave - kNeutralSlopeDbPerOctave) * std::log2(freq / kSlopePivotFreq)) / 20.0);
}

} // namespace zel
