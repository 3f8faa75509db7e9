#pragma once
// CApplication: the process-wide application object. At most one exists per process; it is
// created when the library starts and destroyed when it is unloaded. It is the root of the
// shared tree (loaded from "SharedData.xml", the origin of "shared::" paths), its template map
// is the global run-time template map (the last stop of a template lookup), it owns the type
// registrations made at start, the application data (CGlobalData, CLocalData) and the list of
// instance roots (CRootObject) created by initRootObject, guarded by a lock.
//
// The local data is named after the shared "project"'s "app-name"; it is created once the
// shared description is loaded, so shared attributes of the shared tree itself that are not
// global keep their values in memory only.
//
// This class is not a plug-in instance and holds no per-instance state: every instance lives
// in its own CRootObject tree.

#include "Core/ApplicationAccess.h"
#include "Core/ApplicationData.h"
#include "Core/ClassInfo.h"
#include "Core/Object.h"

#include <memory>
#include <vector>

namespace zel
{

class CApplication;

// The root of one plug-in instance's tree. While it lives it is in the application's list of
// roots; destroying it removes it.
class CRootObject : public CObject
{
public:
    ~CRootObject() override;
    // The application whose list holds this root (null once that application is gone).
    CApplication* application() const;

private:
    friend class CApplication;
    CApplication* m_application = nullptr; // guarded by the roots lock
};

class CApplication : public CObject
{
public:
    static constexpr const char* kSharedDescription = "SharedData.xml";
    static constexpr const char* kSharedRootName = "shared";
    static constexpr const char* kInstanceRootName = "instance";

    ~CApplication() override;

    // Creates the application object: registers every row of the type table, installs the
    // object as the application of the object model, then loads the shared description into
    // it with the lifecycle run. Fails with "Shared object already exists." while one exists
    // (that one stays). On failure nothing of the new object remains.
    static CErrorPtr initSharedObject(const CText& sharedDescription = kSharedDescription);
    // Shut-down: uninstalls and destroys the application object and undoes its registrations,
    // so that it can be created again. Does nothing when none exists.
    static void destroySharedObject();
    // The application object, or null.
    static CApplication* instance();

    // Creates a new instance root, adds it to the list of roots and loads the description
    // (resource or file name; empty loads nothing) into it with the lifecycle run. Fails with
    // "No shared object created." when there is no application object.
    static CErrorPtr initRootObject(const CText& descriptionName, TObjectPtr<CRootObject>& root);

    // Library start: creates the application object; an error is shown in the error window
    // (which returns once the user closes it) and returned.
    static CErrorPtr startLibrary();
    // Library unload.
    static void stopLibrary();

    std::size_t rootCount() const;
    std::vector<CRootObject*> roots() const;

    CGlobalData& globalData() { return *m_globalData; }
    // Null until the shared description is loaded.
    CLocalData* localData() { return m_localData.get(); }

    // The global run-time template of that name (this object's own template map), or null.
    CObject* findGlobalTemplate(const CText& tag) const;

private:
    friend class CObject; // make<CApplication>()
    friend class CRootObject;
    class CAccess : public CApplicationAccess
    {
    public:
        explicit CAccess(CApplication& application) : m_application(application) {}
        CObject* sharedRoot() override { return &m_application; }
        CObject* findTemplate(const CText& tag) override
        {
            return m_application.findGlobalTemplate(tag);
        }

    private:
        CApplication& m_application;
    };

    CApplication();
    void removeRoot(CRootObject& root);

    CAccess m_access;
    CTypeRegistration m_registration;
    std::unique_ptr<CGlobalData> m_globalData;
    std::unique_ptr<CLocalData> m_localData;
    std::vector<CRootObject*> m_roots; // guarded by the roots lock
};

} // namespace zel
