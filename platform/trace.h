// Diagnostic trace lines on the standard output. A windowed program shows them
// nowhere and no behaviour depends on them; the command-line programs may turn
// them off so that they do not mix with the terminal's progress line.
#pragma once

#include <cstdarg>

namespace platform {

// printf-style; the line is written and flushed at once.
void Trace(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
void SetTraceEnabled(bool enabled);
bool IsTraceEnabled();

}  // namespace platform
