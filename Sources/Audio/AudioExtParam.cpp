#include "Audio/AudioExtParam.h"

#include "Audio/AudioParamCollector.h"
#include "Audio/AudioProcessDef.h"
#include "Audio/Converters/AudioParamConverter.h"
#include "Core/Numbers.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace zel
{

CAudioExtParamHostBridge::~CAudioExtParamHostBridge() = default;

CAudioExtParam::CAudioExtParam() = default;

CAudioExtParam::~CAudioExtParam()
{
    detachHost();
}

void CAudioExtParam::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
    info.attribute<&CAudioExtParam::onParamCollector>("param-collector");
    info.attribute<&CAudioExtParam::onParamName>("param-name");
    info.attribute<&CAudioExtParam::onGroup>("group");
    info.attribute<&CAudioExtParam::onElementIndex>("element-index");
    info.attribute<&CAudioExtParam::onExtName>("ext-name");
}

CErrorPtr CAudioExtParam::init()
{
    const std::string owner = fullName().toUtf8();
    ZEL_TRY(CObject::init(), owner);
    if (m_collectorPath.empty())
        return ZEL_ERROR(owner, "zelstr_CAudioExtParam_init_NoCollector",
                         "No parameter collector specified.");
    if (m_paramName.empty())
        return ZEL_ERROR(owner, "zelstr_CAudioExtParam_init_NoParamName",
                         "Invalid parameter name specified.");
    if (m_extName.empty())
        return ZEL_ERROR(owner, "zelstr_CAudioExtParam_init_NoExtName",
                         "No host parameter name specified.");
    return nullptr;
}

CErrorPtr CAudioExtParam::onParamCollector(const CText& value)
{
    m_collectorPath = value;
    return nullptr;
}

CErrorPtr CAudioExtParam::onParamName(const CText& value)
{
    if (value.empty())
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioExtParam_onParamName",
                         "Invalid parameter name specified.");
    // Collector paths carry no leading "/".
    m_paramName = value.startsWith("/") ? value.substr(1) : value;
    return nullptr;
}

CErrorPtr CAudioExtParam::onGroup(const CText& value)
{
    std::int32_t group = 0;
    if (!parseInteger32(value, group) || group < 0 || group > kMaxGroup)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioExtParam_onGroup",
                         "Invalid group '%1' specified.", {value.toUtf8()});
    m_group = group;
    return nullptr;
}

CErrorPtr CAudioExtParam::onElementIndex(const CText& value)
{
    std::int32_t element = 0;
    if (!parseInteger32(value, element) || element < 0)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioExtParam_onElementIndex",
                         "Invalid element index '%1' specified.", {value.toUtf8()});
    m_elementIndex = element;
    return nullptr;
}

CErrorPtr CAudioExtParam::onExtName(const CText& value)
{
    if (value.empty() || value.size() > kMaxExtNameLength)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CAudioExtParam_onExtName",
                         "Invalid host parameter name '%1' (1 to 7 characters).", {value.toUtf8()});
    m_extName = value;
    return nullptr;
}

CAudioParamCollector* CAudioExtParam::findCollector() const
{
    return dynamic_cast<CAudioParamCollector*>(findObject(m_collectorPath));
}

CAudioParam* CAudioExtParam::findParam() const
{
    CAudioParamCollector* collector = findCollector();
    return collector != nullptr ? collector->findParam(m_paramName) : nullptr;
}

// ---- Host traffic ----

bool CAudioExtParam::attachHost(CAudioExtParamHostBridge* bridge, std::int32_t index)
{
    detachHost();
    CAudioParam* param = findParam();
    if (param == nullptr)
        return false;
    {
        CCriticalSectionLock guard(param->lock());
        m_param = param;
        m_bridge = bridge;
        m_hostIndex = index;
        m_cached = param->normValue(m_group, m_elementIndex, 0);
    }
    param->addListener(this, true);
    return true;
}

void CAudioExtParam::detachHost()
{
    if (m_param != nullptr)
        m_param->removeListener(this);
    if (m_bridge != nullptr)
        CAudioParamChangeScope::forget(m_bridge);
    m_param = nullptr;
    m_bridge = nullptr;
    m_hostIndex = -1;
}

double CAudioExtParam::normalised() const
{
    if (m_param == nullptr)
        return 0.0;
    CCriticalSectionLock guard(m_param->lock());
    return m_cached;
}

void CAudioExtParam::setFromHost(double normalised)
{
    // A value that is not a number is refused; the rest is held to [0, 1], so that the host
    // reads back a value it could have sent.
    if (m_param == nullptr || std::isnan(normalised))
        return;
    normalised = std::clamp(normalised, 0.0, 1.0);
    {
        CCriticalSectionLock guard(m_param->lock());
        if (normalised == m_cached)
            return;
        m_cached = normalised;
        m_settingFromHost = true;
    }
    // The change notifies after the parameter's lock is released; this entry skips its own
    // echo (the flag) and the host keeps the value it sent.
    (void)m_param->setNormValue(m_group, m_elementIndex, 0, normalised);
    CCriticalSectionLock guard(m_param->lock());
    m_settingFromHost = false;
}

CText CAudioExtParam::label() const
{
    const CAudioParamConverter* converter =
        m_param != nullptr ? m_param->info().converter(0) : nullptr;
    return converter != nullptr ? converter->label() : CText();
}

CText CAudioExtParam::display() const
{
    return m_param != nullptr ? m_param->text(m_group, m_elementIndex, 0) : CText();
}

CText CAudioExtParam::displayFor(double normalised) const
{
    const CAudioParamConverter* converter =
        m_param != nullptr ? m_param->info().converter(0) : nullptr;
    if (converter == nullptr)
        return CText();
    const CAudioParamInfo& info = m_param->info();
    normalised = std::isnan(normalised) ? 0.0 : std::clamp(normalised, 0.0, 1.0);
    CCriticalSectionLock guard(m_param->lock());
    return converter->valueToText(info, 0, converter->normToValue(info, 0, normalised), 0,
                                  &m_param->data());
}

double CAudioExtParam::fromText(const CText& text) const
{
    const CAudioParamConverter* converter =
        m_param != nullptr ? m_param->info().converter(0) : nullptr;
    if (converter == nullptr)
        return 0.5;
    const CAudioParamInfo& info = m_param->info();
    return converter->valueToNorm(info, 0, converter->textToValue(info, 0, text));
}

void CAudioExtParam::onAudioParamChanged(CAudioParam& param, std::int32_t group,
                                         std::int32_t origin)
{
    (void)group;
    (void)origin;
    // Every group's change is looked at: a single-group parameter reports group 0 for all of
    // them, and comparing with the cached value filters what does not concern this element.
    double value = 0.0;
    {
        CCriticalSectionLock guard(param.lock());
        if (&param != m_param || m_settingFromHost)
            return;
        value = param.normValue(m_group, m_elementIndex, 0);
        if (value == m_cached)
            return;
        m_cached = value;
    }
    if (m_bridge != nullptr)
        CAudioParamChangeScope::post(m_bridge, m_hostIndex, value, &CAudioExtParam::deliver);
}

void CAudioExtParam::onAudioParamDestroyed(CAudioParam& param)
{
    if (&param == m_param)
        m_param = nullptr;
}

void CAudioExtParam::deliver(void* bridge, std::int32_t index, double value)
{
    static_cast<CAudioExtParamHostBridge*>(bridge)->hostParamChanged(index, value);
}

void CAudioExtParamList::registerClass(CClassInfo& info)
{
    CObject::registerClass(info);
}

CErrorPtr CAudioExtParamList::initChilds()
{
    const std::string owner = fullName().toUtf8();
    ZEL_TRY(CObject::initChilds(), owner);
    for (CObject* child : childList())
        if (dynamic_cast<CAudioExtParam*>(child) == nullptr)
            return ZEL_ERROR(owner, "zelstr_CAudioExtParamList_initChilds_Class",
                             "Object '%1' is not a host parameter.", {child->name().toUtf8()});
    return nullptr;
}

std::vector<CAudioExtParam*> CAudioExtParamList::params() const
{
    std::vector<CAudioExtParam*> out;
    for (CObject* child : childrenInDeclarationOrder(*this))
        if (auto* param = dynamic_cast<CAudioExtParam*>(child))
            out.push_back(param);
    return out;
}

} // namespace zel
