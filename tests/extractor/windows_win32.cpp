// The extractor's windows on their own: the splash's size, place and Escape rule, and the
// progress dialog's Cancel button.
#include <gtest/gtest.h>
#include <windows.h>

#include "extractor/dialogs.h"
#include "extractor/res/resource.h"

namespace {

TEST(SplashWindow, CentredInTheWorkAreaAndEscapeReleaseEndsItAtOnce) {
    spillet::ShowSplash();
    HWND splash = FindWindowA("Splash", "");
    ASSERT_NE(splash, nullptr);
    RECT r, area;
    GetWindowRect(splash, &r);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    EXPECT_EQ(r.right - r.left, 240);
    EXPECT_EQ(r.bottom - r.top, 166);
    EXPECT_EQ(r.left, (area.left + area.right) / 2 - 120);
    EXPECT_EQ(r.top, (area.top + area.bottom) / 2 - 83);
    EXPECT_TRUE(GetWindowLongA(splash, GWL_EXSTYLE) & WS_EX_TOPMOST);
    // Escape pressed and released: the wait ends with the release, long before its second.
    PostMessageA(splash, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(splash, WM_KEYUP, VK_ESCAPE, 0);
    DWORD start = GetTickCount();
    spillet::EndSplash();
    EXPECT_LT(GetTickCount() - start, 900u);
    EXPECT_FALSE(IsWindow(splash));
}

TEST(SplashWindow, StaysAtLeastASecondWithoutEscape) {
    spillet::ShowSplash();
    HWND splash = FindWindowA("Splash", "");
    ASSERT_NE(splash, nullptr);
    DWORD start = GetTickCount();
    spillet::EndSplash();
    EXPECT_GE(GetTickCount() - start, 990u);
    EXPECT_FALSE(IsWindow(splash));
}

HWND g_heldSplash = nullptr;
void CALLBACK ReleaseEscape(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    PostMessageA(g_heldSplash, WM_KEYUP, VK_ESCAPE, 0);
}

TEST(SplashWindow, HeldEscapeKeepsItUpUntilReleased) {
    spillet::ShowSplash();
    g_heldSplash = FindWindowA("Splash", "");
    ASSERT_NE(g_heldSplash, nullptr);
    PostMessageA(g_heldSplash, WM_KEYDOWN, VK_ESCAPE, 0);
    SetTimer(nullptr, 0, 1600, ReleaseEscape);
    DWORD start = GetTickCount();
    spillet::EndSplash();
    EXPECT_GE(GetTickCount() - start, 1500u);
    EXPECT_FALSE(IsWindow(g_heldSplash));
}

TEST(ProgressDialog, CancelShownOnlyWhenCancellableAndItClosesTheWindowAtOnce) {
    for (bool cancellable : {false, true}) {
        spillet::ExtractProgressDialog dialog;
        ASSERT_TRUE(dialog.Create("Extracting...", cancellable, nullptr));
        HWND window = static_cast<HWND>(dialog.Window());
        char caption[64] = {};
        GetWindowTextA(window, caption, sizeof caption);
        EXPECT_STREQ(caption, "Extracting...");
        HWND cancel = GetDlgItem(window, IDCANCEL);
        EXPECT_EQ(IsWindowVisible(cancel) != 0, cancellable);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, IDOK)));
        dialog.SetMessage("Extracting \"index.htm\"");
        dialog.SetPosition(40);
        char text[64] = {};
        GetDlgItemTextA(window, IDC_PROGRESS_TEXT, text, sizeof text);
        EXPECT_STREQ(text, "Extracting \"index.htm\"");
        EXPECT_EQ(SendDlgItemMessageA(window, IDC_PROGRESS_BAR, 0x0408 /* PBM_GETPOS */, 0, 0), 40);
        if (cancellable) {
            SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
            EXPECT_FALSE(dialog.IsOpen());
            EXPECT_FALSE(IsWindow(window));
            dialog.SetPosition(80);  // nothing left to update, and no harm done
        } else {
            EXPECT_TRUE(dialog.Close());
            EXPECT_FALSE(IsWindow(window));
        }
        EXPECT_FALSE(dialog.Close());
    }
}

}  // namespace
