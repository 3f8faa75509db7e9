// The kernel context's lanes: queued calls run at runLanes, paired where the kernel has a
// paired form, in issue order where the lanes depend on each other, and every reference taken
// for them is given back.
#include "Audio/DCDAWContext.h"
#include "Audio/Kernels/DCDAWFilterKernels.h"
#include "Support/ErrorText.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace
{

using Ctx = zel::CDCDAWContextObject;

class DCDAWContextLanesTest : public ::testing::Test
{
protected:
    void SetUp() override { ctx = zel::CObject::make<Ctx>(); }
    std::uint32_t take(std::vector<double> values)
    {
        std::uint32_t ref = 0;
        EXPECT_EQ(kelvtest::idAndText(
                      ctx->takeBuffer(static_cast<std::uint32_t>(values.size() * 8), ref)),
                  "no error");
        std::copy(values.begin(), values.end(), ctx->data(ref));
        return ref;
    }
    std::vector<double> read(std::uint32_t ref, std::size_t n) const
    {
        return {ctx->data(ref), ctx->data(ref) + n};
    }
    void issue(const char* kernel, std::int32_t n, double x,
               std::initializer_list<std::uint32_t> refs)
    {
        EXPECT_EQ(kelvtest::idAndText(ctx->issue(*zel::findDCDAWKernel(kernel), n, x, refs)),
                  "no error");
    }

    zel::TObjectPtr<Ctx> ctx;
};

TEST_F(DCDAWContextLanesTest, QueuedBiquadsRunPairedAtRunLanesAndMatchImmediateCalls)
{
    const std::vector<double> in{1.0, 0.5, -0.25, 0.0, 0.75, -1.0, 0.1};
    const std::vector<double> coeffs{0.02, 0.0, -0.02, -1.95, 0.96};
    const auto n = static_cast<std::int32_t>(in.size());
    // Reference: two channels issued one after the other.
    std::vector<std::vector<double>> expected;
    for (int c = 0; c < 2; ++c)
    {
        const std::uint32_t state = take(std::vector<double>(zel::CDCDAWBiquadState::kSize));
        const std::uint32_t k = take(coeffs);
        const std::uint32_t x = take(in), y = take(std::vector<double>(in.size()));
        issue("DCDAW_fltbiqi", 1, 44100.0, {state, k});
        issue("DCDAW_fltbiqbp", n, 0.0, {y, state, x});
        expected.push_back(read(y, in.size()));
    }
    // The same through the lanes.
    std::uint32_t states[2], outs[2], ins[2];
    for (int c = 0; c < 2; ++c)
    {
        states[c] = take(std::vector<double>(zel::CDCDAWBiquadState::kSize));
        const std::uint32_t k = take(coeffs);
        issue("DCDAW_fltbiqi", 1, 44100.0, {states[c], k});
        ins[c] = take(in);
        outs[c] = take(std::vector<double>(in.size(), -7.0));
    }
    const std::uint32_t freeBefore = ctx->freeSlotCount();
    for (int c = 0; c < 2; ++c)
    {
        ctx->beginLane(c);
        issue("DCDAW_fltbiqbp", n, 0.0, {outs[c], states[c], ins[c]});
        EXPECT_EQ(ctx->referenceCount(Ctx::slotOf(outs[c])), 2u); // held by the queued call
    }
    EXPECT_TRUE(ctx->inLanes());
    EXPECT_EQ(read(outs[0], 1), std::vector<double>{-7.0}); // not run yet
    ctx->runLanes();
    EXPECT_FALSE(ctx->inLanes());
    for (int c = 0; c < 2; ++c)
    {
        EXPECT_EQ(read(outs[c], in.size()), expected[static_cast<std::size_t>(c)]);
        EXPECT_EQ(ctx->referenceCount(Ctx::slotOf(outs[c])), 1u);
    }
    EXPECT_EQ(ctx->freeSlotCount(), freeBefore);
}

TEST_F(DCDAWContextLanesTest, DependentLanesAndFullLanesKeepTheIssueOrder)
{
    // {what, calls per lane, lane 1 reads what lane 0 writes}
    const std::tuple<const char*, int, bool> cases[] = {
        {"lane 1 reads what lane 0 writes", 1, true},
        {"lane 1 reads what lane 0 writes later", 3, true},
        {"more calls than a lane holds", Ctx::kLaneCapacity + 3, false},
        {"full and dependent", Ctx::kLaneCapacity + 1, true},
    };
    for (const auto& [what, callsPerLane, laneOneReadsLaneZero] : cases)
    {
        SCOPED_TRACE(what);
        const std::uint32_t a = take({1.0, 2.0});
        const std::uint32_t b = take({5.0, 7.0});
        // Lane 0 doubles a callsPerLane times; lane 1 either triples b as often, or first
        // copies a (which lane 0 has finished by then in issue order) and triples that.
        ctx->beginLane(0);
        for (int i = 0; i < callsPerLane; ++i)
            issue("DCDAW_mulci", 2, 2.0, {a});
        ctx->beginLane(1);
        if (laneOneReadsLaneZero)
            issue("DCDAW_copy", 2, 0.0, {b, a});
        for (int i = 0; i < callsPerLane; ++i)
            issue("DCDAW_mulci", 2, 3.0, {b});
        ctx->runLanes();
        double scaleA = 1.0, scaleB = 1.0;
        for (int i = 0; i < callsPerLane; ++i)
        {
            scaleA *= 2.0;
            scaleB *= 3.0;
        }
        EXPECT_EQ(read(a, 2), (std::vector<double>{scaleA, 2.0 * scaleA}));
        const std::vector<double> base = laneOneReadsLaneZero
                                             ? std::vector<double>{scaleA, 2.0 * scaleA}
                                             : std::vector<double>{5.0, 7.0};
        EXPECT_EQ(read(b, 2), (std::vector<double>{base[0] * scaleB, base[1] * scaleB}));
        EXPECT_EQ(ctx->referenceCount(Ctx::slotOf(a)), 1u);
        EXPECT_EQ(ctx->referenceCount(Ctx::slotOf(b)), 1u);
        ASSERT_FALSE(ctx->releaseReference(a));
        ASSERT_FALSE(ctx->releaseReference(b));
    }
}

} // namespace
