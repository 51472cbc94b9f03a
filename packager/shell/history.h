// The address history: every address grabbed, across runs, in the per-user
// settings store (section "URL History"), offered in the main window's address box.
#pragma once

#include <string>

// Section and value names in the settings store.
constexpr const char* kHistorySection = "URL History";
// String 105: the vendor's home page, shown when the history is empty.
constexpr const char* kVendorHomePage = "http://www.tarnwick.example/";

// The address box as the history fills it.
class IAddressBox {
  public:
    virtual ~IAddressBox() = default;
    // Appends an entry as the new last one; returns its index.
    virtual int AddString(const std::string& text) = 0;
    // Selects an entry; an index outside the list selects nothing.
    virtual void SetCurSel(int index) = 0;
    // Puts text into the edit field.
    virtual void SetText(const std::string& text) = 0;
};

// Fills the box from the store and selects the entry recorded last.
void LoadHistory(IAddressBox& box);
// Remembers an address (exact, case-sensitive match against what is stored), without the
// user name and password it may carry.
void RecordHistory(const std::string& address);
// The address without a "user:password@" (or "user@") before its host; other addresses and
// local paths unchanged.
std::string WithoutCredentials(const std::string& address);
