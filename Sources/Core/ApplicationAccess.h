#pragma once
// CApplicationAccess: what the object model needs from the process-wide application object,
// and nothing more: whether it exists, its shared root (the origin of "shared::" paths) and its
// global template map (the last stop of a run-time template lookup).
//
// The application object implements this interface and installs itself with setInstance()
// when it starts and removes itself (setInstance(nullptr)) when it stops. While no instance is
// installed, "shared::" paths resolve to nothing and objects that finish `initChilds` become
// read-only. This is not the application object itself.

#include "Core/Text.h"

namespace zel
{

class CObject;

class CApplicationAccess
{
public:
    virtual ~CApplicationAccess() = default;

    // The root of the objects shared by all instances; may be null while starting.
    virtual CObject* sharedRoot() = 0;
    // The global run-time template of that name, or null.
    virtual CObject* findTemplate(const CText& tag) = 0;

    // The installed application, or null when none exists.
    static CApplicationAccess* instance();
    // Installs (or with null removes) the application; returns the previous one.
    static CApplicationAccess* setInstance(CApplicationAccess* application);
};

} // namespace zel
