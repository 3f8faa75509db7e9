#include "Core/TypeTable.h"

#include "Core/AttrDoubler.h"
#include "Core/Object.h"
#include "Core/SharedAttribute.h"
#include "Core/Timer.h"

namespace zel
{
namespace
{
// Sorted by tag (ordinal order); keep it sorted when adding rows.
// clang-format off
const CTypeTableRow kProductTypes[] = {
    {"core:attr-doubler", &createObjectOf<CAttrDoubler>, &CAttrDoubler::registerClass},
    {"core:object", &createObjectOf<CObject>, &CObject::registerClass},
    {"core:shared-attribute", &createObjectOf<CSharedAttribute>, &CSharedAttribute::registerClass},
    {"core:timer", &createObjectOf<CTimer>, &CTimer::registerClass},
};
// clang-format on
} // namespace

std::span<const CTypeTableRow> productTypeTable()
{
    return kProductTypes;
}

CErrorPtr registerProductTypes(CTypeRegistration& registration)
{
    return registration.addTable(productTypeTable());
}

} // namespace zel
