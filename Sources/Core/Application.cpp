#include "Core/Application.h"

#include "Core/DescriptionLoader.h"
#include "Core/Log.h"
#include "Core/TypeTable.h"
#include "Platform/CriticalSection.h"
#include "Platform/ErrorWindow.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace zel
{
namespace
{

constexpr const char* kClassName = "CApplication";

// Serialises creation and destruction of the application object. Like every process-wide
// lock here it is never destroyed: the library's exit handler destroys the application after
// the static destructors of locks made later than its registration have already run.
std::mutex& lifetimeMutex()
{
    static std::mutex& m = *new std::mutex;
    return m;
}

// The application object; owned here.
CObjectPtr& applicationSlot()
{
    static CObjectPtr slot;
    return slot;
}

std::atomic<CApplication*>& applicationPointer()
{
    static std::atomic<CApplication*> pointer{nullptr};
    return pointer;
}

// Guards every application's list of roots and every root's link to its application. It is
// process-wide so that a root can leave the list while the application goes away.
CCriticalSection& rootsLock()
{
    static CCriticalSection& lock = *new CCriticalSection(CCriticalSection::kDefaultSpinCount);
    return lock;
}

} // namespace

// ---- CRootObject ----

CRootObject::~CRootObject()
{
    CCriticalSectionLock lock(rootsLock());
    if (m_application != nullptr)
        m_application->removeRoot(*this);
}

CApplication* CRootObject::application() const
{
    CCriticalSectionLock lock(rootsLock());
    return m_application;
}

// ---- CApplication ----

CApplication::CApplication() : m_access(*this), m_globalData(std::make_unique<CGlobalData>()) {}

CApplication::~CApplication()
{
    CCriticalSectionLock lock(rootsLock());
    for (CRootObject* root : m_roots)
        root->m_application = nullptr;
    m_roots.clear();
}

CApplication* CApplication::instance()
{
    return applicationPointer().load();
}

CErrorPtr CApplication::initSharedObject(const CText& sharedDescription)
{
    std::lock_guard<std::mutex> guard(lifetimeMutex());
    if (applicationSlot())
        return ZEL_ERROR(kClassName, "zelstr_CApplication_initSharedObject",
                         "Shared object already exists.");
    diagLog("Initializing application...");

    TObjectPtr<CApplication> created = CObject::make<CApplication>();
    created->setRootName(kSharedRootName);
    CApplication& application = *created;
    ZEL_TRY(registerProductTypes(application.m_registration), kClassName);

    CApplicationAccess::setInstance(&application.m_access);
    CGlobalData::setCurrent(application.m_globalData.get());
    applicationPointer().store(&application);
    applicationSlot().reset(created.release());

    // Undoes the installation when the shared description fails.
    auto abandon = []
    {
        CApplication* app = applicationPointer().exchange(nullptr);
        CGlobalData::setCurrent(nullptr);
        CLocalData::setCurrent(nullptr);
        if (CApplicationAccess::instance() == &app->m_access)
            CApplicationAccess::setInstance(nullptr);
        applicationSlot().reset();
    };
    if (CErrorPtr err = loadDescription(application, sharedDescription, true))
    {
        abandon();
        return ZEL_PASS(std::move(err), kClassName);
    }

    CText appName;
    if (const CObject* project = application.findChild("project"))
        appName = project->attribute("app-name");
    if (appName.empty())
    {
        diagLog("No app-name in the shared project; the local data is named 'Default'.");
        appName = "Default";
    }
    application.m_localData = std::make_unique<CLocalData>(appName);
    CLocalData::setCurrent(application.m_localData.get());
    return nullptr;
}

void CApplication::destroySharedObject()
{
    std::lock_guard<std::mutex> guard(lifetimeMutex());
    if (!applicationSlot())
        return;
    diagLog("Finalizing application...");
    CApplication* application = applicationPointer().exchange(nullptr);
    CGlobalData::setCurrent(nullptr);
    CLocalData::setCurrent(nullptr);
    if (CApplicationAccess::instance() == &application->m_access)
        CApplicationAccess::setInstance(nullptr);
    // Destroys the shared tree, the application data and the type registrations.
    applicationSlot().reset();
}

CErrorPtr CApplication::initRootObject(const CText& descriptionName, TObjectPtr<CRootObject>& root)
{
    root.reset();
    CApplication* application = instance();
    if (application == nullptr)
        return ZEL_ERROR(kClassName, "zelstr_CApplication_initRootObject",
                         "No shared object created.");
    TObjectPtr<CRootObject> created = CObject::make<CRootObject>();
    created->setRootName(kInstanceRootName);
    {
        CCriticalSectionLock lock(rootsLock());
        application->m_roots.push_back(created.get());
        created->m_application = application;
    }
    if (!descriptionName.empty())
        ZEL_TRY(loadDescription(*created, descriptionName, true), kClassName);
    root = std::move(created);
    return nullptr;
}

void CApplication::removeRoot(CRootObject& root)
{
    // Called with the roots lock held.
    m_roots.erase(std::remove(m_roots.begin(), m_roots.end(), &root), m_roots.end());
    root.m_application = nullptr;
}

std::size_t CApplication::rootCount() const
{
    CCriticalSectionLock lock(rootsLock());
    return m_roots.size();
}

std::vector<CRootObject*> CApplication::roots() const
{
    CCriticalSectionLock lock(rootsLock());
    return m_roots;
}

CObject* CApplication::findGlobalTemplate(const CText& tag) const
{
    const auto it = templates().find(tag);
    return it == templates().end() ? nullptr : it->second.get();
}

CErrorPtr CApplication::startLibrary()
{
    CErrorPtr err = initSharedObject();
    if (err)
        platform::showErrorWindow(err->details());
    return err;
}

void CApplication::stopLibrary()
{
    destroySharedObject();
}

} // namespace zel
