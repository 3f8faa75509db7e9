#include "Platform/Time.h"

#include <windows.h>

namespace zel::platform
{

double monotonicSeconds()
{
    static const double period = []
    {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        return 1.0 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * period;
}

} // namespace zel::platform
