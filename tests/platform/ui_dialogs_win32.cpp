// The prompt dialogs, driven by a second thread the way a user would: find the
// window, type into its fields, press its buttons.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/ui.h"

using namespace platform;

namespace {

// Waits up to ten seconds for a visible top-level dialog with this title.
HWND WaitForDialog(const char* title) {
    for (int i = 0; i < 1000; ++i) {
        HWND w = FindWindowA("#32770", title);
        if (w && IsWindowVisible(w))
            return w;
        Sleep(10);
    }
    return nullptr;
}

// Plays one user's part against the dialogs; records what it could not find.
class CUser {
  public:
    void Type(const char* title, int id, const char* text) {
        HWND d = WaitForDialog(title);
        if (!d || !GetDlgItem(d, id) || !SetDlgItemTextA(d, id, text))
            m_strMissing += std::string(title) + "/" + std::to_string(id) + " ";
    }
    void Press(const char* title, int button) {
        HWND d = WaitForDialog(title);
        if (!d) {
            m_strMissing += std::string(title) + " ";
            return;
        }
        PostMessageA(d, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        // Wait until that window has gone (or stays, for a refused OK).
        for (int i = 0; i < 50 && IsWindow(d) && IsWindowVisible(d); ++i)
            Sleep(10);
    }
    std::string m_strMissing;
};

// Skips when this session cannot show windows at all (a headless run).
bool CanShowWindows() {
    HWND w = CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    if (!w)
        return false;
    DestroyWindow(w);
    return true;
}

}  // namespace

TEST(WindowsDialogs, PasswordPromptReturnsTheTypedPassword) {
    if (!CanShowWindows())
        GTEST_SKIP() << "no window station";
    IUserInterface& ui = PlatformUserInterface();
    PasswordPrompt prompt;
    prompt.emptyMessage = "Please enter the password and then click OK.";

    CUser user;
    std::thread play([&] {
        user.Press("Quillbox Password", IDOK);  // empty: refused with a message
        user.Press("Error", IDOK);
        user.Type("Quillbox Password", 1039, "s3cret");
        user.Press("Quillbox Password", IDOK);
    });
    std::string password;
    bool ok = ui.AskPassword(prompt, password, nullptr);
    play.join();
    EXPECT_EQ(user.m_strMissing, "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(password, "s3cret");

    CUser canceller;
    std::thread cancel([&] { canceller.Press("Quillbox Password", IDCANCEL); });
    password = "unchanged";
    ok = ui.AskPassword(prompt, password, nullptr);
    cancel.join();
    EXPECT_EQ(canceller.m_strMissing, "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(password, "unchanged");
}

TEST(WindowsDialogs, AuthorizationPromptReturnsNameAndPassword) {
    if (!CanShowWindows())
        GTEST_SKIP() << "no window station";
    CUser user;
    RECT field = {}, expected = {50, 31, 157, 44};  // the user field of template 165
    std::thread play([&] {
        HWND d = WaitForDialog("Authorization Required");
        if (d) {
            GetWindowRect(GetDlgItem(d, 1038), &field);
            MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&field), 2);
            MapDialogRect(d, &expected);
        }
        user.Type("Authorization Required", 1038, "alice");
        user.Type("Authorization Required", 1039, "pw");
        user.Press("Authorization Required", IDOK);
    });
    std::string name, password;
    bool ok =
        PlatformUserInterface().AskAuthorization(AuthorizationPrompt(), name, password, nullptr);
    play.join();
    EXPECT_EQ(user.m_strMissing, "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(name, "alice");
    EXPECT_EQ(password, "pw");
    // Built from the program's template, not in memory.
    EXPECT_EQ(field.left, expected.left);
    EXPECT_EQ(field.top, expected.top);
    EXPECT_EQ(field.right, expected.right);

    // A focus notice that carries OK's id ends nothing; Cancel ends the prompt.
    CUser canceller;
    std::thread cancel([&] {
        HWND d = WaitForDialog("Authorization Required");
        if (d)
            SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDOK, EN_SETFOCUS),
                         reinterpret_cast<LPARAM>(GetDlgItem(d, 1038)));
        canceller.Press("Authorization Required", IDCANCEL);
    });
    name = "unchanged";
    ok = PlatformUserInterface().AskAuthorization(AuthorizationPrompt(), name, password, nullptr);
    cancel.join();
    EXPECT_EQ(canceller.m_strMissing, "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(name, "unchanged");
}
