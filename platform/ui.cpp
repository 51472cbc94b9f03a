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

}  // namespace platform
