// A grab whose page comes from a page source (the rendered capture's seam), played here by
// a source that hands over a fixed document: that document is the page, rewritten against
// the address it was shown from; the frames the source took are not fetched again; only the
// fonts the source saw loaded are kept.
#include <gtest/gtest.h>

#include <algorithm>

#include "packager/fetch/page_source.h"
#include "packager/fetch/text_file.h"
#include "served_grab_test.h"

namespace {

class CFixedSource : public CPageSource {
  public:
    bool Capture(const std::string& address, const std::string& workFolder, GrabJob&,
                 CRenderedPage& page, std::string& failure) override {
        m_strAsked = address;
        m_strFolder = workFolder;
        if (!m_strFailure.empty()) {
            failure = m_strFailure;
            return false;
        }
        page = m_page;
        return true;
    }
    CRenderedPage m_page;
    std::string m_strFailure;
    std::string m_strAsked, m_strFolder;
};

class RenderedGrab : public ServedGrabTest {
  protected:
    void SetUp() override {
        ServedGrabTest::SetUp();
        m_source.m_page.page.strAddress = Url("/images/shown/final.htm");
        m_source.m_page.page.strText =
            "<html><head><style>"
            "@font-face { font-family: A; src: url(/fonts/used.ttf); }"
            "@font-face { font-family: B; src: url(/fonts/unused.ttf); }"
            "</style></head><body><p>built by the page</p><img src=\"../1.gif\">"
            "<script>never()</script><iframe src=\"" +
            Url("/frames/made.htm") + "\"></iframe></body></html>";
        m_source.m_page.frames.push_back(
            {Url("/frames/made.htm"), "<html><body>frame text<img src=\"2.gif\"></body></html>"});
        m_source.m_page.loaded.push_back({Url("/fonts/used.ttf"), "Font"});
        m_source.m_page.loaded.push_back({Url("/images/1.gif"), "Image"});
        m_job.pPageSource = &m_source;
    }

    bool Requested(const std::string& path) const {
        for (const std::string& line : s_pServer->Requests()) {
            if (line.compare(0, path.size() + 1, path + " ") == 0) {
                return true;
            }
        }
        return false;
    }

    CFixedSource m_source;
};

TEST_F(RenderedGrab, ThePageIsTheSourcesDocumentThroughTheUsualPagePass) {
    ASSERT_EQ(Grab(Url("/images/index.htm")), "");
    EXPECT_EQ(m_source.m_strAsked, Url("/images/index.htm"));
    EXPECT_EQ(m_source.m_strFolder, platform::FolderOf(m_job.strMainPage));
    std::string page = Main();
    EXPECT_NE(page.find("built by the page"), std::string::npos);
    EXPECT_EQ(page.find("never()"), std::string::npos) << "scripts are removed";
    EXPECT_NE(page.find("grabbed for free"), std::string::npos) << "the footer is added";
    EXPECT_FALSE(Requested("/images/index.htm")) << "the fetcher did not fetch the page";

    const CGrabPlan& plan = m_grabber->GetReport();
    // "../1.gif" resolves against the address the page was shown from.
    size_t picture = plan.Find(Url("/images/1.gif"));
    ASSERT_NE(picture, std::string::npos);
    EXPECT_EQ(plan.At(picture).state, EntryState::Done);
    // The frame is the source's document, rewritten (its picture found) and not fetched.
    size_t frame = plan.Find(Url("/frames/made.htm"));
    ASSERT_NE(frame, std::string::npos);
    EXPECT_EQ(plan.At(frame).state, EntryState::Done);
    std::string frameText = ReadWhole(
        platform::JoinPath(platform::FolderOf(m_job.strMainPage), plan.At(frame).strLocalName));
    EXPECT_NE(frameText.find("frame text"), std::string::npos);
    EXPECT_FALSE(Requested("/frames/made.htm"));
    EXPECT_NE(plan.Find(Url("/frames/2.gif")), std::string::npos);
    // Only the font the browser loaded is an entry; the other stays on the web.
    EXPECT_NE(plan.Find(Url("/fonts/used.ttf")), std::string::npos);
    EXPECT_EQ(plan.Find(Url("/fonts/unused.ttf")), std::string::npos);
    EXPECT_NE(page.find(Url("/fonts/unused.ttf")), std::string::npos);
}

TEST_F(RenderedGrab, ASourceThatFailsFailsTheGrabWithItsReason) {
    m_source.m_strFailure = "the browser ended before the capture was done";
    EXPECT_EQ(Grab(Url("/images/index.htm")), "Unable to load " + Url("/images/index.htm"));
    std::vector<std::string> lines = m_grabber->GetReport().FailureLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(m_source.m_strFailure), std::string::npos) << lines[0];
    EXPECT_FALSE(Requested("/images/index.htm"));
}

TEST_F(RenderedGrab, AFontFilterLastsOneGrab) {
    ASSERT_EQ(Grab(Url("/images/index.htm")), "");
    m_job.pPageSource = nullptr;
    CGrab next(*m_grabber, m_job);
    EXPECT_NE(next.Plan().Add(Url("/fonts/unused.ttf"), EntryKind::Font), "");
}

}  // namespace

namespace {

// A run that died while its browser ran left the browser's profile (a tree) in its work
// folder: the next start's sweep takes it with the folder.
TEST(RenderedGrabSweep, ALeftoverBrowserProfileGoesWithItsWorkFolder) {
    std::string temp = platform::JoinPath(platform::FolderOf(platform::GetProgramPath()), "temp");
    std::string folder = platform::JoinPath(temp, "~QBDEAD");
    std::string deep =
        platform::JoinPath(platform::JoinPath(folder, kBrowserProfileName), "Default");
    ASSERT_TRUE(platform::FolderCreate(temp) || platform::FolderExists(temp));
    ASSERT_TRUE(platform::FolderCreate(folder));
    ASSERT_TRUE(platform::FolderCreate(platform::JoinPath(folder, kBrowserProfileName)));
    ASSERT_TRUE(platform::FolderCreate(deep));
    ASSERT_TRUE(WriteWholeFile(platform::JoinPath(deep, "Cookies"), "x"));
    CGrabber(nullptr).SweepWorkFolders();
    EXPECT_FALSE(platform::PathExists(folder));
}

}  // namespace
