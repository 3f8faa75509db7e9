#include "Audio/ParamFilters/AudioParamFilters.h"

#include "Audio/Converters/AudioParamConverter.h"
#include "Core/ClassInfo.h"
#include "Core/Numbers.h"

namespace zel
{

namespace
{
CErrorPtr parseFlag(const CObject& owner, const CText& value, bool& out)
{
    return detail::parseFlagAttribute(owner, value, out);
}
} // namespace

// ---- CAudioParamFilterMB ----

void CAudioParamFilterMB::registerClass(CClassInfo& info)
{
    CAudioParamFilter::registerClass(info);
    info.attribute<&CAudioParamFilterMB::onIsIso>("is-iso");
}

CErrorPtr CAudioParamFilterMB::onIsIso(const CText& value)
{
    return parseFlag(*this, value, m_isIso);
}

CAudioParamFilterLimits CAudioParamFilterMB::limits() const
{
    return {.minSources = 1,
            .maxSources = 3,
            .minDestinations = 1,
            .maxDestinations = 4,
            .requiredSources = 0b001};
}

CErrorPtr CAudioParamFilterMB::computeGroup(std::int32_t group)
{
    const double first = sourceValue(0, group, 1.0);
    double lowest = sourceValue(1, group, kDefaultLowestFreq);
    double highest = sourceValue(2, group, kDefaultHighestFreq);
    normaliseBandRange(lowest, highest);

    const double r = m_isIso ? layoutIsoBands(first, lowest, highest, m_freqs)
                             : layoutLogBands(first, lowest, highest, m_freqs);
    const bool several = m_freqs.size() >= 2;
    const double bandwidth = several ? bandwidthForRatio(r) : 1.0;
    const double postGain = several ? postGainForRatio(r) : 1.0;
    const double count = static_cast<double>(m_freqs.size());

    ZEL_TRY(writeDestination(kFreqs, group, m_freqs), fullName().toUtf8());
    ZEL_TRY(writeDestination(kBandwidth, group, {&bandwidth, 1}), fullName().toUtf8());
    ZEL_TRY(writeDestination(kPostGain, group, {&postGain, 1}), fullName().toUtf8());
    ZEL_TRY(writeDestination(kBandCount, group, {&count, 1}), fullName().toUtf8());
    return nullptr;
}

// ---- CAudioParamFilterEnv ----

void CAudioParamFilterEnv::registerClass(CClassInfo& info)
{
    CAudioParamFilter::registerClass(info);
    info.attribute<&CAudioParamFilterEnv::onIsSpline>("is-spline");
}

CErrorPtr CAudioParamFilterEnv::onIsSpline(const CText& value)
{
    bool spline = false;
    ZEL_TRY(parseFlag(*this, value, spline), fullName().toUtf8());
    if (!spline)
        m_spline.reset();
    else if (!m_spline)
        m_spline = std::make_unique<CCatmullRomTable>();
    return nullptr;
}

CAudioParamFilterLimits CAudioParamFilterEnv::limits() const
{
    return {.minSources = 2,
            .maxSources = 2,
            .minDestinations = 1,
            .maxDestinations = 1,
            .requiredSources = 0b11};
}

CErrorPtr CAudioParamFilterEnv::computeGroup(std::int32_t group)
{
    const CAudioParam* curve = source(0);
    const CAudioParam* target = destination(0);
    if (curve == nullptr || target == nullptr)
        return nullptr;
    const CAudioParamInfo& curveInfo = curve->info();
    if (curveInfo.elementSize < 2)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioParamFilterEnv_computeGroup_Curve",
                         "Curve parameter '%1' needs a frequency and a value per element.",
                         {curveInfo.paramName.toUtf8()});

    readSource(0, group, m_raw);
    readSource(1, group, m_freqs);

    // The curve's points in its own normalised scales: x through the frequency converter,
    // y through the value's converter.
    const CAudioParamConverter* xConverter = curveInfo.converter(0);
    const CAudioParamConverter* yConverter = curveInfo.converter(1);
    const auto toX = [&](double freq)
    { return xConverter != nullptr ? xConverter->valueToNorm(curveInfo, 0, freq) : freq; };
    const auto size = static_cast<std::size_t>(curveInfo.elementSize);
    m_points.resize(m_raw.size() / size);
    for (std::size_t i = 0; i < m_points.size(); ++i)
    {
        const double value = m_raw[i * size + 1];
        m_points[i].x = toX(m_raw[i * size]);
        m_points[i].y =
            yConverter != nullptr ? yConverter->valueToNorm(curveInfo, 1, value) : value;
    }

    const CAudioParamInfo& targetInfo = target->info();
    m_values.resize(m_freqs.size());
    if (m_points.empty())
    {
        const std::vector<double>& defaults = targetInfo.defaultSet(group);
        const double fallback = defaults.empty() ? targetInfo.minValue(0) : defaults[0];
        std::fill(m_values.begin(), m_values.end(), fallback);
    }
    else
    {
        evaluateCurveAtBands(m_points, m_freqs, toX, m_spline.get(), m_values);
        const CAudioParamConverter* converter = targetInfo.converter(0);
        for (double& value : m_values)
        {
            // Points beyond the curve's range extrapolate; the destination's range ends the line.
            const double norm = value >= 0.0 ? (value <= 1.0 ? value : 1.0) : 0.0;
            value = converter != nullptr ? converter->normToValue(targetInfo, 0, norm)
                                         : targetInfo.minValue(0) + norm * (targetInfo.maxValue(0) -
                                                                            targetInfo.minValue(0));
        }
    }
    ZEL_TRY(writeDestination(0, group, m_values), fullName().toUtf8());
    return nullptr;
}

// ---- CAudioParamFilterMBSlope ----

void CAudioParamFilterMBSlope::registerClass(CClassInfo& info)
{
    CAudioParamFilter::registerClass(info);
}

CAudioParamFilterLimits CAudioParamFilterMBSlope::limits() const
{
    return {.minSources = 2,
            .maxSources = 2,
            .minDestinations = 1,
            .maxDestinations = 1,
            .requiredSources = 0b10};
}

CErrorPtr CAudioParamFilterMBSlope::computeGroup(std::int32_t group)
{
    const double slope = sourceValue(0, group, kDefaultSlopeDbPerOctave);
    readSource(1, group, m_freqs);
    for (double& value : m_freqs)
        value = slopeGain(slope, value);
    ZEL_TRY(writeDestination(0, group, m_freqs), fullName().toUtf8());
    return nullptr;
}

} // namespace zel
