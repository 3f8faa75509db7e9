#include "Audio/AudioVizCollector.h"
#include "Audio/AudioVizData.h"
#include "Audio/Processes/ModMeterResult.h"
#include "Audio/Processes/ModTestSupport.h"
#include "Core/MemoryReader.h"
#include "Core/MemoryWriteBuffer.h"
#include "Support/AllocationCounter.h"

#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

namespace kelvtest
{
namespace
{

constexpr std::size_t kCap = zel::CAudioVizCollector::kMaxPendingPerListener;

// A tree "plugin" holding the parameter collector, the environment and the visualisation
// collector as the plug-in lays them out, and a graph "plugin.modMain" built in it.
class AudioVizCollectorTest : public CModTest
{
protected:
    std::vector<ktest::CFakeChild> converters() const override
    {
        return {{"audio:cvt-real", "real", {}, {}}, {"audio:cvt-text", "text", {}, {}}};
    }
    void SetUp() override
    {
        CModTest::SetUp();
        prepareInstance();
    }
    // The instance objects in a fresh m_instances; the graph's parameters go to its collector.
    void prepareInstance(const std::string& vizAttrs = "")
    {
        zel::CObject* made = nullptr;
        ASSERT_FALSE(
            ktest::loadElement(*m_instances, {"audio:param-collector", "param-collector", {}, {}}));
        ASSERT_FALSE(ktest::loadElement(
            *m_instances, {"audio:audio-env", "audio-env", attrs("viz-fps=30"), {}}, &made));
        auto* env = dynamic_cast<zel::CAudioEnv*>(made);
        env->setSampleRate(kRate);
        env->setMaxBlockLength(64);
        ASSERT_FALSE(
            ktest::loadElement(*m_instances,
                               {"audio:viz-collector",
                                "viz-collector",
                                attrs("env=^audio-env|param-collector=^param-collector" + vizAttrs),
                                {}},
                               &made));
        m_viz = dynamic_cast<zel::CAudioVizCollector*>(made);
        ASSERT_NE(m_viz, nullptr);
        m_env = env;
        m_collector =
            dynamic_cast<zel::CAudioParamCollector*>(m_instances->findChild("param-collector"));
        auto setup = std::make_shared<zel::CAudioProcessSetup>(*m_setup);
        setup->env = m_env;
        setup->collector = m_collector;
        m_setup = setup;
    }
    // "*" -> meter "m" of tag (extra attributes) -> "*"; connected and active.
    void buildMeter(const char* tag = "audio:modMeter", const char* extra = "")
    {
        ASSERT_EQ(idAndText(build(chain({}, {module(tag, "m", {}, extra)}))), "no error");
        ASSERT_EQ(idAndText(m_viz->connect()), "no error");
        m_viz->setActive(true);
    }
    // One audio block of a constant at stream time t, then the collector's begin-block.
    void block(double t, double value = 0.5)
    {
        runSame(constant(16, value));
        m_env->setStreamTime(t);
        m_viz->beginBlock();
    }
    CVizBatch take(std::int32_t client) { return takeVizRecords(*m_viz, client); }
    zel::CModMeterSource& meter() { return dynamic_cast<zel::CModMeterSource&>(*source()); }
    zel::CObject* source() { return m_main->findChild("m"); }
    // The published record of result i, read straight from its slot.
    std::vector<double> published(std::size_t i)
    {
        const zel::CModMeterResultInfo info = meter().meterResult(i);
        const double* d = m_context->data(info.ref);
        return {d, d + info.fieldCount};
    }

    zel::CAudioVizCollector* m_viz = nullptr;
};

const zel::CAudioVizDataMeter& asMeter(const zel::CAudioVizDataPtr& record)
{
    return dynamic_cast<const zel::CAudioVizDataMeter&>(*record);
}

TEST_F(AudioVizCollectorTest, MeterResultsBecomeMeterRecordsOfItsListeners)
{
    enum EShown
    {
        kAsIs,
        kReciprocal, // inverted levels
        kNegated     // inverted correlation
    };
    const std::tuple<const char*, const char*, EShown> cases[] = {
        {"audio:modMeter", "", kAsIs},
        {"audio:modMeter", "is-inverted=true", kReciprocal},
        {"audio:modMeterCorr", "is-terminal-whole=true", kAsIs},
        {"audio:modMeterCorr", "is-terminal-whole=true|is-inverted=true", kNegated},
    };
    for (const auto& [tag, extra, shownAs] : cases)
    {
        SCOPED_TRACE(std::string(tag) + " " + extra);
        resetGraph();
        prepareInstance();
        buildMeter(tag, extra);
        ASSERT_EQ(idAndText(m_viz->listen(1, 40, zel::CText("plugin.modMain.m"), 9)), "no error");
        // A record shows the state before its block: the second block publishes what the
        // first one measured (a completed sub-block, so a peak too).
        runBlock({constant(64, 0.5), constant(64, 0.25)});
        runBlock({constant(64, 0.5), constant(64, 0.25)});
        m_env->setStreamTime(3.25);
        m_viz->beginBlock();

        const CVizBatch batch = take(1);
        EXPECT_EQ(batch.time, 3.25);
        ASSERT_EQ(batch.entries.size(), 1u);
        const zel::CAudioVizEntry& entry = batch.entries[0];
        EXPECT_EQ(entry.listenerId, 40);
        EXPECT_EQ(entry.source, zel::CText("plugin.modMain.m"));
        EXPECT_EQ(entry.slot, 9);
        EXPECT_EQ(entry.dropped, 0);
        const std::size_t results = meter().meterResultCount();
        ASSERT_EQ(entry.records.size(), results);
        for (std::size_t i = 0; i < results; ++i)
        {
            const zel::CAudioVizDataMeter& r = asMeter(entry.records[i]);
            const std::vector<double> rec = published(i);
            EXPECT_EQ(r.sourceIndex, static_cast<std::int32_t>(i));
            EXPECT_EQ(r.channel, meter().meterResult(i).channel);
            EXPECT_EQ(r.slot, 9);
            EXPECT_EQ(r.time, 3.25);
            EXPECT_EQ(r.flags, shownAs == kAsIs ? 0 : zel::CAudioVizData::kFlagInverted);
            const double level = rec[0], peak = rec.size() > 1 ? rec[1] : rec[0];
            const auto shown = [&, shownAs = shownAs](double v) {
                return shownAs == kAsIs ? v : shownAs == kReciprocal ? 1.0 / v : -v;
            };
            EXPECT_DOUBLE_EQ(r.level, shown(level));
            EXPECT_DOUBLE_EQ(r.peak, shown(peak));
            EXPECT_NE(r.level, 0.0);
        }
        // The flags were consumed: no new block, no new record.
        m_viz->beginBlock();
        EXPECT_TRUE(take(1).entries.empty());
    }
}

// Scripts of listen / unlisten / reset / client removal / deactivation and audio blocks (each
// block two records, one per channel, for every listener of the meter), then the listener
// count and the pending records per client:listener.
TEST_F(AudioVizCollectorTest, ListenersCollectWhatTheirScriptLeaves)
{
    // {what, script, listener count, pending records per client:listener}
    const std::tuple<const char*, const char*, std::size_t, const char*> cases[] = {
        {"clients apart, an absent source collects nothing",
         "listen 1 5 m 1 listen 2 5 m 2 listen 2 6 m 3 listen 2 7 absent 4 block block", 4,
         "1:5=4 2:5=4 2:6=4 2:7=0"},
        {"reset drops every pending record", "listen 1 5 m 0 listen 2 5 m 0 block reset", 2,
         "1:5=0 2:5=0"},
        {"unlisten stops one listener", "listen 1 5 m 0 listen 1 6 m 0 block unlisten 1 5 block", 1,
         "1:5=0 1:6=4"},
        {"removing a client stops all its listeners",
         "listen 1 5 m 0 listen 1 6 m 0 listen 2 5 m 0 block remove 1 block", 1,
         "1:5=0 1:6=0 2:5=4"},
        {"nothing is collected while inactive", "listen 2 5 m 0 block inactive block", 1, "2:5=2"},
        {"listening again replaces by client and id and starts afresh",
         "listen 1 3 m 0 block listen 1 3 other 8", 1, "1:3=0"},
    };
    for (const auto& [what, steps, listeners, pendingCounts] : cases)
    {
        SCOPED_TRACE(what);
        resetGraph();
        prepareInstance();
        buildMeter();
        std::istringstream script(steps);
        std::string op, source;
        std::int32_t client = 0, id = 0, slot = 0;
        double t = 0.0;
        while (script >> op)
        {
            if (op == "listen" && script >> client >> id >> source >> slot)
                ASSERT_FALSE(
                    m_viz->listen(client, id, zel::CText("plugin.modMain." + source), slot));
            else if (op == "unlisten" && script >> client >> id)
                m_viz->unlisten(client, id);
            else if (op == "remove" && script >> client)
                m_viz->removeClient(client);
            else if (op == "reset")
                m_viz->reset();
            else if (op == "inactive")
                m_viz->setActive(false);
            else if (op == "block")
                block(t += 1.0);
            else
                FAIL() << op;
        }
        EXPECT_EQ(m_viz->listenerCount(), listeners);
        std::istringstream pending(pendingCounts);
        char colon = 0, equals = 0;
        std::size_t count = 0;
        while (pending >> client >> colon >> id >> equals >> count)
            EXPECT_EQ(m_viz->pendingCount(client, id), count) << client << ":" << id;
    }
}

TEST_F(AudioVizCollectorTest, ListenRefusesAnEmptySourceAndReportsTheReplacement)
{
    buildMeter();
    EXPECT_EQ(idAndText(m_viz->listen(1, 3, zel::CText(), 0)),
              "zelstr_CAudioVizCollector_listen_NoSource: No visualisation source given for "
              "listener 3.");
    ASSERT_FALSE(m_viz->listen(1, 3, zel::CText("plugin.modMain.m"), 0));
    ASSERT_FALSE(m_viz->listen(1, 3, zel::CText("plugin.modMain.other"), 8));
    zel::CText source;
    std::int32_t slot = 0;
    ASSERT_TRUE(m_viz->findListener(1, 3, source, slot));
    EXPECT_EQ(source, zel::CText("plugin.modMain.other"));
    EXPECT_EQ(slot, 8);
    EXPECT_FALSE(m_viz->findListener(2, 3, source, slot));
}

TEST_F(AudioVizCollectorTest, FullListKeepsTheNewestRecordsAndCountsTheDropped)
{
    buildMeter();
    ASSERT_FALSE(m_viz->listen(1, 5, zel::CText("plugin.modMain.m"), 0));
    const std::size_t blocks = kCap / 2 + 5; // two records per block: 10 too many
    for (std::size_t b = 0; b < blocks; ++b)
        block(static_cast<double>(b));
    EXPECT_EQ(m_viz->pendingCount(1, 5), kCap);

    const CVizBatch batch = take(1);
    ASSERT_EQ(batch.entries.size(), 1u);
    const auto& records = batch.entries[0].records;
    ASSERT_EQ(records.size(), kCap);
    EXPECT_EQ(batch.entries[0].dropped, 10);
    EXPECT_EQ(records.front()->time, 5.0);
    EXPECT_EQ(records.back()->time, static_cast<double>(blocks - 1));
    for (std::size_t i = 1; i < records.size(); ++i)
        EXPECT_LE(records[i - 1]->time, records[i]->time);
    // The dropped count belongs to one batch only.
    block(100.0);
    EXPECT_EQ(take(1).entries[0].dropped, 0);
}

TEST_F(AudioVizCollectorTest, ContentionSkipsTheCollectionAndTheNextBlockDelivers)
{
    buildMeter();
    ASSERT_FALSE(m_viz->listen(1, 5, zel::CText("plugin.modMain.m"), 0));
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    std::thread editor(
        [&]
        {
            zel::CCriticalSectionLock guard(m_viz->lock());
            held = true;
            while (!release)
                std::this_thread::yield();
        });
    while (!held)
        std::this_thread::yield();
    block(1.0);
    EXPECT_EQ(m_viz->skippedCollections(), 1u);
    release = true;
    editor.join();

    m_viz->beginBlock(); // no audio in between: the raised flags still deliver
    EXPECT_EQ(m_viz->pendingCount(1, 5), 2u);
}

TEST_F(AudioVizCollectorTest, AudioPathAllocatesNothingAfterWarmUp)
{
    buildMeter();
    ASSERT_FALSE(m_viz->listen(1, 5, zel::CText("plugin.modMain.m"), 0));
    ASSERT_FALSE(m_viz->listen(2, 5, zel::CText("plugin.modMain.m"), 0));
    block(0.0);
    (void)take(1);
    std::size_t allocations = 0;
    for (std::size_t b = 0; b < kCap; ++b) // long enough to wrap the rings
    {
        runQuiet(16);
        CCountAllocations count;
        m_viz->beginBlock();
        allocations += count.count();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(m_viz->pendingCount(1, 5), kCap);
}

// Parameters looked up by connect(), registered by hand in the collector.
class AudioVizCollectorParamTest : public AudioVizCollectorTest
{
protected:
    void SetUp() override
    {
        CModTest::SetUp();
        prepareInstance("|export-slot-param=plugin.modMain.slots");
    }
    zel::CAudioParam& add(const char* path, const std::string& def)
    {
        m_params.push_back(std::make_unique<zel::CAudioParam>(CAudioTest::define(def), 1));
        EXPECT_FALSE(m_collector->addParam(zel::CText(path), *m_params.back()));
        return *m_params.back();
    }
    static std::vector<std::uint8_t> namesBytes(const std::vector<std::string>& names)
    {
        CRecordBytes b;
        b.i32(static_cast<std::int32_t>(names.size()));
        for (const std::string& n : names)
            b.str(n);
        return b.bytes;
    }
    std::vector<std::uint8_t> writtenNames()
    {
        zel::CMemoryWriteBuffer out;
        EXPECT_FALSE(m_viz->writeExportSlotNames(out));
        return out.toVector();
    }
    std::vector<std::unique_ptr<zel::CAudioParam>> m_params;
};

TEST_F(AudioVizCollectorParamTest, EnableParameterGatesTheActiveFlag)
{
    ASSERT_FALSE(m_viz->connect());
    m_viz->setActive(true);
    EXPECT_TRUE(m_viz->isActive()); // no enable parameter: the flag alone
    zel::CAudioParam& enable =
        add(zel::CAudioVizCollector::kEnableParamPath,
            "element-size=1|converter=/cvt.real|min-values=0|max-values=1|def-values=0");
    ASSERT_FALSE(m_viz->connect());
    EXPECT_EQ(m_viz->enableParam(), &enable);
    EXPECT_FALSE(m_viz->isActive());
    ASSERT_FALSE(enable.setValue(0, 0, 0, 1.0));
    EXPECT_TRUE(m_viz->isActive());
    m_viz->setActive(false);
    EXPECT_FALSE(m_viz->isActive());
}

TEST_F(AudioVizCollectorParamTest, NameChangesPublishTheExportSlotNames)
{
    const std::string text = "element-size=1|data-type=string|converter=/cvt.text|def-values=";
    std::vector<std::vector<zel::CText>> published;
    m_viz->setExportSlotNamesCallback([&](const std::vector<zel::CText>& names)
                                      { published.push_back(names); });
    ASSERT_FALSE(m_viz->connect());
    EXPECT_TRUE(published.empty()); // nothing watched: the list stays empty
    EXPECT_EQ(writtenNames(), namesBytes({}));

    add("plugin.modMain.slots", text + "A,B");
    zel::CAudioParam& instance =
        add(zel::CAudioVizCollector::kInstanceNameParamPath, text + "Main");
    zel::CAudioParam& groups = add(zel::CAudioVizCollector::kGroupNamesParamPath, text + "G1");
    ASSERT_FALSE(m_viz->connect());
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(writtenNames(), namesBytes({"Main: A", "Main: B"}));

    ASSERT_FALSE(instance.setString(0, 0, zel::CText("Desk")));
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(published.back(),
              (std::vector<zel::CText>{zel::CText("Desk: A"), zel::CText("Desk: B")}));
    ASSERT_FALSE(groups.setString(0, 0, zel::CText("G2"))); // same names: nothing published
    EXPECT_EQ(published.size(), 2u);

    std::vector<zel::CText> back;
    const std::vector<std::uint8_t> bytes = writtenNames();
    zel::CMemoryReader in(bytes.data(), bytes.size());
    ASSERT_FALSE(zel::CAudioVizSlotManager::read(in, back));
    EXPECT_EQ(back, published.back());

    m_params.clear(); // destroyed parameters are forgotten
    ASSERT_FALSE(m_viz->connect());
    EXPECT_EQ(writtenNames(), namesBytes({}));
}

} // namespace
} // namespace kelvtest
