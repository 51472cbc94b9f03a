#include "platform/ui.h"

#include <atomic>

namespace platform {

namespace {

std::atomic<IUserInterface*> g_replacement{nullptr};

}  // namespace

IUserInterface& Ui() {
    IUserInterface* ui = g_replacement.load();
    return ui ? *ui : PlatformUserInterface();
}

void SetUserInterface(IUserInterface* ui) {
    g_replacement.store(ui);
}

std::string ShortenLongRuns(const std::string& text, size_t longest) {
    if (longest < 8)
        longest = 8;
    const size_t head = longest * 2 / 3, tail = longest - head - 3;
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t end = text.find_first_of(" \t\r\n", i);
        if (end == std::string::npos)
            end = text.size();
        if (end - i > longest)
            out += text.substr(i, head) + "..." + text.substr(end - tail, tail);
        else
            out.append(text, i, end - i);
        size_t next = text.find_first_not_of(" \t\r\n", end);
        if (next == std::string::npos)
            next = text.size();
        out.append(text, end, next - end);
        i = next;
    }
    return out;
}

}  // namespace platform
