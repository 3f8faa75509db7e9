#pragma once
// The arithmetic of the parameter filters as plain functions: the band layout (logarithmic and
// octave-spaced), the fitted bandwidth and post-gain of a layout, curve evaluation in normalised
// coordinates (straight segments or a tabulated Catmull-Rom spline) and the spectral tilt gain.
// Nothing here knows parameters, converters or objects; the filter classes (ParamFilters.h)
// feed these functions and write their results into destination parameters.
//
// Output vectors are resized, never shrunk to fit: once they have grown to a layout's band
// count, laying out the same count again allocates nothing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zel
{

// ---- Band layout ----

// Upper bound on the bands any layout produces, whatever the sources say (a guard against
// absurd counts or ranges; the description asks for at most 64).
inline constexpr std::size_t kMaxParamFilterBands = 1024;
// The default range when the layout has no frequency sources.
inline constexpr double kDefaultLowestFreq = 20.0;
inline constexpr double kDefaultHighestFreq = 20000.0;
// Anchor of the octave-spaced layout.
inline constexpr double kIsoAnchorFreq = 1000.0;
// Octave spacings selectable by the octave-spaced layout's first source (rounded index).
inline constexpr std::array<double, 8> kIsoSpacings = {1.0 / 3.0, 0.5, 2.0 / 3.0, 0.75,
                                                       1.0,       1.5, 2.0,       2.5};

// Equal limits are widened (highest times 1.1), swapped limits are put in order. Limits that
// are not positive finite numbers fall back to the default range, since the layouts take
// logarithms and ratios of them.
void normaliseBandRange(double& lowest, double& highest);

// Logarithmic layout: N = round(count) bands from lowest to highest with ratio
// r = (highest/lowest)^(1/(N-1)); N < 3 gives one band at lowest and r = 0. N is capped at
// kMaxParamFilterBands. The range must already be normalised. Returns r.
double layoutLogBands(double count, double lowest, double highest, std::vector<double>& freqs);

// Octave-spaced layout: the rounded spacing index (clamped to the table) selects the spacing s
// and r = 2^s; bands are anchored at 1000 Hz, 1000/r^k downwards while not below lowest and
// 1000*r^k upwards (k from 0, so 1000 Hz itself only when highest >= 1000) while not above
// highest, in ascending order. A range that leaves no band gets one band at lowest. Returns r.
double layoutIsoBands(double spacingIndex, double lowest, double highest,
                      std::vector<double>& freqs);

// Fitted bandwidth (octaves) and compensating post-gain (linear factor) of bands spaced by the
// ratio r; callers use 1.0 for both when the layout has fewer than two bands.
double bandwidthForRatio(double r);
double postGainForRatio(double r);

// ---- Curves ----

// A curve point in normalised coordinates.
struct CCurvePoint
{
    double x = 0.0;
    double y = 0.0;
};

// Catmull-Rom weights (tension 0.5) for t = k/64, k = 1 ... 64; row k - 1 holds w0..w3 for the
// points p0 (before the segment), p1, p2 (the segment's ends) and p3 (after it).
class CCatmullRomTable
{
public:
    static constexpr int kSteps = 64;
    CCatmullRomTable();
    const std::array<double, 4>& weights(int step) const
    {
        return m_rows[static_cast<std::size_t>(step - 1)];
    }

private:
    std::array<std::array<double, 4>, kSteps> m_rows{};
};

// The curve's value at x. Points are taken in list order (ascending x expected). The segment is
// found by bisection over the whole list: the pair i, i+1 with x(i) <= x < x(i+1), the first
// pair below the first point and the last pair from the last point on, so outside the points
// the first or last segment's line continues. On a segment t = (x - x(i)) / (x(i+1) - x(i)),
// or 0.5 when both points share x. One point gives its value everywhere; no point gives 0.
//
// With spline (not null) and t inside the segment, t is mapped to the table step
// k = round(t * 64): k = 0 is p1 itself, k = 1 ... 64 use the table's row. The neighbours p0
// and p3 are the points before and after the segment; at the ends of the list the segment's
// own end point stands in for the missing neighbour (p0 = p1 on the first segment, p3 = p2 on
// the last). Outside the points the spline gives way to the straight line.
double evaluateCurve(std::span<const CCurvePoint> points, double x,
                     const CCatmullRomTable* spline = nullptr);

// h = (f1/f0)^(1/3) for a layout of at least two bands, 1.0 otherwise.
double bandNeighbourFactor(std::span<const double> freqs);

// The normalised value of every band: the mean of the curve at fk, at fk/h (not for the first
// band) and at fk*h (not for the last band), with h from bandNeighbourFactor; a single band is
// evaluated at its centre only. toX maps a frequency to the curve's normalised x. out must hold
// freqs.size() values.
template <class TFreqToX>
void evaluateCurveAtBands(std::span<const CCurvePoint> points, std::span<const double> freqs,
                          const TFreqToX& toX, const CCatmullRomTable* spline,
                          std::span<double> out)
{
    const double h = bandNeighbourFactor(freqs);
    const std::size_t n = freqs.size();
    for (std::size_t k = 0; k < n && k < out.size(); ++k)
    {
        const double f = freqs[k];
        double sum = evaluateCurve(points, toX(f), spline);
        double count = 1.0;
        if (k > 0)
        {
            sum += evaluateCurve(points, toX(f / h), spline);
            count += 1.0;
        }
        if (k + 1 < n)
        {
            sum += evaluateCurve(points, toX(f * h), spline);
            count += 1.0;
        }
        out[k] = sum / count;
    }
}

// ---- Spectral tilt ----

// The tilt's pivot, the geometric middle of 20 Hz and 20000 Hz.
inline constexpr double kSlopePivotFreq = 632.46;
// The slope used when the slope source is not connected (dB per octave).
inline constexpr double kDefaultSlopeDbPerOctave = 4.5;
// A slope of 3 dB per octave is neutral: the gain is 1 in every band.
inline constexpr double kNeutralSlopeDbPerOctave = 3.0;

// 10^(((s - 3) * log2(f / 632.46)) / 20), a linear factor; 1.0 for a frequency that is not
// positive.
double slopeGain(double slopeDbPerOctave, double freq);

} // namespace zel
