#include "Platform/FloatingPoint.h"
// x86 only: the same code serves the POSIX and the Windows builds (gcc and mingw share the
// inline assembly and the SSE intrinsics; no system header is needed).

#if !defined(__x86_64__) && !defined(__i386__)
#error "The floating-point control layer supports x86 processors only."
#endif

#include <xmmintrin.h>

namespace zel::platform
{
namespace
{

// One exception mask: its bit in the control-word encoding, in the x87 control word and in
// MXCSR.
struct SMaskBit
{
    unsigned control;
    std::uint32_t x87;
    std::uint32_t sse;
};

constexpr SMaskBit kMaskBits[] = {
    {kFpEmInvalid, 1u << 0, 1u << 7},    {kFpEmDenormal, 1u << 1, 1u << 8},
    {kFpEmZeroDivide, 1u << 2, 1u << 9}, {kFpEmOverflow, 1u << 3, 1u << 10},
    {kFpEmUnderflow, 1u << 4, 1u << 11}, {kFpEmInexact, 1u << 5, 1u << 12},
};

constexpr unsigned kX87RoundShift = 10;
constexpr unsigned kSseRoundShift = 13;
constexpr unsigned kControlRoundShift = 8;
constexpr std::uint32_t kSseDaz = 1u << 6;
constexpr std::uint32_t kSseFtz = 1u << 15;
// MXCSR bits 0-5 are the sticky exception flags.
constexpr std::uint32_t kSseFlags = 0x3Fu;

std::uint32_t readX87()
{
    std::uint16_t cw = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return cw;
}

void writeX87(std::uint32_t cw)
{
    const std::uint16_t word = static_cast<std::uint16_t>(cw);
    __asm__ __volatile__("fldcw %0" : : "m"(word));
}

std::uint32_t readSse()
{
    return _mm_getcsr();
}

void writeSseControl(std::uint32_t mxcsr)
{
    // Keep the current sticky flags: only the control fields change.
    _mm_setcsr((mxcsr & ~kSseFlags) | (_mm_getcsr() & kSseFlags));
}

unsigned masksAndRounding(std::uint32_t reg, bool sse)
{
    unsigned word = 0;
    for (const SMaskBit& bit : kMaskBits)
        if ((reg & (sse ? bit.sse : bit.x87)) != 0)
            word |= bit.control;
    const unsigned shift = sse ? kSseRoundShift : kX87RoundShift;
    word |= ((reg >> shift) & 3u) << kControlRoundShift;
    return word;
}

unsigned denormalMode(std::uint32_t mxcsr)
{
    const bool daz = (mxcsr & kSseDaz) != 0;
    const bool ftz = (mxcsr & kSseFtz) != 0;
    if (daz && ftz)
        return kFpDnFlush;
    if (daz)
        return kFpDnFlushOperands;
    if (ftz)
        return kFpDnFlushResults;
    return kFpDnSave;
}

std::uint32_t applyControl(std::uint32_t reg, unsigned value, unsigned mask, bool sse)
{
    for (const SMaskBit& bit : kMaskBits)
    {
        if ((mask & bit.control) == 0)
            continue;
        const std::uint32_t regBit = sse ? bit.sse : bit.x87;
        reg = (value & bit.control) != 0 ? (reg | regBit) : (reg & ~regBit);
    }
    if ((mask & kFpMcwRc) != 0)
    {
        const unsigned shift = sse ? kSseRoundShift : kX87RoundShift;
        const std::uint32_t rounding = ((value & kFpMcwRc) >> kControlRoundShift) & 3u;
        reg = (reg & ~(3u << shift)) | (rounding << shift);
    }
    if (sse && (mask & kFpMcwDn) != 0)
    {
        reg &= ~(kSseDaz | kSseFtz);
        switch (value & kFpMcwDn)
        {
        case kFpDnFlush:
            reg |= kSseDaz | kSseFtz;
            break;
        case kFpDnFlushOperands:
            reg |= kSseDaz;
            break;
        case kFpDnFlushResults:
            reg |= kSseFtz;
            break;
        default:
            break;
        }
    }
    return reg;
}

} // namespace

unsigned getFpControl()
{
    const std::uint32_t sse = readSse();
    const unsigned word = masksAndRounding(sse, true);
    const unsigned x87 = masksAndRounding(readX87(), false);
    return word | denormalMode(sse) | (x87 != word ? kFpAmbiguous : 0u);
}

unsigned setFpControl(unsigned value, unsigned mask)
{
    writeX87(applyControl(readX87(), value, mask, false));
    writeSseControl(applyControl(readSse(), value, mask, true));
    return getFpControl();
}

SFpControlState saveFpControl()
{
    SFpControlState state;
    state.sse = readSse() & ~kSseFlags;
    state.x87 = readX87();
    return state;
}

void restoreFpControl(const SFpControlState& state)
{
    writeX87(state.x87);
    writeSseControl(state.sse);
}

} // namespace zel::platform
