#include "packager/rewrite/css_rewriter.h"

#include <cstring>

#include "packager/address/url_utils.h"

namespace {

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
    return c <= '9' ? c - '0' : LowerAscii(c) - 'a' + 10;
}

// Letters, digits, "-", "_", escapes and anything beyond ASCII continue a CSS name: "xurl("
// is another function, not url().
bool IsNameChar(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '\\' || u >= 0x80;
}

bool MatchesNoCase(const std::string& text, size_t at, const char* word) {
    size_t n = std::strlen(word);
    if (at + n > text.size()) {
        return false;
    }
    for (size_t k = 0; k < n; ++k) {
        if (LowerAscii(text[at + k]) != word[k]) {
            return false;
        }
    }
    return true;
}

void AppendUtf8(std::string& out, unsigned long cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The end of a string that opens at `open` (the index after its closing quote), or npos
// when a line break or the end of the text comes first.
size_t StringEnd(const std::string& css, size_t open) {
    const char quote = css[open];
    for (size_t j = open + 1; j < css.size(); ++j) {
        char c = css[j];
        if (c == '\\') {
            ++j;
        } else if (c == quote) {
            return j + 1;
        } else if (c == '\n' || c == '\r' || c == '\f') {
            return std::string::npos;
        }
    }
    return std::string::npos;
}

bool IsFontAddress(const std::string& address) {
    std::string path = address.substr(0, address.find('?'));
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) {
        return false;
    }
    std::string ext;
    for (size_t k = dot + 1; k < path.size(); ++k) {
        ext += LowerAscii(path[k]);
    }
    return ext == "woff" || ext == "woff2" || ext == "ttf" || ext == "otf" || ext == "eot";
}

std::string QuotedString(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n' || c == '\r' || c == '\f') {
            out += "\\a ";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A name written into url() without quotes when it needs none.
std::string UrlToken(const std::string& value) {
    bool plain = !value.empty();
    for (char c : value) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              std::strchr("._~-#", c) != nullptr)) {
            plain = false;
            break;
        }
    }
    if (plain) {
        return "url(" + value + ")";
    }
    return "url(" + QuotedString(value) + ")";
}

class CCssScanner {
  public:
    CCssScanner(const std::string& css, const CCssContext& context) : m_css(css), m_ctx(context) {}

    std::string Run() {
        const std::string& css = m_css;
        const size_t n = css.size();
        m_out.reserve(n + n / 8);
        size_t i = 0;
        while (i < n) {
            const char c = css[i];
            if (c == '/' && i + 1 < n && css[i + 1] == '*') {
                size_t end = css.find("*/", i + 2);
                i = end == std::string::npos ? n : end + 2;
            } else if (c == '"' || c == '\'') {
                size_t end = StringEnd(css, i);
                if (end == std::string::npos) {
                    // A bad string runs to the end of its line; nothing in it is a reference.
                    size_t eol = css.find_first_of("\r\n\f", i + 1);
                    i = eol == std::string::npos ? n : eol;
                    continue;
                }
                if (m_bImport) {
                    m_bImport = false;
                    Replace(i, end, css.substr(i + 1, end - i - 2), true, true);
                }
                i = end;
            } else if (c == '\\') {
                i += 2;
            } else if (c == '@') {
                if (MatchesNoCase(css, i + 1, "import") &&
                    (i + 7 >= n || !IsNameChar(css[i + 7]))) {
                    m_bImport = true;
                    i += 7;
                } else if (MatchesNoCase(css, i + 1, "font-face") &&
                           (i + 10 >= n || !IsNameChar(css[i + 10]))) {
                    m_nFontFaceDepth = m_nDepth + 1;
                    i += 10;
                } else {
                    ++i;
                }
            } else if (c == '{') {
                m_bImport = false;
                ++m_nDepth;
                ++i;
            } else if (c == '}') {
                if (m_nDepth > 0 && m_nDepth-- == m_nFontFaceDepth) {
                    m_nFontFaceDepth = 0;
                }
                ++i;
            } else if (c == ';') {
                m_bImport = false;
                ++i;
            } else if ((c == 'u' || c == 'U') && MatchesNoCase(css, i, "url(") &&
                       (i == 0 || !IsNameChar(css[i - 1]))) {
                i = Url(i);
            } else {
                ++i;
            }
        }
        m_out.append(css, m_nCopied, n - m_nCopied);
        return std::move(m_out);
    }

  private:
    // Reads url( at `at`; rewrites it when it is a whole, readable reference. Returns where
    // the scan goes on.
    size_t Url(size_t at) {
        const std::string& css = m_css;
        const size_t n = css.size();
        size_t j = at + 4;
        while (j < n && IsSpaceChar(css[j])) {
            ++j;
        }
        std::string raw;
        if (j < n && (css[j] == '"' || css[j] == '\'')) {
            size_t end = StringEnd(css, j);
            if (end == std::string::npos) {
                return at + 4;  // the string rule reads the rest
            }
            raw = css.substr(j + 1, end - j - 2);
            j = end;
            while (j < n && IsSpaceChar(css[j])) {
                ++j;
            }
            if (j >= n || css[j] != ')') {
                return at + 4;
            }
        } else {
            size_t k = j;
            while (k < n && css[k] != ')') {
                char c = css[k];
                if (c == '\\') {
                    if (k + 1 >= n || css[k + 1] == '\n') {
                        return at + 4;
                    }
                    k += 2;
                    continue;
                }
                if (IsSpaceChar(c)) {
                    size_t w = k;
                    while (w < n && IsSpaceChar(css[w])) {
                        ++w;
                    }
                    if (w >= n || css[w] != ')') {
                        return at + 4;
                    }
                    raw = css.substr(j, k - j);
                    k = w;
                    break;
                }
                if (c == '"' || c == '\'' || c == '(' || static_cast<unsigned char>(c) < 0x20) {
                    return at + 4;
                }
                ++k;
            }
            if (k >= n) {
                return at + 4;
            }
            if (raw.empty()) {
                raw = css.substr(j, k - j);
            }
            j = k;
        }
        const bool import = m_bImport;
        m_bImport = false;
        Replace(at, j + 1, raw, false, import);
        return j + 1;
    }

    // Rewrites css[from, to) (a url() or an @import string) whose raw value is `raw`.
    void Replace(size_t from, size_t to, const std::string& raw, bool isString, bool import) {
        std::string value = TrimWhite(UnescapeCss(raw));
        if (value.empty() || value[0] == '#' || StartsWithNoCase(value, "data:")) {
            return;
        }
        std::string absolute = CombineAddress(m_ctx.strBase, value);
        if (absolute.empty()) {
            return;
        }
        std::string fragment;
        size_t hash = absolute.find('#');
        if (hash != std::string::npos) {
            fragment = absolute.substr(hash);
            absolute.erase(hash);
        }
        const bool stylesheet = isString || import;
        EntryKind kind = stylesheet ? EntryKind::Stylesheet
                         : (m_nFontFaceDepth != 0 || IsFontAddress(absolute)) ? EntryKind::Font
                                                                              : EntryKind::Picture;
        std::string name;
        if (!stylesheet || m_ctx.bImports) {
            name = m_ctx.names.NameFor(absolute, kind);
        }
        std::string target;
        if (!name.empty()) {
            m_ctx.found.push_back({kind, absolute, name});
            target = name + fragment;
        } else if (m_ctx.bAbsoluteFallback) {
            target = absolute + fragment;
        } else {
            return;
        }
        m_out.append(m_css, m_nCopied, from - m_nCopied);
        m_out += isString ? QuotedString(target) : UrlToken(target);
        m_nCopied = to;
    }

    const std::string& m_css;
    const CCssContext& m_ctx;
    std::string m_out;
    size_t m_nCopied = 0;
    bool m_bImport = false;
    int m_nDepth = 0;
    int m_nFontFaceDepth = 0;
};

}  // namespace

std::string UnescapeCss(const std::string& text) {
    if (text.find('\\') == std::string::npos) {
        return text;
    }
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 1 >= text.size()) {
            break;
        }
        char next = text[i + 1];
        if (IsHex(next)) {
            unsigned long cp = 0;
            size_t k = i + 1;
            for (int digits = 0; digits < 6 && k < text.size() && IsHex(text[k]); ++digits, ++k) {
                cp = cp * 16 + static_cast<unsigned long>(HexValue(text[k]));
            }
            if (k < text.size() && IsSpaceChar(text[k])) {
                if (text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n') {
                    ++k;
                }
                ++k;
            }
            AppendUtf8(out, cp);
            i = k - 1;
        } else if (next == '\n' || next == '\f') {
            ++i;  // an escaped line break continues the string
        } else if (next == '\r') {
            i += (i + 2 < text.size() && text[i + 2] == '\n') ? 2 : 1;
        } else {
            out += next;
            ++i;
        }
    }
    return out;
}

std::string RewriteCss(const std::string& css, const CCssContext& context) {
    return CCssScanner(css, context).Run();
}
