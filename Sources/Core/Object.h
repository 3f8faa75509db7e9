#pragma once
// CObject: the base of nearly every framework object. An object has a tag (the registered type
// name it was created from), a name (with a "#N" ordinal suffix when it is not the first child
// of that name), a parent that owns it, ordered children addressed by name and ordinal, and
// named text attributes with a typed cache. Objects find each other through object paths and
// attribute references, talk through named events, and are created by tag through the type
// registry (ClassInfo.h), usually while an object description is instantiated.
//
// This class is not thread-safe: a tree is built, changed and destroyed on one thread at a
// time. Links across threads go through bridges (Bridge.h). The serial number counter, the type
// registry and each tree's notification service carry their own locks.

#include "Core/Attribute.h"
#include "Core/CheckedObject.h"
#include "Core/ClassInfo.h"
#include "Core/DeferredBody.h"
#include "Core/Error.h"
#include "Core/Text.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace zel
{

class CNotifyServer;
class CObject;

// Lifecycle states.
enum EObjectState : std::uint32_t
{
    kStateCreated = 0,
    kStateAttributesInitialised = 1,
    kStateTemplateChildsCreated = 2,
    kStateChildsInitialised = 3,
    kStateLoaded = 4,
};

enum class EAttrLookup
{
    kOwn,       // the object alone
    kInherited, // the object, then each ancestor in turn
};

// An item of the pending-initialisation queue, run by initTemplateChilds in queue order.
struct CInitItem
{
    static constexpr std::uint32_t kQueued = 0x20;      // cleared when the queue is drained
    static constexpr std::uint32_t kHasCallback = 0x40; // the callback is to be run

    std::uint32_t flags = 0;
    std::function<CErrorPtr(CObject& object, CInitItem& item)> callback;
    std::unique_ptr<CInitItem> next;
};

// A weak reference: get() yields null once the object is destroyed. Same-thread use only.
class CObjectRef
{
public:
    CObjectRef() = default;
    explicit CObjectRef(std::shared_ptr<CObject*> cell) : m_cell(std::move(cell)) {}
    CObject* get() const { return m_cell ? *m_cell : nullptr; }
    explicit operator bool() const { return get() != nullptr; }

private:
    std::shared_ptr<CObject*> m_cell;
};

class CObject : public CCheckedObject
{
public:
    // A live binding held by this object: its attribute ownAttr follows source's sourceAttr;
    // rawText is the unevaluated text that is evaluated again on every change.
    struct CBindingHeld
    {
        CObject* source;
        CText sourceAttr;
        CText ownAttr;
        CText rawText;
    };
    // An object bound to one of this object's attributes.
    struct CAttrListener
    {
        CObject* listener;
        CText listenerAttr;
    };
    // All children sharing one name, by ordinal, and the per-name ordinal counter.
    struct CChildSlot
    {
        std::int32_t counter = 0;
        std::map<std::int32_t, CObjectPtr> byOrdinal;
    };
    using CChildMap = std::map<CText, CChildSlot>;

    CObject();
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;

    // ---- Virtual operations, in slot order ----
    // 0: destroys the subtree, releases bindings, listeners and subscriptions.
    virtual ~CObject();
    // 1: applies the template's attributes (element values already set win), then the pending
    // attribute values; state becomes 1. Subclasses call the base first, then validate.
    virtual CErrorPtr init();
    // 2: drains the pending-initialisation queue, sets state 2, then creates the template's
    // children.
    virtual CErrorPtr initTemplateChilds();
    // 3: marks the object read-only when no application exists; state becomes 3.
    virtual CErrorPtr initChilds();
    // 4: called by addChild after the child is inserted; an error makes the add fail.
    virtual CErrorPtr onChildAdded(CObject& child);
    // 5: calls onChildRemoved, then takes the child out of the children map and hands it back
    // (null when it is not a child of this object).
    virtual CObjectPtr removeChild(CObject& child);
    // 6: hook; the base does nothing.
    virtual void onChildRemoved(CObject& child);
    // 7: removes the object from event and listener registrations (subscriptions as sender
    // and listener, live bindings in both directions). Runs once per object.
    virtual void release();
    // 8: removes the object from its parent; the caller receives ownership (null for a root).
    virtual CObjectPtr detachFromParent();
    // 9: sets an attribute: references, read-only rule, handler, live listeners.
    virtual CErrorPtr setAttribute(const CText& name, const CText& text);
    // 10: the object named by the "sender" attribute of an event-parameter object.
    virtual CObject* findSender(const CObject& eventParams) const;

    // ---- Class registration ----
    // Registers the event "release-child-bridged".
    static void registerClass(CClassInfo& info);
    const CClassInfo& classInfo() const;

    // ---- Creation and ownership ----
    // A parentless object created by tag through the registry (no templates).
    static CErrorPtr createRoot(const CText& tag, const CText& name, CObjectPtr& root);
    // A parentless object of class T built in code, with T's handler tables. Attach it with
    // addChild or use it as a root; a root is named by setRootName.
    template <class T = CObject>
    static TObjectPtr<T> make()
    {
        TObjectPtr<T> object(new T());
        object->m_classInfo = &CClassInfo::of<T>();
        return object;
    }
    // Names a parentless object (its full name becomes the name).
    void setRootName(const CText& name);

    // Creates, names and attaches a child. With useTemplates the tag is first looked up as a
    // run-time template (this object, its ancestors, the application).
    CErrorPtr createChild(const CText& tag, const CText& name, bool useTemplates, CObject*& child);
    // Typed form: fails when the created object is not a T (it is destroyed).
    template <class T>
    CErrorPtr createChild(const CText& tag, const CText& name, bool useTemplates, T*& child)
    {
        child = nullptr;
        CObject* created = nullptr;
        CErrorPtr err =
            createChildChecked(tag, name, useTemplates, created,
                               [](CObject& o) { return dynamic_cast<T*>(&o) != nullptr; });
        if (!err)
            child = static_cast<T*>(created);
        return err;
    }
    // Creates and attaches a plain object (class CObject, no template) carrying tag, for the
    // elements that the description loader handles itself ("content").
    CErrorPtr createPlainChild(const CText& tag, const CText& name, CObject*& child);
    // Attaches an existing parentless object; ownership passes to this object (on failure the
    // object is destroyed).
    CErrorPtr addChild(CObjectPtr child, const CText& name);
    template <class T>
    CErrorPtr addChild(TObjectPtr<T> child, const CText& name)
    {
        return addChild(CObjectPtr(child.release()), name);
    }
    // Releases the subtree bottom-up, detaches the object from its parent and deletes it. A
    // root is only released: whoever owns its CObjectPtr deletes it.
    void destroy();
    // Deleter of CObjectPtr: releases the subtree, then deletes it.
    static void destroyTree(CObject* object);

    // ---- Identity and tree ----
    const CText& tag() const { return m_tag; }
    // The name with its "#N" suffix, e.g. "ext-param#1".
    const CText& name() const { return m_name; }
    // The name without the suffix.
    const CText& plainName() const { return m_plainName; }
    std::int32_t ordinal() const { return m_ordinal; }
    const CText& fullName() const { return m_fullName; }
    CObject* parent() const { return m_parent; }
    CObject* root() const { return m_root; }
    std::uint64_t serial() const { return m_serial; }
    std::uint32_t state() const { return m_state; }
    void setState(std::uint32_t state) { m_state = state; }
    bool isReadOnly() const { return m_readOnly != 0; }
    void setReadOnly(bool readOnly) { m_readOnly = readOnly ? 1 : 0; }
    CObjectRef weakRef();

    const CChildMap& children() const { return m_children; }
    // Children in map order (by name, then ordinal).
    std::vector<CObject*> childList() const;
    std::size_t childCount() const;

    // ---- Paths ----
    // Path resolution from this object; never reports an error.
    CObject* findObject(const CText& path) const;
    // "p", "p#N" (exact ordinal), "p#+N" (N-th from the lowest), "p#-N" (N-th from the highest).
    CObject* findChild(const CText& selector) const;
    // A path that resolves to this object from any object of its tree: "/a.b", "/." for a
    // root, "shared::a.b" inside the application's shared tree.
    CText absolutePath() const;

    // ---- Attributes ----
    const std::map<CText, CAttrValue>& attributes() const { return m_attributes; }
    const CAttrValue* findAttribute(const CText& name,
                                    EAttrLookup lookup = EAttrLookup::kOwn) const;
    bool hasAttribute(const CText& name) const { return m_attributes.count(name) != 0; }
    CText attribute(const CText& name, const CText& defaultValue = CText()) const;
    CText inheritedAttribute(const CText& name, const CText& defaultValue = CText()) const;
    std::optional<std::int64_t> attributeInt(const CText& name,
                                             EAttrLookup lookup = EAttrLookup::kOwn) const;
    std::optional<bool> attributeBool(const CText& name,
                                      EAttrLookup lookup = EAttrLookup::kOwn) const;
    std::optional<double> attributeFloat(const CText& name,
                                         EAttrLookup lookup = EAttrLookup::kOwn) const;
    // The object that the attribute's path names, resolved from this object; null when the
    // attribute is absent, empty or does not resolve.
    CObject* attributeObject(const CText& name, EAttrLookup lookup = EAttrLookup::kOwn) const;
    // Stores text as it is: no references, no handler, no live listeners, no read-only check.
    void setAttributeRaw(const CText& name, const CText& text);

    const std::vector<CBindingHeld>& bindingsHeld() const { return m_bindingsHeld; }
    std::size_t attributeListenerCount() const { return m_attrListenerCount; }

    // ---- Lifecycle data ----
    // Stored now, applied by init after the template's attributes.
    void setPendingAttribute(const CText& name, const CText& text);
    const std::map<CText, CText>& pendingAttributes() const { return m_pendingAttributes; }
    // Appends to the pending-initialisation queue (the item gets kQueued).
    void queueInitItem(std::unique_ptr<CInitItem> item);
    void queueInit(std::function<CErrorPtr(CObject&, CInitItem&)> callback);
    bool hasPendingInitItems() const { return m_initQueue != nullptr; }

    // ---- Templates ----
    void setDeferredBody(std::unique_ptr<CDeferredBody> body) { m_deferredBody = std::move(body); }
    const CDeferredBody* deferredBody() const { return m_deferredBody.get(); }
    CObject* templateObject() const { return m_template; }
    void setTemplateObject(CObject* templateObject) { m_template = templateObject; }
    // Creates a plain template holder named name in this object's template map (its deferred
    // body is set by the caller). Fails when a template of that name is already defined here.
    CErrorPtr defineTemplate(const CText& name, CObject*& holder);
    const std::map<CText, CObjectPtr>& templates() const { return m_templates; }
    // This object's map, then each ancestor's, then the application's.
    CObject* findTemplate(const CText& tag) const;

    // ---- Events ----
    // Subscribes handlerName of listener's class to eventName sent by target. Fails (and
    // writes a diagnostic) when the listener's class has no such handler. listenerId receives
    // the subscription's id, the "listener-id" of its deliveries.
    static CErrorPtr listenObject(CObject& target, const CText& eventName, CObject& listener,
                                  const CText& handlerName, CText* listenerId = nullptr);
    // Removes the subscription with that id from target's tree; false when there is none.
    static bool unlistenObject(CObject& target, const CText& listenerId);
    // Delivers an event-parameter object: resolves "listener" (dropped silently when it does
    // not resolve), then runs "listener-proc" from the listener's class event table.
    CErrorPtr runEvent(CObject& eventParams);
    // Runs the handler named by the params' "listener-proc" on this object.
    CErrorPtr dispatchEvent(CObject& eventParams);
    // Sends eventName to every subscriber, synchronously in this thread. Extra attributes are
    // added to each event-parameter object. Every subscriber is served; the first error is
    // returned.
    CErrorPtr sendEvent(const CText& eventName,
                        std::initializer_list<std::pair<CText, CText>> extra = {});
    // The notification service of this object's tree (created on first use).
    CNotifyServer& notifyServer();

    // Handler of "release-child-bridged"; the base keeps no bridges and does nothing.
    CErrorPtr onReleaseChildBridged(CObject& eventParams);

private:
    friend class CNotifyServer;

    using CClassCheck = bool (*)(CObject&);
    CErrorPtr createChildChecked(const CText& tag, const CText& name, bool useTemplates,
                                 CObject*& child, CClassCheck check);
    CErrorPtr attachChild(CObjectPtr child, const CText& requestedName, const CText& tag,
                          CObject* templateObject, CObject*& attached);
    void updateTreeLinks();
    void releaseSubtree();
    void dropBindingsFor(const CText& ownAttr);
    void removeAllBindings();
    CErrorPtr evaluateReferences(const CText& name, CText& text);
    CErrorPtr evaluateReference(const CText& name, const CText& rawText, const CText& expr,
                                bool& found, CText& result);
    void storeAttribute(const CText& name, const CText& text);
    void updateAttributeListeners(const CText& name);
    void moveSubscriptionsFrom(CObject* oldRoot);
    void collectSubtree(std::set<const CObject*>& out) const;
    void removeEventRegistrations();

    // 1. Attribute table with typed cache.
    std::map<CText, CAttrValue> m_attributes;
    // 2. Pending initialisation items (singly linked; tail for appending).
    std::unique_ptr<CInitItem> m_initQueue;
    CInitItem* m_initQueueTail = nullptr;
    // 3. Full name, own name (with suffix) and its parts.
    CText m_fullName;
    CText m_name;
    CText m_plainName;
    std::int32_t m_ordinal = 0;
    // 4. State.
    std::uint32_t m_state = kStateCreated;
    // 5. Read-only flag.
    std::uint8_t m_readOnly = 0;
    // 6. Deferred body (template holders).
    std::unique_ptr<CDeferredBody> m_deferredBody;
    // 7. Pending attribute values.
    std::map<CText, CText> m_pendingAttributes;
    // 8. Template link.
    CObject* m_template = nullptr;
    // 9. Children.
    CChildMap m_children;
    // 10. Event machinery: subscriptions in which this object is the listener (id -> the
    // service that holds it) and those in which it is the sender (id -> the same).
    std::map<std::uint64_t, CNotifyServer*> m_eventHandlers;
    std::map<std::uint64_t, CNotifyServer*> m_eventListeners;
    // 11. Parent and root.
    CObject* m_parent = nullptr;
    CObject* m_root = nullptr;
    // 12. Run-time templates defined directly below this object.
    std::map<CText, CObjectPtr> m_templates;
    // 13. Attribute listeners (live bindings on this object's attributes) with a count.
    std::map<CText, std::vector<CAttrListener>> m_attrListeners;
    std::size_t m_attrListenerCount = 0;
    // 14. Live bindings this object holds on others (the vector's size is the count).
    std::vector<CBindingHeld> m_bindingsHeld;

    // Bookkeeping beyond the fields above.
    CText m_tag;
    std::uint64_t m_serial = 0;
    const CClassInfo* m_classInfo = nullptr;
    std::unique_ptr<CNotifyServer> m_notifyServer; // roots only
    std::shared_ptr<CObject*> m_selfRef;
    bool m_released = false;
    // While init applies template attributes: names the element (or pending values) already
    // set, which the template must not override.
    const std::map<CText, bool>* m_elementAttributes = nullptr;
};

} // namespace zel
