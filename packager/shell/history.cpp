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

void LoadHistory(IAddressBox& box) {
    int n = StoredCount();
    for (int i = 0; i < n; ++i)
        box.AddString(platform::ReadSettingString(kHistorySection, IndexName(i), ""));
    if (n != 0)
        box.SetCurSel(platform::ReadSettingInt(kHistorySection, kLast, 0));
    else
        box.SetText(kVendorHomePage);
}

void RecordHistory(const std::string& address) {
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
