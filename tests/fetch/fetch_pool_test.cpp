// The files of a grab fetched several at once, against the fixture server's held answers
// (each answered after a pause, counted while under way): the bounds on transfers at once,
// the same folder whatever the number of transfers, a cancel among slow pictures, answers
// too large for a file or for the grab, and a password asked once on the grab's thread.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fixture_server.h"
#include "packager/fetch/fetch_pool.h"
#include "packager/fetch/grab_job.h"
#include "packager/fetch/grab_options.h"
#include "packager/fetch/grabber.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "saved_files.h"
#include "test_prompts.h"

namespace {

using Clock = std::chrono::steady_clock;

// A picture's bytes: its name, padded to size.
std::string Picture(const std::string& name, size_t size = 600) {
    std::string bytes = "PIC:" + name + ":";
    while (bytes.size() < size) {
        bytes += static_cast<char>('a' + bytes.size() % 26);
    }
    return bytes.substr(0, size);
}

struct Stats {
    int max = -1, requests = -1, connections = -1;
};

class PoolTest : public ::testing::Test, public CGrabProgress {
  protected:
    void SetUp() override {
        m_strSite = MakeHostScratch("poolsite");
        ASSERT_TRUE(platform::FolderCreate(Local("site")));
        m_grabber = std::make_unique<CGrabber>(platform::CreateInternetService(), CGrabOptions(),
                                               &m_prompts);
        m_job.pProgress = this;
    }
    void TearDown() override {
        for (const std::string& folder : m_folders) {
            m_grabber->RemoveFolder(folder);
        }
        CGrabber(nullptr).SweepWorkFolders();
        RunHost("rm -rf " + m_strSite);
    }

    std::string Local(const std::string& relative) const {
        return HostToLocal(m_strSite + "/" + relative);
    }
    void Put(const std::string& relative, const std::string& content) {
        ASSERT_TRUE(WriteWhole(Local(relative), content)) << relative;
    }
    bool Serve(FixtureServer& server, const std::vector<std::string>& extra = {}) {
        return server.Start(m_strSite, extra);
    }

    int Report(const std::string& text, int32_t) override {
        m_progress.push_back(text);
        if (m_bCancelAfterFirst && text.rfind("Loading images (", 0) == 0 &&
            text.rfind("Loading images (0 of", 0) != 0) {
            if (m_cancelled == Clock::time_point()) {
                m_cancelled = Clock::now();
                m_strCancelFolder = platform::FolderOf(m_job.strMainPage);
            }
            return 0;
        }
        return 1;
    }

    std::string Grab(const std::string& address) {
        std::string error = m_grabber->Grab(address, m_job);
        if (!m_job.strMainPage.empty()) {
            m_folders.push_back(platform::FolderOf(m_job.strMainPage));
        }
        return error;
    }

    Stats HeldStats(FixtureServer& server, bool reset = false) {
        std::string local = Local("stats.txt");
        CGrabber fetcher(platform::CreateInternetService());
        Stats stats;
        if (fetcher.DownloadFile(server.Base() + "/_/held-stats" + (reset ? "?reset=1" : ""), local,
                                 false, false)) {
            std::sscanf(ReadWhole(local).c_str(), "max=%d requests=%d connections=%d", &stats.max,
                        &stats.requests, &stats.connections);
        }
        platform::FileRemove(local);
        return stats;
    }

    std::string m_strSite;
    std::unique_ptr<CGrabber> m_grabber;
    GrabJob m_job;
    TestPrompts m_prompts;
    std::vector<std::string> m_progress;
    std::vector<std::string> m_folders;
    bool m_bCancelAfterFirst = false;
    Clock::time_point m_cancelled;
    std::string m_strCancelFolder;
};

// Each server sees no more transfers at once than either bound allows, and does see that
// many: the pool runs them side by side.
TEST_F(PoolTest, NeverMoreTransfersAtOnceThanTheBounds) {
    FixtureServer a, b;
    ASSERT_TRUE(Serve(a) && Serve(b));
    for (int i = 0; i < 8; ++i) {
        Put("site/p" + std::to_string(i) + ".png", Picture("p" + std::to_string(i)));
    }
    struct Case {
        int total, perServer;
        bool twoServers;
        int expectedMax;
    } cases[] = {
        {16, 2, true, 2},  // the per-server bound, on each of two servers
        {3, 6, false, 3},  // the bound over all servers
        {1, 6, true, 1},   // one at a time
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("MaxConnections=" + std::to_string(c.total) +
                     " MaxConnectionsPerServer=" + std::to_string(c.perServer));
        m_job.options = CGrabOptions();
        m_job.options.nMaxConnections = c.total;
        m_job.options.nMaxPerServer = c.perServer;
        std::string page = "<html><body>\n";
        for (int i = 0; i < 8; ++i) {
            std::string n = std::to_string(i);
            page += "<img src=\"/_/held/site/p" + n + ".png?s=0.25\">\n";
            if (c.twoServers) {
                page += "<img src=\"" + b.Base() + "/_/held/site/p" + n + ".png?s=0.25\">\n";
            }
        }
        Put("site/limits.htm", page + "</body></html>\n");
        HeldStats(a, true);
        HeldStats(b, true);
        ASSERT_EQ("", Grab(a.Base() + "/site/limits.htm"));
        Stats sa = HeldStats(a), sb = HeldStats(b);
        EXPECT_EQ(c.expectedMax, sa.max);
        EXPECT_EQ(8, sa.requests);
        if (c.twoServers) {
            EXPECT_EQ(c.expectedMax, sb.max);
            EXPECT_EQ(8, sb.requests);
        }
        const CGrabPlan& report = m_grabber->GetReport();
        EXPECT_EQ(0u, report.FailedCount());
        EXPECT_EQ(c.twoServers ? 17u : 9u,
                  ReadFolder(platform::FolderOf(m_job.strMainPage)).size());
    }
}

// Stylesheets that finish out of order (the first is the slowest, and what each imports or
// shows takes its own time) still give the names, the order of the plan and the bytes of a
// grab that fetches one file at a time.
TEST_F(PoolTest, OneTransferOrSixteenGiveTheSameFolder) {
    FixtureServer server;
    ASSERT_TRUE(Serve(server));
    ASSERT_TRUE(platform::FolderCreate(Local("site/one")) &&
                platform::FolderCreate(Local("site/two")));
    Put("site/index.htm",
        "<html><head>\n"
        "<link rel=\"stylesheet\" href=\"/_/held/site/a.css?s=0.5\">\n"
        "<link rel=\"stylesheet\" href=\"/_/held/site/b.css?s=0.02\">\n"
        "</head><body background=\"/_/held/site/bg.png?s=0.3\">\n"
        "<img src=\"/_/held/site/p1.png?s=0.4\"><img src=\"/_/held/site/p2.png?s=0.01\">\n"
        "<img src=\"/_/held/site/p1.png?s=0.4\"><img src=\"/_/held/site/one/pic.png?s=0.01\">\n"
        "</body></html>\n");
    Put("site/a.css",
        "@import url(c.css?s=0.02);\n"
        "body { background: url(ca.png?s=0.2) }\n"
        ".x { background: url(two/pic.png?s=0.3) }\n"
        ".s { background: url(shared.png?s=0.01) }\n");
    Put("site/b.css",
        "@import url(\"d.css?s=0.3\");\n"
        ".y { background: url(cb.png?s=0.01) }\n"
        ".z { background: url(shared.png?s=0.01) }\n");
    Put("site/c.css", ".c { background: url(cc.png?s=0.01) }\n");
    Put("site/d.css",
        ".d { background: url(one/pic.png?s=0.01) }\n"
        "@font-face { font-family: f; src: url(f.ttf?s=0.2) }\n");
    for (const char* name : {"bg.png", "p1.png", "p2.png", "ca.png", "cb.png", "cc.png",
                             "shared.png", "f.ttf", "one/pic.png", "two/pic.png"}) {
        Put(std::string("site/") + name, Picture(name));
    }

    std::vector<Files> folders;
    std::vector<std::vector<std::string>> plans;
    for (int connections : {1, 16, 1}) {
        SCOPED_TRACE("MaxConnections=" + std::to_string(connections));
        m_job.options.nMaxConnections = connections;
        ASSERT_EQ("", Grab(server.Base() + "/site/index.htm"));
        folders.push_back(ReadFolder(platform::FolderOf(m_job.strMainPage)));
        const CGrabPlan& report = m_grabber->GetReport();
        EXPECT_EQ("captured 1 page, 0 frames, 9 pictures, 4 stylesheets, 1 font; 0 failed",
                  report.Summary());
        std::vector<std::string> plan;
        for (size_t i = 0; i < report.Size(); ++i) {
            plan.push_back(report.At(i).strAddress.substr(server.Base().size()) + " " +
                           report.At(i).strLocalName);
        }
        plans.push_back(plan);
    }
    // A page, four stylesheets, nine pictures and a font.
    EXPECT_EQ(15u, folders[0].size());
    EXPECT_EQ(folders[0], folders[1]);
    EXPECT_EQ(folders[0], folders[2]);
    EXPECT_EQ(plans[0], plans[1]);
    EXPECT_EQ(plans[0], plans[2]);
}

// Cancel among twenty slow pictures: the grab ends within a second, the pictures not yet
// asked for are never asked for, and the work folder is gone.
TEST_F(PoolTest, CancelAmongTwentySlowPicturesEndsWithinASecond) {
    FixtureServer server;
    ASSERT_TRUE(Serve(server));
    std::string page = "<html><body>\n";
    for (int i = 0; i < 20; ++i) {
        std::string name = "slow" + std::to_string(i) + ".png";
        Put("site/" + name, Picture(name));
        page += "<img src=\"/_/held/site/" + name + "?s=0.4\">\n";
    }
    Put("site/slow.htm", page + "</body></html>\n");
    m_bCancelAfterFirst = true;
    ASSERT_EQ("", Grab(server.Base() + "/site/slow.htm"));
    Clock::time_point ended = Clock::now();
    ASSERT_NE(Clock::time_point(), m_cancelled);
    EXPECT_LT(ended - m_cancelled, std::chrono::seconds(1));
    EXPECT_EQ("", m_job.strMainPage);
    ASSERT_FALSE(m_strCancelFolder.empty());
    EXPECT_FALSE(platform::FolderExists(m_strCancelFolder));
    // The first six went out together, and a few more as each finished; not all twenty.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    Stats stats = HeldStats(server);
    EXPECT_GE(stats.requests, 6);
    EXPECT_LT(stats.requests, 20);
}

// An answer longer than MaxResourceBytes, or one that takes the grab past MaxGrabBytes, is
// abandoned as "too large" and leaves no file; the files after it are still fetched.
TEST_F(PoolTest, TooLargeIsReportedAndTheRestGoesOn) {
    FixtureServer server;
    ASSERT_TRUE(Serve(server));
    Put("site/big.htm",
        "<html><body><img src=\"one.png\"><img src=\"huge.png\"><img src=\"two.png\">"
        "<img src=\"three.png\"><img src=\"tiny.png\"></body></html>\n");
    Put("site/one.png", Picture("one", 5000));
    Put("site/huge.png", Picture("huge", 9000));
    Put("site/two.png", Picture("two", 5000));
    Put("site/three.png", Picture("three", 5000));
    Put("site/tiny.png", Picture("tiny", 100));
    // 0: the bound's default.
    struct Case {
        uint64_t resource;
        uint64_t grab;
        std::vector<std::string> tooLarge;
    } cases[] = {
        {8000, 0, {"/site/huge.png"}},
        // One at a time, the files that fit come first: the page, one and huge; two would
        // pass the bound.
        {0, 19000, {"/site/two.png", "/site/three.png"}},
        {8000, 4294967296ull, {"/site/huge.png"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.resource) + " " + std::to_string(c.grab));
        m_job.options = CGrabOptions();
        m_job.options.nMaxConnections = 1;
        if (c.resource) {
            m_job.options.nMaxResourceBytes = c.resource;
        }
        if (c.grab) {
            m_job.options.nMaxGrabBytes = c.grab;
        }
        ASSERT_EQ("", Grab(server.Base() + "/site/big.htm"));
        const CGrabPlan& report = m_grabber->GetReport();
        Files files = ReadFolder(platform::FolderOf(m_job.strMainPage));
        std::vector<std::string> failed;
        for (size_t i = 1; i < report.Size(); ++i) {
            const CGrabEntry& e = report.At(i);
            std::string path = e.strAddress.substr(server.Base().size());
            if (e.state == EntryState::Failed) {
                EXPECT_EQ("too large", e.strFailure) << path;
                EXPECT_EQ(0u, files.count(e.strLocalName)) << path;
                failed.push_back(path);
            } else {
                EXPECT_EQ(EntryState::Done, e.state) << path;
                EXPECT_EQ(ReadWhole(Local(path.substr(1))), files[e.strLocalName]) << path;
            }
        }
        EXPECT_EQ(c.tooLarge, failed);
    }
}

// RequestTimeout from the settings bounds every request of the grab: the page's on the
// grab's own session and a picture's on a transfer's. Each drips a byte every 0.25 s for 10 s.
TEST_F(PoolTest, RequestTimeoutBoundsThePageAndItsFiles) {
    struct OneSecond : CSettingsSource {
        int ReadInt(const char* name, int fallback) const override {
            return std::string(name) == "RequestTimeout" ? 1 : fallback;
        }
        std::string ReadString(const char*) const override { return ""; }
    };
    FixtureServer server;
    ASSERT_TRUE(Serve(server));
    const std::string drip = server.Base() + "/_/drip?gap=0.25&count=40";
    Put("site/drip.htm",
        "<html><body><img src=\"" + drip + "\"><img src=\"one.png\"></body></html>\n");
    Put("site/one.png", Picture("one"));
    m_job.options = ReadGrabOptions(OneSecond());

    Clock::time_point start = Clock::now();
    ASSERT_EQ("", Grab(server.Base() + "/site/drip.htm"));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    const CGrabPlan& report = m_grabber->GetReport();
    ASSERT_EQ(3u, report.Size());
    EXPECT_EQ(drip, report.At(1).strAddress);
    EXPECT_EQ(EntryState::Failed, report.At(1).state);
    EXPECT_EQ(EntryState::Done, report.At(2).state);

    start = Clock::now();
    EXPECT_EQ("Unable to load " + drip, Grab(drip));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

// Pictures behind a password, refused to several transfers at once: the prompt is shown
// once, on the grab's thread, and every picture is saved with what was entered.
TEST_F(PoolTest, PasswordIsAskedOnceOnTheGrabsThread) {
    struct Recording : TestPrompts {
        bool AskForCredentials(const std::string& server, std::string& user,
                               std::string& password) override {
            threads.push_back(std::this_thread::get_id());
            return TestPrompts::AskForCredentials(server, user, password);
        }
        std::vector<std::thread::id> threads;
    } prompts;
    m_grabber->SetPrompts(&prompts);
    prompts.AnswerCredentials(true, "u", "p");

    FixtureServer server;
    ASSERT_TRUE(Serve(server, {"--auth", "u:p", "--auth-prefix", "/secure/"}));
    ASSERT_TRUE(platform::FolderCreate(Local("secure")));
    std::string page = "<html><body>\n";
    for (int i = 0; i < 6; ++i) {
        std::string name = "s" + std::to_string(i) + ".png";
        Put("secure/" + name, Picture(name));
        page += "<img src=\"/secure/" + name + "\">\n";
    }
    Put("site/open.htm", page + "</body></html>\n");
    std::string error = Grab(server.Base() + "/site/open.htm");
    m_grabber->SetPrompts(&m_prompts);
    ASSERT_EQ("", error);
    ASSERT_EQ(1u, prompts.threads.size());
    EXPECT_EQ(std::this_thread::get_id(), prompts.threads[0]);
    const CGrabPlan& report = m_grabber->GetReport();
    EXPECT_EQ(0u, report.FailedCount());
    Files files = ReadFolder(platform::FolderOf(m_job.strMainPage));
    for (size_t i = 1; i < report.Size(); ++i) {
        std::string path = report.At(i).strAddress.substr(server.Base().size());
        EXPECT_EQ(ReadWhole(Local(path.substr(1))), files[report.At(i).strLocalName]) << path;
    }
}

}  // namespace
