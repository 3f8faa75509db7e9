#pragma once
// The framework's diagnostic log: a single process-wide sink for trace and dropped-error
// messages. By default messages go nowhere unless the environment variable ZEL_DIAG_LOG is set
// (then to standard error). Tests install their own sink to capture what is written.

#include <functional>
#include <string_view>

namespace zel
{

using CLogSink = std::function<void(std::string_view)>;

// Writes one line to the diagnostic log. Thread-safe.
void diagLog(std::string_view line);
// Replaces the sink; returns the previous one. An empty sink restores the default.
CLogSink setDiagLogSink(CLogSink sink);
// Whether object-creation tracing is on (ZEL_TRACE set in the environment, or forced).
bool isTracing();
void setTracing(bool on);

} // namespace zel
