#pragma once
// The three parameter filter kinds (see AudioParamFilter.h for lists, connection and groups;
// ParamFilterMath.h for the arithmetic):
//
//   "audio:param-filter-mb"       CAudioParamFilterMB       band layout
//   "audio:param-filter-env"      CAudioParamFilterEnv      curve evaluated at the bands
//   "audio:param-filter-mbslope"  CAudioParamFilterMBSlope  spectral tilt per band
//
// CAudioParamFilterMB. Sources: count (or, with "is-iso", the spacing index), then optionally
// the lowest and the highest frequency in Hz; with fewer than two connected sources the range
// is 20 Hz to 20000 Hz, without the third the highest is 20000 Hz. Destinations, in order: the
// band frequencies (one element per band, ascending), the bandwidth, the post-gain and the band
// count; trailing ones may be left out, and an empty name skips one.
//
// CAudioParamFilterEnv. Sources: a curve (elements of frequency and value, at least two values
// per element) and the band frequencies. Destination: one value per band. Curve points and band
// frequencies are taken to normalised coordinates with the curve's converters, the curve is
// evaluated there, and each band's normalised mean (clamped to [0, 1]) becomes a real value
// through the destination's converter. An empty curve gives every band the destination's
// default. Attribute "is-spline" (default false) joins the points with a Catmull-Rom spline.
//
// CAudioParamFilterMBSlope. Sources: the slope in dB per octave (may be left unconnected: 4.5)
// and the band frequencies. Destination: one linear gain per band.
//
// None of these classes knows the process graph; whoever builds it connects them.

#include "Audio/ParamFilters/AudioParamFilter.h"
#include "Audio/ParamFilters/ParamFilterMath.h"

#include <memory>
#include <vector>

namespace zel
{

class CAudioParamFilterMB : public CAudioParamFilter
{
public:
    // Destination places.
    static constexpr std::size_t kFreqs = 0;
    static constexpr std::size_t kBandwidth = 1;
    static constexpr std::size_t kPostGain = 2;
    static constexpr std::size_t kBandCount = 3;

    static void registerClass(CClassInfo& info);
    CErrorPtr onIsIso(const CText& value);
    bool isIso() const { return m_isIso; }

    CAudioParamFilterLimits limits() const override;

protected:
    CErrorPtr computeGroup(std::int32_t group) override;

private:
    bool m_isIso = false;
    std::vector<double> m_freqs;
};

class CAudioParamFilterEnv : public CAudioParamFilter
{
public:
    static void registerClass(CClassInfo& info);
    CErrorPtr onIsSpline(const CText& value);
    bool isSpline() const { return m_spline != nullptr; }

    CAudioParamFilterLimits limits() const override;

protected:
    CErrorPtr computeGroup(std::int32_t group) override;

private:
    std::unique_ptr<CCatmullRomTable> m_spline;
    std::vector<double> m_raw;
    std::vector<CCurvePoint> m_points;
    std::vector<double> m_freqs;
    std::vector<double> m_values;
};

class CAudioParamFilterMBSlope : public CAudioParamFilter
{
public:
    static void registerClass(CClassInfo& info);
    CAudioParamFilterLimits limits() const override;

protected:
    CErrorPtr computeGroup(std::int32_t group) override;

private:
    std::vector<double> m_freqs;
};

} // namespace zel
