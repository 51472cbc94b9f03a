#include "packager/fetch/grab_plan.h"

namespace {

std::string Count(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

const char* EntryKindName(EntryKind kind) {
    switch (kind) {
        case EntryKind::Page:
            return "page";
        case EntryKind::Frame:
            return "frame";
        case EntryKind::Picture:
            return "picture";
        case EntryKind::Stylesheet:
            return "stylesheet";
        case EntryKind::Font:
            return "font";
        case EntryKind::Other:
            break;
    }
    return "file";
}

void CGrabPlan::Reset() {
    m_entries.clear();
    m_index.clear();
    m_namer = CLocalNamer();
    m_bTooMany = false;
    m_bFontFilter = false;
    m_usedFonts.clear();
}

void CGrabPlan::KeepOnlyFonts(const std::vector<std::string>& addresses) {
    m_bFontFilter = true;
    m_usedFonts.insert(addresses.begin(), addresses.end());
}

size_t CGrabPlan::AddMainPage(const std::string& address, const std::string& name) {
    CGrabEntry entry;
    entry.strAddress = address;
    entry.kind = EntryKind::Page;
    entry.strLocalName = name.empty() ? m_namer.Make(address, ".htm") : name;
    m_namer.Claim(entry.strLocalName);
    m_index.emplace(address, m_entries.size());
    m_entries.push_back(entry);
    return m_entries.size() - 1;
}

std::string CGrabPlan::NewName(const std::string& absoluteAddress, EntryKind kind, size_t pending) {
    if (kind == EntryKind::Font && m_bFontFilter && m_usedFonts.count(absoluteAddress) == 0) {
        return std::string();
    }
    if (m_entries.size() + pending >= m_nMaxEntries) {
        m_bTooMany = true;
        return std::string();
    }
    // A stylesheet is read as one whatever its address says.
    return m_namer.Make(absoluteAddress, kind == EntryKind::Stylesheet ? ".css" : nullptr);
}

void CGrabPlan::Append(const CReferenceList& found, int depth) {
    for (const CFoundReference& ref : found) {
        if (m_index.count(ref.strAddress) != 0) {
            continue;
        }
        CGrabEntry entry;
        entry.strAddress = ref.strAddress;
        entry.strLocalName = ref.strLocalName;
        entry.kind = ref.kind;
        entry.nDepth = depth;
        m_index.emplace(ref.strAddress, m_entries.size());
        m_entries.push_back(std::move(entry));
    }
}

std::string CGrabPlan::Add(const std::string& absoluteAddress, EntryKind kind, int depth) {
    std::string name = CPassNames(*this).NameFor(absoluteAddress, kind);
    if (!name.empty()) {
        Append({{kind, absoluteAddress, name}}, depth);
    }
    return name;
}

std::string CPassNames::NameFor(const std::string& absoluteAddress, EntryKind kind) {
    size_t i = m_plan.Find(absoluteAddress);
    if (i != std::string::npos) {
        return m_plan.At(i).strLocalName;
    }
    auto it = m_new.find(absoluteAddress);
    if (it != m_new.end()) {
        return it->second;
    }
    std::string name = m_plan.NewName(absoluteAddress, kind, m_new.size());
    if (!name.empty()) {
        m_new.emplace(absoluteAddress, name);
    }
    return name;
}

size_t CGrabPlan::Find(const std::string& address) const {
    auto it = m_index.find(address);
    return it == m_index.end() ? std::string::npos : it->second;
}

void CGrabPlan::SetDone(size_t i, const std::string& note) {
    m_entries[i].state = EntryState::Done;
    m_entries[i].strFailure = note;
}

void CGrabPlan::SetFailed(size_t i, const std::string& reason) {
    m_entries[i].state = EntryState::Failed;
    m_entries[i].strFailure = reason;
}

size_t CGrabPlan::FailedCount() const {
    size_t n = m_bTooMany ? 1 : 0;
    for (const CGrabEntry& e : m_entries) {
        if (e.state == EntryState::Failed || !e.strFailure.empty()) {
            ++n;
        }
    }
    return n;
}

std::string CGrabPlan::Summary() const {
    size_t counts[6] = {};
    for (const CGrabEntry& e : m_entries) {
        if (e.state == EntryState::Done) {
            ++counts[static_cast<int>(e.kind)];
        }
    }
    std::string text = "captured " + Count(counts[0], "page", "pages") + ", " +
                       Count(counts[1], "frame", "frames") + ", " +
                       Count(counts[2], "picture", "pictures") + ", " +
                       Count(counts[3], "stylesheet", "stylesheets") + ", " +
                       Count(counts[4], "font", "fonts");
    if (counts[5] > 0) {
        text += ", " + Count(counts[5], "other file", "other files");
    }
    return text + "; " + std::to_string(FailedCount()) + " failed";
}

std::vector<std::string> CGrabPlan::FailureLines() const {
    std::vector<std::string> lines;
    for (const CGrabEntry& e : m_entries) {
        if (e.state == EntryState::Failed || !e.strFailure.empty()) {
            lines.push_back(std::string(EntryKindName(e.kind)) + " " + e.strAddress + " (" +
                            e.strLocalName + "): " + e.strFailure);
        }
    }
    if (m_bTooMany) {
        lines.push_back("too many files: the references after the first " +
                        std::to_string(m_nMaxEntries) + " files still point at the web");
    }
    return lines;
}
