#pragma once
// CDynamicLibrary: a loaded shared library (a .so on POSIX, a .dll on Windows) and the
// addresses of its exported symbols. Used by the test host that loads the plug-in module
// through its real export, and by tools that drive the module like a host would.
//
// The handle is opaque so that portable code never sees a system header. Loading the same
// file twice gives two handles on one loaded module; the module is unloaded when the last
// handle is closed. This is not a plug-in host: it knows nothing of the VST interface.

#include "Core/Text.h"

#include <string>

namespace zel::platform
{

class CDynamicLibrary
{
public:
    CDynamicLibrary() = default;
    ~CDynamicLibrary();
    CDynamicLibrary(const CDynamicLibrary&) = delete;
    CDynamicLibrary& operator=(const CDynamicLibrary&) = delete;

    // Loads the library at path; false with a system message in error() when it fails.
    bool open(const CText& path);
    // Unloads (drops this handle); closing a library that is not open does nothing.
    void close();
    bool isOpen() const { return m_handle != nullptr; }

    // The address of an exported symbol, or null (error() tells why).
    void* symbol(const char* name);

    // The system's text for the last failure of open or symbol.
    const std::string& error() const { return m_error; }

private:
    void* m_handle = nullptr;
    std::string m_error;
};

} // namespace zel::platform
