// Address parsing, combining and canonicalising through WinINet's own functions.
#include <windows.h>
#include <wininet.h>

#include <string>
#include <vector>

#include "platform/internet.h"

namespace platform {

bool CrackUrl(const std::string& url, uint32_t flags, UrlParts& parts, size_t hostSize,
              size_t pathSize) {
    std::vector<char> host(hostSize + 1, '\0');
    std::vector<char> path(pathSize + 1, '\0');
    URL_COMPONENTSA uc;
    ZeroMemory(&uc, sizeof(uc));
    uc.dwStructSize = sizeof(uc);
    uc.lpszHostName = host.data();
    uc.dwHostNameLength = static_cast<DWORD>(hostSize);
    uc.lpszUrlPath = path.data();
    uc.dwUrlPathLength = static_cast<DWORD>(pathSize);
    BOOL ok = InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), flags, &uc);
    parts.nScheme = uc.nScheme;
    if (!ok) {
        return false;
    }
    // The text up to the terminator, not the reported length: for network shares the
    // service reports a path two characters short.
    parts.strHost.assign(host.data());
    parts.strPath.assign(path.data());
    parts.nPort = uc.nPort;
    return true;
}

bool CombineUrl(const std::string& base, const std::string& reference, std::string& result,
                size_t bufferSize) {
    std::vector<char> buffer(bufferSize + 1, '\0');
    DWORD len = static_cast<DWORD>(bufferSize);
    if (!InternetCombineUrlA(base.c_str(), reference.c_str(), buffer.data(), &len, ICU_DECODE)) {
        return false;
    }
    result.assign(buffer.data());
    return true;
}

bool CanonicalizeUrl(const std::string& url, std::string& result) {
    DWORD size = static_cast<DWORD>(kCanonicalBufferSize);
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::vector<char> buffer(size + 1, '\0');
        DWORD len = size;
        if (InternetCanonicalizeUrlA(url.c_str(), buffer.data(), &len, ICU_BROWSER_MODE)) {
            result.assign(buffer.data());
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || len <= size) {
            return false;
        }
        size = len + 1;
    }
    return false;
}

}  // namespace platform
