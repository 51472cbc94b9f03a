#include "platform/terminal_text.h"

namespace platform {

std::string EscapeControls(const std::string& text, bool keepLineEnds) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        unsigned char b = static_cast<unsigned char>(c);
        if ((b < 0x20 && !(keepLineEnds && b == '\n')) || b == 0x7f) {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace platform
