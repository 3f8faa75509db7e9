#include "Platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace zel::platform
{

CDynamicLibrary::~CDynamicLibrary()
{
    close();
}

bool CDynamicLibrary::open(const CText& path)
{
    close();
    m_error.clear();
    // RTLD_LOCAL keeps the module's symbols out of the global namespace, as hosts load plug-ins.
    m_handle = dlopen(path.toUtf8().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr)
    {
        const char* text = dlerror();
        m_error = text != nullptr ? text : "dlopen failed";
        return false;
    }
    return true;
}

void CDynamicLibrary::close()
{
    if (m_handle != nullptr)
    {
        dlclose(m_handle);
        m_handle = nullptr;
    }
}

void* CDynamicLibrary::symbol(const char* name)
{
    if (m_handle == nullptr)
    {
        m_error = "library not open";
        return nullptr;
    }
    dlerror();
    void* address = dlsym(m_handle, name);
    if (address == nullptr)
    {
        const char* text = dlerror();
        m_error = text != nullptr ? text : "symbol not found";
    }
    return address;
}

} // namespace zel::platform
