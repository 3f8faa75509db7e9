// The filter family's descriptor table: one list of every kernel with its argument count,
// write mask and name.

#include "Audio/Kernels/DCDAWFilterKernels.h"

#include <array>

namespace zel
{

namespace
{

// clang-format off
#define ZEL_HBF(K) \
    {&dcdawFltHbf<K>, 3, 3, "DCDAW_flthbf" #K}, \
    {&dcdawFltHbfI<K>, 2, 1, "DCDAW_flthbf" #K "i"},

constexpr CDCDAWKernel kFilterKernels[] = {
    {&dcdawFltBiqI, 2, 1, "DCDAW_fltbiqi"},
    {&dcdawFltBiqU, 2, 1, "DCDAW_fltbiqu"},
    {&dcdawFltBiqCommon, 3, 3, "DCDAW_fltbiqcommon"},
    {&dcdawFltBiqLP, 3, 3, "DCDAW_fltbiqlp"},
    {&dcdawFltBiqHP, 3, 3, "DCDAW_fltbiqhp"},
    {&dcdawFltBiqBP, 3, 3, "DCDAW_fltbiqbp"},
    {&dcdawFltBiqNotch, 3, 3, "DCDAW_fltbiqnotch"},
    ZEL_HBF(2) ZEL_HBF(4) ZEL_HBF(6) ZEL_HBF(8)
    ZEL_HBF(10) ZEL_HBF(12) ZEL_HBF(14) ZEL_HBF(16)
    {&dcdawConvAcquire, 3, 3, "DCDAW_convacquire"},
    {&dcdawConvMult, 3, 1, "DCDAW_convmult"},
    {&dcdawConvMultAdd, 3, 1, "DCDAW_convmultadd"},
    {&dcdawRealDFTForward, 3, 7, "DCDAW_rdftf"},
    {&dcdawRealDFTInverse, 3, 7, "DCDAW_rdfti"},
};
#undef ZEL_HBF
// clang-format on

} // namespace

std::span<const CDCDAWKernel> dcdawFilterKernels()
{
    return kFilterKernels;
}

} // namespace zel
