// Feeds arbitrary bytes, cut into lines the way libcurl hands a response head over, to the
// head gatherer, and checks what it reports against its own bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/posix/http_response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    qb::HttpResponseHead head;
    size_t start = 0;
    bool sawDone = false;
    while (start < size) {
        const void* lf = std::memchr(text + start, '\n', size - start);
        size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - text) + 1 : size;
        qb::HttpResponseHead::State before = head.state();
        qb::HttpResponseHead::State state = head.FeedLine(text + start, end - start);
        start = end;
        if (before == qb::HttpResponseHead::kBad && state != qb::HttpResponseHead::kBad) {
            abort();  // a refused head stays refused
        }
        const std::string& raw = head.rawHeaders();
        if (raw.size() > qb::HttpResponseHead::kMaxHead) {
            abort();
        }
        if (state == qb::HttpResponseHead::kDone) {
            sawDone = true;
            if (head.status() < 100 || head.status() > 999 || raw.size() < 4 ||
                raw.compare(raw.size() - 4, 4, "\r\n\r\n") != 0 ||
                raw.compare(0, 5, "HTTP/") != 0 || raw.find('\0') != std::string::npos) {
                abort();
            }
            // Every line of the block ends with CR LF and holds no other line break.
            for (size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r')) {
                    abort();
                }
            }
        }
    }
    (void)sawDone;
    return 0;
}
