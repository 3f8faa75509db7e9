// Real DFT: radix-4 Stockham complex FFT of half size plus the real split pass, and the
// workspace that caches set-up tables per size.

#include "Audio/Kernels/DCDAWRealDFT.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <utility>

namespace zel
{

namespace
{

constexpr std::size_t kHeader = 2;

std::size_t splitTableLength(std::size_t half)
{
    return 2 * (half / 2 + 1);
}

// One radix-4 decimation-in-frequency Stockham pass: sub-transforms of length n at stride s
// (n s = complex size), x to y. tw holds w, w^2, w^3 for p < n/4.
template <bool Inverse>
void radix4Pass(const double* x, double* y, std::size_t n, std::size_t s, const double* tw)
{
    const std::size_t m = n / 4;
    const std::size_t quarter = s * m; // distance between the four inputs, complex points
    for (std::size_t p = 0; p < m; ++p)
    {
        const double* w = tw + 6 * p;
        const double w1r = w[0], w2r = w[2], w3r = w[4];
        const double w1i = Inverse ? -w[1] : w[1];
        const double w2i = Inverse ? -w[3] : w[3];
        const double w3i = Inverse ? -w[5] : w[5];
        const double* in0 = x + 2 * (s * p);
        const double* in1 = in0 + 2 * quarter;
        const double* in2 = in1 + 2 * quarter;
        const double* in3 = in2 + 2 * quarter;
        double* out0 = y + 2 * (s * 4 * p);
        double* out1 = out0 + 2 * s;
        double* out2 = out1 + 2 * s;
        double* out3 = out2 + 2 * s;
        for (std::size_t q = 0; q < 2 * s; q += 2)
        {
            const double a0r = in0[q], a0i = in0[q + 1];
            const double a1r = in1[q], a1i = in1[q + 1];
            const double a2r = in2[q], a2i = in2[q + 1];
            const double a3r = in3[q], a3i = in3[q + 1];
            const double t0r = a0r + a2r, t0i = a0i + a2i;
            const double t1r = a0r - a2r, t1i = a0i - a2i;
            const double t2r = a1r + a3r, t2i = a1i + a3i;
            // t3 = -i (a1 - a3) forwards, +i (a1 - a3) backwards
            const double dr = a1r - a3r, di = a1i - a3i;
            const double t3r = Inverse ? -di : di;
            const double t3i = Inverse ? dr : -dr;
            out0[q] = t0r + t2r;
            out0[q + 1] = t0i + t2i;
            const double u1r = t1r + t3r, u1i = t1i + t3i;
            const double u2r = t0r - t2r, u2i = t0i - t2i;
            const double u3r = t1r - t3r, u3i = t1i - t3i;
            out1[q] = u1r * w1r - u1i * w1i;
            out1[q + 1] = u1r * w1i + u1i * w1r;
            out2[q] = u2r * w2r - u2i * w2i;
            out2[q + 1] = u2r * w2i + u2i * w2r;
            out3[q] = u3r * w3r - u3i * w3i;
            out3[q + 1] = u3r * w3i + u3i * w3r;
        }
    }
}

// The last pass when the complex size is 2 times a power of 4: length-2 butterflies.
void radix2LastPass(const double* x, double* y, std::size_t s)
{
    const double* in1 = x + 2 * s;
    double* out1 = y + 2 * s;
    for (std::size_t q = 0; q < 2 * s; ++q)
    {
        const double a = x[q], b = in1[q];
        y[q] = a + b;
        out1[q] = a - b;
    }
}

// Complex FFT of `half` points, unscaled, result in data.
template <bool Inverse>
void complexFFT(double* data, double* work, const double* tw, std::size_t half)
{
    double* x = data;
    double* y = work;
    std::size_t n = half, s = 1;
    while (n >= 4)
    {
        radix4Pass<Inverse>(x, y, n, s, tw);
        tw += 6 * (n / 4);
        std::swap(x, y);
        n /= 4;
        s *= 4;
    }
    if (n == 2)
    {
        radix2LastPass(x, y, s);
        std::swap(x, y);
    }
    if (x != data)
        std::copy_n(x, 2 * half, data);
}

} // namespace

std::size_t CDCDAWRealDFT::setupLength(int log2Size)
{
    if (log2Size < 1 || log2Size > kMaxLog2Size)
        return 0;
    const std::size_t half = std::size_t{1} << (log2Size - 1);
    std::size_t length = kHeader + splitTableLength(half);
    for (std::size_t n = half; n >= 4; n /= 4)
        length += 6 * (n / 4);
    return length;
}

void CDCDAWRealDFT::buildSetup(int log2Size, double* dest)
{
    const std::size_t size = std::size_t{1} << log2Size;
    const std::size_t half = size / 2;
    dest[0] = static_cast<double>(size);
    dest[1] = static_cast<double>(log2Size);
    double* t = dest + kHeader;
    for (std::size_t k = 0; k <= half / 2; ++k)
    {
        const double angle =
            2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(size);
        *t++ = std::cos(angle);
        *t++ = -std::sin(angle);
    }
    for (std::size_t n = half; n >= 4; n /= 4)
    {
        for (std::size_t p = 0; p < n / 4; ++p)
        {
            for (std::size_t j = 1; j <= 3; ++j)
            {
                const double angle =
                    2.0 * std::numbers::pi * static_cast<double>(j * p) / static_cast<double>(n);
                *t++ = std::cos(angle);
                *t++ = -std::sin(angle);
            }
        }
    }
}

bool CDCDAWRealDFT::setupMatches(const double* setup, std::int32_t n)
{
    if (n < 2 || (n & (n - 1)) != 0 || setup[0] != static_cast<double>(n))
        return false;
    const double log2Size = setup[1];
    return log2Size >= 1 && log2Size <= kMaxLog2Size &&
           (std::int64_t{1} << static_cast<int>(log2Size)) == n;
}

void CDCDAWRealDFT::forward(double* data, const double* setup, double* work)
{
    const auto half = static_cast<std::size_t>(setup[0]) / 2;
    const double* split = setup + kHeader;
    complexFFT<false>(data, work, split + splitTableLength(half), half);

    const double z0r = data[0], z0i = data[1];
    data[0] = z0r + z0i;
    data[1] = z0r - z0i;
    for (std::size_t k = 1; k <= half / 2; ++k)
    {
        const std::size_t j = half - k;
        const double zr = data[2 * k], zi = data[2 * k + 1];
        const double jr = data[2 * j], ji = data[2 * j + 1];
        const double er = 0.5 * (zr + jr), ei = 0.5 * (zi - ji);
        const double orr = 0.5 * (zi + ji), oi = -0.5 * (zr - jr);
        const double wr = split[2 * k], wi = split[2 * k + 1];
        const double tr = wr * orr - wi * oi, ti = wr * oi + wi * orr;
        data[2 * k] = er + tr;
        data[2 * k + 1] = ei + ti;
        data[2 * j] = er - tr;
        data[2 * j + 1] = ti - ei;
    }
}

void CDCDAWRealDFT::inverse(double* data, const double* setup, double* work)
{
    const double size = setup[0];
    const auto half = static_cast<std::size_t>(size) / 2;
    const double* split = setup + kHeader;
    const double f = 1.0 / size;

    const double x0 = data[0], xm = data[1];
    data[0] = (x0 + xm) * f;
    data[1] = (x0 - xm) * f;
    for (std::size_t k = 1; k <= half / 2; ++k)
    {
        const std::size_t j = half - k;
        const double kr = data[2 * k], ki = data[2 * k + 1];
        const double jr = data[2 * j], ji = data[2 * j + 1];
        const double er = (kr + jr) * f, ei = (ki - ji) * f;
        const double dr = (kr - jr) * f, di = (ki + ji) * f;
        const double wr = split[2 * k], wi = split[2 * k + 1];
        const double orr = wr * dr + wi * di, oi = wr * di - wi * dr;
        data[2 * k] = er - oi;
        data[2 * k + 1] = ei + orr;
        data[2 * j] = er + oi;
        data[2 * j + 1] = orr - ei;
    }
    complexFFT<true>(data, work, split + splitTableLength(half), half);
}

CErrorPtr CDCDAWRealDFTWorkspace::setup(int log2Size, std::span<const double>& tables)
{
    const std::size_t length = CDCDAWRealDFT::setupLength(log2Size);
    if (length == 0)
        return ZEL_ERROR("CDCDAWRealDFTWorkspace::setup",
                         "zelstr_CDCDAWRealDFTWorkspace_setup_UnsupportedSize",
                         "Unsupported real DFT size 2^%1.", {std::to_string(log2Size)});
    std::vector<double>& table = m_tables[static_cast<std::size_t>(log2Size)];
    if (table.empty())
    {
        table.resize(length);
        CDCDAWRealDFT::buildSetup(log2Size, table.data());
    }
    tables = table;
    return nullptr;
}

} // namespace zel
