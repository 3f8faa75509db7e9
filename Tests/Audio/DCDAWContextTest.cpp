#include "Audio/DCDAWContext.h"
#include "Support/AllocationCounter.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{

using zel::CDCDAWCall;
using zel::CDCDAWKernel;
using Ctx = zel::CDCDAWContextObject;

const Ctx* g_context = nullptr;
int g_runs = 0;
std::vector<std::uint32_t> g_countsDuringRun;

// Records its arguments' reference counts, then writes x into n samples of argument 0.
void probeKernel(CDCDAWCall* call)
{
    ++g_runs;
    g_countsDuringRun.clear();
    for (int i = 0; i < call->kernel->argCount; ++i)
        g_countsDuringRun.push_back(g_context->referenceCount(Ctx::slotOf(call->refs[i])));
    for (int i = 0; i < call->n; ++i)
        call->data[0][i] = call->x;
}
const CDCDAWKernel kProbe1 = {&probeKernel, 1, 1, "DCDAW_probe1"};
const CDCDAWKernel kProbe2 = {&probeKernel, 2, 1, "DCDAW_probe2"};

class CDCDAWContextTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ctx = zel::CObject::make<Ctx>();
        g_context = ctx.get();
        g_runs = 0;
    }
    std::uint32_t take(std::uint32_t bytes)
    {
        std::uint32_t ref = 0;
        EXPECT_EQ(kelvtest::idAndText(ctx->takeBuffer(bytes, ref)), "no error");
        return ref;
    }
    void release(std::uint32_t ref) { ASSERT_FALSE(ctx->releaseReference(ref)); }

    zel::TObjectPtr<Ctx> ctx;
};

TEST_F(CDCDAWContextTest, ReleasedSlotIsTakenNextAndCapacityOnlyGrows)
{
    EXPECT_EQ(Ctx::offsetReference(Ctx::makeReference(9, 16), 3), 9u | (40u << 12));
    const std::uint32_t a = take(800), b = take(800);
    EXPECT_EQ(std::pair(a, b), std::pair(0u, 1u));
    double* storage = ctx->data(a);
    release(a);
    release(b);
    EXPECT_EQ(take(8), b); // last released, first taken
    EXPECT_EQ(take(16), a);
    EXPECT_EQ(ctx->data(a), storage); // big enough: kept
    release(a);
    EXPECT_EQ(take(4096), a);
    release(a);
    EXPECT_EQ(take(800), a);
    EXPECT_EQ(ctx->capacity(a), 4096u);

    ASSERT_FALSE(ctx->addReference(a));
    release(a);
    EXPECT_EQ(ctx->referenceCount(a), 1u);
    release(a);
    EXPECT_EQ(ctx->freeListHead(), a);
    // A free slot or one beyond the pool is refused everywhere.
    const zel::CErrorPtr err = ctx->releaseReference(a);
    EXPECT_EQ(err ? err->id() : "", "zelstr_CDCDAWContextObject_releaseReference_InvalidReference");
    EXPECT_TRUE(ctx->addReference(a) && ctx->requestNotify(a));
    EXPECT_TRUE(ctx->addReference(Ctx::kSlotCount));
    EXPECT_EQ(ctx->data(a), nullptr);
}

TEST_F(CDCDAWContextTest, EmptyPoolIsAnOrderlyError)
{
    for (std::uint32_t i = 0; i < Ctx::kSlotCount; ++i)
        ASSERT_EQ(take(8), i);
    std::uint32_t ref = 0;
    EXPECT_EQ(kelvtest::idAndText(ctx->takeBuffer(8, ref)),
              "zelstr_CDCDAWContextObject_takeBuffer_PoolEmpty: The kernel buffer pool is "
              "exhausted: all 4000 buffers are in use.");
    release(1234);
    EXPECT_EQ(take(8), 1234u);
}

TEST_F(CDCDAWContextTest, IssueHoldsItsArgumentsAndRefusesInvalidReferences)
{
    const std::uint32_t out = take(8 * 64), in = take(8 * 8);
    ASSERT_FALSE(ctx->issue(kProbe2, 4, 2.5, {Ctx::offsetReference(out, 16), in}));
    EXPECT_EQ(g_countsDuringRun, (std::vector<std::uint32_t>{2, 2}));
    const double* d = ctx->data(out);
    EXPECT_EQ((std::vector<double>{d[15], d[16], d[19], d[20]}),
              (std::vector<double>{0.0, 2.5, 2.5, 0.0}));
    EXPECT_EQ(ctx->referenceCount(out), 1u);
    EXPECT_EQ(ctx->referenceCount(in), 1u);

    // A slot named twice gets a reference per argument.
    ASSERT_FALSE(ctx->issue(kProbe2, 1, 0.0, {out, out}));
    EXPECT_EQ(g_countsDuringRun, (std::vector<std::uint32_t>{3, 3}));
    const std::size_t records = ctx->allocatedCallCount();

    const std::uint32_t released = take(64);
    release(released);
    for (const std::uint32_t bad :
         {Ctx::makeReference(4000, 0), Ctx::makeReference(4095, 0), released,
          Ctx::makeReference(in, 4), Ctx::makeReference(in, 64)})
    {
        SCOPED_TRACE(bad);
        g_runs = 0;
        const std::string text = kelvtest::idAndText(ctx->issue(kProbe2, 1, 0.0, {in, bad}));
        EXPECT_EQ(text.substr(0, text.find(':')),
                  "zelstr_CDCDAWContextObject_issue_InvalidReference");
        EXPECT_NE(text.find("argument 1 of kernel 'DCDAW_probe2'"), std::string::npos);
        EXPECT_EQ(g_runs, 0);
        EXPECT_EQ(ctx->referenceCount(in), 1u);
        EXPECT_EQ(ctx->allocatedCallCount(), records); // the record went back
    }
    EXPECT_TRUE(ctx->issue(kProbe2, 1, 0.0, {in}));
    CDCDAWCall* call = nullptr;
    ASSERT_FALSE(ctx->getCall(call));
    EXPECT_TRUE(ctx->issue(call)); // names no kernel
}

TEST_F(CDCDAWContextTest, NotifyOnUseIsRaisedOnceByTheFirstCallNamingTheSlot)
{
    const std::uint32_t meter = take(64), other = take(64);
    std::uint8_t flags[2] = {0, 0};
    ASSERT_FALSE(ctx->setNotifyFlags(meter, &flags[0], &flags[1]));
    ASSERT_FALSE(ctx->requestNotify(meter));
    ASSERT_FALSE(ctx->issue(kProbe1, 1, 0.0, {other}));
    EXPECT_EQ(flags[0] + flags[1], 0);
    ASSERT_FALSE(ctx->issue(kProbe2, 0, 0.0, {other, Ctx::offsetReference(meter, 2)}));
    EXPECT_EQ(flags[0] + flags[1], 2);
    EXPECT_EQ(ctx->stateWord(meter) & Ctx::kNotifyOnUse, 0u);
    flags[0] = flags[1] = 0;
    ASSERT_FALSE(ctx->issue(kProbe1, 1, 0.0, {meter}));
    EXPECT_EQ(flags[0] + flags[1], 0);
    // A freed slot forgets its flags and request.
    ASSERT_FALSE(ctx->requestNotify(meter));
    release(meter);
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
            const std::uint32_t a = take(512 * 8), b = take(512 * 8);
            ASSERT_FALSE(ctx->issue(kProbe2, 512, 1.0, {a, b}));
            release(a);
            release(b);
        }
    };
    block(); // sizes the buffers and the record pool
    kelvtest::CCountAllocations counter;
    for (int i = 0; i < 50; ++i)
        block();
    EXPECT_EQ(counter.count(), 0u);
    EXPECT_EQ(ctx->freeSlotCount(), Ctx::kSlotCount);
}

TEST_F(CDCDAWContextTest, WorkspacesAreCreatedOnceAndDestroyedWithTheContext)
{
    struct CCounted : zel::CDCDAWContextWorkspace
    {
        explicit CCounted(int& alive) : m_alive(++alive) {}
        ~CCounted() override { --m_alive; }
        int& m_alive;
    };
    int alive = 0;
    const auto factory = [&] { return std::make_unique<CCounted>(alive); };
    zel::CDCDAWContextWorkspace *first = nullptr, *second = nullptr;
    ASSERT_FALSE(ctx->findOrCreateWorkspace(57311, factory, first));
    ASSERT_FALSE(ctx->findOrCreateWorkspace(57311, factory, second));
    EXPECT_EQ(first, second);
    EXPECT_EQ(ctx->findWorkspace(57311), first);
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(kelvtest::idAndText(ctx->findOrCreateWorkspace(
                  65535, [] { return nullptr; }, second)),
              "zelstr_CDCDAWContextObject_findOrCreateWorkspace_NotCreated: The workspace with "
              "key 65535 could not be created.");
    ctx.reset();
    EXPECT_EQ(alive, 0);
}

} // namespace
