// The rendered capture as the window asks for it: the settings Render (capture as the
// browser shows it; the system menu turns it on and off) and Verify (also check the written
// copy; implies Render), stored beside the other settings, read again for every grab.
#pragma once

#include <memory>
#include <string>

#include "packager/render/offline_check.h"
#include "packager/render/rendered_page_source.h"

// Whether the window's grabs render: the setting Render, or Verify, is 1 (the menu item's
// check mark).
bool RenderSettingOn();
// Turns the rendered capture over: on sets Render to 1; off sets Render, and Verify (which
// would go on rendering), to 0. Whether it is on afterwards (unchanged when it cannot be
// stored).
bool ToggleRenderSetting();

// What one grab of the window renders with.
struct CWindowRender {
    // The page source; null for the usual capture (and when no browser was found).
    std::unique_ptr<CRenderedPageSource> pSource;
    // Whether the written copy is checked.
    bool bVerify = false;
    // No browser was found: what was looked for and how to name one. Nothing may be grabbed.
    std::string strProblem;
};

// Reads Render and Verify (with the other grab settings) and finds the browser when one is
// wanted.
CWindowRender PrepareWindowRender();

// The done dialog's line about the check of the copy: the figure when the copy falls short
// of kFaithfulCopy, the reason when it could not be checked; empty when the copy is faithful
// or the check was cancelled.
std::string CopyCheckNote(bool checked, const COfflineCheck& check, const std::string& problem);
