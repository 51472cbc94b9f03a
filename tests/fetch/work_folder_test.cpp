// Work folders, text-mode writing and the URL cache copy: the parts of the
// grab that need no server.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fixture_server.h"
#include "packager/fetch/grabber.h"
#include "packager/fetch/text_file.h"
#include "platform/files.h"
#include "platform/internet.h"

namespace {

std::string ProgramTemp() {
    return platform::JoinPath(platform::FolderOf(platform::GetProgramPath()), "temp");
}

TEST(TextModeTest, BareLineFeedsGainACarriageReturnAndCrLfStays) {
    struct Case {
        std::vector<std::string> pieces;  // written one after another
        std::string expected;
    } cases[] = {
        {{"a\nb"}, "a\r\nb"},
        {{"a\r\nb"}, "a\r\nb"},  // never CR CR LF
        {{"\n\n"}, "\r\n\r\n"},
        {{"a\r", "\nb"}, "a\r\nb"},  // CR at the end of one write, LF at the start of the next
        {{"a", "\n", "\r\n"}, "a\r\n\r\n"},
        {{"\r\r\n"}, "\r\r\n"},
        {{"lone\rcr"}, "lone\rcr"},
        {{""}, ""},
    };
    std::string scratch = HostToLocal(MakeHostScratch("text"));
    std::string path = platform::JoinPath(scratch, "t.txt");
    for (const Case& c : cases) {
        std::string joined;
        int file = platform::FileOpen(path, platform::kOpenCreate | platform::kOpenTruncate |
                                                platform::kOpenWriteOnly | platform::kOpenBinary);
        ASSERT_GE(file, 0);
        CTextModeWriter writer(file);
        for (const std::string& piece : c.pieces) {
            ASSERT_TRUE(writer.Write(piece));
            joined += piece;
        }
        platform::FileClose(file);
        EXPECT_EQ(c.expected, ReadWhole(path)) << joined;
        EXPECT_EQ(c.expected, ToTextMode(joined));
    }
    platform::FileRemove(path);
    platform::FolderRemove(scratch);
}

// A URL cache holding given keys; records every lookup.
class FakeCache : public platform::InternetService {
  public:
    uint32_t AttemptConnect() override { return 0; }
    std::unique_ptr<platform::InternetSession> OpenSession(
        const std::string&, uint32_t, uint32_t, const platform::InternetTimeouts&) override {
        return nullptr;
    }
    bool GetUrlCacheEntry(const std::string& key, std::string& localFile) override {
        m_lstAsked.push_back(key);
        auto it = m_mapEntries.find(key);
        if (it == m_mapEntries.end()) {
            return false;
        }
        localFile = it->second;
        return true;
    }
    std::map<std::string, std::string> m_mapEntries;
    std::vector<std::string> m_lstAsked;
};

TEST(CacheCopyTest, KeysAndTheOtherFormOfTheExtension) {
    std::string scratch = HostToLocal(MakeHostScratch("cache"));
    std::string cached = platform::JoinPath(scratch, "cached.bin");
    ASSERT_TRUE(WriteWhole(cached, "CACHED"));
    struct Case {
        std::string address;
        std::string entry;               // key the cache holds ("" none)
        std::vector<std::string> asked;  // lookups made, in order
        bool copied;
    } cases[] = {
        {"http://h/dir/page.htm", "page.htm", {"page.htm"}, true},
        {"http://h/dir/page.htm", "page.html", {"page.htm", "page.html"}, true},
        {"http://h/dir/page.html", "page.htm", {"page.html", "page.htm"}, true},
        {"http://h/a/b.jpg", "http://h/a/b.jpeg", {"http://h/a/b.jpg", "http://h/a/b.jpeg"}, true},
        {"http://h/a/b.jpeg", "http://h/a/b.jpg", {"http://h/a/b.jpeg", "http://h/a/b.jpg"}, true},
        {"http:\\\\h\\a\\b.gif", "http://h/a/b.gif", {"http://h/a/b.gif"}, true},
        {"http://h/a/b.gif", "", {"http://h/a/b.gif", "http://h/a/b.gif"}, false},
        {"http://h/a/b.HTM", "", {"http://h/a/b.HTM", "http://h/a/b.HTM"}, false},
        {"http://h/x.shtml?q", "", {"x.shtml?q", "x.shtml?q"}, false},
    };
    std::string target = platform::JoinPath(scratch, "out.htm");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        FakeCache cache;
        if (!c.entry.empty()) {
            cache.m_mapEntries[c.entry] = cached;
        }
        platform::FileRemove(target);
        CCacheCopier copier(cache);
        EXPECT_EQ(c.copied, copier.CopyFromCache(c.address, target));
        EXPECT_EQ(c.asked, cache.m_lstAsked);
        EXPECT_EQ(c.copied ? "CACHED" : "", ReadWhole(target));
    }
    platform::FileRemove(target);
    platform::FileRemove(cached);
    platform::FolderRemove(scratch);
}

TEST(WorkFolderTest, FreshFoldersAreNamedFromUniqueTemporaryNames) {
    CGrabber grabber(nullptr);
    std::string first, second;
    ASSERT_TRUE(grabber.MakeWorkFolder(first));
    ASSERT_TRUE(grabber.MakeWorkFolder(second));
    EXPECT_NE(first, second);
    for (const std::string& folder : {first, second}) {
        EXPECT_TRUE(platform::FolderExists(folder));
        EXPECT_EQ(ProgramTemp(), platform::FolderOf(folder));
        std::string name =
            folder.substr(folder.size() - (folder.size() - ProgramTemp().size() - 1));
        EXPECT_EQ(0u, name.find("~QB")) << name;
        EXPECT_EQ(std::string::npos, name.find('.')) << name;
        EXPECT_FALSE(platform::PathExists(folder + ".tmp"));
        EXPECT_FALSE(platform::PathExists(folder + ".TMP"));
    }
    grabber.RemoveFolder(first);
    grabber.RemoveFolder(second);
    EXPECT_FALSE(platform::PathExists(first));
}

TEST(WorkFolderTest, RemoveFolderIsNotRecursiveAndSweepClearsLeftovers) {
    CGrabber grabber(nullptr);
    std::string folder;
    ASSERT_TRUE(grabber.MakeWorkFolder(folder));
    ASSERT_TRUE(WriteWhole(platform::JoinPath(folder, "a.htm"), "a"));
    ASSERT_TRUE(platform::FolderCreate(platform::JoinPath(folder, "sub")));
    grabber.RemoveFolder(folder);
    // The files go; the subfolder keeps the folder in place.
    EXPECT_TRUE(platform::FolderExists(folder));
    EXPECT_FALSE(platform::PathExists(platform::JoinPath(folder, "a.htm")));
    ASSERT_TRUE(platform::FolderRemove(platform::JoinPath(folder, "sub")));

    // Leftovers from earlier runs, in any letter case, with read-only files.
    std::string temp = ProgramTemp();
    std::vector<std::string> leftovers = {folder, platform::JoinPath(temp, "~qb12"),
                                          platform::JoinPath(temp, "x~Qb-old")};
    for (const std::string& f : leftovers) {
        platform::FolderCreate(f);
        std::string file = platform::JoinPath(f, "page.htm");
        ASSERT_TRUE(WriteWhole(file, "left over"));
        ASSERT_TRUE(platform::SetAttributes(file, platform::kAttrReadOnly));
    }
    grabber.SweepWorkFolders();
    for (const std::string& f : leftovers) {
        EXPECT_FALSE(platform::PathExists(f)) << f;
    }
    EXPECT_FALSE(platform::PathExists(temp));

    // Something else in "temp" keeps it.
    ASSERT_TRUE(platform::FolderCreate(temp));
    ASSERT_TRUE(WriteWhole(platform::JoinPath(temp, "keep.txt"), "k"));
    grabber.SweepWorkFolders();
    EXPECT_TRUE(platform::FileExists(platform::JoinPath(temp, "keep.txt")));
    platform::FileRemove(platform::JoinPath(temp, "keep.txt"));
    platform::FolderRemove(temp);
}

// A grab that failed or was cancelled leaves its folder held; the run removes it, files and
// all, when its grabber goes, so that nothing is left for the next start to find.
TEST(WorkFolderTest, AFolderStillHeldGoesWithItsGrabber) {
    std::string folder;
    {
        CGrabber grabber(nullptr);
        ASSERT_TRUE(grabber.MakeWorkFolder(folder));
        std::string page = platform::JoinPath(folder, "QBT1.htm");
        ASSERT_TRUE(WriteWhole(page, "half a page"));
        ASSERT_TRUE(platform::SetAttributes(page, platform::kAttrReadOnly));
    }
    EXPECT_FALSE(platform::PathExists(folder));
}

// A folder that a living run holds survives every other run's sweep, its files
// and all; one whose run has gone (its lock file still there, nobody holding it)
// is swept like any leftover.
TEST(WorkFolderTest, TheSweepSparesAFolderWhoseRunLivesAndTakesADeadRunsFolder) {
    CGrabber running(nullptr);
    std::string held;
    ASSERT_TRUE(running.MakeWorkFolder(held));
    std::string page = platform::JoinPath(held, "page.htm");
    ASSERT_TRUE(WriteWhole(page, "being packed"));

    std::string dead = platform::JoinPath(ProgramTemp(), "~QBDEAD");
    ASSERT_TRUE(platform::FolderCreate(dead));
    ASSERT_TRUE(WriteWhole(platform::JoinPath(dead, "page.htm"), "left over"));
    int lock = platform::FolderLockTake(dead);
    ASSERT_GE(lock, 0);
    platform::FolderLockRelease(lock);
    ASSERT_TRUE(platform::FileExists(platform::JoinPath(dead, platform::kFolderLockName)));

    // The lock of a held folder cannot be taken, not even by this process.
    EXPECT_EQ(-1, platform::FolderLockTake(held));
    CGrabber(nullptr).SweepWorkFolders();
    EXPECT_EQ("being packed", ReadWhole(page));
    EXPECT_FALSE(platform::PathExists(dead));

    running.RemoveFolder(held);
    EXPECT_FALSE(platform::PathExists(held));
    CGrabber(nullptr).SweepWorkFolders();
    EXPECT_FALSE(platform::PathExists(ProgramTemp()));
}

#ifndef _WIN32
// Two packagers at once: the second one's start-up sweep leaves the first one's
// folder alone while it runs, and removes it once that run is killed.
TEST(WorkFolderTest, AnotherProcessKeepsItsFolderUntilItIsKilled) {
    int toParent[2];
    ASSERT_EQ(0, pipe(toParent));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(toParent[0]);
        CGrabber grabber(nullptr);
        std::string folder;
        if (!grabber.MakeWorkFolder(folder) ||
            !WriteWhole(platform::JoinPath(folder, "page.htm"), "child")) {
            folder.clear();
        }
        folder += '\n';
        ssize_t written = write(toParent[1], folder.data(), folder.size());
        (void)written;
        for (;;) {
            pause();  // until killed: nothing of the run is ever cleaned up
        }
    }
    close(toParent[1]);
    std::string folder;
    char c;
    while (read(toParent[0], &c, 1) == 1 && c != '\n') {
        folder += c;
    }
    close(toParent[0]);
    EXPECT_FALSE(folder.empty());

    CGrabber(nullptr).SweepWorkFolders();
    EXPECT_EQ("child", ReadWhole(platform::JoinPath(folder, "page.htm")));

    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(platform::FolderExists(folder));
    CGrabber(nullptr).SweepWorkFolders();
    EXPECT_FALSE(platform::PathExists(folder));
}
#endif

}  // namespace
