// The window's switches for the rendered capture, in a settings store of the test's own:
// the menu item turns Render over, Verify asks for the browser too, and the done dialog's
// line tells a copy that falls short.
#include <gtest/gtest.h>

#include <memory>

#include "packager/render/window_render.h"
#include "platform/settings.h"
#include "tests/platform/scratch.h"

#ifdef _WIN32
#include <process.h>
#define QB_GETPID _getpid
#else
#include <unistd.h>
#define QB_GETPID getpid
#endif

namespace {

class WindowRender : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.Path().empty());
#ifndef _WIN32
        m_xdg = std::make_unique<EnvOverride>("XDG_CONFIG_HOME", m_dir.Path().c_str());
#endif
        ASSERT_TRUE(platform::SetSettingsKey("Tarnwick",
                                             "QuillboxRenderTest" + std::to_string(QB_GETPID())));
    }
    void TearDown() override {
        EXPECT_TRUE(platform::RemoveSettings());
        platform::SetSettingsKey("", "");
    }
    // Names a browser that is not there, on either platform's way of naming one.
    void NameMissingBrowser() {
        m_missing = m_dir / "no-such-browser";
        ASSERT_TRUE(platform::WriteSettingString("Settings", "Browser", m_missing));
#ifndef _WIN32
        m_browser = std::make_unique<EnvOverride>("QB_BROWSER", m_missing.c_str());
#endif
    }

    ScratchFolder m_dir;
    std::string m_missing;
#ifndef _WIN32
    std::unique_ptr<EnvOverride> m_xdg, m_browser;
#endif
};

TEST_F(WindowRender, TheMenuItemTurnsRenderOverInTheStore) {
    EXPECT_FALSE(RenderSettingOn());
    EXPECT_TRUE(ToggleRenderSetting());
    EXPECT_EQ(platform::ReadSettingInt("Settings", "Render", -1), 1);
    EXPECT_TRUE(RenderSettingOn());
    EXPECT_FALSE(ToggleRenderSetting());
    EXPECT_EQ(platform::ReadSettingInt("Settings", "Render", -1), 0);
    EXPECT_FALSE(RenderSettingOn());
    // Verify renders too, so the item shows it on; turned off, nothing renders any more.
    ASSERT_TRUE(platform::WriteSettingInt("Settings", "Verify", 1));
    EXPECT_TRUE(RenderSettingOn());
    EXPECT_FALSE(ToggleRenderSetting());
    EXPECT_EQ(platform::ReadSettingInt("Settings", "Verify", -1), 0);
    EXPECT_EQ(platform::ReadSettingInt("Settings", "Render", -1), 0);
    EXPECT_FALSE(RenderSettingOn());
}

TEST_F(WindowRender, RenderOrVerifyLooksForTheBrowserAndNothingElseDoes) {
    NameMissingBrowser();
    struct Case {
        int render, verify;
        bool looks;
    };
    for (const Case& c : {Case{0, 0, false}, Case{1, 0, true}, Case{0, 1, true}}) {
        ASSERT_TRUE(platform::WriteSettingInt("Settings", "Render", c.render));
        ASSERT_TRUE(platform::WriteSettingInt("Settings", "Verify", c.verify));
        CWindowRender render = PrepareWindowRender();
        EXPECT_EQ(render.pSource, nullptr);
        EXPECT_FALSE(render.bVerify) << "a check without a browser";
        if (c.looks) {
            EXPECT_NE(render.strProblem.find(m_missing), std::string::npos)
                << c.render << c.verify << ": " << render.strProblem;
        } else {
            EXPECT_EQ(render.strProblem, "") << "the usual capture looked for a browser";
        }
    }
}

TEST(CopyCheckNote, TellsOnlyACopyThatFallsShortOrWasNotChecked) {
    struct Case {
        bool checked;
        double similarity;
        const char* problem;
        const char* note;
    };
    const Case cases[] = {
        {true, 0.996, "", ""},
        {true, 0.97, "", ""},
        {true, 0.912, "", "offline copy matches the live page: 91.2 %"},
        {true, 0.9699, "", "offline copy matches the live page: 96.9 %"},
        {false, 0, "the browser ended before the capture was done",
         "The offline copy could not be checked: the browser ended before the capture was done."},
        {false, 0, "", ""},  // cancelled
    };
    for (const Case& c : cases) {
        COfflineCheck check;
        check.dSimilarity = c.similarity;
        EXPECT_EQ(CopyCheckNote(c.checked, check, c.problem), c.note) << c.similarity;
    }
}

}  // namespace
