#pragma once
// One-line expectations on errors: the identifier (and text) of an error, or "no error".

#include "Core/Error.h"

#include <string>

namespace kelvtest
{

inline std::string idAndText(const zel::CErrorPtr& err)
{
    return err ? err->id() + ": " + err->text() : std::string("no error");
}

inline std::string idOf(const zel::CErrorPtr& err)
{
    return err ? err->id() : std::string("no error");
}

} // namespace kelvtest
