// The dynamics family's descriptor table: level meters, correlation meter and gain computer.
// Argument counts and write masks are part of the kernel vocabulary; the context relies on
// them to resolve, reference and notify the argument slots of a call.

#include "Audio/Kernels/DCDAWGainComputer.h"
#include "Audio/Kernels/DCDAWKernel.h"
#include "Audio/Kernels/DCDAWMeterKernels.h"

namespace zel
{

namespace
{

// clang-format off
constexpr CDCDAWKernel kDynamicsKernels[] = {
    {dcdawMeterInit,     2, 3, "DCDAW_meteri"},
    {dcdawMeter,         3, 3, "DCDAW_meter"},
    {dcdawMeterC,        3, 3, "DCDAW_meterc"},
    {dcdawMeterD,        4, 3, "DCDAW_meterd"},
    {dcdawMeterSub,      4, 7, "DCDAW_metersub"},
    {dcdawMeterSubC,     4, 7, "DCDAW_metersubc"},
    {dcdawMeterSubD,     5, 7, "DCDAW_metersubd"},
    {dcdawMeterCorrInit, 1, 1, "DCDAW_metercorri"},
    {dcdawMeterCorr,     3, 1, "DCDAW_metercorr"},
    {dcdawMeterCorrSub,  4, 3, "DCDAW_metercorrsub"},
    {dcdawKelvCompInit,  1, 1, "DCDAW_kelvcompi"},
    {dcdawKelvCompUpdate, 2, 1, "DCDAW_kelvcompu"},
    {dcdawKelvComp,      3, 3, "DCDAW_kelvcomp"},
    {dcdawKelvCompRms,   3, 3, "DCDAW_kelvcomprms"},
};
// clang-format on

} // namespace

std::span<const CDCDAWKernel> dcdawDynamicsKernels()
{
    return kDynamicsKernels;
}

} // namespace zel
