#pragma once
// CTarget<T>: a checked pointer from a holder object to an object of class T, resolved from an
// object path (usually held in one of the holder's attributes). get() yields null once the
// target is destroyed. The subscriptions made through the target are remembered by their
// listener ids; release() looks them up in the target and removes them.
//
// CTargetListened<T> additionally forwards named events of the target to the holder: each
// forwarded event runs the holder's handler of the same name.
//
// Neither is thread-safe; both belong to the holder's tree thread.

#include "Core/Error.h"
#include "Core/Object.h"
#include "Core/Text.h"

#include <initializer_list>
#include <vector>

namespace zel
{

template <class T>
class CTarget
{
public:
    CTarget() = default;
    ~CTarget() { release(); }
    CTarget(const CTarget&) = delete;
    CTarget& operator=(const CTarget&) = delete;

    // Resolves the path held by the holder's attribute (inherited lookup). An absent or empty
    // attribute leaves the target empty; it is an error only when required.
    CErrorPtr resolveAttribute(CObject& holder, const CText& attributeName, bool required = true)
    {
        return resolvePath(holder, holder.inheritedAttribute(attributeName), required);
    }

    // Resolves path from the holder and checks the class of the object found.
    CErrorPtr resolvePath(CObject& holder, const CText& path, bool required = true)
    {
        release();
        m_holder = &holder;
        CObject* found = path.empty() ? nullptr : holder.findObject(path);
        if (found == nullptr)
        {
            if (!required)
                return nullptr;
            return ZEL_ERROR(holder.fullName().toUtf8(), "zelstr_CTarget_resolve_NotFound",
                             "Target object '%1' not found.", {path.toUtf8()});
        }
        T* typed = dynamic_cast<T*>(found);
        if (typed == nullptr)
            return ZEL_ERROR(holder.fullName().toUtf8(), "zelstr_CTarget_resolve_InvalidClass",
                             "Target object '%1' is not of the expected class.",
                             {found->fullName().toUtf8()});
        m_target = typed;
        m_ref = found->weakRef();
        return nullptr;
    }

    T* get() const { return m_ref.get() != nullptr ? m_target : nullptr; }
    T* operator->() const { return get(); }
    explicit operator bool() const { return get() != nullptr; }
    CObject* holder() const { return m_holder; }

    // Subscribes the holder's handler to an event of the target; the id is remembered.
    CErrorPtr listen(const CText& eventName, const CText& handlerName)
    {
        T* target = get();
        if (target == nullptr || m_holder == nullptr)
            return nullptr;
        CText id;
        ZEL_TRY(CObject::listenObject(*target, eventName, *m_holder, handlerName, &id),
                m_holder->fullName().toUtf8());
        m_subscriptions.push_back(id);
        return nullptr;
    }

    // Removes the remembered subscriptions from a still living target and forgets it.
    void release()
    {
        if (T* target = get())
            for (const CText& id : m_subscriptions)
                CObject::unlistenObject(*target, id);
        m_subscriptions.clear();
        m_target = nullptr;
        m_ref = CObjectRef();
    }

    const std::vector<CText>& subscriptions() const { return m_subscriptions; }

private:
    CObject* m_holder = nullptr;
    T* m_target = nullptr;
    CObjectRef m_ref;
    std::vector<CText> m_subscriptions;
};

template <class T>
class CTargetListened : public CTarget<T>
{
public:
    // Forwards each named event of the target to the holder's handler of the same name.
    CErrorPtr forward(std::initializer_list<CText> eventNames)
    {
        for (const CText& eventName : eventNames)
            ZEL_TRY(this->listen(eventName, eventName),
                    this->holder() != nullptr ? this->holder()->fullName().toUtf8() : "");
        return nullptr;
    }
    // Resolves from an attribute and forwards the events in one step.
    CErrorPtr resolveAndForward(CObject& holder, const CText& attributeName,
                                std::initializer_list<CText> eventNames, bool required = true)
    {
        ZEL_TRY(this->resolveAttribute(holder, attributeName, required),
                holder.fullName().toUtf8());
        return forward(eventNames);
    }
};

} // namespace zel
