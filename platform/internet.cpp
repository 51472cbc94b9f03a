#include "platform/internet.h"

#include <mutex>

namespace platform {

namespace {
std::mutex g_timeoutLock;
InternetTimeouts g_timeouts;
}  // namespace

void SetInternetTimeouts(const InternetTimeouts& timeouts) {
    std::lock_guard<std::mutex> lock(g_timeoutLock);
    g_timeouts = timeouts;
}

InternetTimeouts GetInternetTimeouts() {
    std::lock_guard<std::mutex> lock(g_timeoutLock);
    return g_timeouts;
}

}  // namespace platform
