#include "Audio/AudioParamUndo.h"

#include "Audio/AudioTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zel
{
namespace
{

using kelvtest::idAndText;

struct COriginListener : CAudioParamListener
{
    void onAudioParamChanged(CAudioParam&, std::int32_t, std::int32_t origin) override
    {
        origins.push_back(origin);
    }
    std::vector<std::int32_t> origins;
};

class AudioParamUndoTest : public kelvtest::CAudioTest
{
protected:
    std::vector<ktest::CFakeChild> converters() const override
    {
        return {{"audio:cvt-freq", "freq", {}, {}},
                {"audio:cvt-gain", "gain", {}, {}},
                {"audio:cvt-real", "real", {}, {}},
                {"audio:cvt-text", "text", {}, {}}};
    }
    void SetUp() override
    {
        kelvtest::CAudioTest::SetUp();
        const std::string knob = "element-size=1|converter=/cvt.real|min-values=-60|"
                                 "max-values=12|def-values=0";
        m_knobA = std::make_unique<CAudioParam>(define(knob), 2);
        m_knobB = std::make_unique<CAudioParam>(define(knob), 2);
        m_disabled = std::make_unique<CAudioParam>(define(knob + "|is-undo-disabled=true"), 1);
        m_curve = std::make_unique<CAudioParam>(
            define("element-size=2|converter=/cvt.freq|converter2=/cvt.gain|"
                   "min-values=20 -66|max-values=20000 6|def-values=20 0,1000 -6"),
            2);
        m_strings = std::make_unique<CAudioParam>(
            define("element-size=1|data-type=string|converter=/cvt.text|def-values=L,R"), 1);
        m_undo = history("32");
    }

    TObjectPtr<CAudioParamUndo> history(const char* countMax, CErrorPtr* err = nullptr)
    {
        auto undo = CObject::make<CAudioParamUndo>();
        undo->setRootName("undo");
        if (countMax != nullptr)
            undo->setAttributeRaw("undo-count-max", countMax);
        CErrorPtr result = undo->init();
        if (err != nullptr)
            *err = std::move(result);
        else
            EXPECT_EQ(idAndText(result), "no error");
        return undo;
    }

    // One history step: capture every parameter given (whole), change, capture again.
    void edit(const std::string& label, std::vector<CAudioParam*> params,
              const std::function<void()>& change, bool mergeable = false, std::int32_t id = 0)
    {
        auto record = std::make_unique<CAudioParamUndoRecord>(CText(label), mergeable, id);
        for (CAudioParam* param : params)
            record->captureBefore(*param, pathOf(param));
        change();
        for (CAudioParam* param : params)
            record->captureAfter(*param, pathOf(param));
        m_undo->addRecord(std::move(record));
    }
    void setKnob(CAudioParam& knob, double value, const std::string& label, bool mergeable = false,
                 std::int32_t id = 0)
    {
        edit(
            label, {&knob}, [&] { ASSERT_FALSE(knob.setValue(0, 0, 0, value)); }, mergeable, id);
    }
    // Each definition has its own name: it serves as the path.
    static CText pathOf(const CAudioParam* param) { return param->info().paramName; }
    std::vector<std::string> labels() const
    {
        std::vector<std::string> out;
        for (const CText& label : m_undo->historyLabels())
            out.push_back(label.toUtf8());
        return out;
    }

    std::unique_ptr<CAudioParam> m_knobA, m_knobB, m_disabled, m_curve, m_strings;
    TObjectPtr<CAudioParamUndo> m_undo;
};

TEST_F(AudioParamUndoTest, CapacityIsAtLeastFourAndTheOldestRecordGoes)
{
    EXPECT_EQ(history(nullptr)->countMax(), 4);
    EXPECT_EQ(history("5")->countMax(), 5);
    CErrorPtr err;
    history("many", &err);
    EXPECT_EQ(idAndText(err),
              "zelstr_CAudioParamUndo_init_InvalidCountMax: Invalid undo count 'many'.");

    m_undo = history("2"); // behaves as 4
    for (int i = 1; i <= 5; ++i)
        setKnob(*m_knobA, -i, "edit " + std::to_string(i));
    EXPECT_EQ(labels(), (std::vector<std::string>{"Undo history start", "edit 2", "edit 3",
                                                  "edit 4", "edit 5"}));

    // Undoing everything lands on the value the first (dropped) edit left.
    EXPECT_TRUE(m_undo->setPosition(0));
    EXPECT_EQ(m_knobA->value(0, 0, 0), -1.0);
}

TEST_F(AudioParamUndoTest, DragsWithOneMergeIdBecomeOneStep)
{
    for (double value : {-1.0, -2.0, -3.0})
        setKnob(*m_knobA, value, "drag a", true, 7);
    EXPECT_EQ(m_undo->recordCount(), 1);
    ASSERT_TRUE(m_undo->undo());
    EXPECT_EQ(m_knobA->value(0, 0, 0), 0.0);
    ASSERT_TRUE(m_undo->redo());
    EXPECT_EQ(m_knobA->value(0, 0, 0), -3.0);

    // Another knob in between, another merge id, or a non-mergeable record each break the run.
    m_undo->clear();
    setKnob(*m_knobA, -4, "a", true, 7);
    setKnob(*m_knobB, -4, "b", true, 7);
    setKnob(*m_knobA, -5, "a", true, 7);
    EXPECT_EQ(m_undo->recordCount(), 3);
    setKnob(*m_knobA, -6, "a", true, 8);
    setKnob(*m_knobA, -7, "a", false, 8);
    setKnob(*m_knobA, -8, "a", false, 8);
    EXPECT_EQ(m_undo->recordCount(), 6);

    // The same knob but another group is another change descriptor.
    m_undo->clear();
    for (std::int32_t group = 0; group < 2; ++group)
    {
        auto record = std::make_unique<CAudioParamUndoRecord>("g", true, 9);
        record->captureBefore(*m_knobA, pathOf(m_knobA.get()), group);
        ASSERT_FALSE(m_knobA->setValue(group, 0, 0, 1.0));
        record->captureAfter(*m_knobA, pathOf(m_knobA.get()), group);
        m_undo->addRecord(std::move(record));
    }
    EXPECT_EQ(m_undo->recordCount(), 2);
}

TEST_F(AudioParamUndoTest, AnEditAfterUndoDropsTheRedoBranch)
{
    for (int i = 1; i <= 4; ++i)
        setKnob(i == 2 ? *m_knobB : *m_knobA, -i, "edit " + std::to_string(i));
    ASSERT_TRUE(m_undo->setPosition(0)); // several steps at once
    EXPECT_EQ(m_knobA->value(0, 0, 0), 0.0);
    EXPECT_EQ(m_knobB->value(0, 0, 0), 0.0);
    ASSERT_TRUE(m_undo->setPosition(4));
    ASSERT_TRUE(m_undo->undo());
    ASSERT_TRUE(m_undo->undo());
    EXPECT_EQ(m_knobA->value(0, 0, 0), -1.0);
    EXPECT_EQ(m_knobB->value(0, 0, 0), -2.0);
    setKnob(*m_knobB, -9, "other");
    EXPECT_EQ(labels(),
              (std::vector<std::string>{"Undo history start", "edit 1", "edit 2", "other"}));
    EXPECT_EQ(m_undo->position(), 3);
    EXPECT_FALSE(m_undo->redo());

    // A forgotten parameter is left alone by later steps.
    m_undo->forgetParam(*m_knobA);
    ASSERT_TRUE(m_undo->setPosition(0));
    EXPECT_EQ(m_knobA->value(0, 0, 0), -1.0);
    EXPECT_EQ(m_knobB->value(0, 0, 0), 0.0);
}

TEST_F(AudioParamUndoTest, UndoAndRedoRestoreExactValuesAndItems)
{
    const std::vector<double> curveBefore = m_curve->elements(0);
    const std::vector<double> curve1Before = m_curve->elements(1);
    const std::vector<double> curveAfter = {30, 0.25, 500, 1.5, 8000, 0.125};
    edit("several", {m_knobA.get(), m_curve.get(), m_strings.get()},
         [&]
         {
             ASSERT_FALSE(m_knobA->setValue(1, 0, 0, 0.1 + 0.2));
             ASSERT_FALSE(m_curve->setElements(0, curveAfter));
             ASSERT_FALSE(m_strings->setString(0, 1, "Side"));
         });
    // A later change of the string outside the history must not alter the record's copy.
    ASSERT_FALSE(m_strings->setString(0, 1, "Elsewhere"));

    COriginListener listener;
    m_curve->addListener(&listener);
    for (int round = 0; round < 3; ++round)
    {
        ASSERT_TRUE(m_undo->undo());
        EXPECT_EQ(m_knobA->value(1, 0, 0), 0.0);
        EXPECT_EQ(m_curve->elements(0), curveBefore);
        EXPECT_EQ(m_curve->elements(1), curve1Before);
        EXPECT_EQ(kelvtest::contents(*m_strings), "L,R");

        ASSERT_TRUE(m_undo->redo());
        EXPECT_EQ(m_knobA->value(1, 0, 0), 0.1 + 0.2);
        EXPECT_EQ(m_curve->elements(0), curveAfter);
        EXPECT_EQ(kelvtest::contents(*m_strings), "L,Side");
        // Replaced items are dropped: the table holds exactly the two named strings.
        EXPECT_EQ(m_strings->data().size(), 2u);
    }
    EXPECT_EQ(listener.origins.size(), 12u); // two groups, undo and redo, three rounds
    for (std::int32_t origin : listener.origins)
        EXPECT_EQ(origin, CAudioParamUndoRecord::kOriginUndo);
    m_curve->removeListener(&listener);
}

TEST_F(AudioParamUndoTest, AnElementRangeIsSplicedIntoTheCurrentCurve)
{
    // Only element 1 of group 0 is recorded; a later change of element 0 survives the undo.
    std::vector<double> expected = m_curve->elements(0);
    ASSERT_EQ(expected.size(), 4u);
    auto record = std::make_unique<CAudioParamUndoRecord>("point");
    record->captureBefore(*m_curve, pathOf(m_curve.get()), 0, 1, 1);
    ASSERT_FALSE(m_curve->setValue(0, 1, 0, 2000.0));
    record->captureAfter(*m_curve, pathOf(m_curve.get()), 0, 1, 1);
    EXPECT_EQ(record->changeCount(), 1);
    m_undo->addRecord(std::move(record));
    ASSERT_FALSE(m_curve->setValue(0, 0, 0, 40.0));
    ASSERT_TRUE(m_undo->undo());
    expected[0] = 40.0;
    EXPECT_EQ(m_curve->elements(0), expected);
    ASSERT_TRUE(m_undo->redo());
    expected[2] = 2000.0;
    EXPECT_EQ(m_curve->elements(0), expected);
}

TEST_F(AudioParamUndoTest, NothingIsRecordedOrChangedWhenThereIsNothingToDo)
{
    EXPECT_FALSE(m_undo->undo());
    EXPECT_FALSE(m_undo->redo());
    EXPECT_FALSE(m_undo->setPosition(1));
    EXPECT_FALSE(m_undo->setPosition(-1));

    // Zero-change records: no change at all, a value written back unchanged, and a string
    // replaced by an equal one (a new item id but the same text).
    edit("none", {m_knobA.get()}, [] {});
    setKnob(*m_knobA, 0.0, "same");
    edit("same text", {m_strings.get()}, [&] { ASSERT_FALSE(m_strings->setString(0, 0, "L")); });
    // An undo-disabled parameter never enters a record.
    setKnob(*m_disabled, -5, "disabled");
    EXPECT_EQ(m_undo->recordCount(), 0);

    edit("mixed", {m_disabled.get(), m_knobB.get()},
         [&]
         {
             ASSERT_FALSE(m_disabled->setValue(0, 0, 0, -6));
             ASSERT_FALSE(m_knobB->setValue(0, 0, 0, -6));
         });
    ASSERT_EQ(m_undo->recordCount(), 1);
    ASSERT_TRUE(m_undo->undo());
    EXPECT_EQ(m_knobB->value(0, 0, 0), 0.0);
    EXPECT_EQ(m_disabled->value(0, 0, 0), -6.0);
    EXPECT_FALSE(m_undo->undo());
    EXPECT_EQ(m_knobB->value(0, 0, 0), 0.0);
    ASSERT_TRUE(m_undo->redo());
    EXPECT_FALSE(m_undo->redo());
    EXPECT_EQ(m_knobB->value(0, 0, 0), -6.0);
}

} // namespace
} // namespace zel
