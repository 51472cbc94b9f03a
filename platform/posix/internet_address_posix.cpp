// Address parsing, combining and canonicalising for systems without WinINet. The rules follow
// what the packager relies on: scheme numbers 3/4, default ports, paths with their query,
// resolution of relative references with dot segments removed, and %xx decoding.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "platform/internet.h"

namespace platform {
namespace {

struct SchemeInfo {
    const char* pszName;
    int nScheme;
    uint16_t nPort;
    bool bHierarchical;  // the address needs "//" and a host
};

const SchemeInfo kSchemes[] = {
    {"ftp", kSchemeFtp, 21, true},
    {"gopher", kSchemeGopher, 70, true},
    {"http", kSchemeHttp, 80, true},
    {"https", kSchemeHttps, 443, true},
    {"file", kSchemeFile, 0, false},
    {"news", kSchemeNews, 0, false},
    {"mailto", kSchemeMailto, 0, false},
    {"socks", 8, 1080, true},
    {"javascript", 9, 0, false},
    {"vbscript", 10, 0, false},
    {"res", 11, 0, false},
};

bool EqualNoCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) {
            return false;
        }
    }
    return true;
}

const SchemeInfo* FindScheme(const std::string& name) {
    for (const SchemeInfo& s : kSchemes) {
        if (EqualNoCase(name, s.pszName)) {
            return &s;
        }
    }
    return nullptr;
}

// Length of the scheme name that starts text ("http" of "http://..."), or 0 when the text
// does not start with one. Single letters are drive names ("C:"), not schemes.
size_t SchemeLength(const std::string& text) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) {
        return 0;
    }
    size_t i = 1;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ':') {
            return i >= 2 ? i : 0;
        }
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') {
            return 0;
        }
        ++i;
    }
    return 0;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Turns %xx sequences into bytes. %00 stays as written: a NUL byte would cut the address
// short wherever it is later used as a C string.
std::string Decode(const std::string& text) {
    if (text.find('%') == std::string::npos) {
        return text;
    }
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = HexValue(text[i + 1]);
            int lo = HexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0 && (hi | lo) != 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// Removes "." and ".." segments from a path (no query or fragment), in one pass.
std::string RemoveDotSegments(const std::string& path) {
    // Only a segment that starts with "." can be a dot segment.
    if (path.find("/.") == std::string::npos && (path.empty() || path[0] != '.')) {
        return path;
    }
    bool bAbsolute = !path.empty() && path[0] == '/';
    std::vector<std::string> segments;
    size_t start = bAbsolute ? 1 : 0;
    bool bTrailingSlash = false;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        size_t end = slash == std::string::npos ? path.size() : slash;
        std::string seg = path.substr(start, end - start);
        bool bLast = slash == std::string::npos;
        if (seg == ".") {
            bTrailingSlash = bLast;
        } else if (seg == "..") {
            if (!segments.empty()) {
                segments.pop_back();
            }
            bTrailingSlash = bLast;
        } else {
            segments.push_back(seg);
            bTrailingSlash = false;
        }
        if (bLast) {
            break;
        }
        start = slash + 1;
    }
    std::string out = bAbsolute ? "/" : "";
    for (size_t i = 0; i < segments.size(); ++i) {
        if (i > 0) {
            out += '/';
        }
        out += segments[i];
    }
    if (bTrailingSlash && !segments.empty()) {
        out += '/';
    }
    return out;
}

// An address cut into scheme ("http:"), authority ("//host"), path, and the query with the
// fragment.
struct Pieces {
    std::string strScheme;
    std::string strAuthority;
    std::string strPath;
    std::string strTail;  // from the first "?" or "#" on
    bool bHasAuthority = false;
};

Pieces Split(const std::string& url) {
    Pieces p;
    size_t pos = SchemeLength(url);
    if (pos > 0) {
        p.strScheme = url.substr(0, pos + 1);
        ++pos;
    }
    if (url.compare(pos, 2, "//") == 0) {
        size_t end = url.find_first_of("/?#", pos + 2);
        if (end == std::string::npos) {
            end = url.size();
        }
        p.strAuthority = url.substr(pos, end - pos);
        p.bHasAuthority = true;
        pos = end;
    }
    size_t tail = url.find_first_of("?#", pos);
    if (tail == std::string::npos) {
        tail = url.size();
    }
    p.strPath = url.substr(pos, tail - pos);
    p.strTail = url.substr(tail);
    return p;
}

bool NeedsEscape(unsigned char c, bool bInTail) {
    if (c <= 0x20 || c >= 0x7F) {
        return true;
    }
    return !bInTail && (c == '"' || c == '<' || c == '>');
}

void AppendEscaped(std::string& out, const std::string& text, bool bInTail) {
    static const char kHex[] = "0123456789ABCDEF";
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (NeedsEscape(c, bInTail)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
}

}  // namespace

bool CrackUrl(const std::string& url, uint32_t flags, UrlParts& parts, size_t hostSize,
              size_t pathSize) {
    size_t schemeLen = SchemeLength(url);
    if (schemeLen == 0) {
        return false;
    }
    const SchemeInfo* pInfo = FindScheme(url.substr(0, schemeLen));
    parts.nScheme = pInfo != nullptr ? pInfo->nScheme : kSchemeUnknown;
    parts.nPort = pInfo != nullptr ? pInfo->nPort : 0;

    Pieces p = Split(url);
    if (pInfo != nullptr && pInfo->bHierarchical && !p.bHasAuthority) {
        return false;
    }
    std::string host;
    if (p.bHasAuthority) {
        std::string authority = p.strAuthority.substr(2);
        size_t at = authority.rfind('@');
        if (at != std::string::npos) {
            authority.erase(0, at + 1);
        }
        size_t portStart = std::string::npos;
        if (!authority.empty() && authority[0] == '[') {
            size_t close = authority.find(']');
            if (close == std::string::npos) {
                return false;
            }
            if (close + 1 < authority.size()) {
                if (authority[close + 1] != ':') {
                    return false;
                }
                portStart = close + 1;
            }
        } else {
            portStart = authority.find(':');
        }
        if (portStart != std::string::npos) {
            std::string port = authority.substr(portStart + 1);
            authority.erase(portStart);
            if (!port.empty()) {
                if (port.size() > 5) {
                    return false;
                }
                unsigned value = 0;
                for (char c : port) {
                    if (c < '0' || c > '9') {
                        return false;
                    }
                    value = value * 10 + static_cast<unsigned>(c - '0');
                }
                if (value > 65535) {
                    return false;
                }
                parts.nPort = static_cast<uint16_t>(value);
            }
        }
        host = authority;
        if (host.empty() && pInfo != nullptr && pInfo->bHierarchical) {
            return false;
        }
    }
    std::string path = p.strPath + p.strTail;
    if (path.empty() && pInfo != nullptr && pInfo->bHierarchical) {
        path = "/";
    }
    if (parts.nScheme == kSchemeFile) {
        // The local path: file:///dir/x gives /dir/x, file://server/share/x gives
        // //server/share/x.
        if (!host.empty() && !EqualNoCase(host, "localhost")) {
            path = "//" + host + path;
        }
        host.clear();
    }
    if ((flags & kCrackDecode) != 0) {
        host = Decode(host);
        path = Decode(path);
    }
    if (host.size() >= hostSize || path.size() >= pathSize) {
        return false;
    }
    parts.strHost = host;
    parts.strPath = path;
    return true;
}

bool CombineUrl(const std::string& base, const std::string& reference, std::string& result,
                size_t bufferSize) {
    // Escape sequences are decoded before either address is parsed.
    std::string b = Decode(base);
    std::string r = Decode(reference);
    std::string out;
    if (SchemeLength(r) > 0 || b.empty()) {
        out = r;
    } else {
        Pieces pb = Split(b);
        if (!pb.strScheme.empty() && !pb.bHasAuthority && !EqualNoCase(pb.strScheme, "file:")) {
            return false;  // nothing to resolve against (mailto:, javascript:, ...)
        }
        if (pb.bHasAuthority) {
            // Browsers read a backslash in a web address's path as a slash.
            size_t tail = r.find_first_of("?#");
            for (size_t i = 0; i < r.size() && i < tail; ++i) {
                if (r[i] == '\\') {
                    r[i] = '/';
                }
            }
        }
        std::string prefix = pb.strScheme + pb.strAuthority;
        if (r.empty()) {
            size_t hash = b.find('#');
            out = hash == std::string::npos ? b : b.substr(0, hash);
        } else if (r.compare(0, 2, "//") == 0) {
            Pieces pr = Split(r);
            out = pb.strScheme + pr.strAuthority + RemoveDotSegments(pr.strPath) + pr.strTail;
        } else if (r[0] == '#') {
            size_t hash = b.find('#');
            out = (hash == std::string::npos ? b : b.substr(0, hash)) + r;
        } else if (r[0] == '?') {
            out = prefix + pb.strPath + r;
        } else {
            Pieces pr = Split(r);
            std::string path;
            if (r[0] == '/') {
                path = pr.strPath;
            } else if (pb.bHasAuthority && pb.strPath.empty()) {
                path = "/" + pr.strPath;
            } else {
                size_t slash = pb.strPath.rfind('/');
                path =
                    (slash == std::string::npos ? std::string() : pb.strPath.substr(0, slash + 1)) +
                    pr.strPath;
            }
            out = prefix + RemoveDotSegments(path) + pr.strTail;
        }
    }
    // What decoding made unsafe is escaped again before the query, as the service does.
    size_t tail = out.find_first_of("?#");
    if (tail == std::string::npos) {
        tail = out.size();
    }
    std::string escaped;
    escaped.reserve(out.size() + 16);
    AppendEscaped(escaped, out.substr(0, tail), false);
    escaped.append(out, tail, std::string::npos);
    if (escaped.size() >= bufferSize) {
        return false;
    }
    result = escaped;
    return true;
}

bool CanonicalizeUrl(const std::string& url, std::string& result) {
    Pieces p = Split(url);
    std::string out;
    out.reserve(url.size() + 16);
    AppendEscaped(out, p.strScheme + p.strAuthority, false);
    AppendEscaped(
        out, p.bHasAuthority || !p.strScheme.empty() ? RemoveDotSegments(p.strPath) : p.strPath,
        false);
    // After "?" or "#" only what cannot stand in a request line is escaped.
    AppendEscaped(out, p.strTail, true);
    result = out;
    return true;
}

}  // namespace platform
