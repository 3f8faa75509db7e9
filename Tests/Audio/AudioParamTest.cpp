#include "Audio/AudioParam.h"

#include "Audio/AudioTestSupport.h"
#include "Audio/Converters/AudioParamConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace zel
{
namespace
{

double dbToFactor(double db)
{
    return std::pow(10.0, db / 20.0);
}

struct CRecordingListener : CAudioParamListener
{
    void onAudioParamChanged(CAudioParam& param, std::int32_t group, std::int32_t origin) override
    {
        groups.push_back(group);
        origins.push_back(origin);
        // Another thread must be able to take the lock: it is released before listeners run.
        bool entered = false;
        std::thread other(
            [&]
            {
                entered = param.lock().tryEnter();
                if (entered)
                    param.lock().leave();
            });
        other.join();
        lockFree.push_back(entered);
    }
    std::vector<std::int32_t> groups;
    std::vector<std::int32_t> origins;
    std::vector<bool> lockFree;
};

class AudioParamTest : public kelvtest::CAudioTest
{
protected:
    std::vector<ktest::CFakeChild> converters() const override
    {
        return {{"audio:cvt-freq", "freq", {}, {}},
                {"audio:cvt-gain", "gain", {{"decimals", "1"}}, {}},
                {"audio:cvt-text", "text", {}, {}}};
    }

    std::shared_ptr<const CAudioParamInfo> gainInfo(const std::string& extra = "")
    {
        return define("element-size=1|converter=/cvt.gain|min-values=-60|max-values=12|"
                      "def-values=0;-6" +
                      extra);
    }
};

TEST_F(AudioParamTest, GroupsStartFromTheirDefaultSets)
{
    CAudioParam param(gainInfo(), 3);
    ASSERT_EQ(param.groupCount(), 3);
    EXPECT_DOUBLE_EQ(param.value(0, 0, 0), 1.0);
    EXPECT_NEAR(param.value(1, 0, 0), dbToFactor(-6), 1e-12);
    // No third set: the group takes the last one.
    EXPECT_NEAR(param.value(2, 0, 0), dbToFactor(-6), 1e-12);
    EXPECT_EQ(param.text(1, 0, 0).toUtf8(), "-6.0");
    EXPECT_EQ(param.text(1, 0, 0, CAudioParamConverter::kModeCompact).toUtf8(), "-6");
}

TEST_F(AudioParamTest, WritesClampAndBadAddressesAreErrors)
{
    CAudioParam param(gainInfo(), 2);
    ASSERT_FALSE(param.setValue(1, 0, 0, 100.0));
    EXPECT_NEAR(param.value(1, 0, 0), dbToFactor(12), 1e-12);
    const struct
    {
        std::int32_t group, element, index;
    } bad[] = {{2, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, -1, 0}};
    for (const auto& b : bad)
    {
        const CErrorPtr err = param.setValue(b.group, b.element, b.index, 1.0);
        EXPECT_EQ(err ? err->text() : "no error",
                  "Invalid parameter value address (" + std::to_string(b.group) + ", " +
                      std::to_string(b.element) + ", " + std::to_string(b.index) + ").");
        EXPECT_EQ(param.value(b.group, b.element, b.index), 0.0);
    }
}

TEST_F(AudioParamTest, NormalisedAndTextAccessGoThroughTheConverter)
{
    CAudioParam param(gainInfo(), 1);
    ASSERT_FALSE(param.setNormValue(0, 0, 0, 60.0 / 72.0)); // -60 dB + 60 dB
    EXPECT_NEAR(param.value(0, 0, 0), 1.0, 1e-12);
    EXPECT_NEAR(param.normValue(0, 0, 0), 60.0 / 72.0, 1e-12);

    bool ok = false;
    ASSERT_FALSE(param.setText(0, 0, 0, "-20", &ok));
    EXPECT_TRUE(ok);
    EXPECT_NEAR(param.value(0, 0, 0), 0.1, 1e-12);
    ASSERT_FALSE(param.setText(0, 0, 0, "loud", &ok));
    EXPECT_FALSE(ok);
    EXPECT_NEAR(param.value(0, 0, 0), 0.1, 1e-12);
}

TEST_F(AudioParamTest, CurveElementsAreReplacedWholeAndClamped)
{
    CAudioParam param(define("element-size=2|converter=/cvt.freq|converter2=/cvt.gain|"
                             "min-values=20 -66|max-values=20000 6|def-values=20 0,1000 -6"),
                      2);
    EXPECT_EQ(param.elementCount(0), 2);
    EXPECT_EQ(param.elementCount(1), 2);
    EXPECT_DOUBLE_EQ(param.value(1, 1, 0), 1000.0);
    ASSERT_FALSE(param.setElements(0, {10, 1, 500, 1, 30000, 100}));
    const std::vector<double> expected = {20, 1, 500, 1, 20000, dbToFactor(6)};
    const std::vector<double> got = param.elements(0);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR(got[i], expected[i], 1e-12) << i;
    EXPECT_TRUE(param.setElements(0, {1, 2, 3})); // not whole elements
    EXPECT_EQ(param.elementCount(0), 3);
    EXPECT_NEAR(param.normValue(1, 1, 0), std::log(50.0) / std::log(1000.0), 1e-12);

    CAudioParam single(gainInfo("|is-single-element=true"), 1);
    EXPECT_EQ(single.elementCount(0), 1);
    EXPECT_TRUE(single.setElements(0, {1.0, 1.0}));
    EXPECT_FALSE(single.setElements(0, {0.5}));
}

TEST_F(AudioParamTest, StringsAndRawBlocksLiveInThePerInstanceDataTable)
{
    const auto info =
        define("element-size=1|data-type=string|converter=/cvt.text|def-values=L,R;IN3,IN4");
    CAudioParam param(info, 3);
    EXPECT_EQ(param.string(0, 1).toUtf8(), "R");
    EXPECT_EQ(param.string(1, 0).toUtf8(), "IN3");
    EXPECT_EQ(param.string(2, 1).toUtf8(), "IN4");
    EXPECT_EQ(param.text(2, 1, 0).toUtf8(), "IN4");
    EXPECT_EQ(param.data().size(), 6u);
    EXPECT_EQ(info->defaultData().size(), 4u);

    ASSERT_FALSE(param.setString(0, 1, "Side"));
    EXPECT_EQ(param.string(0, 1).toUtf8(), "Side");
    EXPECT_EQ(param.data().size(), 6u); // the old item is dropped
    EXPECT_EQ(param.string(0, 7).toUtf8(), "");
    EXPECT_TRUE(param.setRawBlock(0, 0, {1, 2}));

    CAudioParam second(info, 1);
    ASSERT_FALSE(second.setValue(0, 0, 0, 999.0));
    EXPECT_EQ(second.string(0, 0).toUtf8(), ""); // an id naming no item reads as empty

    CAudioParam raw(define("element-size=1|data-type=raw|converter=/cvt.text|def-values=xy"), 1);
    EXPECT_EQ(raw.rawBlock(0, 0), (std::vector<std::uint8_t>{'x', 'y'}));
    ASSERT_FALSE(raw.setRawBlock(0, 0, {0, 255, 7}));
    EXPECT_EQ(raw.rawBlock(0, 0), (std::vector<std::uint8_t>{0, 255, 7}));
    EXPECT_TRUE(raw.setString(0, 0, "no"));
}

TEST_F(AudioParamTest, ListenersHearEveryChangeAfterTheLockIsReleased)
{
    CAudioParam single(gainInfo("|is-single-group=true"), 4);
    EXPECT_EQ(single.groupCount(), 1);
    CRecordingListener listener;
    single.addListener(&listener);
    single.addListener(&listener);                  // registered once
    ASSERT_FALSE(single.setValue(3, 0, 0, 0.5, 7)); // every group index names the one group
    EXPECT_DOUBLE_EQ(single.value(0, 0, 0), 0.5);
    ASSERT_FALSE(single.setNormValue(0, 0, 0, 0.0, 2));
    single.resetToDefaults(3);
    EXPECT_DOUBLE_EQ(single.value(2, 0, 0), 1.0);
    EXPECT_EQ(listener.groups, (std::vector<std::int32_t>{0, 0, 0}));
    EXPECT_EQ(listener.origins, (std::vector<std::int32_t>{7, 2, 3}));
    EXPECT_EQ(listener.lockFree, (std::vector<bool>{true, true, true}));

    single.removeListener(&listener);
    ASSERT_FALSE(single.setValue(0, 0, 0, 0.5));
    EXPECT_EQ(listener.groups.size(), 3u);
}

TEST_F(AudioParamTest, LoadedValuesAreClampedWhenCommitted)
{
    CAudioParam param(gainInfo(), 2);
    CRecordingListener listener;
    param.addListener(&listener);
    {
        CCriticalSectionLock guard(param.lock());
        param.loadStorage().groups = {{100.0}, {0.0, 0.5}};
    }
    param.commitLoaded(4);
    EXPECT_NEAR(param.value(0, 0, 0), dbToFactor(12), 1e-12);
    EXPECT_NEAR(param.value(1, 0, 0), 0.001, 1e-15);
    EXPECT_DOUBLE_EQ(param.value(1, 1, 0), 0.5);
    EXPECT_EQ(listener.groups, (std::vector<std::int32_t>{0, 1}));
}

} // namespace
} // namespace zel
