#include "platform/ini_document.h"

namespace platform {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s) {
    size_t begin = 0, end = s.size();
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    while (end > begin && IsBlank(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

std::string Unquote(const std::string& value) {
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

bool HasLineBreak(const std::string& s) {
    return s.find_first_of("\r\n") != std::string::npos;
}

bool BlankEdged(const std::string& s) {
    return s.empty() || IsBlank(s.front()) || IsBlank(s.back());
}

}  // namespace

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

void CIniDocument::Parse(const std::string& text) {
    m_lines.clear();
    size_t pos = 0;
    // A byte-order mark written by some editors is not part of the first name.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        pos = 3;
    std::string section;
    bool inSection = false;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        Line line;
        line.text = text.substr(pos, end - pos);
        if (!line.text.empty() && line.text.back() == '\r')
            line.text.pop_back();
        pos = end + 1;

        std::string body = Trim(line.text);
        if (!body.empty() && body[0] == '[') {
            size_t close = body.find(']');
            section =
                Trim(body.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            inSection = true;
            line.header = true;
            line.section = section;
        } else if (inSection && !body.empty() && body[0] != ';') {
            size_t eq = body.find('=');
            if (eq != std::string::npos) {
                line.entry = true;
                line.section = section;
                line.key = Trim(body.substr(0, eq));
                line.value = Unquote(Trim(body.substr(eq + 1)));
            }
        }
        if (!line.header && !line.entry)
            line.section = inSection ? section : std::string();
        m_lines.push_back(line);
    }
}

std::string CIniDocument::Text() const {
    std::string out;
    for (const Line& line : m_lines) {
        out += line.text;
        out += '\n';
    }
    return out;
}

bool CIniDocument::Find(const std::string& section, const std::string& key,
                        std::string& value) const {
    for (const Line& line : m_lines) {
        if (line.entry && EqualNoCase(line.section, section) && EqualNoCase(line.key, key)) {
            value = line.value;
            return true;
        }
    }
    return false;
}

bool CIniDocument::Set(const std::string& section, const std::string& key,
                       const std::string& value) {
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) || BlankEdged(section) ||
        BlankEdged(key) || section.find(']') != std::string::npos ||
        key.find('=') != std::string::npos || key[0] == '[' || key[0] == ';')
        return false;
    // Quote values that reading would otherwise change (blank edges, quotes).
    std::string stored = value;
    if (!value.empty() &&
        (IsBlank(value.front()) || IsBlank(value.back()) || Unquote(value).size() != value.size()))
        stored = "\"" + value + "\"";

    Line entry;
    entry.text = key + "=" + stored;
    entry.section = section;
    entry.key = key;
    entry.value = value;
    entry.entry = true;

    size_t insertAt = m_lines.size();
    bool haveSection = false;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        Line& line = m_lines[i];
        if (line.entry && EqualNoCase(line.section, section) && EqualNoCase(line.key, key)) {
            entry.section = line.section;
            entry.key = line.key;
            entry.text = line.key + "=" + stored;
            line = entry;
            return true;
        }
        if (!haveSection && line.header && EqualNoCase(line.section, section)) {
            haveSection = true;
            insertAt = i + 1;
            entry.section = line.section;
        } else if (haveSection && insertAt == i && line.entry &&
                   EqualNoCase(line.section, section)) {
            insertAt = i + 1;  // after the last value of the first such section
        } else if (haveSection && insertAt == i && !line.header &&
                   EqualNoCase(line.section, section) && !Trim(line.text).empty()) {
            insertAt = i + 1;  // comments inside the section stay above new values
        }
    }
    if (!haveSection) {
        if (!m_lines.empty() && !Trim(m_lines.back().text).empty()) {
            Line blank;
            m_lines.push_back(blank);
        }
        Line header;
        header.text = "[" + section + "]";
        header.section = section;
        header.header = true;
        m_lines.push_back(header);
        m_lines.push_back(entry);
        return true;
    }
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
    return true;
}

}  // namespace platform
