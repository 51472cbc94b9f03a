// The extractor's windows on their own: the splash's size, place and Escape rule (also
// with the real keyboard), the password dialog as spillet runs it, and the progress
// dialog's Cancel button and Escape key.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "extractor/dialogs.h"
#include "extractor/extractor_text.h"
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
    // Wine without a window manager stalls a moment when a window becomes active, so the
    // time is compared with a run that waits out its second.
    PostMessageA(splash, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(splash, WM_KEYUP, VK_ESCAPE, 0);
    DWORD start = GetTickCount();
    spillet::EndSplash();
    DWORD released = GetTickCount() - start;
    EXPECT_FALSE(IsWindow(splash));
    spillet::ShowSplash();
    start = GetTickCount();
    spillet::EndSplash();
    DWORD waited = GetTickCount() - start;
    EXPECT_LT(released + 500, waited);
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

TEST(ProgressDialog, EscapeCancelsLikeTheButtonAndNotificationsRunNoCommand) {
    for (bool cancellable : {true, false}) {
        spillet::ExtractProgressDialog dialog;
        ASSERT_TRUE(dialog.Create("Extracting...", cancellable, nullptr));
        HWND window = static_cast<HWND>(dialog.Window());
        HWND cancel = GetDlgItem(window, IDCANCEL);
        // A focus notification of the Cancel button carries its id: it is no Cancel.
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_SETFOCUS),
                     reinterpret_cast<LPARAM>(cancel));
        EXPECT_TRUE(dialog.IsOpen());
        PostMessageA(cancellable ? cancel : window, WM_KEYDOWN, VK_ESCAPE, 0);
        spillet::ExtractProgressDialog::Pump();
        EXPECT_EQ(dialog.IsOpen(), !cancellable) << "cancellable " << cancellable;
    }
}

// The password dialog as spillet runs it, driven from a timer that fires inside its modal
// loops: notifications first (no command), OK on the empty field (string 1 in a box titled
// "Error", the dialog stays and the keyboard is back in the password box), then a typed
// password and OK; or Cancel.
struct PasswordScript {
    bool cancel = false;
    int step = 0;
    bool survivedNotifications = false;
    std::string boxText;
    bool focusBack = false;
};
PasswordScript g_script;

void CALLBACK DrivePassword(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dialog = FindWindowA("#32770", "Quillbox Password");
    if (!dialog) {
        return;
    }
    HWND edit = GetDlgItem(dialog, IDC_PASSWORD_EDIT);
    HWND ok = GetDlgItem(dialog, IDOK);
    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    switch (g_script.step) {
        case 0:
            if (g_script.cancel) {
                PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                             reinterpret_cast<LPARAM>(cancel));
                KillTimer(nullptr, id);
                return;
            }
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_SETFOCUS),
                         reinterpret_cast<LPARAM>(ok));
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_KILLFOCUS),
                         reinterpret_cast<LPARAM>(cancel));
            g_script.survivedNotifications =
                IsWindow(dialog) && !FindWindowA("#32770", spillet::kTitleError);
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(ok));
            g_script.step = 1;
            return;
        case 1: {
            HWND box = FindWindowA("#32770", spillet::kTitleError);
            if (!box) {
                return;
            }
            char text[256] = {};
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
            g_script.boxText = text;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            g_script.step = 2;
            return;
        }
        case 2:
            if (FindWindowA("#32770", spillet::kTitleError)) {
                return;
            }
            g_script.focusBack = GetFocus() == edit;
            SetWindowTextA(edit, "abc");
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(ok));
            g_script.step = 3;
            KillTimer(nullptr, id);
            return;
    }
}

TEST(PasswordDialog, EmptyFieldAsksAgainThenTheTypedPasswordMatchesItsDigits) {
    g_script = PasswordScript{};
    SetTimer(nullptr, 0, 100, DrivePassword);
    std::string password;
    ASSERT_TRUE(spillet::RunPasswordDialog(password));
    EXPECT_TRUE(g_script.survivedNotifications);
    EXPECT_EQ(g_script.boxText, spillet::DefaultText(1));
    EXPECT_TRUE(g_script.focusBack);
    EXPECT_EQ(password, "abc");
    const char stored[] = "035306100867";
    EXPECT_TRUE(spillet::PasswordMatches(stored, sizeof stored, password));
    EXPECT_FALSE(spillet::PasswordMatches("03530610086", 12, password));
}

TEST(PasswordDialog, CancelRefuses) {
    g_script = PasswordScript{};
    g_script.cancel = true;
    SetTimer(nullptr, 0, 100, DrivePassword);
    std::string password = "untouched";
    EXPECT_FALSE(spillet::RunPasswordDialog(password));
    EXPECT_EQ(password, "untouched");
}

// The real keyboard, through the X server that Wine draws on: Escape held with xdotool keeps
// the splash up past its second and its release ends it. Only an active splash hears it.
TEST(SplashWindow, RealEscapeFromTheKeyboardReachesIt) {
    const char* display = std::getenv("DISPLAY");
    if (!display || GetFileAttributesA("Z:\\usr\\bin\\xdotool") == INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "needs an X display and xdotool";
    }
    spillet::ShowSplash();
    HWND splash = FindWindowA("Splash", "");
    ASSERT_NE(splash, nullptr);
    EXPECT_EQ(GetForegroundWindow(), splash);
    char command[] = "Z:\\usr\\bin\\xdotool sleep 0.3 keydown Escape sleep 5 keyup Escape";
    STARTUPINFOA start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION process{};
    DWORD begin = GetTickCount();
    ASSERT_TRUE(CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &start, &process));
    spillet::EndSplash();
    DWORD took = GetTickCount() - begin;
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // Without the key the splash would go after its second (and Wine's activation stall of
    // about two seconds); held, it stays until the release.
    EXPECT_GE(took, 5000u) << "the held Escape did not reach the splash";
    EXPECT_LT(took, 9000u);
    EXPECT_FALSE(IsWindow(splash));
}

}  // namespace
