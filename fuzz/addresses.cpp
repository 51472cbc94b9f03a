// Arbitrary bytes as a base address and a reference (split at the first line feed): the
// address operations must not crash and must keep to their buffers; the search helpers must
// agree with plain lower-cased searching.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "packager/address/url_utils.h"
#include "platform/internet.h"
#include "fuzz/fuzz_check.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t nl = input.find('\n');
    std::string base = nl == std::string::npos ? input : input.substr(0, nl);
    std::string reference = nl == std::string::npos ? std::string() : input.substr(nl + 1);

    for (uint32_t flags : {0u, platform::kCrackDecode}) {
        platform::UrlParts parts;
        if (platform::CrackUrl(base, flags, parts)) {
            Check(parts.strHost.size() < platform::kHostBufferSize);
            Check(parts.strPath.size() < platform::kPathBufferSize);
        }
    }
    std::string combined;
    if (platform::CombineUrl(base, reference, combined)) {
        Check(combined.size() < platform::kCombineBufferSize);
    }
    std::string canonical;
    if (platform::CanonicalizeUrl(base, canonical)) {
        std::string again;
        Check(platform::CanonicalizeUrl(canonical, again));
        Check(again == canonical);
    }
    std::string resolved = CombineAddress(base, reference);
    if (IsAbsoluteAddress(reference)) {
        Check(resolved == reference);
    }
    // A scheme is what the address begins with, up to a colon.
    std::string own = SchemeOf(base);
    if (!own.empty()) {
        Check(base.size() > own.size() && base.compare(0, own.size(), own) == 0 &&
              base[own.size()] == ':');
    }
    int scheme = 0;
    std::string path = FileAddressToPath(base, scheme);
    platform::UrlParts parts;
    if (!platform::CrackUrl(base, platform::kCrackDecode, parts)) {
        Check(path == base && scheme == -1);
    }

    for (int start : {0, 1, static_cast<int>(base.size() / 2)}) {
        size_t plain = Lower(base).find(Lower(reference), static_cast<size_t>(start));
        int expected = start > static_cast<int>(base.size()) || plain == std::string::npos
                           ? -1
                           : static_cast<int>(plain);
        Check(FindTextNoCase(base, reference, start) == expected);
        size_t exact = base.find(reference, static_cast<size_t>(start));
        Check(FindText(base, reference, start) ==
              (start > static_cast<int>(base.size()) || exact == std::string::npos
                   ? -1
                   : static_cast<int>(exact)));
    }
    Check(HasPrefix(base, reference, false) ==
          (base.size() > reference.size() && base.compare(0, reference.size(), reference) == 0));
    return 0;
}
