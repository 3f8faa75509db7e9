// The MIDI controller map: its stored layout (bytes assembled by hand) and how an instance's
// table follows the local application data.

#include "Audio/AudioCCTable.h"
#include "Core/AppDataTestSupport.h"
#include "Core/Application.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace kelvtest
{
namespace
{
using ktest::CBytes;

CBytes mapBytes(std::uint32_t version, std::uint32_t count,
                const std::vector<std::pair<std::uint32_t, std::string>>& entries)
{
    CBytes out;
    ktest::putInt(out, version);
    ktest::putInt(out, count);
    for (const auto& [controller, path] : entries)
    {
        ktest::putInt(out, controller);
        ktest::putString(out, path);
    }
    return out;
}

TEST(CAudioCCTableLayout, EncodesAsDocumented)
{
    const zel::CAudioCCTable::CMap map = {{7, zel::CText("plugin.modMain.modOutGain.gain")},
                                          {1, zel::CText("a")}};
    EXPECT_EQ(zel::CAudioCCTable::encode(map),
              mapBytes(1, 2, {{1, "a"}, {7, "plugin.modMain.modOutGain.gain"}}));
}

TEST(CAudioCCTableLayout, DecodeRejectsBadBlocksAndKeepsTheMap)
{
    CBytes trailing = mapBytes(1, 1, {{3, "x"}});
    trailing.push_back(0);
    CBytes cut = mapBytes(1, 1, {{3, "xyz"}});
    cut.pop_back();
    const std::tuple<const char*, CBytes, const char*> cases[] = {
        {"good", mapBytes(1, 2, {{0, "p"}, {127, "q"}}), "no error"},
        {"empty map", mapBytes(1, 0, {}), "no error"},
        {"version", mapBytes(2, 0, {}), "zelstr_CAudioCCTable_decode_Version"},
        {"count", mapBytes(1, 129, {}), "zelstr_CAudioCCTable_decode_Count"},
        {"controller 128", mapBytes(1, 1, {{128, "p"}}), "zelstr_CAudioCCTable_decode_Controller"},
        {"not ascending", mapBytes(1, 2, {{5, "p"}, {5, "q"}}),
         "zelstr_CAudioCCTable_decode_Controller"},
        {"trailing", trailing, "zelstr_CAudioCCTable_decode_TrailingData"},
    };
    for (const auto& [what, bytes, expected] : cases)
    {
        zel::CAudioCCTable::CMap map = {{9, zel::CText("kept")}};
        const zel::CErrorPtr err = zel::CAudioCCTable::decode(bytes.data(), bytes.size(), map);
        EXPECT_EQ(idOf(err), expected) << what;
        EXPECT_TRUE(!err || map.at(9).toUtf8() == "kept") << what;
    }
    zel::CAudioCCTable::CMap map;
    EXPECT_TRUE(zel::CAudioCCTable::decode(cut.data(), cut.size(), map));
}

class CAudioCCTableStore : public ktest::CConfigHomeTest
{
protected:
    void SetUp() override
    {
        ktest::CConfigHomeTest::SetUp();
        ASSERT_FALSE(zel::CApplication::initSharedObject());
    }
    void TearDown() override
    {
        zel::CApplication::destroySharedObject();
        ktest::CConfigHomeTest::TearDown();
    }
};

TEST_F(CAudioCCTableStore, TablesShareAndFollowTheStoredMap)
{
    zel::CObjectPtr first;
    zel::CObjectPtr second;
    ASSERT_FALSE(zel::CObject::createRoot(zel::CText("audio:cctable"), zel::CText("a"), first));
    ASSERT_FALSE(zel::CObject::createRoot(zel::CText("audio:cctable"), zel::CText("b"), second));
    auto& a = dynamic_cast<zel::CAudioCCTable&>(*first);
    auto& b = dynamic_cast<zel::CAudioCCTable&>(*second);
    ASSERT_FALSE(a.init());
    ASSERT_FALSE(b.init());
    ASSERT_TRUE(a.isLinked());
    EXPECT_TRUE(a.map().empty());
    ASSERT_FALSE(a.store({{64, zel::CText("plugin.modMain.modBypass.enable")}}));
    ASSERT_EQ(b.map().size(), 1u);
    EXPECT_EQ(b.map().at(64).toUtf8(), "plugin.modMain.modBypass.enable");
    EXPECT_TRUE(a.store({{128, zel::CText("x")}})); // out of range: refused
    EXPECT_EQ(b.map().size(), 1u);
}

} // namespace
} // namespace kelvtest
