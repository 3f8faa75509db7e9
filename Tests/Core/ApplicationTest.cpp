#include "Core/Application.h"
#include "Core/SharedAttribute.h"

#include "Core/AppDataTestSupport.h"
#include "Support/Capture.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#if __has_include("DescCompiler/DescCompiler.h")
#include "DescCompiler/DescCompiler.h"
#define KELV_HAVE_DESC_COMPILER 1
#endif

namespace zel
{
namespace
{

// Points the configuration folder at a temporary one, captures the diagnostic log and the
// error window, and makes sure no application object outlives a test.
class Application : public ktest::CConfigHomeTest
{
protected:
    void TearDown() override { CApplication::destroySharedObject(); }

    std::size_t logCount(const std::string& line)
    {
        const std::vector<std::string> log = capture.log();
        return static_cast<std::size_t>(std::count(log.begin(), log.end(), line));
    }

    kelvtest::CCapture capture;
};

TEST_F(Application, ExistsOncePerProcessAndCanStartAgainAfterShutDown)
{
    EXPECT_EQ(CApplication::instance(), nullptr);
    CTypeEntry entry;
    EXPECT_FALSE(findCreator("core:shared-attribute", entry));

    ASSERT_FALSE(CApplication::initSharedObject());
    CApplication* first = CApplication::instance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(logCount("Initializing application..."), 1u);
    EXPECT_TRUE(findCreator("core:shared-attribute", entry));

    EXPECT_EQ(kelvtest::idAndText(CApplication::initSharedObject()),
              "zelstr_CApplication_initSharedObject: Shared object already exists.");
    EXPECT_EQ(CApplication::instance(), first);
    EXPECT_EQ(CApplicationAccess::instance()->sharedRoot(), first);

    CApplication::destroySharedObject();
    EXPECT_EQ(logCount("Finalizing application..."), 1u);
    EXPECT_EQ(CApplication::instance(), nullptr);
    EXPECT_EQ(CApplicationAccess::instance(), nullptr);
    EXPECT_EQ(CGlobalData::current(), nullptr);
    EXPECT_FALSE(findCreator("core:shared-attribute", entry));

    ASSERT_FALSE(CApplication::initSharedObject());
    EXPECT_NE(CApplication::instance(), nullptr);
}

TEST_F(Application, SharedTreeAnswersSharedPathsAndGlobalTemplates)
{
    ASSERT_FALSE(CApplication::initSharedObject());
    CApplication& app = *CApplication::instance();
    TObjectPtr<CRootObject> root;
    ASSERT_FALSE(CApplication::initRootObject(CText(), root));

    const CObject* project = root->findObject("shared::project");
    ASSERT_NE(project, nullptr);
    EXPECT_EQ(project->attribute("app-name").toUtf8(), "Kelvatrone");
    // "plugin" is defined at the top of the shared description: a global template.
    CObject* plugin = nullptr;
    ASSERT_FALSE(root->createChild("plugin", "plugin", true, plugin));
    EXPECT_EQ(plugin->templateObject(), app.findGlobalTemplate("plugin"));
    // With the application installed, finished objects stay writable.
    EXPECT_FALSE(project->isReadOnly());

    // The local data is named after the project's app-name.
    ASSERT_NE(app.localData(), nullptr);
    EXPECT_EQ(app.localData()->appName().toUtf8(), "Kelvatrone");
    EXPECT_EQ(CLocalData::current(), app.localData());
    EXPECT_EQ(CGlobalData::current(), &app.globalData());
}

TEST_F(Application, KeepsTheListOfInstanceRoots)
{
    TObjectPtr<CRootObject> root;
    EXPECT_EQ(kelvtest::idAndText(CApplication::initRootObject(CText(), root)),
              "zelstr_CApplication_initRootObject: No shared object created.");
    EXPECT_FALSE(root);

    ASSERT_FALSE(CApplication::initSharedObject());
    CApplication& app = *CApplication::instance();
    TObjectPtr<CRootObject> a;
    TObjectPtr<CRootObject> b;
    ASSERT_FALSE(CApplication::initRootObject(CText(), a));
    ASSERT_FALSE(CApplication::initRootObject(CText(), b));
    EXPECT_EQ(app.roots(), (std::vector<CRootObject*>{a.get(), b.get()}));
    EXPECT_EQ(a->application(), &app);

    a.reset();
    EXPECT_EQ(app.roots(), (std::vector<CRootObject*>{b.get()}));

    // A description that cannot be loaded leaves no root behind.
    EXPECT_TRUE(CApplication::initRootObject("no-such-description.xml", root));
    EXPECT_FALSE(root);
    EXPECT_EQ(app.rootCount(), 1u);

    // A root that outlives the application forgets it.
    CApplication::destroySharedObject();
    EXPECT_EQ(b->application(), nullptr);
}

TEST_F(Application, FailedStartLeavesNothingAndShowsTheErrorWindow)
{
    CErrorPtr err = CApplication::initSharedObject("no-such-description.xml");
    ASSERT_TRUE(err);
    EXPECT_EQ(CApplication::instance(), nullptr);
    EXPECT_EQ(CApplicationAccess::instance(), nullptr);
    CTypeEntry entry;
    EXPECT_FALSE(findCreator("core:object", entry));
    EXPECT_TRUE(capture.windows().empty());

    ASSERT_FALSE(CApplication::startLibrary());
    EXPECT_TRUE(capture.windows().empty());
    err = CApplication::startLibrary();
    ASSERT_TRUE(err);
    const std::vector<std::string> windows = capture.windows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0], "Ardovin Application Message|" + err->details());
    EXPECT_NE(windows[0].find("Shared object already exists."), std::string::npos);
    CApplication::stopLibrary();
    EXPECT_EQ(CApplication::instance(), nullptr);
}

#ifdef KELV_HAVE_DESC_COMPILER
// Two instances loaded from a compiled description follow each other's shared attributes, and
// a restarted application reads the values back from the files.
TEST_F(Application, InstancesFromADescriptionShareStoredSettings)
{
    const char* source = R"(<description>
  <core:object name="local-data">
    <core:shared-attribute name="ui-scale" attribute="scale" def-value="1.0"/>
  </core:object>
  <core:object name="view" height="{*/local-data.ui-scale scale}">
    <core:attr-doubler name="dbl" value="{*/^ height}" target="^^" attr="scroller-height"/>
  </core:object>
</description>)";
    std::vector<std::uint8_t> compiled;
    ASSERT_FALSE(CDescCompiler::compile(source, "instance.xml", compiled));
    ktest::writeFile(home / "instance.desc", compiled);
    const CText description = CText::fromUtf8((home / "instance.desc").string());

    ASSERT_FALSE(CApplication::initSharedObject());
    TObjectPtr<CRootObject> a;
    TObjectPtr<CRootObject> b;
    ASSERT_FALSE(CApplication::initRootObject(description, a));
    ASSERT_FALSE(CApplication::initRootObject(description, b));
    CObject* scaleA = a->findObject("local-data.ui-scale");
    ASSERT_NE(scaleA, nullptr);
    ASSERT_FALSE(scaleA->setAttribute("scale", "1.5"));
    EXPECT_EQ(b->attribute("scroller-height").toUtf8(), "1.5");

    a.reset();
    b.reset();
    CApplication::destroySharedObject();
    ASSERT_FALSE(CApplication::initSharedObject());
    ASSERT_FALSE(CApplication::initRootObject(description, a));
    EXPECT_EQ(a->attribute("scroller-height").toUtf8(), "1.5");
    EXPECT_TRUE(ktest::fs::exists(dataFolder() / "AppDataKelvatrone_settings"));
}
#endif

} // namespace
} // namespace zel
