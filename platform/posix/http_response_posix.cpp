#include "platform/posix/http_response.h"

#include <cctype>

namespace qb {

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

HttpResponseHead::State HttpResponseHead::FeedLine(const char* data, size_t size) {
    if (m_state == kBad) {
        return m_state;
    }
    std::string line(data, size);
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (m_state == kDone) {
        if (m_nStatus >= 200) {
            return m_state;  // a trailer
        }
        // An interim answer is over: the real head follows.
        m_state = kNeedMore;
        m_strRaw.clear();
        m_nLines = 0;
    }
    if (line.size() > kMaxLine || line.find('\n') != std::string::npos ||
        line.find('\0') != std::string::npos || m_strRaw.size() + line.size() + 2 > kMaxHead) {
        m_state = kBad;
        return m_state;
    }
    if (m_nLines == 0) {
        m_nStatus = ParseStatusLine(line);
        if (m_nStatus < 0) {
            m_state = kBad;
            return m_state;
        }
    } else if (line.empty()) {
        m_strRaw += "\r\n";
        m_state = kDone;
        return m_state;
    } else if (m_nLines > kMaxLines) {
        m_state = kBad;
        return m_state;
    }
    ++m_nLines;
    m_strRaw += line;
    m_strRaw += "\r\n";
    return m_state;
}

}  // namespace qb
