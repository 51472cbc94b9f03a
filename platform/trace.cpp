#include "platform/trace.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/terminal_text.h"

namespace platform {

namespace {
std::atomic<bool> g_traceEnabled{true};
}

void Trace(const char* format, ...) {
    if (!g_traceEnabled.load(std::memory_order_relaxed))
        return;
    va_list args;
    va_start(args, format);
#ifdef _WIN32
    std::vfprintf(stdout, format, args);
#else
    // A terminal's lines: LF ends, and the names in them shown, never obeyed.
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(&text[0], text.size() + 1, format, args);
    std::string lines = PlainTraceText(text);
    std::fwrite(lines.data(), 1, lines.size(), stdout);
#endif
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
