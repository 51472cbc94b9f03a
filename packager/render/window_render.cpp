#include "packager/render/window_render.h"

#include "packager/fetch/grab_options.h"
#include "platform/settings.h"

namespace {

const char kSection[] = "Settings";

}  // namespace

bool RenderSettingOn() {
    return platform::ReadSettingInt(kSection, "Render", 0) != 0 ||
           platform::ReadSettingInt(kSection, "Verify", 0) != 0;
}

bool ToggleRenderSetting() {
    if (!RenderSettingOn()) {
        platform::WriteSettingInt(kSection, "Render", 1);
    } else {
        platform::WriteSettingInt(kSection, "Render", 0);
        if (platform::ReadSettingInt(kSection, "Verify", 0) != 0) {
            platform::WriteSettingInt(kSection, "Verify", 0);
        }
    }
    return RenderSettingOn();
}

CWindowRender PrepareWindowRender() {
    CWindowRender render;
    CGrabOptions options = ReadGrabOptions();
    render.bVerify = platform::ReadSettingInt(kSection, "Verify", 0) != 0;
    options.bRender = options.bRender || render.bVerify;
    render.pSource = MakeRenderedPageSource(options, render.strProblem);
    render.bVerify = render.bVerify && render.pSource != nullptr;
    return render;
}

std::string CopyCheckNote(bool checked, const COfflineCheck& check, const std::string& problem) {
    if (checked) {
        return check.dSimilarity < kFaithfulCopy ? SimilarityLine(check.dSimilarity)
                                                 : std::string();
    }
    return problem.empty() ? std::string()
                           : "The offline copy could not be checked: " + problem + ".";
}
