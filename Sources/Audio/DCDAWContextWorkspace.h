#pragma once
// CDCDAWContextWorkspace: the base of the shared workspaces that the kernel context keeps by
// 32-bit key and destroys with itself (filter design scratch data, real-DFT set-up tables per
// transform size). A module asks the context for the workspace of a key and creates and
// registers it when it is missing; the context never looks inside.

#include <cstdint>

namespace zel
{

class CDCDAWContextWorkspace
{
public:
    // Keys of the workspaces the product uses.
    static constexpr std::uint32_t kFilterKey = 65535;
    static constexpr std::uint32_t kRealDFTKey = 57311;

    CDCDAWContextWorkspace() = default;
    virtual ~CDCDAWContextWorkspace() = default;
    CDCDAWContextWorkspace(const CDCDAWContextWorkspace&) = delete;
    CDCDAWContextWorkspace& operator=(const CDCDAWContextWorkspace&) = delete;
};

} // namespace zel
