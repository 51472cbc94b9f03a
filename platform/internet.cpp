#include "platform/internet.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<int64_t> g_nBytesInFlight{0};
}  // namespace

void CountBytesInFlight(int64_t delta) {
    g_nBytesInFlight += delta;
}

uint64_t BytesInFlight() {
    int64_t n = g_nBytesInFlight.load();
    return n > 0 ? static_cast<uint64_t>(n) : 0;
}

}  // namespace platform
