#include "packager/output/page_file_output.h"

#include <cctype>
#include <set>

#include "packager/fetch/grab_job.h"
#include "packager/output/output_files.h"
#include "packager/rewrite/css_rewriter.h"
#include "packager/rewrite/page_rewriter.h"
#include "platform/trace.h"

bool CPageFileOutput::Begin(const std::string& outputPath) {
    Abort();
    m_strOutputPath = outputPath;
    return !outputPath.empty();
}

bool CPageFileOutput::AddFile(const std::string& captureName, const std::string& sourcePath) {
    if (m_strOutputPath.empty() || !IsSafeCaptureName(captureName) || m_sources.count(captureName))
        return false;
    m_sources.emplace(captureName, sourcePath);
    m_order.push_back(captureName);
    return true;
}

bool CPageFileOutput::MarkMainPage(const std::string& captureName) {
    if (!m_sources.count(captureName))
        return false;
    m_strMainPage = captureName;
    return true;
}

bool CPageFileOutput::Finish() {
    std::string out;
    bool ok = !m_strMainPage.empty() && Render(out) && PutFileInPlace(m_strOutputPath, out);
    Abort();
    if (!ok)
        ShowWriteFailure();
    return ok;
}

void CPageFileOutput::Abort() {
    m_strOutputPath.clear();
    m_strMainPage.clear();
    m_order.clear();
    m_sources.clear();
}

namespace {

// Where the capture's names are placed while its pages and stylesheets are read again:
// a reference to a captured file resolves to this address plus the file's name.
constexpr const char kInlineBase[] = "http://capture.quillbox.invalid/";

class CNoProgress : public CGrabProgress {
  public:
    int Report(const std::string&, int32_t) override { return 1; }
};

// Puts every captured file that a page or stylesheet refers to inside it as a data: address,
// made from the file once; pages and stylesheets are inlined in turn before they are
// encoded. A file that refers back to one being inlined gets an empty document instead
// (browsers end such a cycle too).
//
// The passes are not re-entrant (they keep scratch text per thread), so a pass never waits
// for the file it names: it is handed a placeholder, and the placeholders are replaced once
// the pass is over.
class CInliner : public CLocalNames {
  public:
    CInliner(const std::map<std::string, std::string>& sources, CGrabProgress& progress)
        : m_sources(sources), m_progress(progress) {}

    std::string NameFor(const std::string& absoluteAddress, EntryKind kind) override {
        if (absoluteAddress.compare(0, sizeof(kInlineBase) - 1, kInlineBase) != 0)
            return std::string();  // on the web: it stays there
        std::string name = absoluteAddress.substr(sizeof(kInlineBase) - 1);
        // A file of the capture's folder that is not in the capture (it could not be
        // fetched) is missing from the unpacked folder too: an empty document shows the
        // same, and the file refers to nothing beside it.
        if (!m_sources.count(name))
            return EmptyDocument(kind);
        m_slots.push_back({name, kind});
        return kPlaceholder + std::to_string(m_slots.size() - 1) + "-";
    }

    // The page text of capture file `name` with every captured file it shows inside it.
    // False when the watcher stopped it.
    bool InlinePage(const std::string& name, std::string& text) {
        m_open.insert(name);
        // The pass adds the footer before each closing body tag once more: the one the
        // first pass added goes first.
        const std::string footer = kFooterText;
        for (size_t at = text.find(footer); at != std::string::npos; at = text.find(footer, at))
            text.erase(at, footer.size());
        std::string address = kInlineBase + name;
        CReferenceList found;
        CRewriteOptions options;
        options.bKeepStyles = true;
        // Everything that is not a captured file stays as the first pass wrote it.
        options.bLinksAsWritten = true;
        bool ok = CPageRewriter().ProcessPage(address, text, *this, found, m_progress, options);
        ok = ok && Resolve(text);
        m_open.erase(name);
        return ok;
    }

  private:
    struct Slot {
        std::string strName;
        EntryKind kind;
    };

    static std::string EmptyDocument(EntryKind kind) {
        switch (kind) {
            case EntryKind::Stylesheet:
                return "data:text/css,";
            case EntryKind::Page:
            case EntryKind::Frame:
                return "about:blank";
            default:
                return "data:,";
        }
    }

    // Replaces every placeholder in text by the data: address of its file.
    bool Resolve(std::string& text) {
        const std::string prefix = kPlaceholder;
        std::string out;
        size_t from = 0;
        for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, from)) {
            size_t digits = at + prefix.size();
            size_t end = text.find('-', digits);
            size_t slot = m_slots.size();
            if (end != std::string::npos && end > digits && end - digits < 10 &&
                text.find_first_not_of("0123456789", digits) == end)
                slot = std::stoul(text.substr(digits, end - digits));
            out.append(text, from, at - from);
            if (slot >= m_slots.size()) {
                out += prefix;  // page text that merely looks like one
                from = digits;
                continue;
            }
            Slot s = m_slots[slot];
            std::string data;
            if (!Inline(s.strName, s.kind, data))
                return false;
            out += data;
            from = end + 1;
        }
        out.append(text, from, std::string::npos);
        text.swap(out);
        return true;
    }

    // The data: address of a captured file; false when the watcher stopped the work.
    bool Inline(const std::string& name, EntryKind kind, std::string& data) {
        auto cached = m_cache.find(name);
        if (cached != m_cache.end()) {
            data = cached->second;
            return true;
        }
        if (m_open.count(name)) {
            data = EmptyDocument(kind);
            return true;
        }
        std::string bytes;
        if (!ReadWholeFile(m_sources.at(name), bytes)) {
            platform::Trace("Cannot read %s\n", m_sources.at(name).c_str());
            data = EmptyDocument(kind);
            return true;
        }
        std::string type = MediaTypeOf(name, bytes);
        if (kind == EntryKind::Stylesheet) {
            type = "text/css";
            m_open.insert(name);
            CReferenceList found;
            CCssContext context{kInlineBase + name, *this, found, true, false};
            bytes = RewriteCss(bytes, context);
            bool ok = Resolve(bytes);
            m_open.erase(name);
            if (!ok)
                return false;
        } else if (kind == EntryKind::Frame || kind == EntryKind::Page) {
            type = "text/html";
            if (!InlinePage(name, bytes))
                return false;
        }
        data = m_cache[name] = DataAddress(type, bytes);
        return true;
    }

    // What a pass writes where a captured file's address is to go.
    static constexpr const char* kPlaceholder = "qb-inline-8d1c4-";

    const std::map<std::string, std::string>& m_sources;
    CGrabProgress& m_progress;
    std::vector<Slot> m_slots;
    std::map<std::string, std::string> m_cache;
    std::set<std::string> m_open;
};

constexpr const char kBoundary[] = "----=_QuillboxPart_0_capture";

// A capture name as the last segment of an address: what is not plainly safe there is
// percent-encoded (a local page keeps its own file name, which may hold a blank).
std::string AddressSegment(const std::string& name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '.' || c == '_' || c == '-' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

void AppendBase64Lines(std::string& out, const std::string& bytes) {
    std::string encoded = Base64(bytes);
    for (size_t at = 0; at < encoded.size(); at += 76) {
        out.append(encoded, at, 76);
        out += "\r\n";
    }
}

}  // namespace

bool CSingleHtmlOutput::Render(std::string& out) {
    CNoProgress quiet;
    CInliner inliner(m_sources, m_pProgress ? *m_pProgress : quiet);
    if (!ReadWholeFile(m_sources.at(m_strMainPage), out))
        return false;
    return inliner.InlinePage(m_strMainPage, out);
}

const char* const CWebArchiveOutput::kBase = kInlineBase;

bool CWebArchiveOutput::Render(std::string& out) {
    out =
        "From: <Saved by Quillbox>\r\n"
        "Snapshot-Content-Location: " +
        std::string(kBase) + AddressSegment(m_strMainPage) +
        "\r\n"
        "Subject: " +
        m_strMainPage +
        "\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: multipart/related;\r\n"
        "\ttype=\"text/html\";\r\n"
        "\tboundary=\"" +
        kBoundary + "\"\r\n\r\n";
    std::vector<std::string> order{m_strMainPage};
    for (const std::string& name : m_order) {
        if (name != m_strMainPage)
            order.push_back(name);
    }
    for (const std::string& name : order) {
        std::string bytes;
        if (!ReadWholeFile(m_sources.at(name), bytes))
            return false;
        // Pages and stylesheets are read as what their names say they are, as from the
        // unpacked folder.
        std::string type = MediaTypeOf(name, bytes);
        out += std::string("--") + kBoundary + "\r\n";
        out += "Content-Type: " + type + "\r\n";
        out += "Content-Transfer-Encoding: base64\r\n";
        out += "Content-Location: " + std::string(kBase) + AddressSegment(name) + "\r\n\r\n";
        AppendBase64Lines(out, bytes);
        out += "\r\n";
    }
    out += std::string("--") + kBoundary + "--\r\n";
    return true;
}
