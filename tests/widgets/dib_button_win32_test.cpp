// The bitmap buttons pressed as a user presses them: with the mouse (press, move out
// and back, release inside or outside, double click) and with the space bar, and
// losing the focus while held. The mouse and keys arrive as the messages the window
// system would send (this thread has no pointer of its own under Wine); what is
// checked is what the user sees: the pressed look and the commands posted.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "packager/widgets/dib_win32.h"

namespace {

constexpr int kButtonId = 1001;

// What the parent received: kMsgButtonFocus sends, in order.
std::vector<UINT> g_sent;

LRESULT CALLBACK ParentProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kMsgButtonFocus)
        g_sent.push_back(msg);
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

LPARAM At(int x, int y) {
    return MAKELPARAM(static_cast<WORD>(static_cast<short>(x)),
                      static_cast<WORD>(static_cast<short>(y)));
}

class DibButtonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ParentProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "QbButtonTestParent";
        RegisterClassA(&wc);
        parent = CreateWindowExA(0, wc.lpszClassName, "parent", WS_POPUP | WS_VISIBLE, 0, 0, 300,
                                 200, nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(parent, nullptr);
        other = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 0, 100, 100, 20, parent,
                                nullptr, wc.hInstance, nullptr);
        // No picture resource in the test program: the button draws nothing, behaves the same.
        ASSERT_TRUE(button.Create("&Zip", RECT{10, 10, 88, 88}, parent, kButtonId));
        SetFocus(other);
        Commands();
        g_sent.clear();
    }
    void TearDown() override {
        button.DestroyWindow();
        DestroyWindow(parent);
    }

    // The commands posted to the parent since the last call, each checked for its form.
    int Commands() {
        int n = 0;
        MSG msg;
        while (PeekMessageA(&msg, parent, WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
            EXPECT_EQ(msg.wParam, static_cast<WPARAM>(MAKEWPARAM(kButtonId, 0)));
            EXPECT_EQ(msg.lParam, reinterpret_cast<LPARAM>(button.m_hWnd));
            ++n;
        }
        return n;
    }
    LRESULT Send(UINT msg, WPARAM wParam, LPARAM lParam) {
        return SendMessageA(button.m_hWnd, msg, wParam, lParam);
    }

    HWND parent = nullptr, other = nullptr;
    CDibButton button{0};
};

TEST_F(DibButtonTest, AClickReleasedInsidePostsOneCommand) {
    Send(WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5));
    EXPECT_EQ(button.m_bPressed, 1);
    EXPECT_EQ(GetCapture(), button.m_hWnd);
    EXPECT_EQ(GetFocus(), button.m_hWnd);
    // The parent hears of the focus at the press, before any command exists.
    EXPECT_EQ(g_sent, std::vector<UINT>{kMsgButtonFocus});
    EXPECT_EQ(Commands(), 0);
    Send(WM_LBUTTONUP, 0, At(5, 5));
    EXPECT_EQ(button.m_bPressed, 0);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(Commands(), 1);
}

TEST_F(DibButtonTest, PressMoveOutReleaseOutsidePostsNothing) {
    Send(WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5));
    Send(WM_MOUSEMOVE, MK_LBUTTON, At(-20, 5));
    EXPECT_EQ(button.m_bPressed, 0) << "looks up while the pointer is outside";
    Send(WM_MOUSEMOVE, MK_LBUTTON, At(40, 40));
    EXPECT_EQ(button.m_bPressed, 1) << "looks pressed again once back inside";
    Send(WM_MOUSEMOVE, MK_LBUTTON, At(200, 150));
    Send(WM_LBUTTONUP, 0, At(200, 150));
    EXPECT_EQ(button.m_bPressed, 0);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(Commands(), 0);
    // Without the capture, moving over the button changes nothing.
    Send(WM_MOUSEMOVE, 0, At(5, 5));
    EXPECT_EQ(button.m_bPressed, 0);
}

TEST_F(DibButtonTest, ADoubleClickPostsOneCommand) {
    // The second press arrives as a double click, which the button leaves alone, so
    // the release after it finds no capture.
    Send(WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5));
    Send(WM_LBUTTONUP, 0, At(5, 5));
    Send(WM_LBUTTONDBLCLK, MK_LBUTTON, At(5, 5));
    Send(WM_LBUTTONUP, 0, At(5, 5));
    EXPECT_EQ(Commands(), 1);
    EXPECT_EQ(button.m_bPressed, 0);
}

TEST_F(DibButtonTest, TheSpaceBarPressesAndReleases) {
    SetFocus(button.m_hWnd);
    Send(WM_KEYDOWN, VK_SPACE, 0x00390001);
    Send(WM_KEYDOWN, VK_SPACE, 0x40390001);  // auto-repeat
    EXPECT_EQ(button.m_bPressed, 1);
    EXPECT_EQ(Commands(), 0);
    Send(WM_KEYUP, VK_SPACE, 0xC0390001);
    EXPECT_EQ(button.m_bPressed, 0);
    EXPECT_EQ(Commands(), 1);
    // Other keys press nothing; a space release counts even without its press.
    Send(WM_KEYDOWN, 'A', 0x001E0001);
    EXPECT_EQ(button.m_bPressed, 0);
    Send(WM_KEYUP, VK_SPACE, 0xC0390001);
    EXPECT_EQ(Commands(), 1);
}

TEST_F(DibButtonTest, LosingTheFocusWhilePressedLetsGo) {
    SetFocus(button.m_hWnd);
    Send(WM_KEYDOWN, VK_SPACE, 0x00390001);
    ASSERT_EQ(button.m_bPressed, 1);
    SetFocus(other);
    EXPECT_EQ(button.m_bPressed, 0);
    EXPECT_EQ(Commands(), 0);
}

}  // namespace
