#pragma once
// CClassInfo: the handler tables of one object class: attribute name -> attribute handler, and
// event name -> event handler plus a flags byte. A class's tables are built once, by its
// registration routine, which first runs its base class's routine and then adds (or replaces)
// its own entries:
//
//     static void registerClass(CClassInfo& info)
//     {
//         CObject::registerClass(info);
//         info.attribute<&CMyClass::onValue>("value");   // CErrorPtr onValue(const CText&)
//         info.event<&CMyClass::onTick>("tick");         // CErrorPtr onTick(CObject& params)
//     }
//
// The type registry maps tags to (creator, registration routine). registerCreator() fills it;
// CTypeRegistration records a set of registrations so that it can be undone (application
// shut-down, tests). This file does not hold the product's tag table (see TypeTable.h).

#include "Core/Error.h"
#include "Core/Text.h"

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

namespace zel
{

class CObject;
class CClassInfo;

struct CObjectDeleter
{
    void operator()(CObject* object) const;
};
// Owning pointer to an object; deleting it releases the subtree before destroying it.
using CObjectPtr = std::unique_ptr<CObject, CObjectDeleter>;
template <class T>
using TObjectPtr = std::unique_ptr<T, CObjectDeleter>;

using CAttributeHandlerFn = CErrorPtr (*)(CObject& object, const CText& value);
using CEventHandlerFn = CErrorPtr (*)(CObject& listener, CObject& eventParams);
using CCreatorFn = CObjectPtr (*)();
using CClassRegistrationFn = void (*)(CClassInfo& info);

struct CEventHandlerEntry
{
    CEventHandlerFn handler = nullptr;
    std::uint8_t flags = 0;
};

namespace detail
{
template <class M>
struct MemberClass;
template <class C, class R, class... A>
struct MemberClass<R (C::*)(A...)>
{
    using type = C;
};
template <class C, class T>
struct MemberClass<T C::*>
{
    using type = C;
};
CErrorPtr handlerClassMismatch();
// "true"/"false" (empty counts as false) into out; any other text is an error of object.
CErrorPtr parseFlagAttribute(const CObject& object, const CText& value, bool& out);
} // namespace detail

class CClassInfo
{
public:
    // Adds or replaces an entry.
    void addAttribute(const CText& name, CAttributeHandlerFn handler);
    void addEvent(const CText& name, CEventHandlerFn handler, std::uint8_t flags = 0);

    // Member-function forms: Method is `CErrorPtr (C::*)(const CText&)` for attributes and
    // `CErrorPtr (C::*)(CObject& eventParams)` for events, C derived from CObject.
    template <auto Method>
    void attribute(const CText& name)
    {
        addAttribute(name, &attributeThunk<Method>);
    }
    // Data-member forms for attributes that only store their value: Field is `bool C::*`
    // ("true"/"false", anything else fails with "Invalid boolean value '%1'.") or `CText C::*`.
    template <auto Field>
    void flag(const CText& name)
    {
        addAttribute(name, &flagThunk<Field>);
    }
    template <auto Field>
    void text(const CText& name)
    {
        addAttribute(name, &textThunk<Field>);
    }
    template <auto Method>
    void event(const CText& name, std::uint8_t flags = 0)
    {
        addEvent(name, &eventThunk<Method>, flags);
    }

    CAttributeHandlerFn findAttribute(const CText& name) const;
    const CEventHandlerEntry* findEvent(const CText& name) const;
    const std::map<CText, CAttributeHandlerFn>& attributes() const { return m_attributes; }
    const std::map<CText, CEventHandlerEntry>& events() const { return m_events; }

    // The tables built by a registration routine; built on first request, then shared for the
    // rest of the process.
    static const CClassInfo& forRoutine(CClassRegistrationFn routine);
    template <class T>
    static const CClassInfo& of()
    {
        return forRoutine(&T::registerClass);
    }

private:
    template <auto Method>
    static CErrorPtr attributeThunk(CObject& object, const CText& value)
    {
        using C = typename detail::MemberClass<decltype(Method)>::type;
        C* self = dynamic_cast<C*>(&object);
        if (self == nullptr)
            return detail::handlerClassMismatch();
        return (self->*Method)(value);
    }
    template <auto Field>
    static CErrorPtr flagThunk(CObject& object, const CText& value)
    {
        using C = typename detail::MemberClass<decltype(Field)>::type;
        C* self = dynamic_cast<C*>(&object);
        if (self == nullptr)
            return detail::handlerClassMismatch();
        return detail::parseFlagAttribute(object, value, self->*Field);
    }
    template <auto Field>
    static CErrorPtr textThunk(CObject& object, const CText& value)
    {
        using C = typename detail::MemberClass<decltype(Field)>::type;
        C* self = dynamic_cast<C*>(&object);
        if (self == nullptr)
            return detail::handlerClassMismatch();
        self->*Field = value;
        return nullptr;
    }
    template <auto Method>
    static CErrorPtr eventThunk(CObject& listener, CObject& eventParams)
    {
        using C = typename detail::MemberClass<decltype(Method)>::type;
        C* self = dynamic_cast<C*>(&listener);
        if (self == nullptr)
            return detail::handlerClassMismatch();
        return (self->*Method)(eventParams);
    }

    std::map<CText, CAttributeHandlerFn> m_attributes;
    std::map<CText, CEventHandlerEntry> m_events;
};

// One registry entry.
struct CTypeEntry
{
    CCreatorFn creator = nullptr;
    CClassRegistrationFn registration = nullptr;
    const CClassInfo* classInfo = nullptr;
};

// Registers tag. Fails with "Creator for '%1' has already been registered." when the tag is
// taken (the first registration stays). Builds the class's handler tables now.
CErrorPtr registerCreator(const CText& tag, CCreatorFn creator, CClassRegistrationFn registration);
// Removes tag; false when it was not registered.
bool unregisterCreator(const CText& tag);
// The entry of tag, or false.
bool findCreator(const CText& tag, CTypeEntry& entry);

// The creator of a class T default-constructible from nothing.
template <class T>
CObjectPtr createObjectOf()
{
    return CObjectPtr(new T());
}

// A row of a tag table.
struct CTypeTableRow
{
    const char* tag;
    CCreatorFn creator;
    CClassRegistrationFn registration;
};

// A set of registrations that can be undone: clear() (and the destructor) removes exactly the
// tags that this set registered.
class CTypeRegistration
{
public:
    CTypeRegistration() = default;
    ~CTypeRegistration() { clear(); }
    CTypeRegistration(const CTypeRegistration&) = delete;
    CTypeRegistration& operator=(const CTypeRegistration&) = delete;

    CErrorPtr add(const CText& tag, CCreatorFn creator, CClassRegistrationFn registration);
    template <class T>
    CErrorPtr add(const CText& tag)
    {
        return add(tag, &createObjectOf<T>, &T::registerClass);
    }
    // Registers every row in order; stops at the first failure (rows before it stay).
    CErrorPtr addTable(std::span<const CTypeTableRow> rows);
    void clear();
    const std::vector<CText>& tags() const { return m_tags; }

private:
    std::vector<CText> m_tags;
};

} // namespace zel
