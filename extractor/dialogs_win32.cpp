#include "extractor/dialogs.h"

#include <windows.h>
#include <commctrl.h>

#include "extractor/extractor_text.h"
#include "extractor/res/resource.h"
#include "extractor/splash_picture.h"

namespace spillet {
namespace {

// A WM_COMMAND runs a command only when it is one: a menu or accelerator (no control
// handle), a key the dialog manager turned into a button (Enter, Escape) or a button's
// click. Other notifications of a control (focus, change) carry its id in the low word and
// must not be taken for the command of that id.
bool IsCommand(WPARAM wParam, LPARAM lParam) {
    return lParam == 0 || HIWORD(wParam) == BN_CLICKED;
}

// The progress dialog that is up, if any: its pump lets the dialog manager see the keys
// meant for it (Escape is Cancel).
HWND g_progressWindow = nullptr;

// ---- splash ----------------------------------------------------------------------------------

struct SplashState {
    const BITMAPINFOHEADER* header = nullptr;
    HPALETTE palette = nullptr;
    HWND window = nullptr;
    DWORD shownAt = 0;
};
SplashState g_splash;

int ColourTableEntries(const BITMAPINFOHEADER& h) {
    int n =
        h.biClrUsed ? static_cast<int>(h.biClrUsed) : (h.biBitCount <= 8 ? 1 << h.biBitCount : 0);
    return n > 256 ? 256 : n;
}

LRESULT CALLBACK SplashProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT || !g_splash.header) {
        return DefWindowProcA(hWnd, message, wParam, lParam);
    }
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hWnd, &ps);
    HPALETTE previous = nullptr;
    if (g_splash.palette) {
        previous = SelectPalette(dc, g_splash.palette, FALSE);
        RealizePalette(dc);
    }
    const BITMAPINFOHEADER& h = *g_splash.header;
    RECT client;
    GetClientRect(hWnd, &client);
    const BYTE* bits = reinterpret_cast<const BYTE*>(&h) + h.biSize + ColourTableEntries(h) * 4;
    int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    SetDIBitsToDevice(dc, (client.right - h.biWidth) / 2, (client.bottom - height) / 2, h.biWidth,
                      height, 0, 0, 0, height, bits, reinterpret_cast<const BITMAPINFO*>(&h),
                      DIB_RGB_COLORS);
    if (previous) {
        SelectPalette(dc, previous, FALSE);
    }
    EndPaint(hWnd, &ps);
    return 0;
}

// ---- password --------------------------------------------------------------------------------

char g_password[260];

// Puts the keyboard into the password box of a dialog that is in front.
void FocusPassword(HWND hWnd) {
    SetForegroundWindow(hWnd);
    SetActiveWindow(hWnd);
    SetFocus(GetDlgItem(hWnd, IDC_PASSWORD_EDIT));
}

INT_PTR CALLBACK PasswordProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        // Nothing owns this dialog: bring it to the front so that typing reaches it.
        FocusPassword(hWnd);
        return FALSE;  // the focus is set
    }
    if (message != WM_COMMAND || !IsCommand(wParam, lParam)) {
        return FALSE;
    }
    if (LOWORD(wParam) == IDOK) {
        if (GetDlgItemTextA(hWnd, IDC_PASSWORD_EDIT, g_password, sizeof g_password) == 0) {
            char text[256];
            if (!LoadStringA(GetModuleHandleA(nullptr), 1, text, sizeof text)) {
                lstrcpynA(text, DefaultText(1), sizeof text);
            }
            MessageBoxA(nullptr, text, kTitleError, MB_OK | MB_TASKMODAL);
            // The box has no owner, so closing it activates no window of ours: give the
            // keyboard back to the password box, where the user types next.
            FocusPassword(hWnd);
        } else {
            EndDialog(hWnd, IDOK);
        }
        return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(hWnd, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void ShowSplash() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    g_splash.header = static_cast<const BITMAPINFOHEADER*>(UnpackSplashPicture(nullptr));
    if (!g_splash.header) {
        return;
    }
    const BITMAPINFOHEADER& h = *g_splash.header;
    if (h.biBitCount >= 8) {
        int count = (h.biClrUsed == 0 || h.biClrUsed > 256) ? 256 : static_cast<int>(h.biClrUsed);
        // LOGPALETTE holds one entry; the rest follow it in the same block.
        struct {
            LOGPALETTE head;
            PALETTEENTRY more[255];
        } block{};
        block.head.palVersion = 0x300;
        block.head.palNumEntries = static_cast<WORD>(count);
        const RGBQUAD* table =
            reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(&h) + h.biSize);
        PALETTEENTRY* entries = block.head.palPalEntry;
        for (int i = 0; i < count; ++i) {
            entries[i].peRed = table[i].rgbRed;
            entries[i].peGreen = table[i].rgbGreen;
            entries[i].peBlue = table[i].rgbBlue;
            entries[i].peFlags = 0;
        }
        g_splash.palette = CreatePalette(&block.head);
    }
    WNDCLASSA wc{};
    wc.style = CS_NOCLOSE;  // 0x0200
    wc.lpfnWndProc = SplashProc;
    wc.hInstance = instance;
    wc.lpszClassName = "Splash";
    RegisterClassA(&wc);
    int width = h.biWidth;
    int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    g_splash.window = CreateWindowExA(WS_EX_TOPMOST, "Splash", "", WS_POPUP, 0, 0, width, height,
                                      nullptr, nullptr, instance, nullptr);
    if (!g_splash.window) {
        return;
    }
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    int x = (area.left + area.right) / 2 - width / 2;
    if (x < area.left) {
        x = area.left;
    } else if (x + width > area.right) {
        x = area.right - width;
    }
    int y = (area.top + area.bottom) / 2 - height / 2;
    if (y < area.top) {
        y = area.top;
    } else if (y + height > area.bottom) {
        y = area.bottom - height;
    }
    SetWindowPos(g_splash.window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Shown active: the Escape that ends the splash is typed on the keyboard, and keys only
    // reach the active window.
    ShowWindow(g_splash.window, SW_SHOW);
    UpdateWindow(g_splash.window);
    g_splash.shownAt = GetTickCount();
}

void EndSplash() {
    if (!g_splash.window) {
        return;
    }
    bool escapeHeld = false;
    // The wait spins on the queue without sleeping, as the splash is only up for a moment.
    while (GetTickCount() - g_splash.shownAt < 1000 || escapeHeld) {
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            continue;
        }
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
            escapeHeld = true;
            continue;
        }
        if (msg.message == WM_KEYUP && msg.wParam == VK_ESCAPE) {
            break;
        }
        if (!IsDialogMessageA(g_splash.window, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    ShowWindow(g_splash.window, SW_HIDE);
    DestroyWindow(g_splash.window);
    g_splash.window = nullptr;
    if (g_splash.palette) {
        DeleteObject(g_splash.palette);
        g_splash.palette = nullptr;
    }
}

bool RunPasswordDialog(std::string& password) {
    g_password[0] = '\0';
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PASSWORD),
                                     nullptr, PasswordProc, 0);
    if (result != IDOK) {
        return false;
    }
    password = g_password;
    return true;
}

// ---- progress dialog -------------------------------------------------------------------------

struct ProgressDialogAccess {
    static INT_PTR CALLBACK Proc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            auto* self = reinterpret_cast<ExtractProgressDialog*>(lParam);
            SetWindowLongPtrA(hWnd, GWLP_USERDATA, static_cast<LONG_PTR>(lParam));
            self->m_hWnd = hWnd;
            return self->OnInitDialog() ? TRUE : FALSE;
        }
        auto* self =
            reinterpret_cast<ExtractProgressDialog*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
        if (self && message == WM_COMMAND && LOWORD(wParam) == IDCANCEL &&
            IsCommand(wParam, lParam)) {
            // Escape arrives here too; it only cancels what the Cancel button could.
            if (self->m_bCancellable) {
                self->OnCancel();
            }
            return TRUE;
        }
        return FALSE;
    }
};

ExtractProgressDialog::~ExtractProgressDialog() {
    Close();
}

bool ExtractProgressDialog::Create(const std::string& title, bool cancellable, void* owner) {
    m_strTitle = title.substr(0, 259);
    m_bCancellable = cancellable;
    m_hOwner = owner;
    if (m_hOwner) {
        EnableWindow(static_cast<HWND>(m_hOwner), FALSE);
    }
    static bool commonControls = false;
    if (!commonControls) {
        INITCOMMONCONTROLSEX init{sizeof init, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&init);
        commonControls = true;
    }
    HWND made = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS),
                                   static_cast<HWND>(m_hOwner), ProgressDialogAccess::Proc,
                                   reinterpret_cast<LPARAM>(this));
    if (made) {
        g_progressWindow = made;
    } else {
        m_hWnd = nullptr;
        if (m_hOwner) {
            EnableWindow(static_cast<HWND>(m_hOwner), TRUE);
        }
        return false;
    }
    Pump();
    return IsOpen();
}

bool ExtractProgressDialog::Close() {
    if (!m_hWnd) {
        return false;
    }
    HWND window = static_cast<HWND>(m_hWnd);
    m_hWnd = nullptr;
    if (g_progressWindow == window) {
        g_progressWindow = nullptr;
    }
    DestroyWindow(window);
    if (m_hOwner) {
        EnableWindow(static_cast<HWND>(m_hOwner), TRUE);
    }
    return true;
}

bool ExtractProgressDialog::OnInitDialog() {
    HWND window = static_cast<HWND>(m_hWnd);
    SetWindowTextA(window, m_strTitle.c_str());
    SetDlgItemTextA(window, IDC_PROGRESS_TEXT, m_strTitle.c_str());
    if (!m_bCancellable) {
        HWND cancel = GetDlgItem(window, IDCANCEL);
        EnableWindow(cancel, FALSE);
        ShowWindow(cancel, SW_HIDE);
    }
    SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    return true;
}

void ExtractProgressDialog::OnCancel() {
    Close();
}

void ExtractProgressDialog::SetMessage(const std::string& text) {
    if (m_hWnd) {
        SetDlgItemTextA(static_cast<HWND>(m_hWnd), IDC_PROGRESS_TEXT, text.c_str());
        Pump();
    }
}

void ExtractProgressDialog::SetPosition(int percent) {
    if (m_hWnd) {
        SendDlgItemMessageA(static_cast<HWND>(m_hWnd), IDC_PROGRESS_BAR, PBM_SETPOS,
                            static_cast<WPARAM>(percent), 0);
        Pump();
    }
}

void ExtractProgressDialog::Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        // Only the dialog manager turns Escape into the dialog's Cancel.
        if (g_progressWindow && IsDialogMessageA(g_progressWindow, &msg)) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace spillet
