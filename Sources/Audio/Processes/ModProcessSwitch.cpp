#include "Audio/Processes/ModProcessSwitch.h"

#include "Audio/DCDAWContext.h"
#include "Core/Numbers.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace zel
{

namespace
{

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

} // namespace

// ---- CModProcessSwitchDef ----

void CModProcessSwitchDef::registerClass(CClassInfo& info)
{
    CAudioProcessDefBase::registerClass(info);
    using C = CModProcessSwitchDef;
    info.attribute<&C::onProcessList>("process-list");
    info.attribute<&C::onDefChildName>("def-child-name");
    info.attribute<&C::onDefIndex>("def-index");
    info.flag<&C::m_allpassBank>("is-allpass-bank");
}

CErrorPtr CModProcessSwitchDef::onProcessList(const CText& value)
{
    m_processList = value;
    return nullptr;
}

CErrorPtr CModProcessSwitchDef::onDefChildName(const CText& value)
{
    m_defChildName = value;
    return nullptr;
}

CErrorPtr CModProcessSwitchDef::onDefIndex(const CText& value)
{
    std::int32_t index = 0;
    if (!value.empty() && !parseInteger32(value, index))
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModProcessSwitchDef_onDefIndex",
                         "Invalid default index value '%1'.", {value.toUtf8()});
    m_defIndex = index;
    return nullptr;
}

CErrorPtr CModProcessSwitchDef::init()
{
    ZEL_TRY(CAudioProcessDefBase::init(), fullName().toUtf8());
    ZEL_TRY(parseList(), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CModProcessSwitchDef::parseList()
{
    m_items.clear();
    const std::string list = m_processList.toUtf8();
    std::size_t pos = 0;
    std::int32_t number = 0;
    while (pos <= list.size())
    {
        const std::size_t end = std::min(list.find_first_of(";,", pos), list.size());
        const std::string item = trimmed(list.substr(pos, end - pos));
        pos = end + 1;
        if (item.empty())
            continue;
        ++number;
        const std::string numberText = std::to_string(number);
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos)
            return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModProcessSwitchDef_init_NoIndex",
                             "No index delimiter ':' found in item #%1.", {numberText});
        const std::string indexText = trimmed(item.substr(0, colon));
        std::int32_t index = -1;
        if (indexText.empty() || !parseInteger32(CText(indexText), index) || index < 0)
            return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModProcessSwitchDef_init_IndexError",
                             "Invalid index value '%1' in item #%2.", {indexText, numberText});
        for (const CItem& earlier : m_items)
            if (earlier.index == index)
                return ZEL_ERROR(
                    fullName().toUtf8(), "zelstr_CModProcessSwitchDef_init_IndexDupeError",
                    "Duplicate index value '%1' used in item #%2.", {indexText, numberText});
        CItem parsed;
        parsed.index = index;
        parsed.name = CText(trimmed(item.substr(colon + 1)));
        m_items.push_back(std::move(parsed));
    }
    return nullptr;
}

CErrorPtr CModProcessSwitchDef::initChilds()
{
    ZEL_TRY(CAudioProcessDefBase::initChilds(), fullName().toUtf8());
    std::int32_t number = 0;
    for (CItem& item : m_items)
    {
        ++number;
        const CText& name = item.name;
        CObject* found = nullptr;
        if (!name.empty())
        {
            found = name[0] == u'.' ? findChild(name.substr(1)) : findChild(name);
            if (found == nullptr)
                found = findObject(name);
        }
        item.def = dynamic_cast<const CAudioProcessDefBase*>(found);
        if (item.def == nullptr)
            return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModProcessSwitchDef_init_ProcessError",
                             "Invalid process '%1' in item #%2.",
                             {name.toUtf8(), std::to_string(number)});
    }
    return nullptr;
}

CErrorPtr CModProcessSwitchDef::makeProcess(TObjectPtr<CAudioProcessBase>& process) const
{
    process = CObject::make<CModProcessSwitch>();
    return nullptr;
}

// ---- CModProcessSwitch ----

CModProcessSwitch::~CModProcessSwitch()
{
    if (definition() == nullptr)
        return;
    for (CAudioCrossfade& fade : m_fades)
        fade.release(context());
}

void CModProcessSwitch::registerClass(CClassInfo& info)
{
    CAudioProcessBase::registerClass(info);
}

CErrorPtr CModProcessSwitch::initFromDef(const CAudioProcessDefBase& def,
                                         std::shared_ptr<const CAudioProcessSetup> setup,
                                         const CText& instancePath)
{
    m_switchDef = dynamic_cast<const CModProcessSwitchDef*>(&def);
    if (m_switchDef == nullptr)
        return ZEL_ERROR(fullName().toUtf8(), "zelstr_CModProcessSwitch_init_InvalidDef",
                         "Audio process def of invalid class supplied.", {});
    ZEL_TRY(CAudioProcessBase::initFromDef(def, setup, instancePath), fullName().toUtf8());
    (void)inputPort(0);
    (void)outputPort(0);

    // One child per distinct listed definition.
    for (const CModProcessSwitchDef::CItem& item : m_switchDef->items())
    {
        std::int32_t at = -1;
        for (std::size_t i = 0; i < m_children.size(); ++i)
            if (m_children[i]->definition() == item.def)
                at = static_cast<std::int32_t>(i);
        if (at < 0 && item.def != nullptr)
        {
            CAudioProcessBase* child = nullptr;
            CText path = instancePath;
            path += CText(".");
            path += item.def->name();
            ZEL_TRY(instantiate(*item.def, *this, item.def->name(), setup, path, child),
                    fullName().toUtf8());
            at = static_cast<std::int32_t>(m_children.size());
            m_children.push_back(child);
        }
        m_itemChild.push_back(at);
    }

    const std::int32_t channels = channelCount();
    m_feeds.resize(m_children.size());
    m_collects.resize(m_children.size());
    for (std::size_t i = 0; i < m_children.size(); ++i)
    {
        m_feeds[i].channels.resize(static_cast<std::size_t>(channels));
        m_collects[i].channels.resize(static_cast<std::size_t>(channels));
    }
    for (std::size_t i = 0; i < m_children.size(); ++i)
        for (std::int32_t c = 0; c < channels; ++c)
        {
            const auto ci = static_cast<std::size_t>(c);
            (void)makeConnection(m_feeds[i].channels[ci], m_children[i]->inputPort(0).channels[ci]);
            (void)makeConnection(m_children[i]->outputPort(0).channels[ci],
                                 m_collects[i].channels[ci]);
        }
    m_fades.resize(static_cast<std::size_t>(channels));
    m_inRefs.assign(static_cast<std::size_t>(channels), kNoInput);
    m_inOwned.assign(static_cast<std::size_t>(channels), 0);
    m_fadeLength = CAudioCrossfade::lengthOf(def);
    m_selected = m_previous = choose();
    return nullptr;
}

std::int32_t CModProcessSwitch::choose() const
{
    const CAudioParamInput& input = paramInput(0);
    const double value = input.isBound() ? input.value(group(), 0, 0, m_switchDef->defIndex())
                                         : m_switchDef->defIndex();
    const double rounded = std::isfinite(value) ? std::round(value) : -1.0;
    const auto& items = m_switchDef->items();
    for (std::size_t i = 0; i < items.size(); ++i)
        if (static_cast<double>(items[i].index) == rounded)
            return m_itemChild[i];
    const CText& fallback = m_switchDef->defChildName();
    if (!fallback.empty())
        for (std::size_t i = 0; i < m_children.size(); ++i)
            if (m_children[i]->definition()->name() == fallback)
                return static_cast<std::int32_t>(i);
    return -1;
}

CErrorPtr CModProcessSwitch::updateBlock()
{
    if (!inputsChanged())
        return nullptr;
    clearInputsChanged();
    const std::int32_t next = choose();
    if (next == m_selected)
        return nullptr;
    m_previous = m_selected;
    m_selected = next;
    for (CAudioCrossfade& fade : m_fades)
        ZEL_TRY(fade.start(context(), m_fadeLength, sampleRate()), fullName().toUtf8());
    m_fading = !m_fades.empty();
    return nullptr;
}

std::int64_t CModProcessSwitch::pendingChangePosition() const
{
    std::int64_t earliest = CAudioProcessBase::pendingChangePosition();
    for (const CAudioProcessBase* child : m_children)
        earliest = std::min(earliest, child->pendingChangePosition());
    return earliest;
}

CErrorPtr CModProcessSwitch::connect()
{
    for (CAudioProcessBase* child : m_children)
        ZEL_TRY(child->connect(), fullName().toUtf8());
    return nullptr;
}

void CModProcessSwitch::flush()
{
    for (CAudioProcessBase* child : m_children)
        child->flush();
    clearPorts(m_collects, m_feeds);
    CAudioProcessBase::flush();
}

CErrorPtr CModProcessSwitch::collect(std::int32_t choice, std::size_t channel, std::int32_t n,
                                     std::uint32_t& ref, bool& owned)
{
    owned = false;
    if (choice < 0)
        ref = m_inRefs[channel];
    else
        ZEL_TRY(readChannel(m_collects[static_cast<std::size_t>(choice)].channels[channel], n, ref,
                            owned),
                fullName().toUtf8());
    if (ref == kNoInput)
        ZEL_TRY(silence(n, ref), fullName().toUtf8());
    return nullptr;
}

CErrorPtr CModProcessSwitch::process(std::int32_t length)
{
    const auto channels = static_cast<std::size_t>(channelCount());
    while (true)
    {
        bool once = false;
        const std::int32_t n = nextRunLength(length, once);
        if (n == 0)
            return nullptr;
        const std::int64_t start = position();
        const bool fading = m_fading;
        const std::int32_t selected = m_selected;
        const std::int32_t previous = m_previous;

        // Feed the running choices.
        for (std::size_t c = 0; c < channels; ++c)
        {
            bool owned = false;
            ZEL_TRY(readChannel(m_inputs[0].channels[c], n, m_inRefs[c], owned),
                    fullName().toUtf8());
            m_inOwned[c] = owned ? 1 : 0;
            std::uint32_t feed = m_inRefs[c];
            if (feed == kNoInput)
                ZEL_TRY(silence(n, feed), fullName().toUtf8());
            if (m_selected >= 0)
                ZEL_TRY(
                    pushChannel(m_feeds[static_cast<std::size_t>(m_selected)].channels[c], feed, n),
                    fullName().toUtf8());
            if (m_fading && m_previous >= 0 && m_previous != m_selected)
                ZEL_TRY(
                    pushChannel(m_feeds[static_cast<std::size_t>(m_previous)].channels[c], feed, n),
                    fullName().toUtf8());
        }
        advance(n);

        for (std::size_t i = 0; i < m_children.size(); ++i)
        {
            CAudioProcessBase& child = *m_children[i];
            ZEL_TRY(child.applyParamChanges(start), fullName().toUtf8());
            ZEL_TRY(child.updateBlock(), fullName().toUtf8());
            const auto index = static_cast<std::int32_t>(i);
            if (index == m_selected || (m_fading && index == m_previous))
                ZEL_TRY(child.process(n), fullName().toUtf8());
        }

        CErrorPtr err;
        bool running = false;
        for (std::size_t c = 0; c < channels && !err; ++c)
        {
            std::uint32_t fresh = kNoInput, old = kNoInput;
            bool freshOwned = false, oldOwned = false;
            err = collect(m_selected, c, n, fresh, freshOwned);
            if (!err && m_fading)
                err = collect(m_previous, c, n, old, oldOwned);
            if (!err && !m_fading)
                err = pushChannel(m_outputs[0].channels[c], fresh, n);
            else if (!err)
            {
                std::uint32_t out = kNoInput;
                const auto bytes =
                    static_cast<std::uint32_t>(std::max(n, setup().maxBlockLength())) * 8u;
                err = context().takeBuffer(bytes, out);
                if (!err)
                    err = m_fades[c].run(context(), n, out, fresh, old);
                if (!err)
                    err = pushChannel(m_outputs[0].channels[c], out, n);
                if (out != kNoInput)
                    (void)context().releaseReference(out);
                running = running || m_fades[c].isRunning();
            }
            if (freshOwned)
                (void)context().releaseReference(fresh);
            if (oldOwned)
                (void)context().releaseReference(old);
        }
        if (m_fading && !err)
            m_fading = running;

        for (std::size_t c = 0; c < channels; ++c)
        {
            if (m_inOwned[c])
                (void)context().releaseReference(m_inRefs[c]);
            m_inRefs[c] = kNoInput;
            m_inOwned[c] = 0;
        }
        consumeAllInputs(n);
        for (const std::int32_t ran : {selected, fading && previous != selected ? previous : -1})
            if (ran >= 0)
                for (CAudioInputChannel& channel :
                     m_collects[static_cast<std::size_t>(ran)].channels)
                    consumeChannel(channel, n);
        ZEL_TRY(std::move(err), fullName().toUtf8());
        if (once)
            return nullptr;
    }
}

} // namespace zel
