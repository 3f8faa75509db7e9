#include "Audio/DCDAWContext.h"
#include "Core/TypeTable.h"
#include "Support/AllocationCounter.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace
{

using zel::CDCDAWCall;
using zel::CDCDAWContextObject;
using zel::CDCDAWKernel;
using Ctx = CDCDAWContextObject;

// What the probe kernel saw while it ran.
struct CProbeLog
{
    const Ctx* context = nullptr;
    int runs = 0;
    std::vector<std::uint32_t> countsDuringRun;
    std::vector<double*> data;
};
CProbeLog g_probe;

// Records the reference counts and data pointers of its arguments, then writes n samples of
// x into argument 0.
void probeKernel(CDCDAWCall* call)
{
    ++g_probe.runs;
    g_probe.countsDuringRun.clear();
    g_probe.data.clear();
    for (int i = 0; i < call->kernel->argCount; ++i)
    {
        g_probe.countsDuringRun.push_back(
            g_probe.context->referenceCount(Ctx::slotOf(call->refs[i])));
        g_probe.data.push_back(call->data[i]);
    }
    for (int i = 0; i < call->n; ++i)
        call->data[0][i] = call->x;
}
const CDCDAWKernel kProbe1 = {&probeKernel, 1, 1, "DCDAW_probe1"};
const CDCDAWKernel kProbe2 = {&probeKernel, 2, 1, "DCDAW_probe2"};

void quietKernel(CDCDAWCall*) {}
const CDCDAWKernel kQuiet2 = {&quietKernel, 2, 1, "DCDAW_quiet2"};

class CDCDAWContextTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ctx = zel::CObject::make<Ctx>();
        ctx->setRootName("dcdaw-context");
        g_probe = CProbeLog();
        g_probe.context = ctx.get();
    }

    std::uint32_t take(std::uint32_t bytes)
    {
        std::uint32_t ref = 0;
        EXPECT_EQ(kelvtest::idAndText(ctx->takeBuffer(bytes, ref)), "no error");
        return ref;
    }

    zel::TObjectPtr<Ctx> ctx;
};

TEST_F(CDCDAWContextTest, ReferencesPackSlotAndByteOffset)
{
    EXPECT_EQ(Ctx::makeReference(5, 0), 5u);
    EXPECT_EQ(Ctx::makeReference(3999, 4096), (4096u << 12) | 3999u);
    EXPECT_EQ(Ctx::makeReference(7, 0xFFFFF), 0xFFFFF007u);
    EXPECT_EQ(Ctx::slotOf(0xFFFFF007u), 7u);
    EXPECT_EQ(Ctx::offsetOf(0xFFFFF007u), 0xFFFFFu);
    EXPECT_EQ(Ctx::offsetReference(Ctx::makeReference(9, 16), 3), Ctx::makeReference(9, 40));
}

TEST_F(CDCDAWContextTest, FreeListIsLastInFirstOutAndCapacityOnlyGrows)
{
    const std::uint32_t a = take(800);
    const std::uint32_t b = take(800);
    EXPECT_EQ(a, 0u);
    EXPECT_EQ(b, 1u);
    EXPECT_EQ(ctx->referenceCount(a), 1u);
    EXPECT_EQ(ctx->capacity(a), 800u);
    EXPECT_EQ(ctx->freeSlotCount(), Ctx::kSlotCount - 2);

    // Released slots go to the head of the free list, in release order.
    ASSERT_FALSE(ctx->releaseReference(a));
    ASSERT_FALSE(ctx->releaseReference(b));
    EXPECT_EQ(ctx->freeListHead(), b);
    EXPECT_EQ(take(8), b);
    EXPECT_EQ(take(8), a);

    // A smaller request keeps the storage; a larger one replaces it.
    double* storage = ctx->data(a);
    EXPECT_EQ(ctx->capacity(a), 800u);
    ASSERT_FALSE(ctx->releaseReference(a));
    EXPECT_EQ(take(16), a);
    EXPECT_EQ(ctx->data(a), storage);
    ASSERT_FALSE(ctx->releaseReference(a));
    EXPECT_EQ(take(4096), a);
    EXPECT_EQ(ctx->capacity(a), 4096u);
    ASSERT_FALSE(ctx->releaseReference(a));
    EXPECT_EQ(take(800), a);
    EXPECT_EQ(ctx->capacity(a), 4096u);

    // Counted holders: the slot is free only after the last release.
    ASSERT_FALSE(ctx->addReference(a));
    EXPECT_EQ(ctx->referenceCount(a), 2u);
    ASSERT_FALSE(ctx->releaseReference(a));
    EXPECT_EQ(ctx->referenceCount(a), 1u);
    ASSERT_FALSE(ctx->releaseReference(a));
    EXPECT_EQ(ctx->referenceCount(a), 0u);
    EXPECT_EQ(ctx->freeListHead(), a);
    EXPECT_EQ(ctx->data(a), nullptr);
    // A free slot is refused everywhere.
    const zel::CErrorPtr err = ctx->releaseReference(a);
    ASSERT_TRUE(err);
    EXPECT_EQ(err->id(), "zelstr_CDCDAWContextObject_releaseReference_InvalidReference");
    EXPECT_TRUE(ctx->addReference(a));
    EXPECT_TRUE(ctx->requestNotify(a));
    EXPECT_TRUE(ctx->addReference(Ctx::kSlotCount));
}

TEST_F(CDCDAWContextTest, EmptyPoolIsAnOrderlyError)
{
    for (std::uint32_t i = 0; i < Ctx::kSlotCount; ++i)
        ASSERT_EQ(take(8), i);
    std::uint32_t ref = 77;
    const zel::CErrorPtr err = ctx->takeBuffer(8, ref);
    EXPECT_EQ(kelvtest::idAndText(err),
              "zelstr_CDCDAWContextObject_takeBuffer_PoolEmpty: The kernel buffer pool is "
              "exhausted: all 4000 buffers are in use.");
    ASSERT_FALSE(ctx->releaseReference(1234));
    EXPECT_EQ(take(8), 1234u);
}

TEST_F(CDCDAWContextTest, IssueHoldsArgumentsWhileTheKernelRunsAndResolvesOffsets)
{
    const std::uint32_t out = take(8 * 64);
    const std::uint32_t in = take(8 * 8);
    const std::uint32_t sub = Ctx::offsetReference(out, 16);
    ASSERT_EQ(kelvtest::idAndText(ctx->issue(kProbe2, 4, 2.5, {sub, in})), "no error");
    EXPECT_EQ(g_probe.countsDuringRun, (std::vector<std::uint32_t>{2, 2}));
    EXPECT_EQ(g_probe.data[0], ctx->data(out) + 16);
    EXPECT_EQ(g_probe.data[1], ctx->data(in));
    EXPECT_EQ(ctx->data(out)[15], 0.0);
    EXPECT_EQ(ctx->data(out)[16], 2.5);
    EXPECT_EQ(ctx->data(out)[19], 2.5);
    EXPECT_EQ(ctx->data(out)[20], 0.0);
    EXPECT_EQ(ctx->referenceCount(out), 1u);
    EXPECT_EQ(ctx->referenceCount(in), 1u);

    // The same slot twice: two references during the run, both given back.
    ASSERT_FALSE(ctx->issue(kProbe2, 1, 1.0, {out, Ctx::offsetReference(out, 1)}));
    EXPECT_EQ(g_probe.countsDuringRun, (std::vector<std::uint32_t>{3, 3}));
    EXPECT_EQ(ctx->referenceCount(out), 1u);

    // A buffer whose taker released it before the call lives through the call, then is freed.
    ASSERT_FALSE(ctx->addReference(in));
    ASSERT_FALSE(ctx->releaseReference(in));
    ASSERT_FALSE(ctx->releaseReference(in));
    EXPECT_EQ(ctx->referenceCount(in), 0u);
}

TEST_F(CDCDAWContextTest, IssueRefusesInvalidReferencesWithoutSideEffects)
{
    const std::uint32_t good = take(64);
    const std::uint32_t released = take(64);
    ASSERT_FALSE(ctx->releaseReference(released));
    struct
    {
        std::uint32_t ref;
        const char* why;
    } const cases[] = {
        {Ctx::makeReference(4000, 0), "slot beyond the pool"},
        {Ctx::makeReference(4095, 0), "largest slot index"},
        {released, "released slot"},
        {Ctx::makeReference(good, 4), "offset not a whole sample"},
        {Ctx::makeReference(good, 64), "offset at the end of the buffer"},
    };
    ASSERT_FALSE(ctx->issue(kQuiet2, 1, 0.0, {good, good})); // the record pool exists
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.why);
        const std::size_t records = ctx->allocatedCallCount();
        const zel::CErrorPtr err = ctx->issue(kProbe2, 1, 0.0, {good, c.ref});
        ASSERT_TRUE(err);
        EXPECT_EQ(err->id(), "zelstr_CDCDAWContextObject_issue_InvalidReference");
        EXPECT_NE(err->text().find("argument 1 of kernel 'DCDAW_probe2'"), std::string::npos);
        EXPECT_EQ(g_probe.runs, 0);
        EXPECT_EQ(ctx->referenceCount(good), 1u);
        // The record went back: the next call reuses it.
        ASSERT_FALSE(ctx->issue(kQuiet2, 1, 0.0, {good, good}));
        EXPECT_EQ(ctx->allocatedCallCount(), records);
    }
    EXPECT_TRUE(ctx->issue(kProbe2, 1, 0.0, {good})); // too few arguments
    EXPECT_TRUE(ctx->issue(nullptr));                 // no record
    zel::CDCDAWCall* call = nullptr;
    ASSERT_FALSE(ctx->getCall(call));
    EXPECT_TRUE(ctx->issue(call)); // no kernel in the record
}

TEST_F(CDCDAWContextTest, NotifyOnUseIsRaisedOnceByTheFirstCallNamingTheSlot)
{
    const std::uint32_t meter = take(64);
    const std::uint32_t other = take(64);
    std::uint8_t flags[2] = {0, 0};
    ASSERT_FALSE(ctx->setNotifyFlags(meter, &flags[0], &flags[1]));
    ASSERT_FALSE(ctx->requestNotify(meter));
    EXPECT_NE(ctx->stateWord(meter) & Ctx::kNotifyOnUse, 0u);

    ASSERT_FALSE(ctx->issue(kProbe1, 1, 0.0, {other}));
    EXPECT_EQ(flags[0] + flags[1], 0);

    // Raised after the kernel ran (never seen by it) and the request cleared.
    ASSERT_FALSE(ctx->issue(kProbe2, 1, 0.0, {other, Ctx::offsetReference(meter, 2)}));
    EXPECT_EQ(flags[0], 1);
    EXPECT_EQ(flags[1], 1);
    EXPECT_EQ(ctx->stateWord(meter) & Ctx::kNotifyOnUse, 0u);

    flags[0] = flags[1] = 0;
    ASSERT_FALSE(ctx->issue(kProbe1, 1, 0.0, {meter}));
    EXPECT_EQ(flags[0] + flags[1], 0);

    // A new request is raised again; a freed slot forgets its flags.
    ASSERT_FALSE(ctx->requestNotify(meter));
    ASSERT_FALSE(ctx->issue(kProbe1, 0, 0.0, {meter}));
    EXPECT_EQ(flags[0], 1);
    flags[0] = flags[1] = 0;
    ASSERT_FALSE(ctx->requestNotify(meter));
    ASSERT_FALSE(ctx->releaseReference(meter));
    EXPECT_EQ(take(64), meter);
    ASSERT_FALSE(ctx->issue(kProbe1, 1, 0.0, {meter}));
    EXPECT_EQ(flags[0] + flags[1], 0);
}

TEST_F(CDCDAWContextTest, SteadyStateAllocatesNothing)
{
    auto block = [&]
    {
        for (int channel = 0; channel < 8; ++channel)
        {
            std::uint32_t a = 0, b = 0;
            ASSERT_FALSE(ctx->takeBuffer(512 * 8, a));
            ASSERT_FALSE(ctx->takeBuffer(512 * 8, b));
            ASSERT_FALSE(ctx->issue(kQuiet2, 512, 1.0, {a, b}));
            zel::CDCDAWCall* call = nullptr;
            ASSERT_FALSE(ctx->getCall(call));
            call->kernel = &kQuiet2;
            call->n = 512;
            call->refs[0] = b;
            call->refs[1] = a;
            ASSERT_FALSE(ctx->issue(call));
            ASSERT_FALSE(ctx->releaseReference(a));
            ASSERT_FALSE(ctx->releaseReference(b));
        }
    };
    block(); // first use sizes the buffers
    const std::size_t records = ctx->allocatedCallCount();
    kelvtest::CCountAllocations counter;
    for (int i = 0; i < 100; ++i)
        block();
    EXPECT_EQ(counter.count(), 0u);
    EXPECT_EQ(ctx->allocatedCallCount(), records);
    EXPECT_EQ(ctx->freeSlotCount(), Ctx::kSlotCount);
}

TEST_F(CDCDAWContextTest, WorkspacesAreCreatedOnceAndDestroyedWithTheContext)
{
    struct CCounted : zel::CDCDAWContextWorkspace
    {
        explicit CCounted(int& alive) : m_alive(alive) { ++m_alive; }
        ~CCounted() override { --m_alive; }
        int& m_alive;
    };
    int alive = 0;
    int made = 0;
    const Ctx::CWorkspaceFactory factory = [&]
    {
        ++made;
        return std::make_unique<CCounted>(alive);
    };
    const std::uint32_t key = zel::CDCDAWContextWorkspace::kRealDFTKey;
    EXPECT_EQ(ctx->findWorkspace(key), nullptr);
    zel::CDCDAWContextWorkspace* first = nullptr;
    zel::CDCDAWContextWorkspace* second = nullptr;
    ASSERT_FALSE(ctx->findOrCreateWorkspace(key, factory, first));
    ASSERT_FALSE(ctx->findOrCreateWorkspace(key, factory, second));
    EXPECT_EQ(first, second);
    EXPECT_EQ(ctx->findWorkspace(key), first);
    EXPECT_EQ(made, 1);
    EXPECT_EQ(alive, 1);

    zel::CDCDAWContextWorkspace* none = nullptr;
    const zel::CErrorPtr err = ctx->findOrCreateWorkspace(
        zel::CDCDAWContextWorkspace::kFilterKey, [] { return nullptr; }, none);
    EXPECT_EQ(kelvtest::idAndText(err),
              "zelstr_CDCDAWContextObject_findOrCreateWorkspace_NotCreated: The workspace with "
              "key 65535 could not be created.");
    EXPECT_EQ(none, nullptr);

    ctx.reset();
    EXPECT_EQ(alive, 0);
}

TEST(CDCDAWContextType, IsCreatedByItsTag)
{
    zel::CTypeRegistration registration;
    ASSERT_FALSE(zel::registerProductTypes(registration));
    zel::CObjectPtr root;
    ASSERT_FALSE(zel::CObject::createRoot("audio:dcdaw-context", "dcdaw-context", root));
    auto* ctx = dynamic_cast<Ctx*>(root.get());
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(ctx->freeSlotCount(), Ctx::kSlotCount);
}

} // namespace
