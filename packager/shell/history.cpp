#include "packager/shell/history.h"

#include "platform/settings.h"

namespace {

constexpr const char* kNumber = "number";
// The history has no limit of its own, but a damaged "number" (two billion, say) must
// not keep the program reading missing values for hours.
constexpr int kMaxEntries = 65536;
constexpr const char* kLast = "last";

std::string IndexName(int i) {
    return std::to_string(i);
}

int StoredCount() {
    int n = platform::ReadSettingInt(kHistorySection, kNumber, 0);
    return n < 0 ? 0 : (n > kMaxEntries ? kMaxEntries : n);
}

}  // namespace

std::string WithoutCredentials(const std::string& address) {
    size_t slashes = address.find("://");
    if (slashes == std::string::npos) {
        return address;  // a local path may hold "@" in a name
    }
    size_t host = slashes + 3;
    size_t end = address.find_first_of("/?#", host);
    size_t at = address.rfind('@', end == std::string::npos ? std::string::npos : end);
    if (at == std::string::npos || at < host) {
        return address;
    }
    return address.substr(0, host) + address.substr(at + 1);
}

void LoadHistory(IAddressBox& box) {
    int n = StoredCount();
    for (int i = 0; i < n; ++i) {
        std::string address = platform::ReadSettingString(kHistorySection, IndexName(i), "");
        // Entries stored by earlier versions lose their passwords here, in the store too.
        std::string clean = WithoutCredentials(address);
        if (clean != address)
            platform::WriteSettingString(kHistorySection, IndexName(i), clean);
        box.AddString(clean);
    }
    if (n != 0)
        box.SetCurSel(platform::ReadSettingInt(kHistorySection, kLast, 0));
    else
        box.SetText(kVendorHomePage);
}

void RecordHistory(const std::string& given) {
    // A user name and password typed into the address are never written to the store.
    std::string address = WithoutCredentials(given);
    int n = StoredCount();
    bool found = false;
    // No early stop: with duplicates in the store the highest matching index wins.
    for (int i = 0; i < n; ++i) {
        if (platform::ReadSettingString(kHistorySection, IndexName(i), "") == address) {
            platform::WriteSettingInt(kHistorySection, kLast, i);
            found = true;
        }
    }
    if (n <= 0 || !found) {
        platform::WriteSettingString(kHistorySection, IndexName(n), address);
        platform::WriteSettingInt(kHistorySection, kLast, n);
        platform::WriteSettingInt(kHistorySection, kNumber, n + 1);
    }
}
