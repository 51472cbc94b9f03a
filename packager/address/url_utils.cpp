#include "packager/address/url_utils.h"

#include <cctype>
#include <vector>
#include <cstring>
#include <cstdio>
#include <algorithm>

#include "packager/address/web_address.h"
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

constexpr size_t kLongestReference = 64 * 1024;

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

namespace {

// The address with the "." and ".." segments of its path resolved, as a browser resolves
// them; the query and fragment are left as they are.
std::string WithoutDotSegments(const std::string& address) {
    size_t authority = address.find("://");
    if (authority == std::string::npos) {
        return address;
    }
    size_t start = address.find('/', authority + 3);
    if (start == std::string::npos) {
        return address;
    }
    size_t end = address.find_first_of("?#", start);
    if (end != std::string::npos && end < start) {
        return address;
    }
    std::string path = address.substr(start, end == std::string::npos ? end : end - start);
    if (path.find("/.") == std::string::npos) {
        return address;
    }
    std::vector<std::string> kept;
    size_t pos = 1;
    bool trailingSlash = false;
    for (;;) {
        size_t slash = path.find('/', pos);
        std::string segment = path.substr(pos, slash == std::string::npos ? slash : slash - pos);
        trailingSlash = false;
        if (segment == ".") {
            trailingSlash = true;
        } else if (segment == "..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
            trailingSlash = true;
        } else {
            kept.push_back(segment);
        }
        if (slash == std::string::npos) {
            break;
        }
        pos = slash + 1;
    }
    std::string out;
    for (const std::string& segment : kept) {
        out += "/" + segment;
    }
    if (out.empty() || trailingSlash) {
        out += "/";
    }
    return address.substr(0, start) + out +
           (end == std::string::npos ? std::string() : address.substr(end));
}

}  // namespace

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
    if (IsWebAddress(result)) {
        // Not every service drops "." and ".." segments (one keeps "./" before a fragment):
        // one address must give one name and one fetch whoever combined it.
        result = WithoutDotSegments(result);
    }
    if (StartsWithNoCase(result, "file:")) {
        int scheme = 0;
        result = FileAddressToPath(result, scheme);
    }
    return result;
}

std::string FileAddressToPath(const std::string& address, int& scheme) {
    // "localhost" names this machine, as no host at all does; not every service knows it.
    const char kLocalHost[] = "file://localhost/";
    std::string local = StartsWithNoCase(address, kLocalHost)
                            ? "file:///" + address.substr(sizeof kLocalHost - 1)
                            : address;
    platform::UrlParts parts;
    if (!platform::CrackUrl(local, platform::kCrackDecode, parts, platform::kHostBufferSize,
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
                   std::string& pageName, CLocalNamer* namer) {
    CWebAddress parts;
    if (!SplitWebAddressAsWritten(LowerCopy(address), parts)) {
        return false;
    }
    // The origin keeps a port that is not the scheme's default: relative references of a page
    // served on another port must be fetched from that port.
    siteRoot = parts.Origin();
    path = parts.Object();
    pageName = namer != nullptr ? namer->Make("", ".htm") : std::string("home.htm");
    return true;
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

bool IsSpaceChar(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

std::string TrimWhite(const std::string& text) {
    size_t end = text.size();
    while (end > 0 && IsSpaceChar(text[end - 1])) {
        --end;
    }
    size_t start = 0;
    while (start < end && IsSpaceChar(text[start])) {
        ++start;
    }
    return text.substr(start, end - start);
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i >= text.size() || LowerAscii(text[i]) != LowerAscii(prefix[i])) {
            return false;
        }
    }
    return true;
}

bool IsWebAddress(const std::string& address) {
    return HasPrefix(address, "http://", true) || HasPrefix(address, "https://", true);
}

std::string SchemeOf(const std::string& address) {
    size_t i = 0;
    while (i < address.size() &&
           (std::isalpha(static_cast<unsigned char>(address[i])) ||
            (i > 0 && (std::isdigit(static_cast<unsigned char>(address[i])) || address[i] == '+' ||
                       address[i] == '-' || address[i] == '.')))) {
        ++i;
    }
    if (i == 0 || i >= address.size() || address[i] != ':') {
        return std::string();
    }
    if (i + 1 < address.size() && std::isdigit(static_cast<unsigned char>(address[i + 1]))) {
        return std::string();
    }
    std::string scheme = address.substr(0, i);
    size_t at = address.find('@');
    if (at != std::string::npos && at < address.find_first_of("/?#") &&
        address.compare(i, 3, "://") != 0) {
        // "user:pw@host" unless the scheme is one the service knows ("mailto:a@b").
        platform::UrlParts parts;
        platform::CrackUrl(address, 0, parts);
        if (parts.nScheme <= platform::kSchemeDefault) {
            return std::string();
        }
    }
    return scheme;
}

bool NeedsWebScheme(const std::string& typed) {
    if (typed.empty()) {
        return true;
    }
    if (platform::PathExists(typed) || !SchemeOf(typed).empty() || typed[0] == '/' ||
        typed[0] == '\\' || StartsWithNoCase(typed, "./") || StartsWithNoCase(typed, "../") ||
        StartsWithNoCase(typed, ".\\") || StartsWithNoCase(typed, "..\\")) {
        return false;
    }
    size_t separator = typed.find_first_of("/\\?#");
    if (separator == std::string::npos) {
        std::string lower;
        for (char c : typed) {
            lower += LowerAscii(c);
        }
        for (const char* page : {".htm", ".html", ".shtml", ".xhtml", ".mht", ".mhtml"}) {
            size_t n = std::strlen(page);
            if (lower.size() > n && lower.compare(lower.size() - n, n, page) == 0) {
                return false;
            }
        }
        return true;
    }
    return !(IsPathSeparator(typed[separator]) &&
             platform::FolderExists(typed.substr(0, separator)));
}

bool IsPathSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

std::string BaseName(const std::string& path) {
    size_t sep = path.find_last_of("/\\");
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

namespace {

const uint32_t kNameNumbers = 0x10000;

// Characters that may not stand in a file name (or would leave the work folder).
bool IsUnsafeNameChar(char c) {
    return static_cast<unsigned char>(c) < 0x20 || std::strchr("\\/:*?\"<>|#", c) != nullptr;
}

}  // namespace

CLocalNamer::CLocalNamer(uint32_t first) : m_nNext(first), m_used(kNameNumbers, false) {}

void CLocalNamer::Claim(const std::string& name) {
    if (name.size() < 4 || name.compare(0, 3, "QBT") != 0) {
        return;
    }
    uint32_t number = 0;
    size_t i = 3;
    for (; i < name.size() && i < 7 && std::isxdigit(static_cast<unsigned char>(name[i])); ++i) {
        char c = name[i];
        number = number * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : LowerAscii(c) - 'a' + 10);
    }
    if (i > 3 && !m_used[number]) {
        m_used[number] = true;
        ++m_nCount;
    }
}

std::string CLocalNamer::Make(const std::string& absoluteAddress, const char* extension) {
    std::string name;
    for (uint32_t tries = 0; tries < kNameNumbers && name.empty(); ++tries) {
        uint32_t number = m_nNext++ & 0xFFFF;
        if (!m_used[number]) {
            m_used[number] = true;
            ++m_nCount;
            char digits[8];
            std::snprintf(digits, sizeof(digits), "%X", static_cast<unsigned>(number));
            name = std::string("QBT") + digits;
        }
    }
    if (name.empty()) {
        std::string fallback(absoluteAddress);
        for (char& c : fallback) {
            if (c == '%' || IsUnsafeNameChar(c)) {
                c = '_';
            }
        }
        return fallback;
    }
    if (extension != nullptr) {
        return name + extension;
    }
    // A local path on Windows separates its parts with backslashes; in a web address a
    // backslash is just a character.
    bool isLocalPath = absoluteAddress.find("://") == std::string::npos;
    size_t slash = absoluteAddress.find_last_of(isLocalPath ? "/\\" : "/");
    if (slash != std::string::npos) {
        std::string last = absoluteAddress.substr(slash + 1);
        last = last.substr(0, last.find('?'));
        size_t dot = last.find('.');
        if (dot != std::string::npos) {
            // The extension ends at the first character that cannot stand in a file name,
            // so an address cannot steer the file out of the work folder.
            size_t bad = dot;
            while (bad < last.size() && !IsUnsafeNameChar(last[bad])) {
                ++bad;
            }
            name += last.substr(dot, bad - dot);
        }
    }
    return name;
}
