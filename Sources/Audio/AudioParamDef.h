#pragma once
// CAudioParamDef ("audio:param"): the definition of one audio parameter in the object
// description. Its init reads the attributes in a fixed order and builds the immutable
// CAudioParamInfo that the definition and every run-time instance (CAudioParam) share:
//   1. "element-size" (>= 1)
//   2. "data-type": float (default), "string"/"str"/"1", "raw"; string and raw need size 1
//   3. the flags "is-single-group", "is-single-element", "is-persistent", "is-storable" (only
//      when not persistent), "is-global" (only when neither persistent nor storable: those two
//      make the parameter global), "is-discrete", "is-undo-disabled"
//   4. "visual-name", the parameter name (the object's own name), "param-registry"
//   5. "converter", "converter2" ... one object path per element
//   6. "min-values" / "max-values": display texts separated by spaces, parsed by each
//      element's converter (string and raw parameters have the fixed range [0, 2^23])
//   7. "def-values": values of one element separated by spaces (element size >= 2), elements
//      separated by ",", one set per group separated by ";"
//   8. at least one default set.
// The first failure stops init with its message. The definition holds no run-time value.

#include "Audio/AudioParamInfo.h"
#include "Core/Object.h"

#include <memory>

namespace zel
{

class CAudioParamDef : public CObject
{
public:
    CAudioParamDef();
    static void registerClass(CClassInfo& info);
    CErrorPtr init() override;

    const CAudioParamInfo& info() const { return *m_info; }
    // Shared with the parameter instances; they keep it alive.
    std::shared_ptr<const CAudioParamInfo> sharedInfo() const { return m_info; }

private:
    CErrorPtr readFlag(const char* name, bool& out) const;

    std::shared_ptr<CAudioParamInfo> m_info;
};

} // namespace zel
