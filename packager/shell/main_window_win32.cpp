#include "packager/shell/main_window_win32.h"

#include <commdlg.h>
#include <shellapi.h>

#include <vector>

#include "packager/archive/archive_ui.h"
#include "packager/fetch/grabber.h"
#include "packager/render/window_render.h"
#include "packager/res/resource.h"
#include "packager/shell/history.h"
#include "platform/files.h"
#include "platform/trace.h"
#include "platform/ui.h"
#include "platform/ui_command.h"

// The portable command dispatch names the same ids as the resources.
static_assert(IDC_ADDRESS == kIdAddressBox && IDC_OUTPUT_PATH == kIdOutputPathBox &&
                  IDC_ZIP == kIdZipButton && IDC_BROWSE == kIdBrowseButton &&
                  IDC_VIEW == kIdViewButton && IDC_ABOUT == kIdAboutButton &&
                  IDC_CLOSE == kIdCloseButton && ID_NEXT_CONTROL == kIdNextControl &&
                  ID_PREV_CONTROL == kIdPreviousControl,
              "command ids of the main window");

namespace {

// The worker's finishing step, run on the window thread.
constexpr UINT kMsgRunOnWindowThread = WM_APP + 1;

const char* const kOrderPage = "http://www.tarnwick.example/order/";
constexpr RECT kLogo = {249, 0, 373, 30};

std::string LoadString(UINT id) {
    char buffer[1024];
    int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof(buffer));
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

void OpenAddress(const std::string& address) {
    ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::string WindowText(HWND h) {
    int n = GetWindowTextLengthA(h);
    std::string text(static_cast<size_t>(n < 0 ? 0 : n) + 1, '\0');
    int got = GetWindowTextA(h, &text[0], n + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

std::string ProgramDrive() {
    std::string program = platform::GetProgramPath();
    if (program.size() >= 2 && program[1] == ':')
        return program.substr(0, 2);
    return std::string();
}

class CComboAddressBox : public IAddressBox {
  public:
    explicit CComboAddressBox(HWND combo) : m_hCombo(combo) {}
    int AddString(const std::string& text) override {
        return static_cast<int>(
            SendMessageA(m_hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
    }
    void SetCurSel(int index) override { SendMessageA(m_hCombo, CB_SETCURSEL, index, 0); }
    void SetText(const std::string& text) override { SetWindowTextA(m_hCombo, text.c_str()); }

  private:
    HWND m_hCombo;
};

// The About box: texts of template 100 and the picture over frame 1037.
class CAboutDialog : public fw::CDialog {
  public:
    explicit CAboutDialog(HWND parent) : fw::CDialog(IDD_ABOUT, parent), m_picture(IDB_ABOUT) {}

  protected:
    BOOL OnInitDialog() override {
        RECT rc;
        HWND frame = GetDlgItem(m_hWnd, IDC_ABOUT_FRAME);
        GetWindowRect(frame, &rc);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
        static const char* const kClass = "QuillboxAboutDib";
        fw::CWnd::RegisterWindowClass(kClass, CS_DBLCLKS, nullptr, nullptr, nullptr);
        m_picture.CreateEx(0, kClass, "Quillbox! Dib Window", WS_CHILD | WS_VISIBLE, rc.left,
                           rc.top, rc.right - rc.left, rc.bottom - rc.top, m_hWnd, IDC_ABOUT_DIB);
        return TRUE;
    }
    BOOL OnCommand(WORD id, WORD code, HWND control) override {
        if (id == IDC_HOME_LINK) {
            OpenAddress(kVendorHomePage);
            return TRUE;
        }
        if (id == IDC_ORDER_LINK) {
            OpenAddress(kOrderPage);
            return TRUE;
        }
        return fw::CDialog::OnCommand(id, code, control);
    }

  private:
    CDibWnd m_picture;
};

// The done dialog: template 132, owned by the main window so that it stays in front
// of it and keeps it disabled while it is up; the order link leaves it open.
class CDoneDialog : public fw::CDialog {
  public:
    CDoneDialog(HWND owner, const std::string& note)
        : fw::CDialog(IDD_DONE, owner), m_strNote(note) {}

  protected:
    BOOL OnInitDialog() override {
        HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP));
        SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        // Where the executable went, and the first items that could not be fetched.
        SetDlgItemTextA(m_hWnd, IDC_DONE_NOTE, m_strNote.c_str());
        SetForegroundWindow(m_hWnd);
        return TRUE;
    }
    BOOL OnCommand(WORD id, WORD code, HWND control) override {
        if (id == IDC_DONE_ORDER) {
            OpenAddress(LoadString(IDS_ORDER_PAGE));
            return TRUE;
        }
        return fw::CDialog::OnCommand(id, code, control);
    }

  private:
    std::string m_strNote;
};

struct WindowThreadCall {
    std::function<void()> fn;
    HANDLE done;
};

}  // namespace

CMainFrame::CMainFrame(PackagerState& app) : CMainWindow(app) {}

CMainFrame::~CMainFrame() {
    // The dialog goes while the window that owns it still exists.
    m_progress.Destroy();
}

const char* CMainFrame::RegisterMainClass() {
    static const char* const kClass = "QuillboxMainWindow";
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP));
    fw::CWnd::RegisterWindowClass(kClass, CS_DBLCLKS, icon, nullptr, nullptr);
    return kClass;
}

bool CMainFrame::CreateMain() {
    // The client area takes the background picture exactly: the frame and caption
    // come from the system's own arithmetic for these styles.
    CDib picture;
    picture.LoadFromResource(IDB_BACKGROUND);
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    const DWORD style =
        WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT rc = {0, 0, picture.IsLoaded() ? picture.Width() : 528,
               picture.IsLoaded() ? picture.Height() : 348};
    AdjustWindowRectEx(&rc, style, FALSE, exStyle);
    if (!CreateEx(exStyle, RegisterMainClass(), "Quillbox!", style, 10, 10, rc.right - rc.left,
                  rc.bottom - rc.top, nullptr, 0))
        return false;
    RECT wr;
    GetWindowRect(m_hWnd, &wr);
    int w = wr.right - wr.left, h = wr.bottom - wr.top;
    SetWindowPos(m_hWnd, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(m_hWnd, SW_SHOWNORMAL);
    UpdateWindow(m_hWnd);
    SetForegroundWindow(m_hWnd);
    // The address is selected, so that typing replaces it.
    FocusControl(m_hAddress, true);
    return true;
}

std::string CMainFrame::DefaultOutputPath() {
    std::string folder = ProgramDrive() + "\\MyZips";
    CreateDirectoryA(folder.c_str(), nullptr);  // it may exist: ignored
    return folder + "\\QLBX.EXE";
}

LRESULT CMainFrame::OnCreate(LPARAM lParam) {
    if (Default(WM_CREATE, 0, lParam) == -1)
        return -1;
    HINSTANCE inst = GetModuleHandleA(nullptr);
    HICON icon = LoadIconA(inst, MAKEINTRESOURCEA(IDI_APP));
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    m_hAccel = LoadAcceleratorsA(inst, MAKEINTRESOURCEA(IDR_MAIN_ACCEL));
    m_hArrow = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512) /* IDC_ARROW */);
    m_hHand = LoadCursorA(inst, MAKEINTRESOURCEA(IDC_HAND_CURSOR));
    m_background.LoadFromResource(IDB_BACKGROUND);

    HDC screen = GetDC(nullptr);
    int height = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    m_hFont = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH,
                          "MS Sans Serif");

    auto child = [&](const char* cls, DWORD exStyle, DWORD style, RECT r, int id) {
        return CreateWindowExA(exStyle, cls, "", style, r.left, r.top, r.right - r.left,
                               r.bottom - r.top, m_hWnd,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), inst, nullptr);
    };
    m_hAddress = child("COMBOBOX", 0,
                       WS_CHILD | CBS_DROPDOWN | CBS_HASSTRINGS | CBS_AUTOHSCROLL | WS_VSCROLL |
                           WS_TABSTOP | WS_VISIBLE,
                       RECT{28, 141, 328, 300}, IDC_ADDRESS);
    m_controls.Append(m_hAddress);
    CComboAddressBox box(m_hAddress);
    LoadHistory(box);
    SendMessageA(m_hAddress, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), TRUE);
    ShowWindow(m_hAddress, SW_SHOW);

    m_pView.reset(new CDibButton(IDB_VIEW));
    m_pView->Create("&View URL in browser", RECT{356, 141, 494, 164}, m_hWnd, IDC_VIEW);
    m_controls.Append(m_pView->m_hWnd);

    m_hOutPath = child("EDIT", 0, WS_CHILD | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
                       RECT{28, 196, 327, 214}, IDC_OUTPUT_PATH);
    m_controls.Append(m_hOutPath);
    SendMessageA(m_hOutPath, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), TRUE);
    SetWindowTextA(m_hOutPath, DefaultOutputPath().c_str());
    ShowWindow(m_hOutPath, SW_SHOW);

    m_pBrowse.reset(new CDibButton(IDB_BROWSE));
    m_pBrowse->Create("&Browse...", RECT{356, 194, 494, 217}, m_hWnd, IDC_BROWSE);
    m_controls.Append(m_pBrowse->m_hWnd);

    m_banner.Create(RECT{50, 240, 479, 294}, m_hWnd);
    ShowWindow(m_banner.m_hWnd, SW_SHOW);

    m_pAbout.reset(new CDibButton(IDB_ABOUT_BUTTON));
    m_pAbout->Create("&About...", RECT{321, 316, 408, 339}, m_hWnd, IDC_ABOUT);
    m_controls.Append(m_pAbout->m_hWnd);
    m_pClose.reset(new CDibButton(IDB_CLOSE));
    m_pClose->Create("&Close", RECT{418, 316, 505, 339}, m_hWnd, IDC_CLOSE);
    m_controls.Append(m_pClose->m_hWnd);
    m_pZip.reset(new CDibButton(IDB_ZIP));
    m_pZip->Create("&Zip", RECT{439, 16, 517, 94}, m_hWnd, IDC_ZIP);
    m_controls.Append(m_pZip->m_hWnd);

    AddRenderMenuItem();
    FocusControl(m_hAddress);
    return 0;
}

void CMainFrame::OnDestroy() {
    if (m_hAddress)
        ::DestroyWindow(m_hAddress);
    if (m_hOutPath)
        ::DestroyWindow(m_hOutPath);
    m_banner.DestroyWindow();
    for (auto* button : {&m_pView, &m_pBrowse, &m_pAbout, &m_pClose, &m_pZip}) {
        if (*button)
            (*button)->DestroyWindow();
        button->reset();
    }
    m_controls.Clear();
    if (m_hFont)
        DeleteObject(m_hFont);
    m_hFont = nullptr;
    m_progress.Destroy();
    m_background.Free();
    m_hAddress = m_hOutPath = nullptr;
}

void CMainFrame::FocusControl(HWND control, bool selectAll) {
    if (!control)
        return;
    // The address box takes keys in its edit field.
    HWND edit = control == m_hAddress ? GetWindow(control, GW_CHILD) : nullptr;
    SetFocus(edit ? edit : control);
    if (selectAll && control == m_hAddress)
        SendMessageA(m_hAddress, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
    else if (selectAll && control == m_hOutPath)
        SendMessageA(m_hOutPath, EM_SETSEL, 0, -1);
}

void CMainFrame::SyncFocusIndex() {
    HWND focus = GetFocus();
    // The address box's edit field is a child of the box.
    while (focus && GetParent(focus) != m_hWnd)
        focus = GetParent(focus);
    if (focus)
        m_controls.FocusNotified(focus);
}

HWND CMainFrame::FocusedPushButton() const {
    HWND focus = GetFocus();
    for (const auto* button : {&m_pView, &m_pBrowse, &m_pAbout, &m_pClose})
        if (*button && (*button)->m_hWnd == focus)
            return focus;
    return nullptr;
}

void CMainFrame::ShowBrowseDialog() {
    OnBrowse();
}

void CMainFrame::ShowAboutBox() {
    CAboutDialog about(m_hWnd);
    about.DoModal();
}

void CMainFrame::CloseWindow() {
    ::DestroyWindow(m_hWnd);
}

void CMainFrame::FocusNextControl() {
    SyncFocusIndex();
    FocusControl(m_controls.Next(), true);
}

void CMainFrame::FocusPreviousControl() {
    SyncFocusIndex();
    FocusControl(m_controls.Previous(), true);
}

void CMainFrame::OpenInBrowser(const std::string& address) {
    OpenAddress(address);
}

void CMainFrame::OnBrowse() {
    std::string filter = LoadString(IDS_FILTER);
    for (char& c : filter)
        if (c == '|')
            c = '\0';
    filter.push_back('\0');
    std::string ext = LoadString(IDS_DEFAULT_EXT);
    std::string title = LoadString(IDS_BROWSE_TITLE);
    std::string folder = ProgramDrive() + "\\MyZips";
    std::vector<char> file(MAX_PATH, '\0');
    std::string name = LoadString(IDS_DEFAULT_FILE);
    std::copy(name.begin(), name.end(), file.begin());
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = m_hWnd;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = folder.c_str();
    ofn.lpstrTitle = title.c_str();
    ofn.lpstrDefExt = ext.c_str();
    ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER;
    if (GetSaveFileNameA(&ofn))
        SetWindowTextA(m_hOutPath, file.data());
}

bool CMainFrame::InLogo(POINT pt) const {
    return PtInRect(&kLogo, pt) != 0;
}

LRESULT CMainFrame::OnPalette(UINT msg, WPARAM wParam, LPARAM lParam) {
    for (int i = 0; i < m_controls.Count(); ++i)
        SendMessageA(m_controls.At(i), msg, msg == WM_PALETTECHANGED ? wParam : 0, lParam);
    if (m_banner.m_hWnd)
        SendMessageA(m_banner.m_hWnd, msg, msg == WM_PALETTECHANGED ? wParam : 0, lParam);
    if (msg == WM_PALETTECHANGED && reinterpret_cast<HWND>(wParam) == m_hWnd)
        return 0;
    HDC dc = GetDC(m_hWnd);
    int n = m_background.RealizeFor(dc, m_hWnd);
    ReleaseDC(m_hWnd, dc);
    if (msg == WM_QUERYNEWPALETTE && n != 0)
        return n;
    return Default(msg, wParam, lParam);
}

LRESULT CMainFrame::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_CREATE:
            return OnCreate(lParam);
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(m_hWnd, &ps);
            const RECT& r = ps.rcPaint;
            m_background.DrawRect(dc, r.left, r.top, r.right, r.bottom, r.left, r.top, r.right,
                                  r.bottom);
            EndPaint(m_hWnd, &ps);
            return 0;
        }
        case WM_DESTROY:
            OnDestroy();
            Default(msg, wParam, lParam);
            PostQuitMessage(0);
            return 0;
        case WM_TIMER:
            OnTimer(static_cast<int>(wParam));
            return Default(msg, wParam, lParam);
        case WM_COMMAND:
            // A box that gets the keyboard (by a click too) is where Tab goes on from.
            if ((HIWORD(wParam) == CBN_SETFOCUS &&
                 lParam == reinterpret_cast<LPARAM>(m_hAddress)) ||
                (HIWORD(wParam) == EN_SETFOCUS && lParam == reinterpret_cast<LPARAM>(m_hOutPath)))
                m_controls.FocusNotified(reinterpret_cast<HWND>(lParam));
            // The boxes' own notifications carry their ids (1000, 1002), the same as
            // Alt+U and Alt+P: they must reach the default processing, not the commands.
            if (OnCommandMessage(LOWORD(wParam), HIWORD(wParam), lParam != 0))
                return 0;
            return Default(msg, wParam, lParam);
        case WM_SETCURSOR:
            if (reinterpret_cast<HWND>(wParam) == m_hWnd) {
                POINT pt;
                GetCursorPos(&pt);
                ScreenToClient(m_hWnd, &pt);
                SetCursor(LOWORD(lParam) == HTCLIENT && InLogo(pt) ? m_hHand : m_hArrow);
            }
            return Default(msg, wParam, lParam);
        case WM_LBUTTONDOWN: {
            POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            if (InLogo(pt))
                SetCapture(m_hWnd);
            return 0;
        }
        case WM_LBUTTONUP: {
            POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            if (GetCapture() == m_hWnd)
                ReleaseCapture();
            if (InLogo(pt))
                OpenAddress(LoadString(IDS_HOME_PAGE));
            return 0;
        }
        case WM_SYSCOMMAND:
            // The window has no menu bar. A lone Alt would put it in menu mode, and the
            // release of Alt after Alt+U (whose key the accelerator took) counts as one:
            // the keys typed next would go to the system menu instead of the box.
            if ((wParam & 0xFFF0) == SC_KEYMENU && lParam == 0)
                return 0;
            if ((wParam & 0xFFF0) == IDM_RENDER) {
                OnRenderMenuItem();
                return 0;
            }
            return Default(msg, wParam, lParam);
        case WM_CTLCOLORBTN:
            return reinterpret_cast<LRESULT>(GetStockObject(GRAY_BRUSH));
        case WM_QUERYNEWPALETTE:
        case WM_PALETTECHANGED:
            return OnPalette(msg, wParam, lParam);
        case WM_ACTIVATE: {
            // Going inactive (a dialog or message box opens): remember the control that
            // has the keyboard, so that it gets it back when the window is active again.
            if (LOWORD(wParam) == WA_INACTIVE)
                SyncFocusIndex();
            LRESULT r = Default(msg, wParam, lParam);
            if (LOWORD(wParam) == WA_ACTIVE) {
                HWND control = m_controls.Focused();
                if (control) {
                    InvalidateRect(control, nullptr, TRUE);
                    UpdateWindow(control);
                    FocusControl(control);
                }
            }
            return r;
        }
        case kMsgButtonFocus:
            m_controls.FocusNotified(GetFocus());
            return 0;
        case kMsgRunOnWindowThread: {
            auto* call = reinterpret_cast<WindowThreadCall*>(lParam);
            call->fn();
            SetEvent(call->done);
            return 0;
        }
    }
    return Default(msg, wParam, lParam);
}

bool CMainFrame::PreTranslateMessage(MSG* msg) {
    if (!m_hWnd || !m_hAccel || msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST)
        return false;
    // Only keys meant for this window and its controls, and only while it is idle.
    if (!msg->hwnd || (msg->hwnd != m_hWnd && !IsChild(m_hWnd, msg->hwnd)) ||
        !IsWindowEnabled(m_hWnd))
        return false;
    // An open drop-down list keeps Enter and Escape for itself.
    if (SendMessageA(m_hAddress, CB_GETDROPPEDSTATE, 0, 0))
        return false;
    // Enter presses the push button that has the keyboard; Zip is only the default.
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
        if (HWND button = FocusedPushButton()) {
            PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                         reinterpret_cast<LPARAM>(button));
            return true;
        }
    }
    return TranslateAcceleratorA(m_hWnd, m_hAccel, msg) != 0;
}

bool CMainFrame::WindowExists() {
    return Exists();
}

std::string CMainFrame::GetAddressText() {
    return WindowText(m_hAddress);
}

std::string CMainFrame::GetOutputPathText() {
    return WindowText(m_hOutPath);
}

int CMainFrame::ShowMessageBox(const std::string& text, unsigned style) {
    // A box as wide as a long address would open partly off the screen.
    return MessageBoxA(m_hWnd, platform::ShortenLongRuns(text).c_str(), ApplicationName().c_str(),
                       style);
}

void CMainFrame::SetFocusTo(int controlId) {
    FocusControl(GetDlgItem(m_hWnd, controlId));
}

void CMainFrame::EnableMainWindow(bool enable) {
    EnableWindow(m_hWnd, enable ? TRUE : FALSE);
}

void CMainFrame::StartTimer() {
    SetTimer(m_hWnd, 1, 500, nullptr);
}

void CMainFrame::StopTimer() {
    KillTimer(m_hWnd, 1);
}

void CMainFrame::ShowDoneDialog() {
    // The check of the copy comes right after where it went: the note has room for a few
    // lines only.
    std::string note = DoneNote();
    if (!m_strCheckNote.empty()) {
        size_t line = note.find('\n');
        note.insert(line == std::string::npos ? note.size() : line + 1, m_strCheckNote + "\n");
    }
    CDoneDialog done(m_hWnd, note);
    done.DoModal();
}

int CMainFrame::ComboGetCount() {
    return static_cast<int>(SendMessageA(m_hAddress, CB_GETCOUNT, 0, 0));
}

int CMainFrame::ComboAddString(const std::string& text) {
    return static_cast<int>(
        SendMessageA(m_hAddress, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

std::string CMainFrame::ComboGetItemText(int index) {
    LRESULT n = SendMessageA(m_hAddress, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (n == CB_ERR || n < 0)
        return std::string();
    std::string text(static_cast<size_t>(n) + 1, '\0');
    LRESULT got = SendMessageA(m_hAddress, CB_GETLBTEXT, static_cast<WPARAM>(index),
                               reinterpret_cast<LPARAM>(&text[0]));
    text.resize(got == CB_ERR || got < 0 ? 0 : static_cast<size_t>(got));
    return text;
}

void CMainFrame::ComboSetCurSel(int index) {
    SendMessageA(m_hAddress, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void CMainFrame::BringToForeground() {
    SetForegroundWindow(m_hWnd);
}

namespace {

DWORD WINAPI WorkerEntry(LPVOID param) {
    std::unique_ptr<std::function<void()>> fn(static_cast<std::function<void()>*>(param));
    (*fn)();
    return 0;
}

}  // namespace

bool CMainFrame::StartWorker(std::function<void()> fn) {
    if (!PrepareRender())
        return false;
    auto* heap = new std::function<void()>(std::move(fn));
    HANDLE thread = CreateThread(nullptr, 0, WorkerEntry, heap, 0, nullptr);
    if (!thread) {
        delete heap;
        return false;
    }
    CloseHandle(thread);
    return true;
}

void CMainFrame::RunOnWindowThread(std::function<void()> fn) {
    // Called on the window thread itself (a Zip whose worker could not start ends there):
    // waiting for the posted call would wait for ourselves.
    if (Exists() && GetWindowThreadProcessId(m_hWnd, nullptr) == GetCurrentThreadId()) {
        fn();
        return;
    }
    WindowThreadCall call{std::move(fn), CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    if (!call.done || !Exists() ||
        !PostMessageA(m_hWnd, kMsgRunOnWindowThread, 0, reinterpret_cast<LPARAM>(&call))) {
        // No window to carry it: run it here rather than never.
        if (call.done)
            CloseHandle(call.done);
        call.fn();
        return;
    }
    WaitForSingleObject(call.done, INFINITE);
    CloseHandle(call.done);
}

void CMainFrame::AddRenderMenuItem() {
    HMENU menu = GetSystemMenu(m_hWnd, FALSE);
    if (!menu)
        return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING | (RenderSettingOn() ? MF_CHECKED : MF_UNCHECKED), IDM_RENDER,
                LoadString(IDS_RENDER_MENU).c_str());
}

void CMainFrame::OnRenderMenuItem() {
    bool on = ToggleRenderSetting();
    CheckMenuItem(GetSystemMenu(m_hWnd, FALSE), IDM_RENDER,
                  MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

bool CMainFrame::PrepareRender() {
    CWindowRender render = PrepareWindowRender();
    m_pRendered = std::move(render.pSource);
    m_bVerify = render.bVerify;
    m_strCheckNote.clear();
    m_app.job.pPageSource = m_pRendered.get();
    if (render.strProblem.empty())
        return true;
    if (ProgressDialog())
        ProgressDialog()->Hide();
    ShowMessageBox(render.strProblem, MB_OK | MB_ICONWARNING);
    return false;
}

void CMainFrame::OutputWritten(const std::string& mainPagePath) {
    if (m_bVerify && m_pRendered && !IsCancelled()) {
        // The copy is checked while its files are still in the work folder.
        COfflineCheck check;
        std::string problem;
        bool checked =
            m_pRendered->CheckCopy(m_app.m_strJobURL, mainPagePath, m_app.job, check, problem);
        if (checked)
            platform::Trace("%s", SimilarityLine(check.dSimilarity).c_str());
        for (const std::string& tried : check.tried)
            platform::Trace("the offline copy still asked for %s", tried.c_str());
        m_strCheckNote = CopyCheckNote(checked, check, problem);
    }
}
