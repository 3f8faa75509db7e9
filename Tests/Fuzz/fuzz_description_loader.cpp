// Arbitrary bytes loaded as a compiled object description under a fresh root, once parsed in
// place (template bodies borrow the input) and once copied (bodies own their bytes). The core
// tags are registered once; templates defined by the input expand through the loader.
#include "Core/DescriptionLoader.h"
#include "Core/Object.h"
#include "Core/TypeTable.h"

#include <cstdint>

namespace
{
// Registers once. The registry is touched first so that it is built before, and so torn down
// after, the static registration that unregisters at exit.
void registerOnce()
{
    static const bool registered = []
    {
        zel::installDescriptionParser();
        zel::CTypeEntry entry;
        (void)zel::findCreator("core:object", entry);
        static zel::CTypeRegistration types;
        return !zel::registerProductTypes(types);
    }();
    (void)registered;
}

void loadUnderFreshRoot(const std::uint8_t* data, std::size_t size, bool lifecycle,
                        zel::EDescriptionBytes bytes)
{
    zel::CObjectPtr root = zel::CObject::make<zel::CObject>();
    root->setRootName("root");
    zel::CErrorPtr err = zel::loadDescriptionFromMemory(*root, data, size, lifecycle, bytes);
    if (err)
        (void)err->details();
    // Walk what was built, so that every name and attribute is touched.
    for (zel::CObject* child : root->childList())
        (void)child->findObject("a.b");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    registerOnce();
    const bool lifecycle = size > 0 && (data[size - 1] & 1) != 0;
    loadUnderFreshRoot(data, size, lifecycle, zel::EDescriptionBytes::kBorrowed);
    loadUnderFreshRoot(data, size, !lifecycle, zel::EDescriptionBytes::kCopied);
    return 0;
}
