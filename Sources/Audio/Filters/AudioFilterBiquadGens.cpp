#include "Audio/Filters/AudioFilterBiquadGens.h"

#include "Core/ClassInfo.h"
#include "Core/Numbers.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zel
{
namespace
{

constexpr double kPi = std::numbers::pi;

CErrorPtr parseFlag(const CObject& owner, const CText& value, bool& out)
{
    return detail::parseFlagAttribute(owner, value, out);
}

// Divides by a0 and stores the section.
CBiquadSection normalised(double b0, double b1, double b2, double a0, double a1, double a2,
                          EBiquadForm form)
{
    CBiquadSection s;
    s.coeffs = {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
    s.form = form;
    return s;
}

// Keeps the design inputs where the formulas stay finite.
double safeFrequency(double f, double fs)
{
    return std::clamp(f, fs * 1e-6, fs * 0.499);
}

} // namespace

// ---- CAudioFilterRBJGen ------------------------------------------------------------------------

bool CAudioFilterRBJGen::shapeOf(std::int64_t type, bool type2, EShape& shape)
{
    static constexpr EShape kTable1[] = {EShape::kIdentity,  EShape::kPeaking, EShape::kLowShelf,
                                         EShape::kHighShelf, EShape::kLowPass, EShape::kHighPass};
    static constexpr EShape kTable2[] = {EShape::kNotch, EShape::kAllPass, EShape::kBandPassPeak,
                                         EShape::kBandPassSkirt};
    if (type < 0)
        return false;
    if (!type2 && type < static_cast<std::int64_t>(std::size(kTable1)))
        shape = kTable1[type];
    else if (type2 && type < static_cast<std::int64_t>(std::size(kTable2)))
        shape = kTable2[type];
    else
        return false;
    return true;
}

void CAudioFilterRBJGen::registerClass(CClassInfo& info)
{
    CAudioFilterGen::registerClass(info);
    info.attribute<&CAudioFilterRBJGen::onType>("type");
    info.attribute<&CAudioFilterRBJGen::onIsType2>("is-type2");
    info.attribute<&CAudioFilterRBJGen::onIsQ>("is-q");
    info.attribute<&CAudioFilterRBJGen::onIsInverted>("is-inverted");
}

CErrorPtr CAudioFilterRBJGen::checkType()
{
    std::int64_t type = 0;
    if (!parseInteger(m_typeText, type) || !shapeOf(type, m_type2, m_shape))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterRBJGen_init_InvalidType",
                         "Invalid filter type '%1' specified.", {m_typeText.toUtf8()});
    return nullptr;
}

CErrorPtr CAudioFilterRBJGen::init()
{
    ZEL_TRY(CAudioFilterGen::init(), fullName().toUtf8());
    ZEL_TRY(checkType(), fullName().toUtf8());
    return nullptr;
}

// After init the type and its table are checked as they change.
CErrorPtr CAudioFilterRBJGen::onType(const CText& value)
{
    m_typeText = value;
    return state() >= kStateAttributesInitialised ? checkType() : nullptr;
}

CErrorPtr CAudioFilterRBJGen::onIsType2(const CText& value)
{
    ZEL_TRY(parseFlag(*this, value, m_type2), fullName().toUtf8());
    return state() >= kStateAttributesInitialised ? checkType() : nullptr;
}

CErrorPtr CAudioFilterRBJGen::onIsQ(const CText& value)
{
    return parseFlag(*this, value, m_isQ);
}

CErrorPtr CAudioFilterRBJGen::onIsInverted(const CText& value)
{
    return parseFlag(*this, value, m_inverted);
}

CBiquadSection CAudioFilterRBJGen::section(EShape shape, double fs, double f0, double gain,
                                           double bw, bool isQ, bool inverted)
{
    const double w0 = 2.0 * kPi * safeFrequency(f0, fs) / fs;
    const double cw = std::cos(w0);
    const double sw = std::sin(w0);
    const double g = std::max(gain, 1e-12);
    const double width = std::max(bw, 1e-6);
    const double alpha =
        isQ ? sw / (2.0 * width) : sw * std::sinh(0.5 * std::numbers::ln2 * width * w0 / sw);
    const double a = std::sqrt(g); // the shelving and peaking amplitude
    const double twoRootAAlpha = 2.0 * std::sqrt(a) * alpha;

    CBiquadSection s;
    switch (shape)
    {
    case EShape::kIdentity:
        s = CBiquadSection{};
        break;
    case EShape::kPeaking:
        s = normalised(1.0 + alpha * a, -2.0 * cw, 1.0 - alpha * a, 1.0 + alpha / a, -2.0 * cw,
                       1.0 - alpha / a, EBiquadForm::kCommon);
        break;
    case EShape::kLowShelf:
        s = normalised(a * ((a + 1.0) - (a - 1.0) * cw + twoRootAAlpha),
                       2.0 * a * ((a - 1.0) - (a + 1.0) * cw),
                       a * ((a + 1.0) - (a - 1.0) * cw - twoRootAAlpha),
                       (a + 1.0) + (a - 1.0) * cw + twoRootAAlpha,
                       -2.0 * ((a - 1.0) + (a + 1.0) * cw),
                       (a + 1.0) + (a - 1.0) * cw - twoRootAAlpha, EBiquadForm::kCommon);
        break;
    case EShape::kHighShelf:
        s = normalised(a * ((a + 1.0) + (a - 1.0) * cw + twoRootAAlpha),
                       -2.0 * a * ((a - 1.0) + (a + 1.0) * cw),
                       a * ((a + 1.0) + (a - 1.0) * cw - twoRootAAlpha),
                       (a + 1.0) - (a - 1.0) * cw + twoRootAAlpha,
                       2.0 * ((a - 1.0) - (a + 1.0) * cw),
                       (a + 1.0) - (a - 1.0) * cw - twoRootAAlpha, EBiquadForm::kCommon);
        break;
    case EShape::kLowPass:
        s = normalised(0.5 * (1.0 - cw), 1.0 - cw, 0.5 * (1.0 - cw), 1.0 + alpha, -2.0 * cw,
                       1.0 - alpha, EBiquadForm::kLowPass);
        break;
    case EShape::kHighPass:
        s = normalised(0.5 * (1.0 + cw), -(1.0 + cw), 0.5 * (1.0 + cw), 1.0 + alpha, -2.0 * cw,
                       1.0 - alpha, EBiquadForm::kHighPass);
        break;
    case EShape::kNotch:
        s = normalised(1.0, -2.0 * cw, 1.0, 1.0 + alpha, -2.0 * cw, 1.0 - alpha,
                       EBiquadForm::kNotch);
        break;
    case EShape::kAllPass:
        s = normalised(1.0 - alpha, -2.0 * cw, 1.0 + alpha, 1.0 + alpha, -2.0 * cw, 1.0 - alpha,
                       EBiquadForm::kCommon);
        break;
    case EShape::kBandPassPeak:
        s = normalised(alpha, 0.0, -alpha, 1.0 + alpha, -2.0 * cw, 1.0 - alpha,
                       EBiquadForm::kBandPass);
        break;
    case EShape::kBandPassSkirt:
        s = normalised(0.5 * sw, 0.0, -0.5 * sw, 1.0 + alpha, -2.0 * cw, 1.0 - alpha,
                       EBiquadForm::kBandPass);
        break;
    }
    if (inverted)
    {
        // 1 - B(z)/A(z) = (A(z) - B(z))/A(z) with a0 = 1.
        auto& c = s.coeffs;
        c = {1.0 - c[0], c[3] - c[1], c[4] - c[2], c[3], c[4]};
        s.form = EBiquadForm::kCommon;
    }
    return s;
}

CErrorPtr CAudioFilterRBJGen::designResolved(const CAudioFilterRequest& request,
                                             CAudioFilterDesign& out, CDCDAWFilterWorkspace*) const
{
    out.kind = EFilterDesignKind::kBiquad;
    out.sectionCount = 1;
    out.sections[0] =
        section(m_shape, request.sampleRate, request.freq.value_or(1000.0),
                request.gain.value_or(1.0), request.bw.value_or(1.0), m_isQ, m_inverted);
    return nullptr;
}

// ---- CAudioFilterMagnusGen ---------------------------------------------------------------------

void CAudioFilterMagnusGen::registerClass(CClassInfo& info)
{
    CAudioFilterGen::registerClass(info);
    info.attribute<&CAudioFilterMagnusGen::onType>("type");
}

CErrorPtr CAudioFilterMagnusGen::checkType()
{
    std::int64_t type = 0;
    if (!parseInteger(m_typeText, type) || (type != kTypeA && type != kTypeB))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioFilterMagnusGen_init_InvalidType",
                         "Invalid filter type '%1' specified.", {m_typeText.toUtf8()});
    m_type = type;
    return nullptr;
}

CErrorPtr CAudioFilterMagnusGen::init()
{
    ZEL_TRY(CAudioFilterGen::init(), fullName().toUtf8());
    ZEL_TRY(checkType(), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CAudioFilterMagnusGen::onType(const CText& value)
{
    m_typeText = value;
    return state() >= kStateAttributesInitialised ? checkType() : nullptr;
}

CBiquadSection CAudioFilterMagnusGen::designB(double fs, double f, double bwOctaves)
{
    const double x = f / fs;
    const double p = std::pow(0.5, 0.5 * bwOctaves);
    double a = std::min(2.0 * x, 0.99);
    double b = std::min(2.0 * p * x, 0.98);
    // Keeps away from the point where the tangent below degenerates.
    if (std::abs(a - 0.5) < 0.01)
    {
        a *= 0.99;
        b *= 0.99;
    }
    const double aa = a * a;
    const double bb = b * b;
    const double a4 = aa * aa;
    const double t1 = -2.0 * aa * bb;
    const double t2 = 0.5 * (bb * bb + a4);
    const double n = 0.5 * t1 + t2;
    const double d = t2 + t1;
    const double pp = n / (0.5 * (a4 + 1.0) * bb + d);
    const double qq = n / (0.5 * (4.0 * a4 + 0.25) * bb + d);

    const double tn = std::tan(a * kPi * 0.5);
    const double t = tn * tn;
    const double r = std::sqrt(1.0 / (1.0 - pp));
    const double s = 1.0 / ((pp - 1.0) * (qq - 1.0));
    const double u = std::sqrt(pp) * r;
    const double v = 2.0 * t * (pp - 1.0);
    const double w = (qq - pp) - t * t * (pp - 1.0) * qq;
    const double bigX = std::sqrt((qq * v + w) * s);
    const double bigY = std::sqrt(s * ((qq - 1.0) * r * v + w + v));

    return normalised(bigX + u, -2.0 * u, u - bigX, bigY + r + t, 2.0 * (t - r), (r - bigY) + t,
                      EBiquadForm::kCommon);
}

CBiquadSection CAudioFilterMagnusGen::designA(double fs, double f, double bwOctaves, double gain)
{
    const double g = std::abs(gain - 1.0) < 0.001 ? 0.999 : gain;
    const double x = f / fs;
    const double omega = 2.0 * kPi * std::min(x, 0.49);
    const double p = std::pow(0.5, 0.5 * bwOctaves);
    const double om2 = omega * omega;
    const double vr = 2.0 * kPi * std::min(p * x, 0.48);
    const double v = vr * vr;

    const double e = -4.93480220054468 * (v * v + om2 * om2);
    const double ff = 19.739208802178716 * v * om2;
    const double k = (0.5000000000000001 * ff + e) /
                     (-0.4999999999999999 * v * (om2 * om2 + 97.40909103400243) + ff + e);

    const double s = std::sqrt(k);
    const double th = std::tan(0.5 * omega);
    const double t = th * th;
    const double u = std::tan(om2 * 0.15915494309189535);
    const double z = 1.0 / (u * u);
    const double c = std::sqrt(1.0 - k);
    const double dd = t * c;
    const double gg = t * (2.0 * (c - 1.0) + k * t * z);
    const double h = std::sqrt(gg);
    const double j = std::sqrt((k * dd * z - 2.0 * k) * dd + k * gg);

    return normalised(g * (s + j), -2.0 * g * s, g * (s - j), h + 1.0 + dd, 2.0 * (dd - 1.0),
                      (1.0 - h) + dd, EBiquadForm::kCommon);
}

CErrorPtr CAudioFilterMagnusGen::designResolved(const CAudioFilterRequest& request,
                                                CAudioFilterDesign& out,
                                                CDCDAWFilterWorkspace*) const
{
    const double fs = request.sampleRate;
    const double f = safeFrequency(request.freq.value_or(1000.0), fs);
    const double bw = std::max(request.bw.value_or(1.0), 1e-6);
    out.kind = EFilterDesignKind::kBiquad;
    out.sectionCount = 1;
    out.sections[0] =
        m_type == kTypeA ? designA(fs, f, bw, request.gain.value_or(1.0)) : designB(fs, f, bw);
    return nullptr;
}

// ---- CAudioFilterBypassGen ---------------------------------------------------------------------

void CAudioFilterBypassGen::registerClass(CClassInfo& info)
{
    CAudioFilterGen::registerClass(info);
}

CErrorPtr CAudioFilterBypassGen::designResolved(const CAudioFilterRequest&, CAudioFilterDesign& out,
                                                CDCDAWFilterWorkspace*) const
{
    out.kind = EFilterDesignKind::kBiquad;
    out.sectionCount = 1;
    out.sections[0] = CBiquadSection{};
    return nullptr;
}

} // namespace zel
