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

namespace {

bool StartsCharacter(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

}  // namespace

std::string FitColumns(const std::string& text, size_t width) {
    size_t columns = 0;
    for (char c : text)
        columns += StartsCharacter(c);
    if (columns <= width)
        return text;
    if (width <= 3)
        return std::string(width, '.');
    std::string out;
    size_t used = 0;
    for (char c : text) {
        if (StartsCharacter(c)) {
            if (used == width - 3)
                break;
            ++used;
        }
        out += c;
    }
    return out + "...";
}

std::string PlainLineEnds(const std::string& text) {
    std::string lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n')
                continue;
            lines += '\n';
        } else {
            lines += text[i];
        }
    }
    return lines;
}

std::string PlainTraceText(const std::string& text) {
    return EscapeControls(PlainLineEnds(text), true);
}

}  // namespace platform
