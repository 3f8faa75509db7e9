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

void setX87Word(std::uint16_t cw)
{
    __asm__ __volatile__("fldcw %0" : : "m"(cw));
}

// Clears the x87 status flags, so that unmasking an exception cannot raise a pending one.
void clearX87Flags()
{
    __asm__ __volatile__("fnclex");
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
    void SetUp() override
    {
        m_mxcsr = _mm_getcsr();
        m_x87 = x87Word();
        clearX87Flags();
        _mm_setcsr(kDefaultMxcsr);
        setX87Word(kDefaultX87);
    }
    void TearDown() override
    {
        clearX87Flags();
        _mm_setcsr(m_mxcsr);
        setX87Word(m_x87);
    }

private:
    std::uint32_t m_mxcsr = 0;
    std::uint16_t m_x87 = 0;
};

TEST_F(FloatingPoint, ReadsTheSseRegisterInTheControlWordEncoding)
{
    // MXCSR values assembled by hand, the x87 unit staying at its default.
    struct SCase
    {
        std::uint32_t mxcsr;
        unsigned expected;
    };
    const SCase cases[] = {
        {0x1F80, 0x0008001F},          // all masked, nearest
        {0x1F80 | 0x8040, 0x0108001F}, // FTZ + DAZ
        {0x1F80 | 0x0040, 0x0208001F}, // DAZ only
        {0x1F80 | 0x8000, 0x0308001F}, // FTZ only
        {0x1F80 | 0x003F, 0x0008001F}, // sticky flags do not show
        // Rounding and masks that differ from the x87 unit are flagged as ambiguous.
        {0x1F80 | 0x2000, 0x8008011F},              // down
        {0x1F80 | 0x6000, 0x8008031F},              // toward zero
        {0x1F80 & ~0x0200u, 0x80080017},            // zero-divide unmasked
        {0x1F80 & ~0x0100u, 0x8000001F},            // denormal unmasked
        {(0x1F80 & ~0x1000u) | 0x4000, 0x8008021E}, // inexact unmasked, up
    };
    for (const SCase& c : cases)
    {
        _mm_setcsr(c.mxcsr);
        const unsigned word = getFpControl();
        _mm_setcsr(kDefaultMxcsr);
        EXPECT_EQ(word, c.expected) << std::hex << "mxcsr 0x" << c.mxcsr;
    }
}

TEST_F(FloatingPoint, SetsBothUnitsUnderTheMask)
{
    struct SCase
    {
        unsigned value;
        unsigned mask;
        std::uint32_t mxcsr;
        std::uint16_t x87;
    };
    const SCase cases[] = {
        {kFpRcUp, kFpMcwRc, 0x1F80 | 0x4000, 0x037F | 0x0800},
        {kFpRcChop, kFpMcwRc, 0x1F80 | 0x6000, 0x037F | 0x0C00},
        {0, kFpEmZeroDivide, 0x1F80 & ~0x0200u, 0x037F & ~0x0004},
        {0, kFpEmDenormal | kFpEmInexact, 0x1F80 & ~0x1100u, 0x037F & ~0x0022},
        {kFpDnFlush, kFpMcwDn, 0x1F80 | 0x8040, 0x037F},
        {kFpDnFlushResults, kFpMcwDn, 0x1F80 | 0x8000, 0x037F},
        // Bits outside the mask are ignored.
        {kFpRcDown | kFpDnFlush, kFpMcwRc, 0x1F80 | 0x2000, 0x037F | 0x0400},
    };
    for (const SCase& c : cases)
    {
        clearX87Flags();
        setFpControl(c.value, c.mask);
        EXPECT_EQ(_mm_getcsr(), c.mxcsr) << std::hex << c.value;
        EXPECT_EQ(x87Word(), c.x87) << std::hex << c.value;
        _mm_setcsr(kDefaultMxcsr);
        setX87Word(kDefaultX87);
    }
}

TEST_F(FloatingPoint, HostGuardSetsMasksAndRoundingAndRestoresTheHostState)
{
    // A host that rounds upward, traps division by zero and flushes denormals.
    const std::uint32_t hostMxcsr = (0x1F80 & ~0x0200u) | 0x4000 | 0x8040;
    const std::uint16_t hostX87 = (0x037F & ~0x0004) | 0x0800;
    _mm_setcsr(hostMxcsr);
    setX87Word(hostX87);
    const double roundedUp = third();
    EXPECT_EQ(std::bit_cast<std::uint64_t>(roundedUp), 0x3FD5555555555556u);
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

TEST_F(FloatingPoint, GuardsChangeNothingWhenTheStateIsRight)
{
    _mm_setcsr(kDefaultMxcsr | 0x8040); // flushing denormals is not a difference
    {
        CFpHostGuard host;
        CFpWorkerGuard worker;
        EXPECT_FALSE(host.changed());
        EXPECT_FALSE(worker.changed());
    }
    EXPECT_EQ(_mm_getcsr() & ~0x3Fu, kDefaultMxcsr | 0x8040);
}

TEST_F(FloatingPoint, WorkerGuardMasksTheDenormalExceptionAndFixesTheX87Unit)
{
    _mm_setcsr(kDefaultMxcsr & ~0x0100u);
    {
        CFpWorkerGuard guard;
        EXPECT_TRUE(guard.changed());
        EXPECT_EQ(_mm_getcsr() & ~0x3Fu, kDefaultMxcsr);
    }
    EXPECT_EQ(_mm_getcsr() & ~0x3Fu, kDefaultMxcsr & ~0x0100u);

    // Only the x87 unit rounds differently: the guard still acts.
    setX87Word(kDefaultX87 | 0x0C00);
    {
        CFpWorkerGuard guard;
        EXPECT_TRUE(guard.changed());
        EXPECT_EQ(x87Word(), kDefaultX87);
    }
    EXPECT_EQ(x87Word(), kDefaultX87 | 0x0C00);
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
