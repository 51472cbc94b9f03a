// The banner strip's logic: which files are pictures, the rotation order, the
// update counter, banners.ini, and the update against the fixture web server.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/fetch/fixture_server.h"
#include "packager/banner/banner.h"
#include "packager/fetch/grabber.h"
#include "packager/shell/history.h"
#include "platform/files.h"
#include "platform/settings.h"

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

namespace {

std::string Local(const std::string& hostPath) {
    return HostToLocal(hostPath);
}

// A private settings store for one test (a scratch XDG folder off Windows, a
// program name of its own under HKCU\Software\Tarnwick on Windows).
class ScopedSettings {
  public:
    explicit ScopedSettings(const std::string& tag) {
#ifndef _WIN32
        m_dir = MakeHostScratch("settings-" + tag);
        setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
#endif
        platform::SetSettingsKey("Tarnwick", "qb-banner-test-" + tag);
        platform::RemoveSettings();
    }
    ~ScopedSettings() {
        platform::RemoveSettings();
        platform::SetSettingsKey("", "");
    }

  private:
    std::string m_dir;
};

class RecordingView : public IBannerUpdateView {
  public:
    void SetMessage(const std::string& text) override { messages.push_back(text); }
    void SetPosition(int position) override { positions.push_back(position); }
    std::vector<std::string> messages;
    std::vector<int> positions;
};

TEST(Banner, FolderSitsBesideTheProgram) {
    std::string program = platform::JoinPath(platform::JoinPath("", "opt"), "quillbox.exe");
    EXPECT_EQ(BannerFolderFor(program),
              platform::JoinPath(platform::JoinPath("", "opt"), "banners"));
}

TEST(Banner, OnlyBmpFilesNotStartingWithADotArePictures) {
    std::string dir = Local(MakeHostScratch("names"));
    for (const char* name : {"a.bmp", "B.BMP", "c.txt", ".hidden.bmp", "d.bmp.txt", "e.Bmp"})
        WriteWhole(platform::JoinPath(dir, name), "x");
    platform::FolderCreate(platform::JoinPath(dir, "sub"));
    EXPECT_THAT(FindBannerNames(dir), UnorderedElementsAre("a.bmp", "B.BMP", "e.Bmp"));
    EXPECT_TRUE(FindBannerNames(platform::JoinPath(dir, "missing")).empty());
}

TEST(Banner, RotationShowsTheFirstPictureTwiceThenGoesRound) {
    CBannerRotation three({"1.bmp", "2.bmp", "3.bmp"});
    EXPECT_TRUE(three.NeedsTimer());
    // Creation shows the first name; then every tick shows the name at the index.
    std::vector<std::string> shown{three.Names().front()};
    for (int i = 0; i < 6; ++i)
        shown.push_back(three.Tick());
    EXPECT_THAT(shown, ElementsAre("1.bmp", "1.bmp", "2.bmp", "3.bmp", "1.bmp", "2.bmp", "3.bmp"));

    CBannerRotation one({"only.bmp"});
    EXPECT_FALSE(one.NeedsTimer());
    EXPECT_EQ(one.Tick(), "only.bmp");
    EXPECT_EQ(one.Tick(), "only.bmp");

    CBannerRotation none({});
    EXPECT_FALSE(none.NeedsTimer());
    EXPECT_EQ(none.Tick(), "");
}

TEST(Banner, CounterRunsTheUpdateOnEveryFifthStart) {
    ScopedSettings settings("counter");
    int updates = 0;
    std::vector<int> stored;
    std::vector<bool> ran;
    for (int start = 0; start < 10; ++start) {
        ran.push_back(StepBannerCounter([&] { ++updates; }));
        stored.push_back(platform::ReadSettingInt("User", "Banners", -1));
    }
    EXPECT_THAT(stored, ElementsAre(1, 2, 3, 4, 0, 1, 2, 3, 4, 0));
    EXPECT_EQ(updates, 2);
    EXPECT_TRUE(ran[4]);
    EXPECT_TRUE(ran[9]);
    EXPECT_FALSE(ran[0]);

    // A counter already past 4 (written by hand) runs the update at once.
    platform::WriteSettingInt("User", "Banners", 70);
    EXPECT_TRUE(StepBannerCounter([&] { ++updates; }));
    EXPECT_EQ(platform::ReadSettingInt("User", "Banners", -1), 0);
}

TEST(Banner, SettingsFileGivesDefaultsAndCutsLongValues) {
    std::string dir = Local(MakeHostScratch("ini"));
    EXPECT_EQ(ReadBannerSetting(dir, "Address", kVendorHomePage), kVendorHomePage);
    std::string longAddress = "http://host/" + std::string(1000, 'a');
    WriteWhole(platform::JoinPath(dir, "banners.ini"),
               "[Custom]\r\nAddress=" + longAddress + "\r\nDir=http://127.0.0.1:1/b\r\n");
    std::string address = ReadBannerSetting(dir, "Address", kVendorHomePage);
    EXPECT_EQ(address, longAddress.substr(0, 255));
    EXPECT_EQ(ReadBannerSetting(dir, "Dir", kVendorBannerFolder), "http://127.0.0.1:1/b");
}

TEST(Banner, UpdateFetchesSettingsAndNumberedPicturesUntilTheFirstFailure) {
    // The server's banner folder holds banners.ini and 1.bmp to 3.bmp.
    std::string root = MakeHostScratch("site");
    std::string served = root + "/ads";
    platform::FolderCreate(Local(served));
    for (int k = 1; k <= 3; ++k)
        WriteWhole(Local(served + "/" + std::to_string(k) + ".bmp"),
                   "picture " + std::to_string(k));
    FixtureServer server;
    ASSERT_TRUE(server.Start(root));
    WriteWhole(Local(served + "/banners.ini"),
               "[Custom]\nAddress=http://ads.example/\nDir=" + server.Base() + "/ads\n");

    std::string folder = Local(MakeHostScratch("banners"));
    WriteWhole(platform::JoinPath(folder, "banners.ini"),
               "[Custom]\r\nDir=" + server.Base() + "/ads\r\n");
    // A picture from an earlier, longer set stays.
    WriteWhole(platform::JoinPath(folder, "7.bmp"), "old");

    CGrabber grabber(platform::CreateInternetService());
    RecordingView view;
    int count = RunBannerUpdate(
        folder,
        [&](const std::string& source, const std::string& destination, bool textMode) {
            return grabber.DownloadFile(source, destination, false, textMode);
        },
        view);
    EXPECT_EQ(count, 3);
    EXPECT_THAT(view.positions, ElementsAre(0, 10, 20, 30));
    EXPECT_THAT(view.messages,
                ElementsAre("Connecting to server...", "Retrieving Quillbox updates..."));
    EXPECT_EQ(ReadWhole(platform::JoinPath(folder, "2.bmp")), "picture 2");
    EXPECT_EQ(ReadWhole(platform::JoinPath(folder, "7.bmp")), "old");
    // The server's settings replace the local ones (written in text mode).
    EXPECT_EQ(ReadBannerSetting(folder, "Address", ""), "http://ads.example/");
    EXPECT_NE(ReadWhole(platform::JoinPath(folder, "banners.ini")).find("\r\n"), std::string::npos);
    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].substr(0, 16), "/ads/banners.ini");
    EXPECT_EQ(requests[4].substr(0, 10), "/ads/4.bmp");
}

TEST(Banner, UpdateWithoutAServerEndsAfterTheFirstPicture) {
    std::string folder = Local(MakeHostScratch("noserver"));
    std::vector<std::string> asked;
    RecordingView view;
    int count = RunBannerUpdate(
        folder,
        [&](const std::string& source, const std::string&, bool) {
            asked.push_back(source);
            return false;
        },
        view);
    EXPECT_EQ(count, 0);
    EXPECT_THAT(asked, ElementsAre(std::string(kVendorBannerFolder) + "/banners.ini",
                                   std::string(kVendorBannerFolder) + "/1.bmp"));
    EXPECT_THAT(view.positions, ElementsAre(0));
}

TEST(Banner, UpdateFromAServerThatAnswersEverythingStops) {
    std::string folder = Local(MakeHostScratch("endless"));
    RecordingView view;
    int count = RunBannerUpdate(
        folder, [](const std::string&, const std::string&, bool) { return true; }, view);
    EXPECT_EQ(count, kMaxBannerPictures);
    EXPECT_EQ(view.positions.back(), 10 * kMaxBannerPictures);
}

}  // namespace
