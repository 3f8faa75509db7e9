#pragma once
// Monotonic time of the platform layer: seconds since an unspecified fixed point, never going
// backwards and unaffected by changes of the wall clock. Used for timer periods and timeouts;
// it is not a calendar time.

namespace zel::platform
{

// Seconds on the monotonic clock (fractional; at least microsecond resolution).
double monotonicSeconds();

} // namespace zel::platform
