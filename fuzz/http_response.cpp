// Feeds arbitrary bytes to the response-head parser in pieces whose sizes come
// from the input itself, and checks what it reports against its own bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/posix/http_response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the piece size, so splits inside lines are explored.
    size_t piece = 1 + data[0] % 64;
    const char* text = reinterpret_cast<const char*>(data + 1);
    size_t left = size - 1;
    qb::HttpResponseHead head;
    size_t fed = 0;
    while (left > 0 && head.state() == qb::HttpResponseHead::kNeedMore) {
        size_t n = left < piece ? left : piece;
        size_t used = 0;
        head.Feed(text, n, &used);
        if (used > n) {
            abort();
        }
        if (head.state() == qb::HttpResponseHead::kNeedMore && used != n) {
            abort();
        }
        fed += used;
        text += n;
        left -= n;
    }
    head.Finish();
    if (fed > qb::HttpResponseHead::kMaxHead + 1) {
        abort();
    }
    if (head.state() == qb::HttpResponseHead::kDone) {
        const std::string& raw = head.rawHeaders();
        if (head.status() < 100 || head.status() > 999 || raw.size() < 4 ||
            raw.compare(raw.size() - 4, 4, "\r\n\r\n") != 0 || raw.compare(0, 5, "HTTP/") != 0) {
            abort();
        }
    }
    return 0;
}
