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
//
// Host traffic. The application wrapper attaches each entry to its host bridge and host index
// (attachHost). From then on the entry keeps the host's view of the element: a cached
// normalised value, set by the host (setFromHost: NaN is refused and other values are held to
// [0, 1]; an equal value changes nothing, else the value is cached, converted by the element's
// converter and set as one parameter change) and followed from the internal parameter, which it
// listens to: a change made inside the plug-in whose normalised value differs from the cached one
// is cached and posted to the current change operation (CAudioParamChangeScope), which coalesces
// repeated changes of one host index and delivers hostParamChanged after the locks are released, in
// posting order. The host's own change is not echoed back to it.
//
// The classes do not know the host interface; the wrapper maps indices to the host.

#include "Audio/AudioParam.h"
#include "Core/Object.h"

#include <cstdint>
#include <vector>

namespace zel
{

class CAudioParam;
class CAudioParamCollector;

// Receives the normalised values of host-visible parameters changed inside the plug-in (by the
// editor, a program change, the undo history), after the parameter's lock is released.
class CAudioExtParamHostBridge
{
public:
    virtual ~CAudioExtParamHostBridge();
    virtual void hostParamChanged(std::int32_t index, double normalised) = 0;
};

class CAudioExtParam : public CObject, public CAudioParamListener
{
public:
    CAudioExtParam();
    ~CAudioExtParam() override;

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

    // ---- Host traffic ----
    // Finds the internal parameter, listens to it and caches its normalised value; the bridge
    // and index receive later changes. False (and nothing attached) when the parameter does
    // not exist.
    bool attachHost(CAudioExtParamHostBridge* bridge, std::int32_t index);
    void detachHost();
    CAudioParam* param() const { return m_param; }
    CAudioExtParamHostBridge* hostBridge() const { return m_bridge; }
    std::int32_t hostIndex() const { return m_hostIndex; }
    // The cached normalised value (0.0 while not attached).
    double normalised() const;
    // A value from the host (see the file comment).
    void setFromHost(double normalised);
    // Through the element's converter; empty texts (and 0.5) without an internal parameter.
    CText label() const;
    CText display() const;
    CText displayFor(double normalised) const;
    double fromText(const CText& text) const;

    // CAudioParamListener
    void onAudioParamChanged(CAudioParam& param, std::int32_t group, std::int32_t origin) override;
    void onAudioParamDestroyed(CAudioParam& param) override;

private:
    static void deliver(void* bridge, std::int32_t index, double value);

    CAudioParam* m_param = nullptr;
    CAudioExtParamHostBridge* m_bridge = nullptr;
    std::int32_t m_hostIndex = -1;
    double m_cached = 0.0; // guarded by the internal parameter's lock
    bool m_settingFromHost = false;

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
