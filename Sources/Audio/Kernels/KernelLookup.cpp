// findDCDAWKernel: the name-to-descriptor lookup over every kernel family linked into the
// library. Modules resolve kernel names once, when the process graph is built.
#include "Audio/Kernels/DCDAWKernel.h"

#include "Audio/Kernels/DCDAWFilterKernels.h"
#include "Audio/Kernels/DCDAWGainComputer.h"

namespace zel
{

const CDCDAWKernel* findDCDAWKernel(std::string_view name)
{
    // Every family linked into the library is listed here; a new family adds its function.
    for (const auto family : {dcdawBasicKernels, dcdawFilterKernels, dcdawDynamicsKernels})
    {
        for (const CDCDAWKernel& kernel : family())
        {
            if (name == kernel.name)
                return &kernel;
        }
    }
    return nullptr;
}

DCDAWPairFunction findDCDAWPairFunction(const CDCDAWKernel& kernel)
{
    struct CPair
    {
        DCDAWKernelFunction single;
        DCDAWPairFunction paired;
    };
    static constexpr CPair kPairs[] = {
        {&dcdawFltBiqCommon, &dcdawFltBiqCommonPair}, {&dcdawFltBiqLP, &dcdawFltBiqLPPair},
        {&dcdawFltBiqHP, &dcdawFltBiqHPPair},         {&dcdawFltBiqBP, &dcdawFltBiqBPPair},
        {&dcdawFltBiqNotch, &dcdawFltBiqNotchPair},   {&dcdawKelvComp, &dcdawKelvCompPair},
        {&dcdawKelvCompRms, &dcdawKelvCompRmsPair},
    };
    for (const CPair& pair : kPairs)
        if (pair.single == kernel.function)
            return pair.paired;
    return nullptr;
}

} // namespace zel
