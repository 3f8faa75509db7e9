#include "Core/Log.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace zel
{
namespace
{
std::mutex& sinkMutex()
{
    // Never destroyed: diagnostics may be written by exit handlers.
    static std::mutex& m = *new std::mutex;
    return m;
}
CLogSink& sinkSlot()
{
    static CLogSink sink;
    return sink;
}
std::atomic<int>& tracingFlag()
{
    static std::atomic<int> flag{std::getenv("ZEL_TRACE") != nullptr ? 1 : 0};
    return flag;
}
} // namespace

void diagLog(std::string_view line)
{
    std::lock_guard<std::mutex> lock(sinkMutex());
    if (sinkSlot())
    {
        sinkSlot()(line);
        return;
    }
    static const bool toStderr = std::getenv("ZEL_DIAG_LOG") != nullptr;
    if (toStderr)
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

CLogSink setDiagLogSink(CLogSink sink)
{
    std::lock_guard<std::mutex> lock(sinkMutex());
    CLogSink previous = std::move(sinkSlot());
    sinkSlot() = std::move(sink);
    return previous;
}

bool isTracing()
{
    return tracingFlag().load(std::memory_order_relaxed) != 0;
}
void setTracing(bool on)
{
    tracingFlag().store(on ? 1 : 0, std::memory_order_relaxed);
}

} // namespace zel
