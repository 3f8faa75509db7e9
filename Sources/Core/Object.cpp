// CObject: construction, destruction, the lifecycle steps and child management.

#include "Core/Object.h"

#include "Core/ApplicationAccess.h"
#include "Core/Log.h"
#include "Core/NotifyServer.h"
#include "Core/Numbers.h"
#include "Platform/CriticalSection.h"

namespace zel
{
namespace
{
std::uint64_t nextSerial()
{
    // Never destroyed: objects may still be made by exit handlers.
    static CCriticalSection& lock = *new CCriticalSection;
    static std::uint64_t counter = 0;
    CCriticalSectionLock guard(lock);
    return ++counter;
}

// Splits "name#N" into name and ordinal when N is a non-negative 32-bit integer.
bool splitExplicitOrdinal(const CText& requested, CText& plain, std::int32_t& ordinal)
{
    const std::size_t hash = requested.rfind(u'#');
    if (hash == CText::npos)
        return false;
    std::int32_t value = 0;
    if (!parseInteger32(requested.substr(hash + 1), value) || value < 0)
        return false;
    plain = requested.substr(0, hash);
    ordinal = value;
    return true;
}

CText ordinalName(const CText& plain, std::int32_t ordinal)
{
    if (ordinal == 0)
        return plain;
    CText name = plain;
    name += u'#';
    name += formatInteger(ordinal);
    return name;
}
} // namespace

CObject::CObject() : m_root(this), m_serial(nextSerial()) {}

CObject::~CObject()
{
    // Release what is still registered (a subtree deleted without destroyTree), while every
    // descendant is still a complete object.
    for (auto& [name, slot] : m_children)
        for (auto& [ordinal, child] : slot.byOrdinal)
            child->releaseSubtree();
    for (auto& [name, holder] : m_templates)
        holder->releaseSubtree();
    removeAllBindings();
    removeEventRegistrations();
    m_children.clear();
    m_templates.clear();
    m_notifyServer.reset();
    if (m_selfRef)
        *m_selfRef = nullptr;
}

void CObject::registerClass(CClassInfo& info)
{
    info.event<&CObject::onReleaseChildBridged>("release-child-bridged");
}

const CClassInfo& CObject::classInfo() const
{
    return m_classInfo != nullptr ? *m_classInfo : CClassInfo::of<CObject>();
}

CErrorPtr CObject::onReleaseChildBridged(CObject&)
{
    return nullptr;
}

CObjectRef CObject::weakRef()
{
    if (!m_selfRef)
        m_selfRef = std::make_shared<CObject*>(this);
    return CObjectRef(m_selfRef);
}

// ---- Lifecycle ----

CErrorPtr CObject::init()
{
    if (m_template != nullptr && m_template->m_deferredBody)
    {
        CDeferredBodyParser* parser = deferredBodyParser();
        if (parser == nullptr)
            return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_init_NoParser",
                             "No parser for run-time template bodies is installed.");
        // Values that the element (or the pending map) gives win over the template's.
        std::map<CText, bool> elementNames;
        for (const auto& [name, value] : m_attributes)
            elementNames.emplace(name, true);
        for (const auto& [name, value] : m_pendingAttributes)
            elementNames.emplace(name, true);
        m_elementAttributes = &elementNames;
        CErrorPtr err = parser->parseDeferredBody(*this, *m_template->m_deferredBody,
                                                  EBodyPart::kAttributesOnly);
        m_elementAttributes = nullptr;
        if (err)
            return ZEL_PASS(std::move(err), m_fullName.toUtf8());
    }
    std::map<CText, CText> pending = std::move(m_pendingAttributes);
    m_pendingAttributes.clear();
    for (const auto& [name, value] : pending)
        ZEL_TRY(setAttribute(name, value), m_fullName.toUtf8());
    m_state = kStateAttributesInitialised;
    return nullptr;
}

CErrorPtr CObject::initTemplateChilds()
{
    while (m_initQueue)
    {
        std::unique_ptr<CInitItem> item = std::move(m_initQueue);
        m_initQueue = std::move(item->next);
        if (!m_initQueue)
            m_initQueueTail = nullptr;
        item->flags &= ~CInitItem::kQueued;
        if ((item->flags & CInitItem::kHasCallback) != 0 && item->callback)
            ZEL_TRY(item->callback(*this, *item), m_fullName.toUtf8());
    }
    m_state = kStateTemplateChildsCreated;
    if (m_template != nullptr && m_template->m_deferredBody)
    {
        CDeferredBodyParser* parser = deferredBodyParser();
        if (parser == nullptr)
            return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_init_NoParser",
                             "No parser for run-time template bodies is installed.");
        ZEL_TRY(
            parser->parseDeferredBody(*this, *m_template->m_deferredBody, EBodyPart::kChildrenOnly),
            m_fullName.toUtf8());
    }
    return nullptr;
}

CErrorPtr CObject::initChilds()
{
    if (CApplicationAccess::instance() == nullptr)
        m_readOnly = 1;
    m_state = kStateChildsInitialised;
    return nullptr;
}

void CObject::setPendingAttribute(const CText& name, const CText& text)
{
    m_pendingAttributes[name] = text;
}

void CObject::queueInitItem(std::unique_ptr<CInitItem> item)
{
    if (!item)
        return;
    item->flags |= CInitItem::kQueued;
    item->next.reset();
    CInitItem* raw = item.get();
    if (m_initQueueTail != nullptr)
        m_initQueueTail->next = std::move(item);
    else
        m_initQueue = std::move(item);
    m_initQueueTail = raw;
}

void CObject::queueInit(std::function<CErrorPtr(CObject&, CInitItem&)> callback)
{
    auto item = std::make_unique<CInitItem>();
    item->flags = CInitItem::kHasCallback;
    item->callback = std::move(callback);
    queueInitItem(std::move(item));
}

// ---- Creation ----

CErrorPtr CObject::createRoot(const CText& tag, const CText& name, CObjectPtr& root)
{
    root.reset();
    CTypeEntry entry;
    if (!findCreator(tag, entry))
        return ZEL_ERROR(name.toUtf8(), "zelstr_CObject_createChild_NoTemplate",
                         "Run-time template '%1' does not exist.", {tag.toUtf8()});
    CObjectPtr created = entry.creator();
    if (!created)
        return ZEL_ERROR(name.toUtf8(), "zelstr_CObject_createChild_NoObject",
                         "Creator for '%1' made no object.", {tag.toUtf8()});
    created->m_classInfo = entry.classInfo;
    created->m_tag = tag;
    created->setRootName(name);
    root = std::move(created);
    return nullptr;
}

void CObject::setRootName(const CText& name)
{
    if (m_parent != nullptr)
        return;
    m_plainName = name;
    m_name = name;
    m_ordinal = 0;
    updateTreeLinks();
}

CErrorPtr CObject::createChild(const CText& tag, const CText& name, bool useTemplates,
                               CObject*& child)
{
    return createChildChecked(tag, name, useTemplates, child, nullptr);
}

CErrorPtr CObject::createChildChecked(const CText& tag, const CText& name, bool useTemplates,
                                      CObject*& child, CClassCheck check)
{
    child = nullptr;
    if (m_readOnly)
        return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_addChild_ReadOnly",
                         "Error adding child to read-only object.");
    CObject* templateObject = useTemplates ? findTemplate(tag) : nullptr;
    CTypeEntry entry;
    if (templateObject != nullptr)
    {
        // The template decides the class: its body names the registered base tag.
        const CDeferredBody* body = templateObject->m_deferredBody.get();
        const CText baseTag = body != nullptr ? body->baseTag() : tag;
        if (!findCreator(baseTag, entry))
            return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_createChild_NoTemplate",
                             "Run-time template '%1' does not exist.", {baseTag.toUtf8()});
    }
    else if (!findCreator(tag, entry))
        return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_createChild_NoTemplate",
                         "Run-time template '%1' does not exist.", {tag.toUtf8()});

    CObjectPtr created = entry.creator();
    if (!created)
        return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_createChild_NoObject",
                         "Creator for '%1' made no object.", {tag.toUtf8()});
    created->m_classInfo = entry.classInfo;
    if (check != nullptr && !check(*created))
        return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_createChild_InvalidObjectClass",
                         "Object of invalid class created (child tag '%1', child name '%2').",
                         {tag.toUtf8(), name.toUtf8()});
    return attachChild(std::move(created), name, tag, templateObject, child);
}

CErrorPtr CObject::createPlainChild(const CText& tag, const CText& name, CObject*& child)
{
    child = nullptr;
    return attachChild(make<CObject>(), name, tag, nullptr, child);
}

CErrorPtr CObject::addChild(CObjectPtr child, const CText& name)
{
    if (!child)
        return nullptr;
    CObject* attached = nullptr;
    const CText tag = child->m_tag;
    CObject* templateObject = child->m_template;
    return attachChild(std::move(child), name, tag, templateObject, attached);
}

CErrorPtr CObject::attachChild(CObjectPtr child, const CText& requestedName, const CText& tag,
                               CObject* templateObject, CObject*& attached)
{
    attached = nullptr;
    if (m_readOnly)
        return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_addChild_ReadOnly",
                         "Error adding child to read-only object.");
    if (child->m_parent != nullptr)
        return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_addChild_HasParent",
                         "Object '%1' already has a parent.", {child->m_fullName.toUtf8()});

    CText plain;
    std::int32_t ordinal = 0;
    const bool explicitOrdinal = splitExplicitOrdinal(requestedName, plain, ordinal);
    if (!explicitOrdinal)
        plain = requestedName;
    CChildSlot& slot = m_children[plain];
    if (explicitOrdinal)
    {
        if (slot.byOrdinal.count(ordinal) != 0)
            return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_addChild_Duplicate",
                             "Child '%1' already exists.", {ordinalName(plain, ordinal).toUtf8()});
    }
    else if (slot.byOrdinal.empty())
        ordinal = 0;
    else
    {
        ordinal = slot.counter + 1;
        while (slot.byOrdinal.count(ordinal) != 0)
            ++ordinal;
        slot.counter = ordinal;
    }

    CObject* object = child.get();
    CObject* oldRoot = object->m_root;
    object->m_plainName = plain;
    object->m_ordinal = ordinal;
    object->m_name = ordinalName(plain, ordinal);
    object->m_tag = tag;
    object->m_template = templateObject;
    object->m_parent = this;
    object->m_serial = nextSerial();
    slot.byOrdinal.emplace(ordinal, std::move(child));
    object->updateTreeLinks();
    object->moveSubscriptionsFrom(oldRoot);

    if (CErrorPtr err = onChildAdded(*object))
    {
        CChildSlot& again = m_children[plain];
        CObjectPtr failed = std::move(again.byOrdinal[ordinal]);
        again.byOrdinal.erase(ordinal);
        failed->m_parent = nullptr;
        failed->updateTreeLinks();
        return ZEL_PASS(std::move(err), m_fullName.toUtf8());
    }
    if (isTracing())
        diagLog("Creating CObject \"" + object->m_fullName.toUtf8() + "\" (tag \"" + tag.toUtf8() +
                "\")");
    attached = object;
    return nullptr;
}

CErrorPtr CObject::onChildAdded(CObject&)
{
    return nullptr;
}

CObjectPtr CObject::removeChild(CObject& child)
{
    if (child.m_parent != this)
        return nullptr;
    const auto slotIt = m_children.find(child.m_plainName);
    if (slotIt == m_children.end())
        return nullptr;
    const auto it = slotIt->second.byOrdinal.find(child.m_ordinal);
    if (it == slotIt->second.byOrdinal.end() || it->second.get() != &child)
        return nullptr;
    onChildRemoved(child);
    CObjectPtr out = std::move(it->second);
    slotIt->second.byOrdinal.erase(it);
    CObject* oldRoot = out->m_root;
    out->m_parent = nullptr;
    out->updateTreeLinks();
    out->moveSubscriptionsFrom(oldRoot);
    return out;
}

void CObject::onChildRemoved(CObject&) {}

void CObject::release()
{
    removeAllBindings();
    removeEventRegistrations();
}

CObjectPtr CObject::detachFromParent()
{
    if (m_parent == nullptr)
        return nullptr;
    return m_parent->removeChild(*this);
}

void CObject::releaseSubtree()
{
    for (auto& [name, slot] : m_children)
        for (auto& [ordinal, child] : slot.byOrdinal)
            child->releaseSubtree();
    for (auto& [name, holder] : m_templates)
        holder->releaseSubtree();
    if (!m_released)
    {
        m_released = true;
        release();
    }
}

void CObject::destroy()
{
    releaseSubtree();
    CObjectPtr self = detachFromParent();
    // A root is deleted by whoever owns it.
}

void CObject::destroyTree(CObject* object)
{
    if (object == nullptr)
        return;
    object->releaseSubtree();
    delete object;
}

void CObject::updateTreeLinks()
{
    if (m_parent != nullptr)
    {
        m_root = m_parent->m_root;
        m_fullName = m_parent->m_fullName;
        m_fullName += u'.';
        m_fullName += m_name;
    }
    else
    {
        m_root = this;
        m_fullName = m_name;
    }
    for (auto& [name, slot] : m_children)
        for (auto& [ordinal, child] : slot.byOrdinal)
            child->updateTreeLinks();
    for (auto& [name, holder] : m_templates)
        holder->updateTreeLinks();
}

void CObject::collectSubtree(std::set<const CObject*>& out) const
{
    out.insert(this);
    for (const auto& [name, slot] : m_children)
        for (const auto& [ordinal, child] : slot.byOrdinal)
            child->collectSubtree(out);
    for (const auto& [name, holder] : m_templates)
        holder->collectSubtree(out);
}

void CObject::moveSubscriptionsFrom(CObject* oldRoot)
{
    // Subscriptions whose sender is in this subtree follow it into its new tree's service.
    if (oldRoot == nullptr || oldRoot == m_root || !oldRoot->m_notifyServer ||
        oldRoot->m_notifyServer->subscriptionCount() == 0)
        return;
    std::set<const CObject*> subtree;
    collectSubtree(subtree);
    oldRoot->m_notifyServer->moveSenders(subtree, notifyServer());
    // A former root keeps no service of its own once it hangs in another tree.
    if (oldRoot == this && m_root != this && m_notifyServer &&
        m_notifyServer->subscriptionCount() == 0)
        m_notifyServer.reset();
}

std::vector<CObject*> CObject::childList() const
{
    std::vector<CObject*> out;
    for (const auto& [name, slot] : m_children)
        for (const auto& [ordinal, child] : slot.byOrdinal)
            out.push_back(child.get());
    return out;
}

std::size_t CObject::childCount() const
{
    std::size_t count = 0;
    for (const auto& [name, slot] : m_children)
        count += slot.byOrdinal.size();
    return count;
}

// ---- Templates ----

CErrorPtr CObject::defineTemplate(const CText& name, CObject*& holder)
{
    holder = nullptr;
    if (m_templates.count(name) != 0)
        return ZEL_ERROR(m_fullName.toUtf8(), "zelstr_CObject_defineTemplate_Duplicate",
                         "Run-time template '%1' is already defined.", {name.toUtf8()});
    CObjectPtr created = make<CObject>();
    created->m_tag = CText("template");
    created->m_plainName = name;
    created->m_name = name;
    created->m_parent = this;
    created->updateTreeLinks();
    holder = created.get();
    m_templates.emplace(name, std::move(created));
    return nullptr;
}

CObject* CObject::findTemplate(const CText& tag) const
{
    for (const CObject* object = this; object != nullptr; object = object->m_parent)
    {
        const auto it = object->m_templates.find(tag);
        if (it != object->m_templates.end())
            return it->second.get();
    }
    if (CApplicationAccess* application = CApplicationAccess::instance())
        return application->findTemplate(tag);
    return nullptr;
}

} // namespace zel
