#include "packager/rewrite/page_rewriter.h"

#include <cstring>

#include "packager/address/url_utils.h"
#include "packager/rewrite/css_rewriter.h"

// String 117 of the packager's string table.
const char* const kFooterText =
    "<p><b>This page has been grabbed for free using <a "
    "href=\"http://www.tarnwick.example/quillbox/\" target=\"Quillbox\">Quillbox "
    "Lite</a>!</b></p>\r\n";

namespace {

const char* const kProcessedMarkers[] = {
    "<!-- PreProcess Done -->",
    "<!-- scrapbook option=0 -->",
    "<!-- scrapbook option=1 -->",
    "<!-- scrapbook option=2 -->",
};

const char kProgressText[] = "Processing ... ";

template <size_t N>
bool EqualsNoCase(const std::string& a, const char (&b)[N]) {
    if (a.size() != N - 1) {
        return false;
    }
    for (size_t i = 0; i + 1 < N; ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// HasPrefix ignoring case, without making a string of the prefix.
template <size_t N>
bool StartsNoCase(const std::string& token, const char (&prefix)[N]) {
    if (token.size() <= N - 1) {
        return false;
    }
    for (size_t i = 0; i + 1 < N; ++i) {
        if (LowerAscii(token[i]) != LowerAscii(prefix[i])) {
            return false;
        }
    }
    return true;
}

// A scratch buffer kept between calls holds no more than this.
void ReleaseIfLarge(std::string& scratch) {
    if (scratch.capacity() > (1u << 20)) {
        std::string().swap(scratch);
    }
}

// Whether a token could match a rule of the attribute table: every rule's prefix starts with
// one of these letters and is at least five characters long with what follows it.
bool MightBeRewritten(const char* token, size_t length) {
    if (length < 5) {
        return false;
    }
    switch (LowerAscii(token[0])) {
        case 's':
        case 'h':
        case 'c':
        case 'b':
        case 'a':
        case 'o':
        case 'd':  // data-src, data-srcset
        case 'p':  // poster
            return true;
        default:
            return false;
    }
}

// The attribute value of a token: the text after its first "=", quotes stripped.
std::string ValueOf(const std::string& token) {
    size_t eq = token.find('=');
    std::string value = eq == std::string::npos ? std::string() : token.substr(eq + 1);
    CPageRewriter::StripQuotes(value);
    return value;
}

// The token rewritten as name="value". A double quote inside the value would end the
// attribute early and let the rest of the address inject attributes into the page, so it
// is written escaped.
void SetValue(std::string& token, const std::string& value) {
    size_t eq = token.find('=');
    std::string out = token.substr(0, eq + 1);
    out.reserve(out.size() + value.size() + 2);
    out += '"';
    for (char c : value) {
        if (c == '"') {
            out += "%22";
        } else {
            out += c;
        }
    }
    out += '"';
    token.swap(out);
}

}  // namespace

bool CPageRewriter::IsAlreadyProcessed(const std::string& text) {
    if (text.empty()) {
        return true;
    }
    std::string head = text.substr(0, 50);
    for (const char* marker : kProcessedMarkers) {
        if (FindTextNoCase(head, marker, 0) >= 0) {
            return true;
        }
    }
    return false;
}

void CPageRewriter::TightenEquals(std::string& text) {
    // Most tags have nothing to tighten: look before copying.
    bool bNeeded = false;
    for (size_t eq = text.find('='); eq != std::string::npos; eq = text.find('=', eq + 1)) {
        if ((eq > 0 && IsSpaceChar(text[eq - 1])) ||
            (eq + 1 < text.size() && IsSpaceChar(text[eq + 1]))) {
            bNeeded = true;
            break;
        }
    }
    if (!bNeeded) {
        return;
    }
    // One pass: white space before an "=" is taken back off the output, white space after it
    // is skipped.
    static thread_local std::string out;
    out.clear();
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i++];
        if (c != '=') {
            out += c;
            continue;
        }
        while (!out.empty() && IsSpaceChar(out.back())) {
            out.pop_back();
        }
        out += '=';
        while (i < text.size() && IsSpaceChar(text[i])) {
            ++i;
        }
    }
    text.swap(out);
    ReleaseIfLarge(out);
}

void CPageRewriter::StripQuotes(std::string& value) {
    value = TrimWhite(value);
    size_t n = 0;
    while (n < value.size() && (value[n] == '\'' || value[n] == '"')) {
        ++n;
    }
    if (n == 0) {
        return;
    }
    if (value.size() < 2 * n + 1) {
        value.clear();
    } else {
        value = value.substr(n, value.size() - 2 * n);
    }
}

namespace {

// What one page pass works with.
struct PageState {
    std::string& pageAddress;  // pictures, frames and CSS resolve against it
    std::string linkBase;      // links resolve against it (the page address, or empty)
    CLocalNames& names;
    CReferenceList& found;
    const CRewriteOptions& options;
};

// The address of a reference and its fragment, apart.
std::string WithoutFragment(const std::string& address) {
    size_t hash = address.find('#');
    return hash == std::string::npos ? address : address.substr(0, hash);
}

// The local name for a value, recorded in found; empty when it is not captured.
std::string Capture(PageState& page, const std::string& absolute, EntryKind kind) {
    std::string key = WithoutFragment(absolute);
    std::string local = page.names.NameFor(key, kind);
    if (!local.empty()) {
        page.found.push_back({kind, key, local});
    }
    return local;
}

// Where a reference is not captured it points at the web; a local page's stays as written.
void PointAtWeb(PageState& page, std::string& token, const std::string& absolute) {
    if (!page.options.bLinksAsWritten) {
        SetValue(token, absolute);
    }
}

void MakeAbsolute(const PageState& page, std::string& token) {
    std::string value = ValueOf(token);
    if (value.empty() || value[0] != '#') {
        value = CombineAddress(page.linkBase, value);
    }
    SetValue(token, value);
}

void SetBase(PageState& page, const std::string& token) {
    std::string value = ValueOf(token);
    page.pageAddress = CombineAddress(page.pageAddress, value);
    page.linkBase =
        page.options.bLinksAsWritten ? CombineAddress(page.linkBase, value) : page.pageAddress;
}

// Pictures, backgrounds, embedded files, stylesheets and frames: the value becomes the
// address's local name. An address that occurs several times has one name.
void AddResource(PageState& page, std::string& token, EntryKind kind) {
    std::string absolute = CombineAddress(page.pageAddress, ValueOf(token));
    std::string local = Capture(page, absolute, kind);
    if (local.empty()) {
        PointAtWeb(page, token, absolute);
    } else {
        SetValue(token, local);
    }
}

// Every candidate of a srcset gets its local name; descriptors stay.
void AddSrcset(PageState& page, std::string& token) {
    std::string out;
    for (const CPageRewriter::SrcsetCandidate& c : CPageRewriter::ParseSrcset(ValueOf(token))) {
        std::string target = c.strUrl;
        if (!StartsWithNoCase(c.strUrl, "data:")) {
            std::string absolute = CombineAddress(page.pageAddress, c.strUrl);
            std::string local = Capture(page, absolute, EntryKind::Picture);
            target = !local.empty() ? local : page.options.bLinksAsWritten ? c.strUrl : absolute;
        }
        if (!out.empty()) {
            out += ", ";
        }
        out += target;
        if (!c.strDescriptors.empty()) {
            out += ' ';
            out += c.strDescriptors;
        }
    }
    SetValue(token, out);
}

// A style attribute's text through the CSS pass. The new text needs double quotes inside
// (url("...")) only when it had them: it is then written in single quotes.
void AddStyle(PageState& page, std::string& token) {
    std::string css = ValueOf(token);
    size_t before = page.found.size();
    CCssContext context{page.pageAddress, page.names, page.found, true,
                        !page.options.bLinksAsWritten};
    std::string rewritten = RewriteCss(css, context);
    if (rewritten == css && page.found.size() == before) {
        return;
    }
    size_t eq = token.find('=');
    std::string out = token.substr(0, eq + 1);
    if (rewritten.find('"') != std::string::npos && rewritten.find('\'') == std::string::npos) {
        out += '\'' + rewritten + '\'';
    } else {
        out += '"';
        for (char c : rewritten) {
            if (c == '"') {
                out += "&quot;";
            } else {
                out += c;
            }
        }
        out += '"';
    }
    token.swap(out);
}

// What a tag's other attributes decide for one attribute: read before the tag is walked.
struct TagFacts {
    EntryKind linkKind = EntryKind::Other;  // LINK: what its HREF is
    bool bLinkCaptured = false;
    bool bPromoteSrc = false;     // IMG: data-src takes the place of a missing src
    bool bPromoteSrcset = false;  // IMG: data-srcset takes the place of srcset
};

// The trimmed, non-empty tokens of a tag text, cut as RewriteTag cuts them.
std::vector<std::string> Tokens(const std::string& text) {
    std::vector<std::string> tokens;
    bool bSingle = false, bDouble = false;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool bLast = i + 1 == text.size();
        const bool bSeparator = (c == ' ' || c == '\n' || c == '\t') && !bSingle && !bDouble;
        const bool bClosingQuote = (c == '\'' && bSingle) || (c == '"' && bDouble);
        if (bSeparator || bLast || bClosingQuote) {
            std::string token = TrimWhite(text.substr(start, i + 1 - start));
            if (!token.empty()) {
                tokens.push_back(token);
            }
            start = i + 1;
        }
        if (c == '\'' && !bDouble) {
            bSingle = !bSingle;
        } else if (c == '"' && !bSingle) {
            bDouble = !bDouble;
        }
    }
    return tokens;
}

TagFacts ReadTagFacts(const std::string& tagName, const std::string& text) {
    TagFacts facts;
    if (EqualsNoCase(tagName, "LINK")) {
        for (const std::string& token : Tokens(text)) {
            if (StartsNoCase(token, "rel=")) {
                std::string rel = ValueOf(token);
                if (CPageRewriter::RelHasToken(rel, "stylesheet")) {
                    facts.linkKind = EntryKind::Stylesheet;
                    facts.bLinkCaptured = true;
                } else if (CPageRewriter::RelHasToken(rel, "icon", true)) {
                    facts.linkKind = EntryKind::Picture;
                    facts.bLinkCaptured = true;
                }
            }
        }
    } else if (EqualsNoCase(tagName, "IMG")) {
        bool realSrc = false, dataSrc = false, dataSrcset = false;
        for (const std::string& token : Tokens(text)) {
            if (StartsNoCase(token, "src=")) {
                std::string value = ValueOf(token);
                realSrc = realSrc || (!value.empty() && !StartsWithNoCase(value, "data:"));
            } else if (StartsNoCase(token, "data-src=")) {
                dataSrc = true;
            } else if (StartsNoCase(token, "data-srcset=")) {
                dataSrcset = true;
            }
        }
        facts.bPromoteSrc = !realSrc && dataSrc;
        facts.bPromoteSrcset = !realSrc && dataSrcset;
    }
    return facts;
}

// The capture rules beyond the classic table; true when one applied.
bool RewriteModernAttribute(PageState& page, const std::string& tagName, const TagFacts& facts,
                            std::string& token) {
    auto is = [&tagName](const auto& name) { return EqualsNoCase(tagName, name); };
    auto starts = [&token](const auto& prefix) { return StartsNoCase(token, prefix); };
    if (is("IMG")) {
        if (starts("SRC=") && facts.bPromoteSrc) {
            token.clear();  // the placeholder gives way to the real picture
            return true;
        }
        if (starts("SRCSET=") && facts.bPromoteSrcset) {
            token.clear();
            return true;
        }
        if (starts("DATA-SRC=") && facts.bPromoteSrc) {
            token.erase(0, 5);
            AddResource(page, token, EntryKind::Picture);
            return true;
        }
        if (starts("DATA-SRCSET=") && facts.bPromoteSrcset) {
            token.erase(0, 5);
            AddSrcset(page, token);
            return true;
        }
    }
    if (starts("SRC=") && StartsWithNoCase(ValueOf(token), "data:")) {
        return true;  // the picture is in the page already
    }
    if ((is("IMG") || is("SOURCE")) && starts("SRCSET=")) {
        AddSrcset(page, token);
        return true;
    }
    if (is("VIDEO") && starts("POSTER=")) {
        AddResource(page, token, EntryKind::Picture);
        return true;
    }
    if (is("LINK") && facts.bLinkCaptured && starts("HREF=")) {
        AddResource(page, token, facts.linkKind);
        return true;
    }
    if (starts("STYLE=")) {
        AddStyle(page, token);
        return true;
    }
    return false;
}

void AddFrame(PageState& page, std::string& token) {
    AddResource(page, token, EntryKind::Frame);
}

void RewriteAttribute(PageState& page, const std::string& tagName, const TagFacts& facts,
                      std::string& token) {
    if (page.options.bKeepStyles && RewriteModernAttribute(page, tagName, facts, token)) {
        return;
    }
    auto is = [&tagName](const auto& name) { return EqualsNoCase(tagName, name); };
    auto starts = [&token](const auto& prefix) { return StartsNoCase(token, prefix); };
    if (is("IMG") && starts("SRC=")) {
        AddResource(page, token, EntryKind::Picture);
    } else if (is("BASE") && starts("HREF=")) {
        SetBase(page, token);
    } else if (starts("HREF=")) {
        MakeAbsolute(page, token);
    } else if (is("SCRIPT") && starts("SRC=")) {
        MakeAbsolute(page, token);
    } else if ((is("FRAME") || is("IFRAME")) && starts("SRC=")) {
        AddFrame(page, token);
    } else if (is("INPUT") && starts("SRC=")) {
        MakeAbsolute(page, token);
    } else if (is("APPLET") && starts("CODEBASE=")) {
        MakeAbsolute(page, token);
    } else if (is("BODY") && starts("BACKGROUND=")) {
        AddResource(page, token, EntryKind::Picture);
    } else if (is("FORM") && starts("ACTION=")) {
        MakeAbsolute(page, token);
    } else if (starts("SRC=")) {
        AddResource(page, token, EntryKind::Other);
    } else if (starts("onmouse") || starts("onload=")) {
        token.clear();
    }
}

void RewriteTag(PageState& page, std::string& name, std::string& text) {
    name.clear();
    // The output buffer is swapped with the tag text at the end; keeping it between calls
    // lets the page pass run without an allocation per tag.
    static thread_local std::string out;
    out.clear();
    out.reserve(text.size() + 16);
    bool bSingle = false;
    bool bDouble = false;
    bool bSeen = false;
    TagFacts facts;
    size_t tokenStart = 0;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = text[i];
        const bool bLast = i + 1 == n;
        const bool bSeparator = (c == ' ' || c == '\n' || c == '\t') && !bSingle && !bDouble;
        const bool bClosingQuote = (c == '\'' && bSingle) || (c == '"' && bDouble);
        if (bSeparator || bLast || bClosingQuote) {
            size_t a = tokenStart;
            size_t b = i + 1;
            while (b > a && IsSpaceChar(text[b - 1])) {
                --b;
            }
            while (a < b && IsSpaceChar(text[a])) {
                ++a;
            }
            if (!bSeen) {
                name.assign(text, a, b - a);
                bSeen = true;
                if (page.options.bKeepStyles) {
                    facts = ReadTagFacts(name, text);
                }
            }
            if (MightBeRewritten(text.data() + a, b - a)) {
                std::string token(text, a, b - a);
                RewriteAttribute(page, name, facts, token);
                out += token;
            } else {
                out.append(text, a, b - a);
            }
            if (!bLast) {
                out += bSeparator ? c : ' ';
            }
            tokenStart = i + 1;
        }
        if (c == '\'' && !bDouble) {
            bSingle = !bSingle;
        } else if (c == '"' && !bSingle) {
            bDouble = !bDouble;
        }
    }
    if (EqualsNoCase(name, "APPLET") && FindTextNoCase(out, "CODEBASE=", 0) < 0) {
        out += " CODEBASE=";
        out += page.linkBase;
    }
    text.swap(out);
    ReleaseIfLarge(out);
}

}  // namespace

std::vector<CPageRewriter::SrcsetCandidate> CPageRewriter::ParseSrcset(const std::string& value) {
    std::vector<SrcsetCandidate> out;
    const size_t n = value.size();
    size_t i = 0;
    for (;;) {
        while (i < n && (IsSpaceChar(value[i]) || value[i] == ',')) {
            ++i;
        }
        if (i >= n) {
            return out;
        }
        size_t start = i;
        while (i < n && !IsSpaceChar(value[i])) {
            ++i;
        }
        SrcsetCandidate candidate;
        candidate.strUrl = value.substr(start, i - start);
        if (!candidate.strUrl.empty() && candidate.strUrl.back() == ',') {
            // Commas at the end of an address end the candidate: it has no descriptors.
            while (!candidate.strUrl.empty() && candidate.strUrl.back() == ',') {
                candidate.strUrl.pop_back();
            }
        } else {
            // Descriptors run to the next comma outside parentheses.
            size_t from = i;
            int depth = 0;
            while (i < n && (value[i] != ',' || depth > 0)) {
                if (value[i] == '(') {
                    ++depth;
                } else if (value[i] == ')' && depth > 0) {
                    --depth;
                }
                ++i;
            }
            candidate.strDescriptors = TrimWhite(value.substr(from, i - from));
        }
        if (!candidate.strUrl.empty()) {
            out.push_back(candidate);
        }
    }
}

bool CPageRewriter::RelHasToken(const std::string& rel, const char* token, bool partial) {
    std::string lower;
    for (char c : rel) {
        lower += LowerAscii(c);
    }
    size_t i = 0;
    while (i < lower.size()) {
        while (i < lower.size() && IsSpaceChar(lower[i])) {
            ++i;
        }
        size_t start = i;
        while (i < lower.size() && !IsSpaceChar(lower[i])) {
            ++i;
        }
        std::string word = lower.substr(start, i - start);
        if (word.empty()) {
            continue;
        }
        if (partial ? word.find(token) != std::string::npos : word == token) {
            return true;
        }
    }
    return false;
}

bool CPageRewriter::ProcessPage(std::string& pageAddress, std::string& text, CLocalNames& names,
                                CReferenceList& found, CGrabProgress& progress,
                                const CRewriteOptions& options) const {
    if (IsAlreadyProcessed(text)) {
        return true;
    }
    PageState page{pageAddress, options.bLinksAsWritten ? std::string() : pageAddress, names, found,
                   options};

    // The input is read through one position; nothing is ever erased from its front.
    const std::string rest = std::move(text);
    text.clear();
    text.reserve(rest.size() + rest.size() / 8 + 256);
    const std::string footer = kFooterText;
    size_t pos = 0;
    // Once a search for a closing script tag has failed, every later one from further on
    // would fail too: remembering that keeps pages full of unclosed scripts linear.
    bool bNoScriptEnd = false;
    bool bNoStyleEnd = false;
    std::string tag;
    std::string name;
    for (;;) {
        size_t open = rest.find('<', pos);
        if (open == std::string::npos) {
            text.append(rest, pos, std::string::npos);
            return true;
        }
        const bool bComment = rest.compare(open + 1, 3, "!--") == 0;
        size_t end;
        if (bComment) {
            size_t dashes = rest.find("-->", open + 1);
            end = dashes == std::string::npos ? std::string::npos : dashes + 2;
        } else {
            end = rest.find('>', open + 1);
        }
        if (end == std::string::npos) {
            // A tag or comment that never ends: the rest of the page stays as it is.
            text.append(rest, pos, std::string::npos);
            return true;
        }
        text.append(rest, pos, open - pos);
        tag.assign(rest, open + 1, end - open - 1);
        pos = end + 1;

        name.clear();
        if (!bComment) {
            TightenEquals(tag);
            RewriteTag(page, name, tag);
        }
        if (EqualsNoCase(name, "SCRIPT")) {
            if (!bNoScriptEnd) {
                int close = FindTextNoCase(rest, "</SCRIPT>", static_cast<int>(pos));
                if (close >= 0) {
                    pos = static_cast<size_t>(close) + 9;
                } else {
                    bNoScriptEnd = true;
                }
            }
        } else if (options.bKeepStyles && EqualsNoCase(name, "STYLE")) {
            // The element's text is CSS: it goes through the CSS pass whole (a "<" in it is
            // not a tag).
            text += '<';
            text += tag;
            text += '>';
            int close = bNoStyleEnd ? -1 : FindTextNoCase(rest, "</STYLE", static_cast<int>(pos));
            if (close >= 0) {
                CCssContext context{pageAddress, names, found, true, !options.bLinksAsWritten};
                text += RewriteCss(rest.substr(pos, static_cast<size_t>(close) - pos), context);
                pos = static_cast<size_t>(close);
            } else {
                bNoStyleEnd = true;
            }
        } else if (EqualsNoCase(name, "/BODY")) {
            text += footer;
            text += '<';
            text += name;
            text += '>';
        } else if (EqualsNoCase(name, "BASE") || EqualsNoCase(name, "NOSCRIPT") ||
                   EqualsNoCase(name, "/NOSCRIPT")) {
            // dropped
        } else {
            text += '<';
            text += tag;
            text += '>';
        }

        const uint64_t done = text.size();
        const uint64_t total = done + (rest.size() - pos);
        const int32_t position = total == 0 ? 100 : static_cast<int32_t>(done * 100 / total);
        if (progress.Report(kProgressText, position) == 0) {
            return false;
        }
    }
}
