#pragma once
// CAudioExtParamList ("audio:ext-param-list") and CAudioExtParam ("audio:ext-param"): the
// host-visible parameter list of an instance, as the description declares it. The list's
// "audio:ext-param" children, in declaration order, are the host's parameters: the position
// is the host index. Each entry names one element of one internal parameter:
//   "param-collector"  object path of the instance's parameter collector (required)
//   "param-name"       full path of the internal parameter in that collector (required)
//   "group"            channel group of the internal parameter, 0 to 7 (default 0)
//   "element-index"    element of a multi-element parameter, 0-based (default 0)
//   "ext-name"         the name the host shows, 1 to 7 characters (required)
// These classes parse, validate and resolve only. Host traffic (normalised values, the cached
// value, the host bridge and index) belongs to the application wrapper, not to them.

#include "Core/Object.h"

#include <cstdint>
#include <vector>

namespace zel
{

class CAudioParam;
class CAudioParamCollector;

class CAudioExtParam : public CObject
{
public:
    static constexpr std::int32_t kMaxGroup = 7;
    static constexpr std::size_t kMaxExtNameLength = 7;

    static void registerClass(CClassInfo& info);
    // Checks that the required attributes are present.
    CErrorPtr init() override;

    CErrorPtr onParamCollector(const CText& value);
    CErrorPtr onParamName(const CText& value);
    CErrorPtr onGroup(const CText& value);
    CErrorPtr onElementIndex(const CText& value);
    CErrorPtr onExtName(const CText& value);

    const CText& collectorPath() const { return m_collectorPath; }
    const CText& paramName() const { return m_paramName; }
    std::int32_t group() const { return m_group; }
    std::int32_t elementIndex() const { return m_elementIndex; }
    const CText& extName() const { return m_extName; }

    // The collector named by "param-collector" (resolved from this object), or null.
    CAudioParamCollector* findCollector() const;
    // The internal parameter, or null while the collector or the parameter does not exist.
    CAudioParam* findParam() const;

private:
    CText m_collectorPath;
    CText m_paramName;
    std::int32_t m_group = 0;
    std::int32_t m_elementIndex = 0;
    CText m_extName;
};

class CAudioExtParamList : public CObject
{
public:
    static void registerClass(CClassInfo& info);
    // Fails when a child is not an "audio:ext-param".
    CErrorPtr initChilds() override;

    // The entries in host order (declaration order).
    std::vector<CAudioExtParam*> params() const;
};

} // namespace zel
