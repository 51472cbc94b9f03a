// The grab job's one reporting operation and the grabber's life: the session it opens, the
// empty state it starts with, and the order in which it lets go of its connection and session.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "packager/fetch/grab_job.h"
#include "packager/fetch/grabber.h"

namespace {

using Log = std::vector<std::string>;

// The session as the grabber opens it, with the default time-outs.
const char kOpened[] = "open Quillbox! 0 0x20200000 20000/60000/300000";

class FakeConnection : public platform::InternetConnection {
  public:
    explicit FakeConnection(Log& log) : m_log(log) {}
    ~FakeConnection() override { m_log.push_back("connection closed"); }
    std::unique_ptr<platform::InternetRequest> OpenRequest(const std::string&, const std::string&,
                                                           const std::string&, uint32_t) override {
        return nullptr;
    }

  private:
    Log& m_log;
};

class FakeSession : public platform::InternetSession {
  public:
    explicit FakeSession(Log& log) : m_log(log) {}
    ~FakeSession() override { m_log.push_back("session closed"); }
    std::unique_ptr<platform::InternetConnection> Connect(const std::string& host, uint16_t port,
                                                          const std::string&, const std::string&,
                                                          bool) override {
        m_log.push_back("connect " + host + ":" + std::to_string(port));
        return std::make_unique<FakeConnection>(m_log);
    }

  private:
    Log& m_log;
};

class FakeService : public platform::InternetService {
  public:
    explicit FakeService(Log& log) : m_log(log) {}
    ~FakeService() override { m_log.push_back("service gone"); }
    uint32_t AttemptConnect() override { return 0; }
    std::unique_ptr<platform::InternetSession> OpenSession(
        const std::string& agent, uint32_t accessType, uint32_t flags,
        const platform::InternetTimeouts& timeouts) override {
        char text[96];
        std::snprintf(text, sizeof(text), "open %s %u 0x%08X %d/%d/%d", agent.c_str(), accessType,
                      flags, timeouts.connectMs, timeouts.readMs, timeouts.requestMs);
        m_log.push_back(text);
        return std::make_unique<FakeSession>(m_log);
    }
    bool GetUrlCacheEntry(const std::string&, std::string&) override { return false; }

  private:
    Log& m_log;
};

TEST(GrabberState, OpensItsSessionAndClosesConnectionBeforeSession) {
    Log log;
    {
        CGrabber grabber(std::make_unique<FakeService>(log));
        ASSERT_EQ((Log{kOpened}), log);
        ASSERT_NE(nullptr, grabber.GetSession());
        EXPECT_FALSE(grabber.Connected());
        EXPECT_TRUE(grabber.Credentials().strUser.empty() &&
                    grabber.Credentials().strPassword.empty());
        EXPECT_EQ(0u, grabber.GetReport().Size());
        EXPECT_EQ(0u, grabber.LastStatus());
        EXPECT_EQ("", grabber.Failure());
        // A fetch the fake connection cannot serve lets go of its connection at once.
        struct Discard : CFetchSink {
            bool Take(const char*, size_t, std::string&) override { return true; }
        } sink;
        EXPECT_FALSE(grabber.Fetch("http://h:81/x", sink, 16, false).bOpened);
        EXPECT_FALSE(grabber.Connected());
    }
    EXPECT_EQ((Log{kOpened, "connect h:81", "connection closed", "session closed", "service gone"}),
              log);
}

TEST(GrabberState, ClosingTwiceIsHarmless) {
    Log log;
    CGrabber grabber(std::make_unique<FakeService>(log));
    grabber.Close();
    grabber.Close();
    EXPECT_EQ(nullptr, grabber.GetSession());
    EXPECT_EQ((Log{kOpened, "session closed"}), log);
}

// A session keeps the time-outs it opened with: options with others open it again, after
// the connection made on it has gone; a closed session stays closed.
TEST(GrabberState, OtherTimeoutsOpenTheSessionAgain) {
    Log log;
    CGrabOptions options;
    options.timeouts = {1000, 2000, 3000};
    CGrabber grabber(std::make_unique<FakeService>(log), options);
    struct Discard : CFetchSink {
        bool Take(const char*, size_t, std::string&) override { return true; }
    } sink;
    grabber.Fetch("http://h:81/x", sink, 16, false);
    options.nMaxRedirects = 3;
    grabber.SetOptions(options);  // the same time-outs: the same session
    options.timeouts.requestMs = 4000;
    grabber.SetOptions(options);
    EXPECT_NE(nullptr, grabber.GetSession());
    grabber.Close();
    grabber.SetOptions(CGrabOptions());
    EXPECT_EQ(nullptr, grabber.GetSession());
    EXPECT_EQ(
        (Log{"open Quillbox! 0 0x20200000 1000/2000/3000", "connect h:81", "connection closed",
             "session closed", "open Quillbox! 0 0x20200000 1000/2000/4000", "session closed"}),
        log);
}

// Records what the job's progress was told, and answers as asked.
struct Seen : CGrabProgress {
    int Report(const std::string& reported, int32_t at) override {
        text = reported;
        position = at;
        return answer;
    }
    std::string text;
    int32_t position = -1;
    int answer = 1;
};

TEST(GrabberState, ReportProgressPassesPositionUnchanged) {
    GrabJob job;
    EXPECT_EQ(1, ReportProgress(job, "no callback yet", 5));  // nothing installed: go on
    EXPECT_EQ(1, PollProgress(job));

    Seen seen;
    job.pProgress = &seen;
    EXPECT_EQ(1, ReportProgress(job, "Loading images (0 of 5)", 250));
    EXPECT_EQ("Loading images (0 of 5)", seen.text);
    EXPECT_EQ(250, seen.position);  // clamping is the receiver's business

    seen.answer = 0;
    EXPECT_EQ(0, ReportProgress(job, "x", -3));
    EXPECT_EQ(-3, seen.position);
    // A poll asks again with the last report.
    seen.text.clear();
    EXPECT_EQ(0, PollProgress(job));
    EXPECT_EQ("x", seen.text);
}

}  // namespace
