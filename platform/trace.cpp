#include "platform/trace.h"

#include <atomic>
#include <cstdio>

namespace platform {

namespace {
std::atomic<bool> g_traceEnabled{true};
}

void Trace(const char* format, ...) {
    if (!g_traceEnabled.load(std::memory_order_relaxed))
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}

void SetTraceEnabled(bool enabled) {
    g_traceEnabled.store(enabled, std::memory_order_relaxed);
}

bool IsTraceEnabled() {
    return g_traceEnabled.load(std::memory_order_relaxed);
}

}  // namespace platform
