#pragma once
// The DSP kernel call interface: a kernel descriptor (function, argument count, write mask,
// "DCDAW_" name) and the call record that the kernel context fills, resolves and hands to the
// kernel. This header carries no logic; the context (Audio/DCDAWContext.h) owns the pools and
// issues calls, and each kernel family lives in its own file of this folder and exports its
// descriptors through one function declared here.
//
// Conventions shared by every kernel:
// - call->data[i] is the resolved pointer of argument i (slot storage plus byte offset); the
//   argument count and write mask of the descriptor say which of them exist and which are
//   written. Argument 0 is the output unless a kernel says otherwise.
// - call->n is the sample count; a kernel given n <= 0 does nothing and leaves its state alone.
//   The convolution kernels keep the count in the low 24 bits and the base-2 logarithm of the
//   transform half-size in the high 8 bits (see countOf / log2HalfSizeOf).
// - call->x is the scalar operand: the sample rate for kernels that compute coefficients,
//   otherwise a constant (gain, mix amount, fill value, first bin).
// - A state record is a buffer of 64-bit floats in a slot; a kernel that keeps integers in it
//   (a noise seed, a ring position) stores them bit-exactly through std::memcpy.
// - Arithmetic kernels may be called in place (out equal to an input).

#include <cstdint>
#include <span>
#include <string_view>

namespace zel
{

struct CDCDAWCall;

using DCDAWKernelFunction = void (*)(CDCDAWCall* call);

struct CDCDAWKernel
{
    DCDAWKernelFunction function;
    std::int32_t argCount;  // 1 to 5
    std::int32_t writeMask; // bit i set: argument i is written
    const char* name;       // "DCDAW_..."
};

struct CDCDAWCall
{
    static constexpr int kMaxArgs = 5;

    const CDCDAWKernel* kernel = nullptr;
    std::int32_t n = 0;
    double x = 0.0;
    std::uint32_t refs[kMaxArgs] = {};
    double* data[kMaxArgs] = {};
    CDCDAWCall* next = nullptr; // free-list link inside the context

    // Convolution kernels: sample or bin count (low 24 bits) and log2 of the half-size B.
    static constexpr std::int32_t countOf(std::int32_t n) { return n & 0xFFFFFF; }
    static constexpr std::int32_t log2HalfSizeOf(std::int32_t n)
    {
        return static_cast<std::int32_t>((static_cast<std::uint32_t>(n) >> 24) & 0xFF);
    }
    static constexpr std::int32_t packConvolutionCount(std::int32_t count, std::int32_t log2Half)
    {
        return static_cast<std::int32_t>((static_cast<std::uint32_t>(log2Half) << 24) |
                                         (static_cast<std::uint32_t>(count) & 0xFFFFFF));
    }
};

// Kernel families, each a static table of descriptors.
// Arithmetic (copy ... mix), crossfade, anti-denormal noise, sine, filtered noise,
// interp2/decim2/decim2s, mid/side.
std::span<const CDCDAWKernel> dcdawBasicKernels();
// Biquads, half-band filters, fast-convolution support, real DFT.
std::span<const CDCDAWKernel> dcdawFilterKernels();
// Level meters, correlation meter, gain computer.
std::span<const CDCDAWKernel> dcdawDynamicsKernels();

// The descriptor of a kernel by its "DCDAW_" name, or nullptr.
const CDCDAWKernel* findDCDAWKernel(std::string_view name);

// A paired form of a stateful kernel: runs two calls of that kernel over independent buffers
// (no slot that one call writes is named by the other) in one interleaved pass, so that the
// serial recurrences of the two calls overlap. The results and states are exactly those of
// running first, then second. Only kernels whose per-sample recurrence limits their speed
// have one (the biquads and the gain computer); nullptr for the others.
using DCDAWPairFunction = void (*)(CDCDAWCall* first, CDCDAWCall* second);
DCDAWPairFunction findDCDAWPairFunction(const CDCDAWKernel& kernel);

} // namespace zel
