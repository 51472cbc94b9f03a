#include "packager/rewrite/page_rewriter.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "packager/fetch/url_utils.h"
#include "platform/files.h"

// String 117 of the packager's string table.
const char* const kFooterText =
    "<p><b>This page has been grabbed for free using <a "
    "href=\"http://www.tarnwick.example/quillbox/\" target=\"Quillbox\">Quillbox "
    "Lite</a>!</b></p>\r\n";

namespace {

std::atomic<uint32_t> g_nNameCounter{0};

const char* const kProcessedMarkers[] = {
    "<!-- PreProcess Done -->",
    "<!-- scrapbook option=0 -->",
    "<!-- scrapbook option=1 -->",
    "<!-- scrapbook option=2 -->",
};

const char kProgressText[] = "Processing ... ";

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

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
            return true;
        default:
            return false;
    }
}

void Trim(std::string& text) {
    size_t end = text.size();
    while (end > 0 && IsSpace(text[end - 1])) {
        --end;
    }
    size_t start = 0;
    while (start < end && IsSpace(text[start])) {
        ++start;
    }
    if (start > 0 || end < text.size()) {
        text = text.substr(start, end - start);
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

// File-name part of a local path.
std::string BaseName(const std::string& path) {
    size_t sep = path.find_last_of("/\\");
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

// Characters that may not stand in a file name (or would leave the work folder).
bool IsUnsafeNameChar(char c) {
    return static_cast<unsigned char>(c) < 0x20 || std::strchr("\\/:*?\"<>|#", c) != nullptr;
}

}  // namespace

uint32_t CPageRewriter::GetNameCounter() {
    return g_nNameCounter.load();
}

void CPageRewriter::SetNameCounter(uint32_t value) {
    ForgetNameNumbers();
    g_nNameCounter.store(value);
}

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
        if ((eq > 0 && IsSpace(text[eq - 1])) || (eq + 1 < text.size() && IsSpace(text[eq + 1]))) {
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
        while (!out.empty() && IsSpace(out.back())) {
            out.pop_back();
        }
        out += '=';
        while (i < text.size() && IsSpace(text[i])) {
            ++i;
        }
    }
    text.swap(out);
    ReleaseIfLarge(out);
}

void CPageRewriter::StripQuotes(std::string& value) {
    Trim(value);
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

std::string CPageRewriter::MakeLocalName(const std::string& absoluteAddress) {
    // Numbers already given to other names of the run are passed over, so that no two
    // names of a grab share a stem (the counter still moves on by one per name made).
    uint32_t counter = g_nNameCounter.fetch_add(1);
    for (int skips = 0; counter != 0 && !ClaimNameNumber(counter) && skips < 0x10000; ++skips)
        counter = g_nNameCounter.fetch_add(1);
    std::string name;
    if (counter != 0) {
        // The temporary-name scheme with a number given: the prefix and the number's low
        // 16 bits in hexadecimal; no file is made.
        char digits[8];
        std::snprintf(digits, sizeof(digits), "%X", static_cast<unsigned>(counter & 0xFFFF));
        name = std::string("QBT") + digits;
    } else if (!MakeFreshNameStem(name)) {
        name.clear();
    }
    if (name.empty()) {
        std::string fallback(absoluteAddress);
        for (char& c : fallback) {
            if (c == ':' || c == '/' || c == '\\' || c == '?' || c == '%' || IsUnsafeNameChar(c)) {
                c = '_';
            }
        }
        return fallback;
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
            std::string extension = last.substr(dot);
            // The extension ends at the first character that cannot stand in a file name,
            // so an address cannot steer the file out of the work folder.
            size_t bad = 0;
            while (bad < extension.size() && !IsUnsafeNameChar(extension[bad])) {
                ++bad;
            }
            name += extension.substr(0, bad);
        }
    }
    return name;
}

void CPageRewriter::MakeAbsolute(const std::string& pageAddress, std::string& token) {
    std::string value = ValueOf(token);
    if (value.empty() || value[0] != '#') {
        value = CombineAddress(pageAddress, value);
    }
    SetValue(token, value);
}

void CPageRewriter::SetBase(std::string& pageAddress, const std::string& token) {
    pageAddress = CombineAddress(pageAddress, ValueOf(token));
}

void CPageRewriter::AddResource(std::string& token, const std::string& pageAddress,
                                CStringList& lstResources, CStringArray& arrResourceNames) {
    std::string absolute = CombineAddress(pageAddress, ValueOf(token));
    std::string local = MakeLocalName(absolute);
    SetValue(token, local);
    try {
        lstResources.push_back(absolute);
        try {
            arrResourceNames.push_back(local);
        } catch (const std::bad_alloc&) {
            lstResources.pop_back();  // the two lists stay the same length
        }
    } catch (const std::bad_alloc&) {
    }
}

void CPageRewriter::AddFrame(std::string& token, const std::string& pageAddress,
                             const std::string& folder, CStringList& lstFrames,
                             CStringList& lstFramePaths, CFrameMap* pQueuedFrames) {
    std::string absolute = CombineAddress(pageAddress, ValueOf(token));
    // A page already queued (now or earlier in the grab) keeps the name it was queued under:
    // that is the file that gets saved, and queueing it again would never end on a cycle.
    if (pQueuedFrames != nullptr) {
        auto it = pQueuedFrames->find(absolute);
        if (it != pQueuedFrames->end()) {
            SetValue(token, it->second);
            return;
        }
    } else {
        for (size_t i = 0; i < lstFrames.size(); ++i) {
            if (lstFrames[i] == absolute) {
                SetValue(token, BaseName(lstFramePaths[i]));
                return;
            }
        }
    }
    std::string local = MakeLocalName(absolute);
    SetValue(token, local);
    try {
        lstFrames.push_back(absolute);
        try {
            lstFramePaths.push_back(platform::JoinPath(folder, local));
        } catch (const std::bad_alloc&) {
            lstFrames.pop_back();
            return;
        }
        if (pQueuedFrames != nullptr) {
            pQueuedFrames->emplace(absolute, local);
        }
    } catch (const std::bad_alloc&) {
    }
}

void CPageRewriter::RewriteAttribute(const std::string& tagName, std::string& token,
                                     std::string& pageAddress, const Targets& targets) const {
    auto is = [&tagName](const auto& name) { return EqualsNoCase(tagName, name); };
    auto starts = [&token](const auto& prefix) { return StartsNoCase(token, prefix); };
    if (is("IMG") && starts("SRC=")) {
        AddResource(token, pageAddress, targets.lstResources, targets.arrResourceNames);
    } else if (is("BASE") && starts("HREF=")) {
        SetBase(pageAddress, token);
    } else if (starts("HREF=")) {
        MakeAbsolute(pageAddress, token);
    } else if (is("SCRIPT") && starts("SRC=")) {
        MakeAbsolute(pageAddress, token);
    } else if ((is("FRAME") || is("IFRAME")) && starts("SRC=")) {
        AddFrame(token, pageAddress, targets.strFolder, targets.lstFrames, targets.lstFramePaths,
                 targets.pQueuedFrames);
    } else if (is("INPUT") && starts("SRC=")) {
        MakeAbsolute(pageAddress, token);
    } else if (is("APPLET") && starts("CODEBASE=")) {
        MakeAbsolute(pageAddress, token);
    } else if (is("BODY") && starts("BACKGROUND=")) {
        AddResource(token, pageAddress, targets.lstResources, targets.arrResourceNames);
    } else if (is("FORM") && starts("ACTION=")) {
        MakeAbsolute(pageAddress, token);
    } else if (starts("SRC=")) {
        AddResource(token, pageAddress, targets.lstResources, targets.arrResourceNames);
    } else if (starts("onmouse") || starts("onload=")) {
        token.clear();
    }
}

void CPageRewriter::RewriteTag(std::string& name, std::string& text, std::string& pageAddress,
                               const Targets& targets) const {
    name.clear();
    // The output buffer is swapped with the tag text at the end; keeping it between calls
    // lets the page pass run without an allocation per tag.
    static thread_local std::string out;
    out.clear();
    out.reserve(text.size() + 16);
    bool bSingle = false;
    bool bDouble = false;
    bool bSeen = false;
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
            while (b > a && IsSpace(text[b - 1])) {
                --b;
            }
            while (a < b && IsSpace(text[a])) {
                ++a;
            }
            if (!bSeen) {
                name.assign(text, a, b - a);
                bSeen = true;
            }
            if (MightBeRewritten(text.data() + a, b - a)) {
                std::string token(text, a, b - a);
                RewriteAttribute(name, token, pageAddress, targets);
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
        out += pageAddress;
    }
    text.swap(out);
    ReleaseIfLarge(out);
}

bool CPageRewriter::ProcessPage(std::string& pageAddress, std::string& text,
                                const std::string& folder, CStringList& lstFrames,
                                CStringList& lstFramePaths, CStringList& lstResources,
                                CStringArray& arrResourceNames, const GrabJob& job,
                                CFrameMap* pQueuedFrames) const {
    if (IsAlreadyProcessed(text)) {
        return true;
    }
    // Frames already waiting count as queued; a caller without a map of its own gets one for
    // this page, so that looking a frame up never walks the whole queue.
    CFrameMap localFrames;
    CFrameMap* pFrames = pQueuedFrames != nullptr ? pQueuedFrames : &localFrames;
    for (size_t i = 0; i < lstFrames.size() && i < lstFramePaths.size(); ++i) {
        pFrames->emplace(lstFrames[i], BaseName(lstFramePaths[i]));
    }
    const Targets targets{folder,       lstFrames,        lstFramePaths,
                          lstResources, arrResourceNames, pFrames};

    // The input is read through one position; nothing is ever erased from its front.
    const std::string rest = std::move(text);
    text.clear();
    text.reserve(rest.size() + rest.size() / 8 + 256);
    const std::string footer = kFooterText;
    size_t pos = 0;
    // Once a search for a closing script tag has failed, every later one from further on
    // would fail too: remembering that keeps pages full of unclosed scripts linear.
    bool bNoScriptEnd = false;
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
            RewriteTag(name, tag, pageAddress, targets);
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
        if (ReportProgress(job, kProgressText, position) == 0) {
            return false;
        }
    }
}
