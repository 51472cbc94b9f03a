// The plan of one grab: every address the grab captures, once, in the order found, with the
// local name it was given when it was found, what it is, how far it got and why it failed.
// A pass names what it finds through CPassNames; the grab then appends what the pass found,
// so a name never depends on the order in which files arrive. The plan is also the grab's
// capture report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "packager/address/url_utils.h"
#include "packager/rewrite/references.h"

enum class EntryState { Pending, Done, Failed };

struct CGrabEntry {
    std::string strAddress;    // absolute, fragment removed (a local path for a local page)
    std::string strLocalName;  // file name in the work folder
    EntryKind kind = EntryKind::Other;
    EntryState state = EntryState::Pending;
    // Why it failed, or what is wrong with what was kept (an error page packed as a page).
    std::string strFailure;
    int nDepth = 0;  // stylesheets: how many imports from the page
};

class CGrabPlan {
  public:
    // A cabinet counts its files in 16 bits; the plan takes no more entries than that.
    static constexpr size_t kMaxEntries = 65535;

    explicit CGrabPlan(size_t maxEntries = kMaxEntries) : m_nMaxEntries(maxEntries) {}

    // Forgets every entry; names start over.
    void Reset();
    // Adds the grab's main page under a name of its own (a local page keeps its file name,
    // a web page gets a fresh one when name is empty). Returns its index.
    size_t AddMainPage(const std::string& address, const std::string& name);
    // A fresh name for an address the plan does not hold, when pending more addresses are
    // already named for it and not yet appended. Empty when it is not captured: a font the
    // filter leaves on the web, or a full plan ("too many files" is reported).
    std::string NewName(const std::string& absoluteAddress, EntryKind kind, size_t pending);
    // Appends, in order, the addresses of found that the plan does not hold yet, as Pending
    // entries of depth (how many imports from the page) under the names found gives them.
    void Append(const CReferenceList& found, int depth);
    // Names and appends one address; its name (a known address keeps its own), empty when
    // it is not captured.
    std::string Add(const std::string& absoluteAddress, EntryKind kind, int depth = 0);
    // From now on a font is captured only when it is one of addresses (the fonts a browser
    // loaded to show the page); any other is left on the web. Until Reset.
    void KeepOnlyFonts(const std::vector<std::string>& addresses);

    size_t Size() const { return m_entries.size(); }
    CGrabEntry& At(size_t i) { return m_entries[i]; }
    const CGrabEntry& At(size_t i) const { return m_entries[i]; }
    // Index of the entry of an address, or npos.
    size_t Find(const std::string& address) const;
    // Whether an address was refused because the plan was full.
    bool TooManyFiles() const { return m_bTooMany; }
    CLocalNamer& Namer() { return m_namer; }

    void SetDone(size_t i, const std::string& note = std::string());
    void SetFailed(size_t i, const std::string& reason);

    // The report. Entries with a failure text (failed, or kept with one), plus the refusal
    // of a full plan.
    size_t FailedCount() const;
    // "captured 1 page, 2 frames, 45 pictures, 3 stylesheets, 2 fonts; 1 failed"
    // (", N other files" before the ";" when there are any).
    std::string Summary() const;
    // One line per failure: "<kind> <address> (<local name>): <reason>".
    std::vector<std::string> FailureLines() const;

  private:
    std::vector<CGrabEntry> m_entries;
    std::unordered_map<std::string, size_t> m_index;
    CLocalNamer m_namer;
    size_t m_nMaxEntries;
    bool m_bTooMany = false;
    bool m_bFontFilter = false;
    std::unordered_set<std::string> m_usedFonts;
};

// The names of one pass: an address of the plan keeps its name, a new one gets the name
// its entry is given when the grab appends what the pass found (CGrabPlan::Append).
class CPassNames : public CLocalNames {
  public:
    explicit CPassNames(CGrabPlan& plan) : m_plan(plan) {}
    std::string NameFor(const std::string& absoluteAddress, EntryKind kind) override;

  private:
    CGrabPlan& m_plan;
    std::unordered_map<std::string, std::string> m_new;
};

// The report's word for a kind ("page", "frame", "picture", "stylesheet", "font", "file").
const char* EntryKindName(EntryKind kind);
