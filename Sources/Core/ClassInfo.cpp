#include "Core/ClassInfo.h"

#include "Core/Numbers.h"
#include "Core/Object.h"
#include "Platform/CriticalSection.h"

namespace zel
{
namespace
{
struct CRegistryState
{
    CCriticalSection lock;
    std::map<CText, CTypeEntry> entries;
    std::map<CClassRegistrationFn, std::unique_ptr<CClassInfo>> classes;
};

CRegistryState& registry()
{
    static CRegistryState state;
    return state;
}
} // namespace

void CObjectDeleter::operator()(CObject* object) const
{
    CObject::destroyTree(object);
}

namespace detail
{
CErrorPtr handlerClassMismatch()
{
    return makeError("zelstr_CClassInfo_handler_ClassMismatch",
                     "Handler called on an object of another class.");
}

CErrorPtr parseFlagAttribute(const CObject& object, const CText& value, bool& out)
{
    bool flag = false;
    if (!value.empty() && !parseBoolean(value, flag))
        return ZEL_ERROR(object.fullName().toUtf8(), "zelstr_CClassInfo_flag_InvalidBoolean",
                         "Invalid boolean value '%1'.", {value.toUtf8()});
    out = flag;
    return nullptr;
}
} // namespace detail

void CClassInfo::addAttribute(const CText& name, CAttributeHandlerFn handler)
{
    m_attributes[name] = handler;
}

void CClassInfo::addEvent(const CText& name, CEventHandlerFn handler, std::uint8_t flags)
{
    m_events[name] = CEventHandlerEntry{handler, flags};
}

CAttributeHandlerFn CClassInfo::findAttribute(const CText& name) const
{
    const auto it = m_attributes.find(name);
    return it == m_attributes.end() ? nullptr : it->second;
}

const CEventHandlerEntry* CClassInfo::findEvent(const CText& name) const
{
    const auto it = m_events.find(name);
    return it == m_events.end() ? nullptr : &it->second;
}

const CClassInfo& CClassInfo::forRoutine(CClassRegistrationFn routine)
{
    CRegistryState& state = registry();
    CCriticalSectionLock lock(state.lock);
    std::unique_ptr<CClassInfo>& slot = state.classes[routine];
    if (!slot)
    {
        auto info = std::make_unique<CClassInfo>();
        if (routine != nullptr)
            routine(*info);
        slot = std::move(info);
    }
    return *slot;
}

CErrorPtr registerCreator(const CText& tag, CCreatorFn creator, CClassRegistrationFn registration)
{
    // Build the handler tables before taking the registry lock for the entry (forRoutine
    // takes the same re-entrant lock).
    const CClassInfo& info = CClassInfo::forRoutine(registration);
    CRegistryState& state = registry();
    CCriticalSectionLock lock(state.lock);
    const auto [it, inserted] =
        state.entries.try_emplace(tag, CTypeEntry{creator, registration, &info});
    (void)it;
    if (!inserted)
        return ZEL_ERROR("", "zelstr_CObject_registerCreator",
                         "Creator for '%1' has already been registered.", {tag.toUtf8()});
    return nullptr;
}

bool unregisterCreator(const CText& tag)
{
    CRegistryState& state = registry();
    CCriticalSectionLock lock(state.lock);
    return state.entries.erase(tag) > 0;
}

bool findCreator(const CText& tag, CTypeEntry& entry)
{
    CRegistryState& state = registry();
    CCriticalSectionLock lock(state.lock);
    const auto it = state.entries.find(tag);
    if (it == state.entries.end())
        return false;
    entry = it->second;
    return true;
}

CErrorPtr CTypeRegistration::add(const CText& tag, CCreatorFn creator,
                                 CClassRegistrationFn registration)
{
    ZEL_TRY(registerCreator(tag, creator, registration), "");
    m_tags.push_back(tag);
    return nullptr;
}

CErrorPtr CTypeRegistration::addTable(std::span<const CTypeTableRow> rows)
{
    for (const CTypeTableRow& row : rows)
        ZEL_TRY(add(CText(row.tag), row.creator, row.registration), "");
    return nullptr;
}

void CTypeRegistration::clear()
{
    for (auto it = m_tags.rbegin(); it != m_tags.rend(); ++it)
        unregisterCreator(*it);
    m_tags.clear();
}

} // namespace zel
