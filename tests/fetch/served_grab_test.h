// A grab against two fixture servers (a plain one and one that asks for "u:p" under
// /secure/), through the platform's own internet service, with recorded progress and
// prompts; each test's work folders are removed after it and the fetch limits restored.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fixture_server.h"
#include "packager/fetch/grab_job.h"
#include "packager/fetch/grabber.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "test_prompts.h"

class ServedGrabTest : public ::testing::Test, public CGrabProgress {
  protected:
    static void SetUpTestSuite() {
        s_pServer = new FixtureServer;
        s_pAuth = new FixtureServer;
        s_bStarted = s_pServer->Start(FixtureSites()) &&
                     s_pAuth->Start(FixtureSites(), {"--auth", "u:p", "--auth-prefix", "/secure/"});
    }
    static void TearDownTestSuite() {
        // Failed grabs keep their work folders, as the program does until its next start.
        CGrabber(nullptr).SweepWorkFolders();
        delete s_pServer;
        delete s_pAuth;
        s_pServer = s_pAuth = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(s_bStarted);
        s_pServer->ClearRequests();
        s_pAuth->ClearRequests();
        m_grabber = std::make_unique<CGrabber>(platform::CreateInternetService(), CGrabOptions(),
                                               &m_prompts);
        m_job.pProgress = this;
    }

    void TearDown() override {
        for (const std::string& folder : m_folders) {
            m_grabber->RemoveFolder(folder);
        }
    }

    // Records every text; stops the grab at m_strStopAt.
    int Report(const std::string& text, int32_t position) override {
        m_progress.push_back(text);
        m_positions.push_back(position);
        return text == m_strStopAt ? 0 : 1;
    }

    // Grabs address; the work folder is removed after the test.
    std::string Grab(const std::string& address) {
        std::string error = m_grabber->Grab(address, m_job);
        if (!m_job.strMainPage.empty()) {
            m_folders.push_back(platform::FolderOf(m_job.strMainPage));
        }
        return error;
    }

    std::string Main() const { return ReadWhole(m_job.strMainPage); }

    static std::string Url(const std::string& path) { return s_pServer->Base() + path; }

    static inline FixtureServer* s_pServer = nullptr;
    static inline FixtureServer* s_pAuth = nullptr;
    static inline bool s_bStarted = false;

    std::unique_ptr<CGrabber> m_grabber;
    GrabJob m_job;
    TestPrompts m_prompts;
    std::vector<std::string> m_progress;
    std::vector<int32_t> m_positions;  // beside m_progress
    std::string m_strStopAt;
    std::vector<std::string> m_folders;
};
