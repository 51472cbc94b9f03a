#include "packager/shell/history.h"

#include "platform/settings.h"

namespace {

constexpr const char* kNumber = "number";
constexpr const char* kLast = "last";

std::string IndexName(int i) {
    return std::to_string(i);
}

}  // namespace

void LoadHistory(IAddressBox& box) {
    int n = platform::ReadSettingInt(kHistorySection, kNumber, 0);
    for (int i = 0; i < n; ++i)
        box.AddString(platform::ReadSettingString(kHistorySection, IndexName(i), ""));
    if (n != 0)
        box.SetCurSel(platform::ReadSettingInt(kHistorySection, kLast, 0));
    else
        box.SetText(kVendorHomePage);
}

void RecordHistory(const std::string& address) {
    int n = platform::ReadSettingInt(kHistorySection, kNumber, 0);
    bool found = false;
    // No early stop: with duplicates in the store the highest matching index wins.
    for (int i = 0; i < n; ++i) {
        if (platform::ReadSettingString(kHistorySection, IndexName(i), "") == address) {
            platform::WriteSettingInt(kHistorySection, kLast, i);
            found = true;
        }
    }
    if (n <= 0 || !found) {
        int index = n < 0 ? 0 : n;
        platform::WriteSettingString(kHistorySection, IndexName(index), address);
        platform::WriteSettingInt(kHistorySection, kLast, index);
        platform::WriteSettingInt(kHistorySection, kNumber, index + 1);
    }
}
