#pragma once
// The real DFT behind "DCDAW_rdftf" / "DCDAW_rdfti": CDCDAWRealDFT runs a transform of N = 2^L
// points in place on a set-up table, and CDCDAWRealDFTWorkspace (the kernel context's
// workspace under key 57311) builds and caches those tables per size. The workspace is not a
// kernel and is never touched from a kernel: a module fetches the table of its size once,
// copies it into a pool buffer (of setupLength(L) doubles) and passes that buffer as argument 1
// of every transform call.
//
// Method: the N real points are read as N/2 complex points (even samples real, odd samples
// imaginary), transformed by a radix-4 Stockham FFT (with one radix-2 pass when log2(N/2) is
// odd) that ping-pongs between the data and the work buffer, then split into the spectrum of
// the real signal by one twiddle pass. The inverse runs the same steps backwards.
//
// Spectrum layout: [0] DC, [1] Nyquist (both real), then re, im of bins 1 .. N/2-1.
// Forward is unscaled; the inverse divides by N, so inverse(forward(x)) = x.

#include "Audio/DCDAWContextWorkspace.h"
#include "Core/Error.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zel
{

class CDCDAWRealDFT
{
public:
    static constexpr int kMaxLog2Size = 24;

    // Set-up table layout (doubles):
    //   [0] N   [1] log2 N
    //   [2, 2 + 2 (N/4 + 1))  e^(-2 pi i k / N) for k = 0 .. N/4 (re, im), for the split pass
    //   then per radix-4 pass of length n (n = N/2, N/8, ...; while n >= 4), for p < n/4:
    //   w, w^2, w^3 (re, im each) with w = e^(-2 pi i p / n)
    static std::size_t setupLength(int log2Size);
    // Fills `dest` (setupLength(log2Size) doubles); log2Size must be 1 .. kMaxLog2Size.
    static void buildSetup(int log2Size, double* dest);

    // True when `setup` was built for exactly n points (n > 0).
    static bool setupMatches(const double* setup, std::int32_t n);

    // In place on N = setup[0] points; work holds N doubles of scratch.
    static void forward(double* data, const double* setup, double* work);
    static void inverse(double* data, const double* setup, double* work);
};

class CDCDAWRealDFTWorkspace final : public CDCDAWContextWorkspace
{
public:
    static constexpr std::uint32_t kKey = kRealDFTKey;

    // The set-up table of a transform of 2^log2Size points, built on first request and kept
    // until the workspace dies. Fails for a size outside 1 .. CDCDAWRealDFT::kMaxLog2Size.
    CErrorPtr setup(int log2Size, std::span<const double>& tables);

private:
    std::array<std::vector<double>, CDCDAWRealDFT::kMaxLog2Size + 1> m_tables;
};

} // namespace zel
