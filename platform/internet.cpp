#include "platform/internet.h"

#include <atomic>
#include <mutex>

namespace platform {

namespace {
std::mutex g_timeoutLock;
InternetTimeouts g_timeouts;
std::atomic<int64_t> g_nBytesInFlight{0};
}  // namespace

void SetInternetTimeouts(const InternetTimeouts& timeouts) {
    std::lock_guard<std::mutex> lock(g_timeoutLock);
    g_timeouts = timeouts;
}

InternetTimeouts GetInternetTimeouts() {
    std::lock_guard<std::mutex> lock(g_timeoutLock);
    return g_timeouts;
}

void CountBytesInFlight(int64_t delta) {
    g_nBytesInFlight += delta;
}

uint64_t BytesInFlight() {
    int64_t n = g_nBytesInFlight.load();
    return n > 0 ? static_cast<uint64_t>(n) : 0;
}

}  // namespace platform
