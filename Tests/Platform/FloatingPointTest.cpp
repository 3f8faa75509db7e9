#include "Platform/FloatingPoint.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cstdint>

#include <xmmintrin.h>

namespace zel::platform
{
namespace
{

// The test reaches the registers directly, as an oracle independent of the layer's mapping.
std::uint16_t x87Word()
{
    std::uint16_t cw = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return cw;
}

// Clears the x87 status flags first, so that unmasking an exception cannot raise a pending one.
void setRegisters(std::uint32_t mxcsr, std::uint16_t cw)
{
    __asm__ __volatile__("fnclex");
    _mm_setcsr(mxcsr);
    __asm__ __volatile__("fldcw %0" : : "m"(cw));
}

constexpr std::uint32_t kDefaultMxcsr = 0x1F80; // all masked, nearest, no flush
constexpr std::uint16_t kDefaultX87 = 0x037F;   // all masked, nearest, 64-bit precision

double third()
{
    volatile double one = 1.0;
    volatile double three = 3.0;
    return one / three;
}

class FloatingPoint : public ::testing::Test
{
protected:
    void SetUp() override { setRegisters(kDefaultMxcsr, kDefaultX87); }
    void TearDown() override { setRegisters(m_mxcsr, m_x87); }

private:
    const std::uint32_t m_mxcsr = _mm_getcsr();
    const std::uint16_t m_x87 = x87Word();
};

TEST_F(FloatingPoint, ReadsTheSseRegisterInTheControlWordEncoding)
{
    // MXCSR values assembled by hand, the x87 unit staying at its default.
    const std::pair<std::uint32_t, unsigned> cases[] = {
        {0x1F80, 0x0008001F},          // all masked, nearest
        {0x1F80 | 0x8040, 0x0108001F}, // FTZ + DAZ
        {0x1F80 | 0x0040, 0x0208001F}, // DAZ only
        {0x1F80 | 0x8000, 0x0308001F}, // FTZ only
        {0x1F80 | 0x003F, 0x0008001F}, // sticky flags do not show
        // Rounding and masks that differ from the x87 unit are flagged as ambiguous.
        {0x1F80 | 0x6000, 0x8008031F},              // toward zero
        {0x1F80 & ~0x0100u, 0x8000001F},            // denormal unmasked
        {(0x1F80 & ~0x1000u) | 0x4000, 0x8008021E}, // inexact unmasked, up
    };
    for (const auto& [mxcsr, expected] : cases)
    {
        _mm_setcsr(mxcsr);
        const unsigned word = getFpControl();
        _mm_setcsr(kDefaultMxcsr);
        EXPECT_EQ(word, expected) << std::hex << "mxcsr 0x" << mxcsr;
    }
}

TEST_F(FloatingPoint, SetsBothUnitsUnderTheMask)
{
    const std::tuple<unsigned, unsigned, std::uint32_t, std::uint16_t> cases[] = {
        {kFpRcChop, kFpMcwRc, 0x1F80 | 0x6000, 0x037F | 0x0C00},
        {0, kFpEmDenormal | kFpEmInexact, 0x1F80 & ~0x1100u, 0x037F & ~0x0022},
        {kFpDnFlush, kFpMcwDn, 0x1F80 | 0x8040, 0x037F},
        {kFpDnFlushResults, kFpMcwDn, 0x1F80 | 0x8000, 0x037F},
        // Bits outside the mask are ignored.
        {kFpRcDown | kFpDnFlush, kFpMcwRc, 0x1F80 | 0x2000, 0x037F | 0x0400},
    };
    for (const auto& [value, mask, mxcsr, x87] : cases)
    {
        setFpControl(value, mask);
        EXPECT_EQ(_mm_getcsr(), mxcsr) << std::hex << value;
        EXPECT_EQ(x87Word(), x87) << std::hex << value;
        setRegisters(kDefaultMxcsr, kDefaultX87);
    }
}

TEST_F(FloatingPoint, HostGuardSetsMasksAndRoundingAndRestoresTheHostState)
{
    // A host that rounds upward, traps division by zero and flushes denormals.
    const std::uint32_t hostMxcsr = (0x1F80 & ~0x0200u) | 0x4000 | 0x8040;
    const std::uint16_t hostX87 = (0x037F & ~0x0004) | 0x0800;
    setRegisters(hostMxcsr, hostX87);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(third()), 0x3FD5555555555556u);
    {
        CFpHostGuard guard;
        EXPECT_TRUE(guard.changed());
        EXPECT_EQ(getFpControl(), kFpFrameworkValue | kFpDnFlush);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(third()), 0x3FD5555555555555u);
        EXPECT_EQ(_mm_getcsr() & 0x8040u, 0x8040u); // denormal mode untouched
    }
    EXPECT_EQ(_mm_getcsr() & ~0x3Fu, hostMxcsr);
    EXPECT_EQ(x87Word(), hostX87);
    EXPECT_EQ(std::fegetround(), FE_UPWARD);
}

TEST_F(FloatingPoint, WorkerGuardActsOnlyWhenTheStateDiffers)
{
    // Flushing denormals is not a difference.
    const std::tuple<std::uint32_t, std::uint16_t, bool> cases[] = {
        {kDefaultMxcsr | 0x8040, kDefaultX87, false},
        {kDefaultMxcsr & ~0x0100u, kDefaultX87, true}, // denormal exception unmasked
        {kDefaultMxcsr, kDefaultX87 | 0x0C00, true},   // only the x87 unit rounds differently
    };
    for (const auto& [mxcsr, x87, changes] : cases)
    {
        setRegisters(mxcsr, x87);
        {
            CFpWorkerGuard guard;
            EXPECT_EQ(guard.changed(), changes) << std::hex << mxcsr << " " << x87;
            EXPECT_EQ(_mm_getcsr() & ~0x8040u, kDefaultMxcsr);
            EXPECT_EQ(x87Word(), kDefaultX87);
        }
        EXPECT_EQ(_mm_getcsr() & ~0x3Fu, mxcsr);
        EXPECT_EQ(x87Word(), x87);
    }
    setRegisters(kDefaultMxcsr | 0x8040, kDefaultX87);
    EXPECT_FALSE(CFpHostGuard().changed());
}

TEST_F(FloatingPoint, RestoringKeepsStickyFlags)
{
    const SFpControlState saved = saveFpControl();
    setFpControl(kFpRcUp, kFpMcwRc);
    _mm_setcsr(_mm_getcsr() | 0x01); // an invalid-operation flag raised meanwhile
    restoreFpControl(saved);
    EXPECT_EQ(_mm_getcsr(), kDefaultMxcsr | 0x01);
}

} // namespace
} // namespace zel::platform
