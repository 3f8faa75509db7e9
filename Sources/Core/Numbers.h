#pragma once
// Text/number conversions shared by the object model and the value converters: the integer
// grammar (decimal or hexadecimal after "0x", "0X", "#" or "$"), the boolean words "true" and
// "false", the decimal number grammar (optional "-", digits, one "," or "." separator, digits)
// and number formatting that rounds half away from zero.
//
// These are pure functions over CText; they never consult the locale and never throw. A failed
// parse leaves the output untouched and returns false, so callers can apply their own default.

#include "Core/Text.h"

#include <cstdint>

namespace zel
{

// Optional "-", then "0x"/"0X"/"#"/"$" and hexadecimal digits (either case), or decimal digits.
// Fails on any other character, an empty digit run or a magnitude outside the 64-bit range.
bool parseInteger(const CText& text, std::int64_t& out);
// Same grammar; additionally fails when the value does not fit 32 bits (signed).
bool parseInteger32(const CText& text, std::int32_t& out);

// Exactly "true" or "false".
bool parseBoolean(const CText& text, bool& out);

// Optional "-", decimal digits, at most one "," or "." separator, decimal digits. At least one
// digit must be present; no exponent, sign "+", spaces or other characters.
bool parseNumber(const CText& text, double& out);

// Fixed-point form with `decimals` digits after a "." (0..15, clamped), rounding half away
// from zero. A result that rounds to zero carries no "-". Non-finite values give "nan", "inf"
// or "-inf". With trimZeros, trailing fractional zeros (and a bare ".") are removed.
CText formatNumber(double value, int decimals, bool trimZeros = false);

// Decimal form of an integer.
CText formatInteger(std::int64_t value);

} // namespace zel
