#include "Platform/DynamicLibrary.h"

#include <windows.h>

namespace zel::platform
{
namespace
{

std::string lastErrorText(const char* what)
{
    return std::string(what) + " failed with error " + std::to_string(GetLastError());
}

} // namespace

CDynamicLibrary::~CDynamicLibrary()
{
    close();
}

bool CDynamicLibrary::open(const CText& path)
{
    close();
    m_error.clear();
    std::u16string wide = path.toUtf16();
    for (char16_t& c : wide)
        if (c == u'/')
            c = u'\\';
    HMODULE module = LoadLibraryW(reinterpret_cast<const wchar_t*>(wide.c_str()));
    if (module == nullptr)
    {
        m_error = lastErrorText("LoadLibraryW");
        return false;
    }
    m_handle = module;
    return true;
}

void CDynamicLibrary::close()
{
    if (m_handle != nullptr)
    {
        FreeLibrary(static_cast<HMODULE>(m_handle));
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
    FARPROC address = GetProcAddress(static_cast<HMODULE>(m_handle), name);
    if (address == nullptr)
    {
        m_error = lastErrorText("GetProcAddress");
        return nullptr;
    }
    return reinterpret_cast<void*>(address);
}

} // namespace zel::platform
