#pragma once
// Floating-point control of the calling thread: the exception masks, the rounding mode and the
// denormal mode of the x87 and SSE units, read and written in the run-time library's
// control-word encoding (the bits below), plus the scoped guards the framework puts around
// host entry points, timer messages and worker threads.
//
// Only the control fields are handled; the sticky exception flags are neither cleared nor set.
// The x87 precision field is never changed.

#include <cstdint>

namespace zel::platform
{

// Exception masks (a set bit masks the exception).
inline constexpr unsigned kFpEmInexact = 0x00000001u;
inline constexpr unsigned kFpEmUnderflow = 0x00000002u;
inline constexpr unsigned kFpEmOverflow = 0x00000004u;
inline constexpr unsigned kFpEmZeroDivide = 0x00000008u;
inline constexpr unsigned kFpEmInvalid = 0x00000010u;
inline constexpr unsigned kFpEmDenormal = 0x00080000u;
inline constexpr unsigned kFpMcwEm = 0x0008001Fu;
// Rounding.
inline constexpr unsigned kFpRcNear = 0x00000000u;
inline constexpr unsigned kFpRcDown = 0x00000100u;
inline constexpr unsigned kFpRcUp = 0x00000200u;
inline constexpr unsigned kFpRcChop = 0x00000300u;
inline constexpr unsigned kFpMcwRc = 0x00000300u;
// Denormal handling of the SSE unit: keep denormals, flush operands and results, flush
// operands only (denormals-are-zero), flush results only (flush-to-zero).
inline constexpr unsigned kFpDnSave = 0x00000000u;
inline constexpr unsigned kFpDnFlush = 0x01000000u;
inline constexpr unsigned kFpDnFlushOperands = 0x02000000u;
inline constexpr unsigned kFpDnFlushResults = 0x03000000u;
inline constexpr unsigned kFpMcwDn = 0x03000000u;
// Set in a read control word when the x87 and SSE units disagree on masks or rounding; the
// other bits then describe the SSE unit.
inline constexpr unsigned kFpAmbiguous = 0x80000000u;

// The state the framework runs in: all six exceptions masked, rounding to nearest.
inline constexpr unsigned kFpFrameworkValue = kFpMcwEm | kFpRcNear; // 0x8001F
inline constexpr unsigned kFpFrameworkMask = kFpMcwEm | kFpMcwRc;   // 0x8031F

// The raw control registers, for exact restoration.
struct SFpControlState
{
    std::uint32_t sse = 0;
    std::uint32_t x87 = 0;
    friend bool operator==(const SFpControlState&, const SFpControlState&) = default;
};

// The control word of this thread in the encoding above.
unsigned getFpControl();
// Sets the fields selected by mask to value's bits in both units and returns the new word.
unsigned setFpControl(unsigned value, unsigned mask);
SFpControlState saveFpControl();
void restoreFpControl(const SFpControlState& state);

// Sets the fields under mask to value for its lifetime when they differ (or when the two units
// disagree), and restores the previous control registers on destruction. Fields outside the
// mask, the denormal mode among them, are left as they are.
class CFpGuard
{
public:
    CFpGuard(unsigned value, unsigned mask)
    {
        const unsigned current = getFpControl();
        if ((current & mask) != (value & mask) || (current & kFpAmbiguous) != 0)
        {
            m_saved = saveFpControl();
            m_changed = true;
            setFpControl(value, mask);
        }
    }
    ~CFpGuard()
    {
        if (m_changed)
            restoreFpControl(m_saved);
    }
    CFpGuard(const CFpGuard&) = delete;
    CFpGuard& operator=(const CFpGuard&) = delete;

    // Whether the guard had to change the state.
    bool changed() const { return m_changed; }

private:
    SFpControlState m_saved;
    bool m_changed = false;
};

// Around every call from the host: the host's state is put back on every exit path.
class CFpHostGuard : public CFpGuard
{
public:
    CFpHostGuard() : CFpGuard(kFpFrameworkValue, kFpFrameworkMask) {}
};

// Around timer messages and worker-thread bodies: the denormal exception is masked together
// with the other five and rounding goes to nearest.
class CFpWorkerGuard : public CFpGuard
{
public:
    CFpWorkerGuard() : CFpGuard(kFpFrameworkValue, kFpFrameworkMask) {}
};

} // namespace zel::platform
