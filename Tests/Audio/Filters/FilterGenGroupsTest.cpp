// Cascades and generator arrays: composition, input precedence, the checks on their items,
// and the product's filter objects as the shared description carries them.

#include "Audio/Filters/FilterGenTestSupport.h"

#include "Audio/Filters/AudioFilterBiquadGens.h"
#include "Audio/Filters/AudioFilterGenGroups.h"
#include "Core/DescriptionLoader.h"

#include <string>

namespace
{

using kelvtest::attrs;
using kelvtest::CFilterGenTest;
using ktest::CFakeChild;
using zel::CAudioFilterDesign;
using zel::CAudioFilterGen;
using zel::CAudioFilterRequest;
using zel::CText;
using zel::EFilterDesignKind;

CAudioFilterRequest at(double freq, double bw = 1.0, double fs = 44100.0)
{
    CAudioFilterRequest r;
    r.sampleRate = fs;
    r.freq = freq;
    r.bw = bw;
    return r;
}

CFakeChild element(const char* tag, const char* name, const std::string& list,
                   std::vector<CFakeChild> children = {})
{
    return {tag, name, list.empty() ? kelvtest::CAttrs{} : attrs(list), std::move(children)};
}

class FilterGenGroups : public CFilterGenTest
{
protected:
    void SetUp() override
    {
        CFilterGenTest::SetUp();
        // Named generators the groups refer to: r.lp, r.hp, r.hbf, r.fir.
        for (const auto& e : {element("audio:fltgen-rbj", "lp", "type=4|is-q=true|bw=0.7071"),
                              element("audio:fltgen-rbj", "hp", "type=5|is-q=true|bw=0.7071"),
                              element("audio:fltgen-hbf", "hbf", "a=0.138|b=0.585"),
                              element("audio:fltgen-firlp", "fir", "length=1")})
            ASSERT_EQ(loadError(e), "no error");
    }
    const CAudioFilterGen& named(const char* path)
    {
        return *dynamic_cast<const CAudioFilterGen*>(m_root->findObject(path));
    }
};

TEST_F(FilterGenGroups, SerialCascadesItsItemsWithAdjustedInputs)
{
    ASSERT_EQ(loadError(element(
                  "audio:fltgen-serial", "bandpass", "",
                  {element("audio:fltgen-serial-item", "s1", "fltgen=lp|adjust=2"),
                   element("audio:fltgen-serial-item", "s2", "fltgen=hp|adjust=0.5, 1; 3")})),
              "no error");
    const CAudioFilterDesign d = designOf(named("bandpass"), at(1000.0));
    ASSERT_EQ(d.kind, EFilterDesignKind::kBiquad);
    ASSERT_EQ(d.sectionCount, 2u);
    // The low-pass at twice the frequency, the high-pass at half the frequency with three
    // times the Q it would otherwise get.
    EXPECT_EQ(d.sections[0].coeffs, designOf(named("lp"), at(2000.0)).sections[0].coeffs);
    EXPECT_EQ(d.sections[1].coeffs, designOf(named("hp"), at(500.0, 3.0)).sections[0].coeffs);
}

TEST_F(FilterGenGroups, ArraySelectsByIndexAndResolvesInputsMostSpecificFirst)
{
    ASSERT_EQ(loadError(element(
                  "audio:fltgen-array", "arr", "length=3",
                  {element("audio:fltgen-array-item", "i", "index=0|fltgen=lp"),
                   element("audio:fltgen-array-item", "i", "index=2|fltgen=fir"),
                   element("audio:fltgen-array-item", "i", "index=5|fltgen=fir|length=2")})),
              "no error");
    const auto& arr = dynamic_cast<const zel::CAudioFilterGenArray&>(named("arr"));
    EXPECT_EQ(arr.generator(1), nullptr);

    CAudioFilterRequest r = at(1000.0, 0.7071);
    EXPECT_EQ(designOf(arr, r).sections[0].coeffs, designOf(named("lp"), r).sections[0].coeffs);
    // FIR lengths at 44100 Hz: 1 ms (the generator) = 44 taps, 2 ms (item) = 88, 3 ms
    // (array) = 132, 4 ms (request) = 176.
    const std::pair<int, std::optional<double>> kLengths[] = {
        {2, std::nullopt}, {5, std::nullopt}, {5, 4.0}};
    const std::size_t kTaps[] = {132, 88, 176};
    for (std::size_t i = 0; i < std::size(kLengths); ++i)
    {
        r.index = kLengths[i].first;
        r.length = kLengths[i].second;
        EXPECT_EQ(designOf(arr, r).taps.size(), kTaps[i]) << i;
    }
    EXPECT_EQ(designOf(named("fir"), at(1000.0)).taps.size(), 44u);

    r.index = 1;
    CAudioFilterDesign out;
    EXPECT_EQ(kelvtest::idAndText(arr.design(r, out)),
              "zelstr_CAudioFilterGenArray_design_NoItem: No filter generator at index 1.");
}

TEST_F(FilterGenGroups, ItemsAndReferencesAreChecked)
{
    const std::pair<CFakeChild, std::string> kCases[] = {
        {element("audio:fltgen-array-item", "stray", "index=0|fltgen=lp"),
         "zelstr_CAudioFilterGenArrayItem_init_InvalidParent: CAudioFilterGenArray class parent "
         "expected."},
        {element("audio:fltgen-array", "a", "",
                 {element("audio:fltgen-serial-item", "i", "fltgen=lp")}),
         "zelstr_CAudioFilterSerialGenItem_init_InvalidParent: CAudioFilterSerialGen class parent "
         "expected."},
        {element("audio:fltgen-array", "a", "",
                 {element("audio:fltgen-array-item", "i", "index=0|fltgen=lp"),
                  element("audio:fltgen-array-item", "i", "index=0|fltgen=hp")}),
         "zelstr_CAudioFilterGenArray_initChilds_Duplicate: Duplicate filter index 0."},
        {element("audio:fltgen-array", "a", "",
                 {element("audio:fltgen-array-item", "i", "fltgen=lp")}),
         "zelstr_CAudioFilterGenArrayItem_init_InvalidIndex: Invalid filter index ''."},
        {element("audio:fltgen-array", "a", "",
                 {element("audio:fltgen-array-item", "i", "index=0|fltgen=nowhere")}),
         "zelstr_CAudioFilterGenItemBase_findTarget_NotFound: Filter generator 'nowhere' not "
         "found."},
        {element("audio:fltgen-serial", "s", "",
                 {element("audio:fltgen-serial-item", "i", "fltgen=lp|adjust=1,2,3,4")}),
         "zelstr_CAudioFilterSerialGenItem_onAdjust_Invalid: Invalid adjust list '1,2,3,4': up "
         "to three numbers expected."},
    };
    for (const auto& [e, expected] : kCases)
        EXPECT_EQ(loadError(e), expected) << e.tag.toUtf8();

    // A generator held as the item's child needs no path.
    ASSERT_EQ(loadError(element("audio:fltgen-array", "inner", "",
                                {element("audio:fltgen-array-item", "i", "index=3",
                                         {element("audio:fltgen-bypass", "b", "")})})),
              "no error");
    CAudioFilterRequest r;
    r.index = 3;
    EXPECT_EQ(designOf(named("inner"), r).sections[0].coeffs,
              (std::array<double, 5>{1.0, 0.0, 0.0, 0.0, 0.0}));
}

TEST_F(FilterGenGroups, CascadesThatCannotBeDesignedFailCleanly)
{
    ASSERT_EQ(loadError(element("audio:fltgen-serial", "mixed", "",
                                {element("audio:fltgen-serial-item", "i", "fltgen=lp"),
                                 element("audio:fltgen-serial-item", "j", "fltgen=hbf")})),
              "no error");
    ASSERT_EQ(loadError(element("audio:fltgen-serial", "self", "",
                                {element("audio:fltgen-serial-item", "i", "fltgen=self")})),
              "no error");
    std::vector<CFakeChild> nine;
    for (int i = 0; i < 9; ++i)
        nine.push_back(element("audio:fltgen-serial-item", "i", "fltgen=lp"));
    ASSERT_EQ(loadError(element("audio:fltgen-serial", "long", "", nine)), "no error");
    ASSERT_EQ(loadError(element("audio:fltgen-serial", "empty", "")), "no error");

    const std::pair<const char*, const char*> kCases[] = {
        {"mixed", "zelstr_CAudioFilterSerialGen_design_NotBiquad"},
        {"self", "zelstr_CAudioFilterGen_nested_TooDeep"},
        {"long", "zelstr_CAudioFilterSerialGen_design_TooManySections"},
        {"empty", "zelstr_CAudioFilterSerialGen_design_NoItems"},
    };
    for (const auto& [name, id] : kCases)
    {
        CAudioFilterDesign out;
        const zel::CErrorPtr err = named(name).design(at(1000.0), out);
        ASSERT_TRUE(err) << name;
        EXPECT_EQ(err->id(), id);
        EXPECT_EQ(out.kind, EFilterDesignKind::kNone) << name;
        EXPECT_EQ(out.sectionCount, 0u) << name;
    }

    // A referenced generator that goes away leaves the item without a target, not dangling.
    ASSERT_EQ(loadError(element("audio:fltgen-serial", "holder", "",
                                {element("audio:fltgen-serial-item", "i", "fltgen=hp")})),
              "no error");
    m_root->findObject("hp")->destroy();
    CAudioFilterDesign out;
    EXPECT_EQ(kelvtest::idAndText(named("holder").design(at(1000.0), out)),
              "zelstr_CAudioFilterGenItemBase_findTarget_NotFound: Filter generator 'hp' not "
              "found.");
}

TEST_F(CFilterGenTest, ProductFilterObjectsLoadFromTheSharedDescription)
{
    ASSERT_FALSE(zel::loadDescription(*m_root, "SharedData.xml", true));
    const auto find = [&](const std::string& path)
    { return dynamic_cast<const CAudioFilterGen*>(m_root->findObject(CText(path))); };
    using zel::CAudioFilterMagnusGen;
    // "bandpass" lists the five band designs in order; index 4 is design B with the bandwidth
    // scaled by 0.924825.
    const char* kBandDesigns[] = {"bp2_rbj2", "bp2b_rbj2", "bp2_magnusA", "bp2_magnusB",
                                  "bp2_magnusB_fixed"};
    const auto* bandpass =
        dynamic_cast<const zel::CAudioFilterGenArray*>(find("audio.fltarray.bandpass"));
    ASSERT_NE(bandpass, nullptr);
    ASSERT_EQ(bandpass->itemCount(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(bandpass->generator(i), find(std::string("audio.fltgen.") + kBandDesigns[i]));
    CAudioFilterRequest r = at(1000.0, 1.0);
    r.index = 4;
    const CAudioFilterDesign fixed = designOf(*bandpass, r);
    ASSERT_EQ(fixed.sectionCount, 1u);
    EXPECT_EQ(fixed.sections[0].coeffs,
              CAudioFilterMagnusGen::designB(44100.0, 1000.0, 0.924825).coeffs);

    // "bpfilter": Off passes the signal unchanged, Bandpass is design A.
    const auto* bpfilter =
        dynamic_cast<const zel::CAudioFilterGenArray*>(find("audio.fltarray.bpfilter"));
    ASSERT_NE(bpfilter, nullptr);
    r.index = 0;
    EXPECT_EQ(designOf(*bpfilter, r).sections[0].coeffs,
              (std::array<double, 5>{1.0, 0.0, 0.0, 0.0, 0.0}));
    r.index = 1;
    r.gain = 2.0;
    EXPECT_EQ(designOf(*bpfilter, r).sections[0].coeffs,
              CAudioFilterMagnusGen::designA(44100.0, 1000.0, 1.0, 2.0).coeffs);
}

} // namespace
