// The progress dialog of template 4014 as a user and its owners meet it: shown from
// its creation, Cancel and Escape only raising the flag, no Cancel at all when asked,
// updates after its window has gone, and the owner always enabled again. Keys come as
// the messages the window system would queue for the dialog (this thread has no
// keyboard of its own under Wine); the dialog's own pump takes them.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "packager/res/resource.h"
#include "packager/shell/progress_dialog.h"

namespace {

constexpr UINT kDestroyDialogs = WM_APP + 7;

BOOL CALLBACK DestroyDialog(HWND w, LPARAM) {
    char cls[16] = {};
    GetClassNameA(w, cls, sizeof(cls));
    if (lstrcmpA(cls, "#32770") == 0)
        DestroyWindow(w);
    return TRUE;
}

// An owner window that, on kDestroyDialogs, destroys every dialog of its thread.
LRESULT CALLBACK OwnerProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kDestroyDialogs) {
        EnumThreadWindows(GetCurrentThreadId(), DestroyDialog, 0);
        return 0;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

class ProgressDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = OwnerProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "QbProgressOwner";
        RegisterClassA(&wc);
        owner = CreateWindowExA(0, wc.lpszClassName, "owner", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300,
                                nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(owner, nullptr);
    }
    void TearDown() override { DestroyWindow(owner); }

    static HWND Dlg(const CProgressDialog& d) { return static_cast<HWND>(d.GetSafeHwnd()); }
    static HWND CancelButton(const CProgressDialog& d) { return GetDlgItem(Dlg(d), IDCANCEL); }
    // Escape as the keyboard queues it for the focused control of the dialog.
    static void PressEscape(CProgressDialog& d) {
        HWND focus = GetFocus();
        HWND target = focus && (focus == Dlg(d) || IsChild(Dlg(d), focus)) ? focus : Dlg(d);
        PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        d.PumpMessages();
    }

    HWND owner = nullptr;
};

TEST_F(ProgressDialogTest, OpensShownWithTheWholeRangeAndItsText) {
    CProgressDialog d(nullptr);
    ASSERT_NE(d.Create("Compressing...", true, nullptr), 0);
    // Shown by its creation alone: the archive builder never calls Show.
    EXPECT_TRUE(IsWindowVisible(Dlg(d)));
    EXPECT_EQ(d.GetMessageText(), "Compressing...");
    PBRANGE range = {-1, -1};
    SendDlgItemMessageA(Dlg(d), IDC_PROGRESS_BAR, PBM_GETRANGE, TRUE,
                        reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(d.GetPosition(), 0);
    EXPECT_TRUE(IsWindowVisible(CancelButton(d)));
}

TEST_F(ProgressDialogTest, CancelAndEscapeOnlyRaiseTheFlag) {
    CProgressDialog d(owner);
    ASSERT_NE(d.Create("Working", true, owner), 0);
    SendMessageA(CancelButton(d), BM_CLICK, 0, 0);
    EXPECT_EQ(d.m_bCancelled, 1);
    SendMessageA(CancelButton(d), BM_CLICK, 0, 0);
    EXPECT_EQ(d.m_bCancelled, 1) << "twice is still cancelled";
    EXPECT_TRUE(d.IsOpen());
    EXPECT_TRUE(IsWindowVisible(Dlg(d)));

    d.ClearCancelled();
    PressEscape(d);
    EXPECT_EQ(d.m_bCancelled, 1) << "Escape is Cancel";
    EXPECT_TRUE(d.IsOpen());

    // A notification that merely carries the Cancel button's id is no Cancel.
    d.ClearCancelled();
    SendMessageA(Dlg(d), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_SETFOCUS),
                 reinterpret_cast<LPARAM>(CancelButton(d)));
    EXPECT_EQ(d.m_bCancelled, 0);
}

TEST_F(ProgressDialogTest, WithoutCancelNothingCancels) {
    CProgressDialog d(owner);
    ASSERT_NE(d.Create("Updating", false, owner), 0);
    EXPECT_FALSE(IsWindowVisible(CancelButton(d)));
    EXPECT_FALSE(IsWindowEnabled(CancelButton(d)));
    SendMessageA(CancelButton(d), BM_CLICK, 0, 0);
    PressEscape(d);
    EXPECT_EQ(d.m_bCancelled, 0);
    EXPECT_TRUE(d.IsOpen());
}

TEST_F(ProgressDialogTest, UpdatesAfterTheWindowIsGoneDoNothing) {
    CProgressDialog d(owner);
    ASSERT_NE(d.Create("Working", true, owner), 0);
    d.SetPosition(40);
    EXPECT_EQ(d.GetPosition(), 40);
    DestroyWindow(Dlg(d));  // gone behind the object's back
    EXPECT_FALSE(d.IsOpen());
    d.SetMessage("late");
    d.SetPosition(70);
    d.SetRange(500);
    d.Show();
    d.Hide();
    d.PumpMessages();
    EXPECT_FALSE(d.IsOpen());
    EXPECT_EQ(d.GetPosition(), 0);
    EXPECT_EQ(d.GetMessageText(), "");
}

TEST_F(ProgressDialogTest, TheOwnerIsEnabledAgainWhateverEndsTheDialog) {
    {
        // Closed: the owner disabled itself behind the dialog.
        CProgressDialog d(owner);
        ASSERT_NE(d.Create("Working", true, owner), 0);
        EnableWindow(owner, FALSE);
        d.DestroyWindow();
        EXPECT_TRUE(IsWindowEnabled(owner));
    }
    {
        // Deleted while someone else had disabled the owner.
        auto* d = new CProgressDialog(owner);
        ASSERT_NE(d->Create("Working", true, owner), 0);
        d->Hide();
        EnableWindow(owner, FALSE);
        delete d;
        EXPECT_TRUE(IsWindowEnabled(owner));
    }
    {
        // A creation that fails: the window vanishes while the first messages are served.
        CProgressDialog d(owner);
        EnableWindow(owner, FALSE);
        PostMessageA(owner, kDestroyDialogs, 0, 0);
        EXPECT_EQ(d.Create("Working", true, owner), 0);
        EXPECT_FALSE(d.IsOpen());
        EXPECT_TRUE(IsWindowEnabled(owner));
    }
}

}  // namespace
