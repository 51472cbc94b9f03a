#include "packager/banner/banner_window_win32.h"

#include <shellapi.h>

#include "packager/fetch/grabber.h"
#include "packager/res/resource.h"
#include "packager/shell/history.h"
#include "packager/shell/progress_dialog.h"
#include "platform/files.h"

namespace {

constexpr UINT_PTR kRotationTimer = 1;

class CDialogUpdateView : public IBannerUpdateView {
  public:
    explicit CDialogUpdateView(CProgressDialog& dlg) : m_dlg(dlg) {}
    void SetMessage(const std::string& text) override { m_dlg.SetMessage(text); }
    void SetPosition(int position) override { m_dlg.SetPosition(position); }

  private:
    CProgressDialog& m_dlg;
};

}  // namespace

BannerWindow::BannerWindow() = default;

BannerWindow::~BannerWindow() = default;

bool BannerWindow::Create(const RECT& rc, HWND parent) {
    if (!CreateEx(0, CDibWnd::ClassName(), "Quillbox Banner Window", WS_CHILD | WS_VISIBLE, rc.left,
                  rc.top, rc.right - rc.left, rc.bottom - rc.top, parent, 0))
        return false;
    LoadBanners();
    return true;
}

void BannerWindow::LoadBanners() {
    m_strFolder = BannerFolderFor(platform::GetProgramPath());
    m_strAddress = ReadBannerSetting(m_strFolder, "Address", kVendorHomePage);
    m_rotation = CBannerRotation(FindBannerNames(m_strFolder));
    if (!m_rotation.Names().empty()) {
        ShowName(m_rotation.Names().front());
        if (m_rotation.NeedsTimer())
            SetTimer(m_hWnd, kRotationTimer, 2000, nullptr);
    } else {
        m_dib.LoadFromResource(IDB_BANNER);
    }
}

void BannerWindow::ShowName(const std::string& name) {
    m_dib.Free();
    m_dib.LoadFromFile(platform::JoinPath(m_strFolder, name));
}

LRESULT BannerWindow::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_LBUTTONUP:
            ShellExecuteA(nullptr, "open", m_strAddress.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            return Default(msg, wParam, lParam);
        case WM_TIMER:
            if (!m_rotation.Names().empty()) {
                ShowName(m_rotation.Tick());
                InvalidateRect(m_hWnd, nullptr, TRUE);
                UpdateWindow(m_hWnd);
            }
            return 0;
        case WM_PAINT:
            return CDibWnd::WindowProc(msg, wParam, lParam);
        case WM_DESTROY: {
            LRESULT r = Default(msg, wParam, lParam);
            m_dib.Free();
            KillTimer(m_hWnd, kRotationTimer);
            m_rotation.Clear();
            return r;
        }
        case WM_SETCURSOR:
            SetCursor(LoadCursorA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDC_HAND_CURSOR)));
            return TRUE;
        case WM_CREATE:
        case WM_KEYUP:
            return Default(msg, wParam, lParam);
    }
    return CDibWnd::WindowProc(msg, wParam, lParam);
}

void StartBannerUpdate(CGrabber& grabber) {
    std::string folder = BannerFolderFor(platform::GetProgramPath());
    PrepareBannerFolder(folder);
    StepBannerCounter([&] {
        auto dlg = std::make_unique<CProgressDialog>(nullptr);
        dlg->Create("", true, nullptr);
        dlg->Show();
        CDialogUpdateView view(*dlg);
        // Cancel is not looked at: the pictures keep coming until the first failure.
        RunBannerUpdate(
            folder,
            [&](const std::string& source, const std::string& destination, bool textMode) {
                return grabber.DownloadFile(source, destination, false, textMode);
            },
            view);
        dlg->DestroyWindow();
    });
}
