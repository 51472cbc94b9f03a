#include "platform/posix/http_response.h"

#include <cctype>
#include <cstring>

namespace qb {

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (text.size() < n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

// "HTTP/" version, spaces, three digits, then the end or a space and a reason.
int ParseStatusLine(const std::string& line) {
    if (line.compare(0, 5, "HTTP/") != 0) {
        return -1;
    }
    size_t i = 5;
    while (i < line.size() && line[i] != ' ') {
        if (!std::isdigit(static_cast<unsigned char>(line[i])) && line[i] != '.') {
            return -1;
        }
        ++i;
    }
    if (i == 5) {
        return -1;
    }
    while (i < line.size() && line[i] == ' ') {
        ++i;
    }
    if (i + 3 > line.size()) {
        return -1;
    }
    int code = 0;
    for (size_t k = i; k < i + 3; ++k) {
        if (!std::isdigit(static_cast<unsigned char>(line[k]))) {
            return -1;
        }
        code = code * 10 + (line[k] - '0');
    }
    if (i + 3 < line.size() && line[i + 3] != ' ') {
        return -1;
    }
    return code >= 100 ? code : -1;
}

long long ParseLength(const std::string& value) {
    size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) {
        ++i;
    }
    if (i == value.size()) {
        return -1;
    }
    long long n = 0;
    for (; i < value.size() && value[i] != ' ' && value[i] != '\t'; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(value[i]))) {
            return -1;
        }
        if (n > (1LL << 50)) {
            return -1;  // absurd; treat as unknown and read to the close
        }
        n = n * 10 + (value[i] - '0');
    }
    return n;
}

}  // namespace

// A complete line sits in m_strLine (without its line end).
bool HttpResponseHead::TakeLine() {
    if (m_nLines == 0) {
        m_nStatus = ParseStatusLine(m_strLine);
        if (m_nStatus < 0) {
            return false;
        }
    } else if (m_strLine.empty()) {
        m_strRaw += "\r\n";
        m_state = kDone;
        return true;
    } else {
        if (m_nLines > kMaxLines) {
            return false;
        }
        if (StartsWithNoCase(m_strLine, "content-length:")) {
            m_nContentLength = ParseLength(m_strLine.substr(15));
        }
    }
    ++m_nLines;
    m_strRaw += m_strLine;
    m_strRaw += "\r\n";
    m_strLine.clear();
    return true;
}

HttpResponseHead::State HttpResponseHead::Feed(const char* data, size_t size, size_t* used) {
    size_t i = 0;
    while (m_state == kNeedMore && i < size) {
        char c = data[i++];
        if (++m_nHeadBytes > kMaxHead) {
            m_state = kBad;
            break;
        }
        if (c == '\n') {
            if (!m_strLine.empty() && m_strLine.back() == '\r') {
                m_strLine.pop_back();
            }
            if (!TakeLine()) {
                m_state = kBad;
            }
            continue;
        }
        if (c == '\0' || m_strLine.size() >= kMaxLine) {
            m_state = kBad;
            break;
        }
        m_strLine += c;
    }
    if (used != nullptr) {
        *used = i;
    }
    return m_state;
}

HttpResponseHead::State HttpResponseHead::Finish() {
    if (m_state == kNeedMore) {
        m_state = kBad;
    }
    return m_state;
}

}  // namespace qb
