#pragma once
// The biquad generators: CAudioFilterRBJGen (the cookbook filters of Robert Bristow-Johnson),
// CAudioFilterMagnusGen (the two band-pass designs of the multiband split and the band-pass
// filter) and CAudioFilterBypassGen (an identity section). Each designs one second-order
// section; the serial generator (AudioFilterGenGroups.h) cascades them.

#include "Audio/Filters/AudioFilterGen.h"

namespace zel
{

// "audio:fltgen-rbj". Attributes: "type" (see ERBJType), "is-type2" (selects the second type
// table), "is-q" ("bw" is a Q instead of a bandwidth in octaves), "is-inverted" (designs the
// complement 1 - H(z) of the filter). Inputs: "freq" (Hz), "gain" (linear: the boost or cut of
// the peaking and shelving types, unused by the others), "bw".
class CAudioFilterRBJGen : public CAudioFilterGen
{
public:
    // The filters by table ("is-type2" false, then true) and "type".
    enum class EShape
    {
        kIdentity,
        kPeaking,
        kLowShelf,
        kHighShelf,
        kLowPass,
        kHighPass,
        kNotch,
        kAllPass,
        kBandPassPeak,  // constant 0 dB peak gain
        kBandPassSkirt, // constant skirt gain, peak gain Q
    };
    // Table 1 (the order of the standard filter-type enumeration): 0 identity, 1 peaking,
    // 2 low shelf, 3 high shelf, 4 low pass, 5 high pass.
    // Table 2: 0 notch, 1 all-pass, 2 band-pass with 0 dB peak, 3 band-pass with constant skirt.
    static bool shapeOf(std::int64_t type, bool type2, EShape& shape);

    static void registerClass(CClassInfo& info);
    CErrorPtr init() override;

    EShape shape() const { return m_shape; }

    CErrorPtr onType(const CText& value);
    CErrorPtr onIsType2(const CText& value);
    CErrorPtr onIsQ(const CText& value);
    CErrorPtr onIsInverted(const CText& value);

    // The section of shape at f0 (Hz), sample rate fs, linear gain, and a Q (isQ) or a
    // bandwidth in octaves.
    static CBiquadSection section(EShape shape, double fs, double f0, double gain, double bw,
                                  bool isQ, bool inverted);

protected:
    CErrorPtr designResolved(const CAudioFilterRequest& request, CAudioFilterDesign& out,
                             CDCDAWFilterWorkspace* workspace) const override;

private:
    CErrorPtr checkType();

    CText m_typeText; // no type is an error
    EShape m_shape = EShape::kIdentity;
    bool m_type2 = false;
    bool m_isQ = false;
    bool m_inverted = false;
};

// "audio:fltgen-magnus". Attribute "type": 3 the band-pass design A (used with a gain), 4 the
// band-pass design B (unity peak, gain unused). Inputs: "freq" (Hz), "gain" (linear), "bw"
// (octaves).
class CAudioFilterMagnusGen : public CAudioFilterGen
{
public:
    static constexpr std::int64_t kTypeA = 3;
    static constexpr std::int64_t kTypeB = 4;

    static void registerClass(CClassInfo& info);
    CErrorPtr init() override;

    std::int64_t type() const { return m_type; }
    CErrorPtr onType(const CText& value);

    static CBiquadSection designA(double fs, double f, double bwOctaves, double gain);
    static CBiquadSection designB(double fs, double f, double bwOctaves);

protected:
    CErrorPtr designResolved(const CAudioFilterRequest& request, CAudioFilterDesign& out,
                             CDCDAWFilterWorkspace* workspace) const override;

private:
    CErrorPtr checkType();

    CText m_typeText;
    std::int64_t m_type = kTypeB;
};

// "audio:fltgen-bypass": one identity section (b0 = 1), so that a filter module switched to
// it fades to the dry signal like any other coefficient change.
class CAudioFilterBypassGen : public CAudioFilterGen
{
public:
    static void registerClass(CClassInfo& info);

protected:
    CErrorPtr designResolved(const CAudioFilterRequest& request, CAudioFilterDesign& out,
                             CDCDAWFilterWorkspace* workspace) const override;
};

} // namespace zel
