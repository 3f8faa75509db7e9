#include "Core/ApplicationData.h"
#include "Core/Object.h"
#include "Core/ResourceStore.h"

#include "Core/AppDataTestSupport.h"
#include "Core/ObjectTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace zel
{
namespace
{

using ktest::CBytes;
using ktest::CConfigHomeTest;
namespace fs = std::filesystem;

TEST(ApplicationDataPaths, EscapesFileNamesAndFoldsDotSegments)
{
    const struct
    {
        const char* in;
        const char* out;
    } names[] = {
        {"settings", "settings"},
        {"q3k8:Default", "q3k8%3ADefault"},
        {"a/b\\c", "a%2Fb%5Cc"},
        {"50% off", "50%25 off"},
        {"Kelvatrone 2.x_-", "Kelvatrone 2.x_-"},
        {"\xC3\xA9", "%C3%A9"}, // one character, two UTF-8 bytes
    };
    for (const auto& c : names)
        EXPECT_EQ(appdata::escapeFileName(CText::fromUtf8(c.in)).toUtf8(), c.out) << c.in;

    const struct
    {
        const char* in;
        const char* out;
    } paths[] = {
        {"/h/A/F/Data/../routing-presets", "/h/A/F/routing-presets"},
        {"/h/./a//b/", "/h/a/b"},
        {"/h/a/../../..", "/"},
        {"a/../../b", "../b"},
        {"/h/Data/x", "/h/Data/x"},
    };
    for (const auto& c : paths)
        EXPECT_EQ(appdata::normalisePath(c.in).toUtf8(), c.out) << c.in;
}

using ApplicationData = CConfigHomeTest;

TEST_F(ApplicationData, LaysFilesOutBelowTheMakerAndFamilyFolders)
{
    CGlobalData global;
    CLocalData local("Kelvatrone");
    const fs::path data = dataFolder();
    EXPECT_EQ(global.dataFolder().toUtf8(), data.string());
    EXPECT_EQ(global.dataSetFile("settings").toUtf8(), (data / "AppDataGlobal_settings").string());
    EXPECT_EQ(local.dataSetFile("settings").toUtf8(),
              (data / "AppDataKelvatrone_settings").string());
    EXPECT_EQ(global.dataSetFile("../routing-presets|AppDataGlobal_routing-presets").toUtf8(),
              (home / "Ardovin" / "Audio Plug-Ins" / "routing-presets").string());
}

TEST_F(ApplicationData, WritesOneSettingsBlockThatAFreshObjectReadsBackAsAHandMadeOne)
{
    {
        CGlobalData global;
        EXPECT_FALSE(global.writeValue("drag-precision", "0.3"));
        EXPECT_FALSE(global.writeValue("ui-shadows", "false"));
        EXPECT_FALSE(global.writeValue("drag-precision", "0.25")); // replaces
        EXPECT_FALSE(global.isModified());                         // written at once
    }
    // The file, taken apart with zlib alone: "adat", version 1, names in ascending order.
    const auto [id, plain] =
        ktest::openBlock(ktest::readFile(dataFolder() / "AppDataGlobal_settings"));
    EXPECT_EQ(id, "adat");
    EXPECT_EQ(plain, ktest::settingsContent({{"drag-precision", "0.25"}, {"ui-shadows", "false"}}));

    CGlobalData fresh;
    CText value;
    bool found = false;
    EXPECT_FALSE(fresh.readValue("drag-precision", value, "0.8", &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(value.toUtf8(), "0.25");
    EXPECT_FALSE(fresh.readValue("tablet-mode", value, "false", &found));
    EXPECT_FALSE(found);
    EXPECT_EQ(value.toUtf8(), "false");

    // A file made by hand, with text beyond ASCII.
    ktest::writeFile(dataFolder() / "AppDataKelvatrone_settings",
                     ktest::makeBlock("adat", ktest::settingsContent(
                                                  {{"palette", "Gr\xC3\xBCn \xE2\x82\xAC"}})));
    EXPECT_FALSE(CLocalData("Kelvatrone").readValue("palette", value));
    EXPECT_EQ(value.toUtf16(), u"Gr\u00FCn \u20AC");
}

TEST_F(ApplicationData, DamagedFileGivesTheBlockErrorAndKeepsMemory)
{
    const fs::path file = dataFolder() / "AppDataGlobal_settings";
    // The block layer's own damage cases are tested with the block reader; here one of them.
    const struct
    {
        const char* what;
        CBytes bytes;
        const char* errorId;
    } cases[] = {
        {"wrong identifier", ktest::makeBlock("alst", ktest::settingsContent({{"k", "v"}})),
         "zelstr_CInputStream_readCompressedData_InvalidData"},
        {"bad version", ktest::makeBlock("adat", CBytes{2, 0, 0, 0, 0, 0, 0, 0}),
         "zelstr_CApplicationData_load_Version"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        CGlobalData global;
        ASSERT_FALSE(global.writeValue("drag-precision", "0.4"));
        ktest::writeFile(file, c.bytes);
        const CErrorPtr err = global.reload("settings");
        ASSERT_TRUE(err);
        EXPECT_EQ(err->id(), c.errorId);
        CText value;
        EXPECT_FALSE(global.readValue("drag-precision", value));
        EXPECT_EQ(value.toUtf8(), "0.4");

        // A fresh object reports the damage once, then runs from memory and can write.
        CGlobalData fresh;
        bool found = true;
        EXPECT_TRUE(fresh.readValue("drag-precision", value, "0.8", &found));
        EXPECT_FALSE(found);
        EXPECT_FALSE(fresh.readValue("drag-precision", value, "0.8"));
        EXPECT_FALSE(fresh.writeValue("drag-precision", "0.6"));
        EXPECT_FALSE(CGlobalData().readValue("drag-precision", value));
        EXPECT_EQ(value.toUtf8(), "0.6");
        std::filesystem::remove(file);
    }
}

TEST_F(ApplicationData, RoutingPresetsComeFromTheBuiltInBlockUntilAFileExists)
{
    const CText name("../routing-presets|AppDataGlobal_routing-presets");
    const std::uint32_t alst = makeBlockId("alst");
    CByteBuffer data;
    bool found = false;
    {
        CGlobalData global;
        ASSERT_FALSE(global.readData(name, alst, data, found));
        ASSERT_TRUE(found);
        // The carried default: the content of the built-in block.
        SResourcePayload carried;
        ASSERT_TRUE(findBuiltInResource(CText("AppDataGlobal_routing-presets"), carried));
        const auto [tag, content] =
            ktest::openBlock(CBytes(carried.data, carried.data + carried.size));
        EXPECT_EQ(tag, "alst");
        EXPECT_EQ(CBytes(data.begin(), data.end()), content);
        EXPECT_FALSE(fs::exists(home / "Ardovin" / "Audio Plug-Ins" / "routing-presets"));

        const CBytes banks{1, 0, 0, 0, 9, 8, 7};
        ASSERT_FALSE(global.writeData(name, alst, banks.data(), banks.size()));
        // Another block type for the same data set is refused.
        const CErrorPtr err = global.readData(name, makeBlockId("abnk"), data, found);
        EXPECT_EQ(err ? err->id() : "no error", "zelstr_CApplicationData_readData_BlockId");
    }
    const fs::path file = home / "Ardovin" / "Audio Plug-Ins" / "routing-presets";
    const auto [id, plain] = ktest::openBlock(ktest::readFile(file));
    EXPECT_EQ(id, "alst");
    EXPECT_EQ(plain, (CBytes{1, 0, 0, 0, 9, 8, 7}));
    CGlobalData fresh;
    ASSERT_FALSE(fresh.readData(name, alst, data, found));
    EXPECT_EQ(CBytes(data.begin(), data.end()), (CBytes{1, 0, 0, 0, 9, 8, 7}));

    // A data set with neither file nor resource is empty.
    ASSERT_FALSE(fresh.readData("shared-banks", alst, data, found));
    EXPECT_FALSE(found);
    EXPECT_TRUE(data.empty());
}

TEST_F(ApplicationData, WithoutAFolderTheDataLivesInMemoryOnly)
{
    const auto savedHome = ktest::environment("HOME");
    ktest::setEnvironment("XDG_CONFIG_HOME", std::string("relative/not-used"));
    ktest::setEnvironment("HOME", std::nullopt);
    {
        CGlobalData global;
        EXPECT_TRUE(global.dataFolder().empty());
        EXPECT_FALSE(global.writeValue("k", "v"));
        EXPECT_FALSE(global.isModified());
        // The folder is asked for once: a folder appearing later changes nothing.
        ktest::setEnvironment("XDG_CONFIG_HOME", home.string());
        EXPECT_FALSE(global.writeValue("k", "w"));
        CText value;
        EXPECT_FALSE(global.readValue("k", value));
        EXPECT_EQ(value.toUtf8(), "w");
    }
    ktest::setEnvironment("HOME", savedHome);
    EXPECT_TRUE(fs::is_empty(home));
}

// An owner of a listener bridge that records "update" events.
class CUpdateProbe : public CObject
{
public:
    static void registerClass(CClassInfo& info)
    {
        CObject::registerClass(info);
        info.event<&CUpdateProbe::onUpdate>("update");
    }
    CErrorPtr onUpdate(CObject& params)
    {
        seen.push_back(params.attribute("data-set").toUtf8() + "|" +
                       params.attribute("data-name").toUtf8() + "|" +
                       params.attribute("value").toUtf8());
        return nullptr;
    }
    std::vector<std::string> seen;
};

TEST_F(ApplicationData, AnnouncesChangesToListenersButNotToTheWriter)
{
    auto data = std::make_unique<CLocalData>("Kelvatrone");
    TObjectPtr<CUpdateProbe> a = CObject::make<CUpdateProbe>();
    TObjectPtr<CUpdateProbe> b = CObject::make<CUpdateProbe>();
    CApplicationDataListenerBridge<CUpdateProbe> bridgeA(a.get());
    auto bridgeB = std::make_unique<CApplicationDataListenerBridge<CUpdateProbe>>(b.get());
    ASSERT_TRUE(bridgeA.connect(data.get()));
    ASSERT_TRUE(bridgeB->connect(data.get()));
    EXPECT_EQ(data->updateListenerCount(), 2u);

    ASSERT_FALSE(data->writeValue("scale", "2.0", &bridgeA));
    ASSERT_FALSE(data->writeValue("scale", "2.0")); // unchanged: no announcement
    const CBytes block{1, 2};
    ASSERT_FALSE(data->writeData("shared-banks", makeBlockId("alst"), block.data(), 2));
    EXPECT_EQ(a->seen, (std::vector<std::string>{"shared-banks||"}));
    EXPECT_EQ(b->seen, (std::vector<std::string>{"settings|scale|2.0", "shared-banks||"}));

    bridgeB.reset();
    EXPECT_EQ(data->updateListenerCount(), 1u);
    // The data goes first: the bridge is detached and disconnecting later is harmless.
    data.reset();
    EXPECT_FALSE(bridgeA.isAttached());
    bridgeA.disconnect();
}

} // namespace
} // namespace zel
