// quillbox.exe: the application object and the program's entry point.
#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "packager/archive/archive_ui.h"
#include "packager/banner/banner_window_win32.h"
#include "packager/fetch/grabber.h"
#include "packager/shell/main_window_win32.h"
#include "packager/shell/ui_prompts.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "platform/settings.h"

namespace {

const char* const kNoConnection =
    "Quillbox is unable to establish a connection to the Internet.\r\n"
    "                           "
    "Please make sure you have internet service, and try again.";

class CPackagerApp : public fw::CWinApp {
  public:
    CPackagerApp() : m_mainWindow(m_state) {}

    bool InitInstance() override {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
        std::unique_ptr<platform::InternetService> service = platform::CreateInternetService();
        if (!service || service->AttemptConnect() != 0) {
            MessageBoxA(nullptr, kNoConnection, ApplicationName().c_str(), MB_OK);
            return false;
        }
        m_pGrabber.reset(new CGrabber(std::move(service), CGrabOptions(), &m_prompts));
        m_state.pGrabber = m_pGrabber.get();
        m_pGrabber->SweepWorkFolders();
        platform::SetSettingsKey("Tarnwick", ApplicationName());
        StartBannerUpdate(*m_pGrabber);
        if (!m_mainWindow.CreateMain())
            return false;
        m_pMainWnd = &m_mainWindow;
        return true;
    }

    int ExitInstance() override {
        m_mainWindow.DestroyWindow();
        if (m_pGrabber) {
            m_pGrabber->Close();
            m_pGrabber.reset();
        }
        m_state.pGrabber = nullptr;
        return fw::CWinApp::ExitInstance();
    }

  private:
    // The job record, the running job's address and the grabber pointer; the
    // window refers to them, so they come first.
    PackagerState m_state;
    CMainFrame m_mainWindow;
    CUiFetchPrompts m_prompts;
    std::unique_ptr<CGrabber> m_pGrabber;
};

CPackagerApp theApp;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return theApp.Run();
}
