// Text from outside (addresses, file names, what a server sent) on its way to a terminal.
// A control character there is obeyed, not shown: an escape sequence can recolour the
// screen, move the cursor or retitle the window, a carriage return hides what went before.
#pragma once

#include <string>

namespace platform {

// The text with every control character (bytes 0x00-0x1f and 0x7f) written as "\x" and two
// lower-case hex digits, so ESC shows as "\x1b". Line breaks stay when keepLineEnds (messages
// are made of lines); a one-line display (a progress line) escapes them too. Bytes from 0x80
// up pass unchanged (UTF-8 text).
std::string EscapeControls(const std::string& text, bool keepLineEnds = true);

// The text cut to `width` columns, "..." marking the cut, never inside a UTF-8 character
// (each character counts one column).
std::string FitColumns(const std::string& text, size_t width);

// Windows line ends made plain: CR LF becomes LF, and so does a lone CR.
std::string PlainLineEnds(const std::string& text);

// Trace text as plain lines: CR LF and a lone CR (a line meant to be redrawn in place) end
// a line with LF; every other control character is escaped as above.
std::string PlainTraceText(const std::string& text);

}  // namespace platform
