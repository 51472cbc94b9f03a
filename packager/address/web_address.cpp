#include "packager/address/web_address.h"

#include "platform/internet.h"

namespace {

uint16_t DefaultPort(bool secure) {
    return secure ? 443 : 80;
}

bool FromParts(const platform::UrlParts& parts, CWebAddress& out) {
    if (parts.nScheme != platform::kSchemeHttp && parts.nScheme != platform::kSchemeHttps) {
        return false;
    }
    CWebAddress address;
    address.bSecure = parts.nScheme == platform::kSchemeHttps;
    address.strHost = parts.strHost;
    address.nPort = parts.nPort != 0 ? parts.nPort : DefaultPort(address.bSecure);
    std::string path = parts.strPath;
    // The fragment names a place in the page; it is not sent.
    size_t hash = path.find('#');
    if (hash != std::string::npos) {
        path.erase(hash);
    }
    size_t query = path.find('?');
    address.strPath = path.substr(0, query);
    address.strQuery = query == std::string::npos ? std::string() : path.substr(query);
    out = std::move(address);
    return true;
}

}  // namespace

std::string CWebAddress::HostPort() const {
    return strHost + ":" + std::to_string(nPort);
}

std::string CWebAddress::ServerKey() const {
    std::string key = strHost;
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return key + ":" + std::to_string(nPort);
}

std::string CWebAddress::Origin() const {
    std::string origin = (bSecure ? "https://" : "http://") + strHost;
    if (nPort != DefaultPort(bSecure)) {
        origin += ":" + std::to_string(nPort);
    }
    return origin;
}

std::string CWebAddress::Text() const {
    return Origin() + Object();
}

bool ParseWebAddress(const std::string& address, CWebAddress& out) {
    std::string canonical;
    platform::UrlParts parts;
    if (!platform::CanonicalizeUrl(address, canonical) ||
        !platform::CrackUrl(canonical, 0, parts, platform::kCanonicalBufferSize,
                            platform::kCanonicalBufferSize) ||
        parts.strHost.empty() || !FromParts(parts, out)) {
        return false;
    }
    if (out.strPath.empty() || out.strPath[0] != '/') {
        out.strPath.insert(0, "/");
    }
    return true;
}

bool SplitWebAddressAsWritten(const std::string& address, CWebAddress& out) {
    platform::UrlParts parts;
    // Any address a request can carry (up to 2,083 characters) is split.
    return platform::CrackUrl(address, 0, parts, platform::kCanonicalBufferSize,
                              platform::kCanonicalBufferSize) &&
           FromParts(parts, out);
}
