// The banner strip's window: a palette-aware bitmap window that rotates the
// pictures of the banner folder and opens the click address on a click.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "packager/banner/banner.h"
#include "packager/widgets/dib_win32.h"

class CGrabber;

class BannerWindow : public CDibWnd {
  public:
    BannerWindow();
    ~BannerWindow() override;

    // Creates the visible child at rc and loads the banners.
    bool Create(const RECT& rc, HWND parent);
    // Reads banners.ini and the folder; shows the first picture or bitmap 138.
    void LoadBanners();
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

    const std::string& ClickAddress() const { return m_strAddress; }
    const CBannerRotation& Rotation() const { return m_rotation; }

  private:
    void ShowName(const std::string& name);

    std::string m_strFolder;
    std::string m_strAddress;
    CBannerRotation m_rotation{{}};
};

// Start-up: creates the banner folder and steps the update counter; on every fifth
// start downloads the pictures with the grabber behind a progress dialog.
void StartBannerUpdate(CGrabber& grabber);
