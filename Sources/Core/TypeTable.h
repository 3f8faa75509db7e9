#pragma once
// The product's tag table: one row per registered tag (area, colon, name), sorted by tag, each
// with its creator and class-registration routine. The application start-up walks it and
// registers every row; its shut-down undoes that registration set.

#include "Core/ClassInfo.h"

#include <span>

namespace zel
{

std::span<const CTypeTableRow> productTypeTable();

// Registers every row of the product table into registration (stops at the first failure).
CErrorPtr registerProductTypes(CTypeRegistration& registration);

} // namespace zel
