#include "packager/fetch/url_utils.h"

#include <cctype>
#include <vector>
#include <mutex>
#include <cstdio>
#include <algorithm>

#include "platform/files.h"
#include "platform/internet.h"

namespace {

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string LowerCopy(const std::string& text) {
    std::string out(text);
    for (char& c : out) {
        c = Lower(c);
    }
    return out;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i >= text.size() || Lower(text[i]) != Lower(prefix[i])) {
            return false;
        }
    }
    return true;
}

bool IsPathSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

constexpr size_t kLongestReference = 64 * 1024;

uint16_t DefaultPort(int scheme) {
    return scheme == platform::kSchemeHttps ? 443 : 80;
}

}  // namespace

bool HasPrefix(const std::string& text, const std::string& prefix, bool ignoreCase) {
    if (text.size() <= prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i];
        char b = prefix[i];
        if (ignoreCase ? Lower(a) != Lower(b) : a != b) {
            return false;
        }
    }
    return true;
}

int FindChar(const std::string& text, char ch, int start) {
    if (start < 0 || static_cast<size_t>(start) >= text.size()) {
        return -1;
    }
    size_t pos = text.find(ch, static_cast<size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int FindText(const std::string& text, const std::string& needle, int start) {
    if (start < 0 || static_cast<size_t>(start) > text.size()) {
        return -1;
    }
    size_t pos = text.find(needle, static_cast<size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int FindTextNoCase(const std::string& text, const std::string& needle, int start) {
    if (start < 0 || static_cast<size_t>(start) > text.size()) {
        return -1;
    }
    if (needle.empty()) {
        return start;
    }
    // Compared in place (no lower-cased copies) so that searching a large page stays cheap.
    const char first = Lower(needle[0]);
    const size_t n = needle.size();
    for (size_t i = static_cast<size_t>(start); i + n <= text.size(); ++i) {
        if (Lower(text[i]) != first) {
            continue;
        }
        size_t k = 1;
        while (k < n && Lower(text[i + k]) == Lower(needle[k])) {
            ++k;
        }
        if (k == n) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool IsAbsoluteAddress(const std::string& text) {
    return StartsWithNoCase(text, "http://") || StartsWithNoCase(text, "https://") ||
           StartsWithNoCase(text, "file:");
}

std::string CombineAddress(const std::string& base, const std::string& reference) {
    if (IsAbsoluteAddress(reference)) {
        return reference;
    }
    // Nothing this long can resolve to an address that fits the service's 520 bytes; failing
    // at once spares every platform from working through megabytes of attribute text.
    if (reference.size() >= kLongestReference || base.size() >= kLongestReference) {
        return std::string();
    }
    // The base is the page's final address, taken as browsers take it: the last segment of a
    // path that does not end in "/" names a file, dot or not (a server that means a folder
    // redirects to the address with the "/"), and a reference of only a query or nothing at
    // all stays on that file.
    std::string from = base;
    std::string to = reference;
    if (to.empty() || to[0] == '?' || to[0] == '#') {
        // Some services resolve these against the page's folder; they name the page itself:
        // its file name is spelt out so that every service agrees.
        size_t tail = from.find_first_of("?#");
        std::string path = from.substr(0, tail);
        size_t authority = path.find("://");
        size_t first = authority == std::string::npos ? authority : path.find('/', authority + 3);
        size_t slash = path.rfind('/');
        if (first != std::string::npos && slash >= first && slash + 1 < path.size()) {
            std::string query = tail == std::string::npos ? std::string() : from.substr(tail);
            query = query.substr(0, query.find('#'));
            to = "./" + path.substr(slash + 1) + (to.empty() || to[0] == '#' ? query : "") + to;
            from = path.substr(0, slash + 1);
        }
    }
    std::string result;
    if (!platform::CombineUrl(from, to, result)) {
        return std::string();
    }
    if (StartsWithNoCase(result, "file:")) {
        int scheme = 0;
        result = FileAddressToPath(result, scheme);
    }
    return result;
}

std::string FileAddressToPath(const std::string& address, int& scheme) {
    platform::UrlParts parts;
    if (!platform::CrackUrl(address, platform::kCrackDecode, parts, platform::kHostBufferSize,
                            platform::kPathBufferSize)) {
        scheme = -1;
        return address;
    }
    scheme = parts.nScheme;
    return parts.strPath;
}

bool SplitLocalPath(const std::string& path, std::string& fileName, std::string& folder) {
    int handle = platform::FileOpen(path, platform::kOpenReadOnly | platform::kOpenBinary);
    if (handle < 0) {
        return false;
    }
    platform::FileClose(handle);
    size_t sep = std::string::npos;
    for (size_t i = path.size(); i > 0; --i) {
        if (IsPathSeparator(path[i - 1])) {
            sep = i - 1;
            break;
        }
    }
    fileName = sep == std::string::npos ? path : path.substr(sep + 1);
    folder = sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
    return !fileName.empty();
}

bool MakePageNames(const std::string& address, std::string& siteRoot, std::string& path,
                   std::string& pageName) {
    std::string lower = LowerCopy(address);
    platform::UrlParts parts;
    // Any address a request can carry (up to 2,083 characters) gets its names.
    if (!platform::CrackUrl(lower, 0, parts, platform::kCanonicalBufferSize,
                            platform::kCanonicalBufferSize)) {
        return false;
    }
    size_t slashes = lower.find("//");
    siteRoot = (slashes == std::string::npos ? std::string() : lower.substr(0, slashes + 2)) +
               parts.strHost;
    // Keep a port that is not the scheme's default: relative references of a page served on
    // another port must be fetched from that port.
    if (parts.nPort != 0 && parts.nPort != DefaultPort(parts.nScheme)) {
        siteRoot += ':' + std::to_string(parts.nPort);
    }
    path = parts.strPath;
    std::string stem;
    pageName = MakeFreshNameStem(stem) ? stem + ".htm" : "home.htm";
    return true;
}

namespace {

std::mutex g_namesLock;
std::vector<bool> g_namesUsed(0x10000, false);
uint32_t g_namesCount = 0;

// Marks a number as handed out; the caller holds the lock.
bool ClaimLocked(uint32_t number) {
    number &= 0xFFFF;
    if (g_namesCount >= 0xFFFF) {
        std::fill(g_namesUsed.begin(), g_namesUsed.end(), false);
        g_namesCount = 0;
    }
    if (g_namesUsed[number])
        return false;
    g_namesUsed[number] = true;
    ++g_namesCount;
    return true;
}

}  // namespace

bool ClaimNameNumber(uint32_t number) {
    std::lock_guard<std::mutex> lock(g_namesLock);
    return ClaimLocked(number);
}

std::string LocalPathToFileAddress(const std::string& path) {
    std::string out = "file://";
    if (path.empty() || (path[0] != '/' && path[0] != '\\'))
        out += '/';
    for (char c : path) {
        if (c == '\\')
            out += '/';
        else if (c == '%')
            out += "%25";
        else if (c == ' ')
            out += "%20";
        else if (c == '#')
            out += "%23";
        else
            out += c;
    }
    return out;
}

void ForgetNameNumbers() {
    std::lock_guard<std::mutex> lock(g_namesLock);
    std::fill(g_namesUsed.begin(), g_namesUsed.end(), false);
    g_namesCount = 0;
}

bool MakeFreshNameStem(std::string& stem) {
    std::lock_guard<std::mutex> lock(g_namesLock);
    // The service may offer a number again once its probe is gone (it starts from the
    // clock), so probes of numbers already taken stay until a free one comes up.
    std::vector<std::string> kept;
    bool found = false;
    for (int tries = 0; tries < 256 && !found; ++tries) {
        std::string probe;
        unsigned number = platform::TempFileName(".", "QBT", 0, probe);
        if (number == 0)
            break;
        if (ClaimLocked(number)) {
            platform::FileRemove(probe);
            char digits[8];
            std::snprintf(digits, sizeof(digits), "%X", number & 0xFFFF);
            stem = std::string("QBT") + digits;
            found = true;
        } else {
            kept.push_back(probe);
        }
    }
    for (const std::string& probe : kept)
        platform::FileRemove(probe);
    return found;
}

bool ClearReadOnly(const std::string& path) {
    uint32_t attributes = platform::GetAttributes(path);
    if (attributes == platform::kInvalidAttributes) {
        return false;
    }
    if ((attributes & platform::kAttrReadOnly) == 0) {
        return true;
    }
    attributes &= ~platform::kAttrReadOnly;
    return platform::SetAttributes(path, attributes == 0 ? platform::kAttrNormal : attributes);
}
