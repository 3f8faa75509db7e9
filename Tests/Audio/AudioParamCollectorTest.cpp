#include "Audio/AudioParamCollector.h"

#include "Audio/AudioTestSupport.h"
#include "Support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

namespace zel
{
namespace
{

using kelvtest::idAndText;
using CValues = std::vector<double>;

// Holds one reference to every entry it receives until releaseAll; allocates nothing once its
// list has grown.
struct CHoldingSink : CAudioParamChangeSink
{
    CHoldingSink() { held.reserve(64); }
    ~CHoldingSink() override { releaseAll(); }
    void queueParamChange(CAudioParamChange& change) override
    {
        change.addRef();
        held.push_back(&change);
    }
    void releaseAll()
    {
        for (CAudioParamChange* change : held)
            change->release();
        held.clear();
    }
    std::vector<std::int32_t> ids() const
    {
        std::vector<std::int32_t> out;
        for (const CAudioParamChange* change : held)
            out.push_back(change->paramId());
        return out;
    }
    std::vector<CAudioParamChange*> held;
};

class AudioParamCollectorTest : public kelvtest::CAudioTest
{
protected:
    std::vector<ktest::CFakeChild> converters() const override
    {
        return {{"audio:cvt-real", "real", {}, {}}, {"audio:cvt-freq", "freq", {}, {}}};
    }
    void SetUp() override
    {
        CAudioTest::SetUp();
        m_collector = dynamic_cast<CAudioParamCollector*>(
            load("audio:param-collector", kelvtest::attrs("env=/later.env")));
        // Two groups with defaults 0 and -6; a curve of three (frequency, value) points.
        m_knob = define("element-size=1|converter=/cvt.real|min-values=-60|max-values=12|"
                        "def-values=0;-6");
        m_curve = define("element-size=2|converter=/cvt.freq|converter2=/cvt.real|"
                         "min-values=20 -60|max-values=20000 12|def-values=20 0,1000 -6,5000 3");
        ASSERT_TRUE(m_collector && m_knob && m_curve);
        m_param = std::make_unique<CAudioParam>(m_knob, 2);
        m_paramId = add("plugin.knob", *m_param);
        m_collector->bindSink(CAudioParamCollector::kAllParams, m_sink);
    }
    std::int32_t add(const char* path, CAudioParam& param)
    {
        std::int32_t id = -1;
        EXPECT_EQ(idAndText(m_collector->addParam(path, param, &id)), "no error") << path;
        return id;
    }

    CAudioParamCollector* m_collector = nullptr;
    std::shared_ptr<const CAudioParamInfo> m_knob, m_curve;
    // "plugin.knob", two groups, seen by m_sink (bound to every parameter).
    std::unique_ptr<CAudioParam> m_param;
    std::int32_t m_paramId = -1;
    CHoldingSink m_sink;
};

TEST_F(AudioParamCollectorTest, IndexesParametersByPathWithStableIds)
{
    EXPECT_EQ(m_collector->env(), nullptr); // "env" not resolvable yet is no error
    CObject *later = nullptr, *env = nullptr;
    ASSERT_FALSE(m_root->createChild("core:object", "later", false, later));
    ASSERT_FALSE(later->createChild("core:object", "env", false, env));
    EXPECT_EQ(m_collector->env(), env);

    CAudioParam a(m_knob, 2), b(m_knob, 2), other(m_knob, 1);
    const std::uint32_t gen0 = m_collector->generation();
    const std::int32_t idB = add("plugin.b", b), idA = add("plugin.a", a);
    EXPECT_NE(idA, idB);
    EXPECT_NE(m_collector->generation(), gen0);
    EXPECT_EQ(m_collector->findParam("plugin.a"), &a);
    EXPECT_EQ(m_collector->paramId("plugin.b"), idB);
    EXPECT_EQ(m_collector->paramId("plugin.c"), -1);
    EXPECT_EQ(m_collector->findParam("plugin.c"), nullptr);
    std::vector<std::string> order;
    m_collector->forEachParam([&](const CText& path, CAudioParam&)
                              { order.push_back(path.toUtf8()); });
    EXPECT_EQ(order, (std::vector<std::string>{"plugin.a", "plugin.b", "plugin.knob"}));

    EXPECT_EQ(idAndText(m_collector->addParam("plugin.a", other)),
              "zelstr_CAudioParamCollector_addParam_Duplicate: "
              "Duplicate audio parameter path 'plugin.a'.");
    EXPECT_NE(m_collector->addParam("plugin.z", a), nullptr); // one parameter, two paths
    EXPECT_EQ(m_collector->findParam("plugin.a"), &a);

    // A path keeps its id across removal; a destroyed parameter leaves the index by itself.
    const std::uint32_t gen1 = m_collector->generation();
    m_collector->removeParam("plugin.a");
    EXPECT_NE(m_collector->generation(), gen1);
    EXPECT_EQ(m_collector->findParam("plugin.a"), nullptr);
    EXPECT_EQ(add("plugin.a", other), idA);
    {
        CAudioParam shortLived(m_knob, 1);
        add("plugin.short", shortLived);
    }
    EXPECT_EQ(m_collector->findParam("plugin.short"), nullptr);

    CAudioParam churn(m_knob, 1);
    bool sawWildcard = false; // new paths never receive the wildcard id
    for (int i = 0; i < 10001 && !sawWildcard; ++i)
    {
        const CText path = CText("p") + CText(std::to_string(i));
        std::int32_t id = -1;
        ASSERT_FALSE(m_collector->addParam(path, churn, &id));
        sawWildcard = id == CAudioParamCollector::kAllParams;
        m_collector->removeParam(path);
    }
    EXPECT_FALSE(sawWildcard);
}

TEST_F(AudioParamCollectorTest, ChangesMergeOnlyIntoTheLatestPendingEntryOfTheSameShape)
{
    CAudioParam& knob = *m_param;
    CAudioParam curve(m_curve, 1);
    add("plugin.curve", curve);
    CHoldingSink& sink = m_sink;
    for (double v : {1.0, 2.0, 3.0})
        ASSERT_FALSE(knob.setValue(0, 0, 0, v));     // one entry, latest value
    ASSERT_FALSE(knob.setValue(1, 0, 0, -9.0));      // other group: own entry
    ASSERT_FALSE(m_collector->post(curve, 0, 1, 1)); // element 1 only
    ASSERT_FALSE(curve.setValue(0, 1, 1, 4.0));      // whole group: new entry
    ASSERT_FALSE(curve.setValue(0, 2, 1, 5.0));      // merges with the whole-group entry
    ASSERT_FALSE(m_collector->post(curve, 0, 1, 1)); // the first element entry is not latest
    ASSERT_TRUE(m_collector->takeIn(0.25));

    // {group, first element, element count, whole group, values}
    const std::tuple<std::int32_t, std::int32_t, std::int32_t, bool, CValues> expected[] = {
        {0, 0, 1, true, {3.0}},       {1, 0, 1, true, {-9.0}},
        {0, 1, 1, false, {1000, -6}}, {0, 0, 3, true, {20, 0, 1000, 4, 5000, 5}},
        {0, 1, 1, false, {1000, 4}},
    };
    ASSERT_EQ(sink.held.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i)
    {
        const CAudioParamChange& change = *sink.held[i];
        EXPECT_EQ(std::tuple(change.group(), change.elementIndex(), change.elementCount(),
                             change.isWholeGroup(), change.values()),
                  expected[i])
            << i;
        EXPECT_EQ(change.time(), 0.25) << i;
    }
    EXPECT_EQ(sink.held[0]->paramId(), m_paramId);
    EXPECT_EQ(sink.held[0]->param(), &knob);

    CAudioParam stranger(m_knob, 1);
    EXPECT_NE(m_collector->post(curve, 0, 2, 2), nullptr); // past the last element
    EXPECT_NE(m_collector->post(knob, 2), nullptr);        // no such group
    EXPECT_NE(m_collector->post(stranger, 0), nullptr);    // not registered
    EXPECT_EQ(m_collector->pendingCount(), 0u);
}

TEST_F(AudioParamCollectorTest, TakeInRoutesEntriesByIdAndWildcard)
{
    CAudioParam p1(m_knob, 1), p2(m_knob, 1);
    const std::int32_t id1 = add("plugin.p1", p1), id2 = add("plugin.p2", p2);
    CHoldingSink only1, only2, both, &all = m_sink;
    m_collector->bindSink(id1, only1);
    m_collector->bindSink(id2, only2);
    for (std::int32_t id : {id1, id2, id2}) // binding twice is one binding
        m_collector->bindSink(id, both);

    ASSERT_FALSE(p1.setValue(0, 0, 0, 1.0));
    ASSERT_FALSE(p2.setValue(0, 0, 0, 2.0));
    EXPECT_TRUE(m_collector->takeIn(3.5));
    EXPECT_EQ(only1.ids(), std::vector<std::int32_t>{id1});
    EXPECT_EQ(only2.ids(), std::vector<std::int32_t>{id2});
    EXPECT_EQ(all.ids(), (std::vector<std::int32_t>{id1, id2}));
    EXPECT_EQ(both.ids(), (std::vector<std::int32_t>{id1, id2}));
    EXPECT_EQ(all.held[1]->time(), 3.5);

    // A change of all parameters (twice: merged) reaches every bound sink once.
    m_collector->unbindSink(only2);
    m_collector->postAll();
    m_collector->postAll();
    EXPECT_TRUE(m_collector->takeIn(4.0));
    EXPECT_EQ(only1.ids().back(), CAudioParamCollector::kAllParams);
    EXPECT_EQ(only2.held.size(), 1u);
    EXPECT_EQ(all.held.size(), 3u);
    EXPECT_EQ(both.held.size(), 3u);
}

TEST_F(AudioParamCollectorTest, HeldEntriesStayValidAndReturnToThePoolAfterTheLastRelease)
{
    CAudioParam& knob = *m_param;
    CHoldingSink& first = m_sink;
    CHoldingSink second;
    m_collector->bindSink(CAudioParamCollector::kAllParams, second);

    ASSERT_FALSE(knob.setValue(0, 0, 0, 7.0));
    ASSERT_TRUE(m_collector->takeIn(1.0));
    CAudioParamChange* kept = first.held.at(0);
    EXPECT_EQ(kept->refCount(), 2); // the collector's own reference is gone
    ASSERT_FALSE(knob.setValue(0, 0, 0, 8.0));
    ASSERT_TRUE(m_collector->takeIn(2.0));
    EXPECT_NE(first.held.at(1), kept); // not reused while held
    EXPECT_EQ(kept->values(), CValues{7.0});
    EXPECT_EQ(kept->time(), 1.0);

    second.releaseAll();
    EXPECT_EQ(m_collector->freeEntryCount(), 0u);
    first.releaseAll();
    EXPECT_EQ(m_collector->freeEntryCount(), m_collector->poolSize());

    // An entry may outlive its collector; the parameter is left without a dead listener.
    CAudioParam loose(m_knob, 1);
    {
        auto collector = CObject::make<CAudioParamCollector>();
        ASSERT_FALSE(collector->addParam("k", loose));
        collector->bindSink(CAudioParamCollector::kAllParams, first);
        ASSERT_FALSE(loose.setValue(0, 0, 0, 1.0));
        ASSERT_TRUE(collector->takeIn(0.0));
        ASSERT_FALSE(loose.setValue(0, 0, 0, 2.0)); // still pending at destruction
    }
    ASSERT_EQ(first.held.size(), 1u);
    EXPECT_EQ(first.held[0]->values(), CValues{1.0});
    first.releaseAll();
    EXPECT_FALSE(loose.setValue(0, 0, 0, 3.0));
}

TEST_F(AudioParamCollectorTest, TakeInDoesNotWaitForAnotherThreadHoldingTheLock)
{
    CHoldingSink& sink = m_sink;
    ASSERT_FALSE(m_param->setValue(0, 0, 0, 5.0));

    std::atomic<bool> held{false}, done{false};
    std::thread editor(
        [&]
        {
            CCriticalSectionLock guard(m_collector->lock());
            held = true;
            while (!done)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    while (!held)
        std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_collector->takeIn(1.0));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_TRUE(sink.held.empty());
    done = true;
    editor.join();

    EXPECT_TRUE(m_collector->takeIn(2.0));
    ASSERT_EQ(sink.held.size(), 1u);
    EXPECT_EQ(sink.held[0]->time(), 2.0);
    EXPECT_EQ(sink.held[0]->values(), CValues{5.0});
}

TEST_F(AudioParamCollectorTest, SteadyStateAllocatesNothing)
{
    CAudioParam curve(m_curve, 1);
    add("plugin.curve", curve);
    auto cycle = [&](int i)
    {
        EXPECT_FALSE(m_param->setValue(i % 2, 0, 0, i % 10));
        EXPECT_FALSE(curve.setValue(0, 1, 1, i % 10));
        EXPECT_TRUE(m_collector->takeIn(i * 0.01));
        m_sink.releaseAll();
    };
    for (int i = 0; i < 4; ++i)
        cycle(i);
    kelvtest::CCountAllocations count;
    for (int i = 0; i < 1000; ++i)
        cycle(i);
    EXPECT_EQ(count.count(), 0u);
}

} // namespace
} // namespace zel
