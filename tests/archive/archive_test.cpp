// The archive builder: work folder in, self-extracting executable out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <thread>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cabinet/format/cabinet_format.h"
#include "cabinet/reader/cabinet_reader.h"
#include "packager/archive/archive_builder.h"
#include "platform/files.h"
#include "platform/trace.h"
#include "platform/ui.h"
#include "tests/fixtures/support/packager_test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

// The terminal dialog's Ctrl-C, played by tests.
void ProgressDialogSimulateInterrupt();
#endif

namespace {

// A watcher of the builder's progress: keeps the last report, answers as told.
struct SwitchProgress : CGrabProgress {
    int Report(const std::string& text, int32_t position) override {
        strText = text;
        nPosition = position;
        return nAnswer;
    }
    std::string strText;
    int32_t nPosition = -1;
    int nAnswer = 1;
};

using platform::JoinPath;

using qbtest::CountStartingWith;
using qbtest::Names;
using qbtest::ReadAll;
using qbtest::RecordingUi;
using qbtest::RemoveTree;
using qbtest::WriteAll;

struct StoredFile {
    uint32_t size;
    uint16_t folder;
    uint16_t attributes;
};

// The cabinet behind the extractor copy, as its records say.
struct Archive {
    uint32_t base = 0;
    CabHeader header = {};
    std::map<std::string, StoredFile> files;
    std::vector<std::string> order;
};

bool ParseArchive(const std::string& exe, Archive& a) {
    if (exe.size() < 128)
        return false;
    const uint8_t* d = reinterpret_cast<const uint8_t*>(exe.data());
    a.base = CabGet32(d + 124);
    if (a.base >= exe.size())
        return false;
    const uint8_t* cab = d + a.base;
    size_t size = exe.size() - a.base;
    if (CabDecodeHeader(cab, size, 0, &a.header) != kCabFormatOk)
        return false;
    size_t at = a.header.filesOffset;
    for (unsigned i = 0; i < a.header.fileCount; ++i) {
        CabFileEntry e;
        const char* name;
        size_t rec;
        if (CabDecodeFileRecord(cab, size, at, &e, &name, &rec) != kCabFormatOk)
            return false;
        a.files[name] = {e.size, e.folderIndex, e.attributes};
        a.order.push_back(name);
        at += rec;
    }
    return true;
}

// Records the message boxes and lets a test look around while one is up.
class WatchingUi : public RecordingUi {
  public:
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags,
                    void* owner) override {
        if (onMessage)
            onMessage(text);
        return RecordingUi::ShowMessage(text, caption, flags, owner);
    }
    std::function<void(const std::string&)> onMessage;
};

class ArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string name;
        ASSERT_NE(platform::TempFileName(platform::GetTempFolder(), "qba", 0, name), 0u);
        platform::FileRemove(name);
        root = name;
        ASSERT_TRUE(platform::FolderCreate(root));
        work = JoinPath(root, "work");
        ASSERT_TRUE(platform::FolderCreate(work));
        // A stand-in extractor: 3000 bytes, zero where the base goes.
        templ = JoinPath(root, "template.exe");
        std::string t(3000, '\0');
        for (size_t i = 0; i < t.size(); ++i)
            t[i] = (i >= 124 && i < 128) ? '\0' : static_cast<char>('A' + i % 23);
        WriteAll(templ, t);
        platform::SetUserInterface(&ui);
        platform::SetTraceEnabled(false);
    }
    void TearDown() override {
        platform::SetUserInterface(nullptr);
        RemoveTree(root);
    }
    // Runs the builder on every name in the work folder (subfolders too), with our
    // template, marking the one named mainName; the hook may make the watcher answer stop
    // (SwitchProgress).
    bool Build(const std::string& out, const std::string& mainName,
               void (*hook)(ArchiveBuilder*, uint32_t) = nullptr) {
        SwitchProgress watcher;
        ArchiveBuilder b(&watcher);
        b.m_strTemplatePath = templ;
        b.m_outputPath = out;
        b.m_strTempFolder = work;
        for (const std::string& name : Names(work))
            b.AddFile(JoinPath(work, name), name == mainName);
        if (hook)
            b.m_pfnProgressHook = hook;
        bool ok = b.Compress();
        b.TearDown();
        return ok;
    }

    // An executable from an earlier zip at out.exe, to be kept or replaced.
    std::string OldExecutable() {
        std::string out = JoinPath(root, "out.exe");
        WriteAll(out, "MZ an earlier zip " + std::string(5000, 'o'));
        return out;
    }

    WatchingUi ui;
    std::string root, work, templ;
};

TEST_F(ArchiveTest, OnlyTheMainPageGivesOneFlaggedFileInOneFolder) {
    WriteAll(JoinPath(work, "QBT1.htm"), "<html>hello</html>\r\n");
    std::string out = JoinPath(root, "out.exe");
    ASSERT_TRUE(Build(out, "QBT1.htm"));
    std::string exe = ReadAll(out);
    Archive a;
    ASSERT_TRUE(ParseArchive(exe, a));
    EXPECT_EQ(a.base, 3000u);
    EXPECT_EQ(exe.substr(3000, 4), "MSCF");
    // The copy is the template byte for byte except the base.
    std::string t = ReadAll(templ);
    EXPECT_EQ(exe.substr(0, 124), t.substr(0, 124));
    EXPECT_EQ(exe.substr(128, 3000 - 128), t.substr(128, 3000 - 128));
    EXPECT_EQ(static_cast<unsigned char>(exe[124]), 3000u & 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(exe[125]), 3000u >> 8);
    EXPECT_EQ(a.header.cabinetSize, exe.size() - 3000);
    EXPECT_EQ(a.header.setId, 65432);
    EXPECT_EQ(a.header.cabinetIndex, 0);
    EXPECT_EQ(a.header.flags, 0);
    EXPECT_EQ(a.header.folderCount, 1);
    ASSERT_EQ(a.header.fileCount, 1);
    EXPECT_EQ(a.files["QBT1.htm"].size, 20u);
    EXPECT_EQ(a.files["QBT1.htm"].attributes & 0x40, 0x40);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ArchiveTest, EveryFileIsAFolderAndOnlyTheExactNameIsMarked) {
    WriteAll(JoinPath(work, "Page.htm"), "main");
    WriteAll(JoinPath(work, "a.gif"), std::string(70000, 'x'));
    WriteAll(JoinPath(work, "b.gif"), "");
    ASSERT_TRUE(platform::FolderCreate(JoinPath(work, "sub")));
    WriteAll(JoinPath(JoinPath(work, "sub"), "hidden.txt"), "never stored");
    std::string out = JoinPath(root, "100%.exe");  // a percent sign is used as it stands
    platform::SetTraceEnabled(true);
    testing::internal::CaptureStdout();
    bool built = Build(out, "page.htm");
    std::string trace = testing::internal::GetCapturedStdout();
    platform::SetTraceEnabled(false);
    ASSERT_TRUE(built);
    // The subfolder fails to be added, as it always did; the folder's "." and ".." are not
    // even tried.
    size_t failures = 0;
    for (size_t at = trace.find("FCIAddFile() failed"); at != std::string::npos;
         at = trace.find("FCIAddFile() failed", at + 1))
        ++failures;
    EXPECT_EQ(failures, 1u) << trace;
    Archive a;
    ASSERT_TRUE(ParseArchive(ReadAll(out), a));
    EXPECT_EQ(a.header.folderCount, 3);
    ASSERT_EQ(a.order.size(), 3u);
    EXPECT_EQ(a.files.count("hidden.txt"), 0u);
    EXPECT_EQ(a.files.count("sub"), 0u);
    std::set<uint16_t> folders;
    for (auto& f : a.files) {
        folders.insert(f.second.folder);
        EXPECT_EQ(f.second.attributes & 0x40, 0) << f.first;  // case differs: nothing marked
    }
    EXPECT_EQ(folders.size(), 3u);
    EXPECT_EQ(a.files["a.gif"].size, 70000u);
}

// ---- Fields of the entries, read back with our reader and with cabextract ----------

struct ReadBack {
    std::string name;
    uint16_t date, time, attributes;  // as stored (0x40 included)
    int32_t size;
    bool run;  // reported by fdintCLOSE_FILE_INFO
    std::string data;
};
std::vector<ReadBack>* g_readBack = nullptr;
constexpr intptr_t kMemoryHandle = 0x5150;

intptr_t RbOpen(const char* path, int flags, int mode) {
    return platform::FileOpen(path, flags, mode);
}
int32_t RbRead(intptr_t h, void* buffer, uint32_t count) {
    return platform::FileRead(static_cast<int>(h), buffer, count);
}
int32_t RbWrite(intptr_t h, const void* buffer, uint32_t count) {
    if (h != kMemoryHandle || g_readBack->empty())
        return -1;
    g_readBack->back().data.append(static_cast<const char*>(buffer), count);
    return static_cast<int32_t>(count);
}
int RbClose(intptr_t h) {
    return h == kMemoryHandle ? 0 : platform::FileClose(static_cast<int>(h));
}
int32_t RbSeek(intptr_t h, int32_t offset, int origin) {
    return static_cast<int32_t>(platform::FileSeek(static_cast<int>(h), offset, origin));
}
void* RbAlloc(uint32_t size) {
    return std::malloc(size);
}
void RbFree(void* block) {
    std::free(block);
}
intptr_t RbNotify(int kind, FdiNotification* n) {
    if (kind == fdintCOPY_FILE) {
        g_readBack->push_back({n->str1, n->date, n->time, n->attributes, n->size, false, ""});
        return kMemoryHandle;
    }
    if (kind == fdintCLOSE_FILE_INFO) {
        g_readBack->back().run = n->size == 1;
        return 1;
    }
    return 0;
}

// The entries of a cabinet file as our reader reports them.
bool ReadWithOurReader(const std::string& folder, const std::string& name,
                       std::vector<ReadBack>& out) {
    CabError error = {};
    FdiContext* fdi =
        FDICreate(RbAlloc, RbFree, RbOpen, RbRead, RbWrite, RbClose, RbSeek, 1, &error);
    if (!fdi)
        return false;
    g_readBack = &out;
    std::string prefix = JoinPath(folder, "x");
    prefix.pop_back();
    bool ok = FDICopy(fdi, name.c_str(), prefix.c_str(), 0, RbNotify, nullptr, nullptr);
    if (!ok)
        ADD_FAILURE() << "reader: " << FDIErrorText(error.code);
    FDIDestroy(fdi);
    g_readBack = nullptr;
    return ok;
}

std::string DosDateText(uint16_t date, uint16_t time) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", date & 31, (date >> 5) & 15,
                  (date >> 9) + 1980, time >> 11, (time >> 5) & 63, (time & 31) * 2);
    return text;
}

platform::FileTime UtcFileTime(int year, int month, int day, int hour, int minute, int second) {
    // Days from the civil date (proleptic Gregorian), counted from 1970-01-01.
    int y = year - (month <= 2 ? 1 : 0);
    int era = (y >= 0 ? y : y - 399) / 400;
    int yoe = y - era * 400;
    int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
    int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return static_cast<platform::FileTime>(seconds * 10000000 +
                                           static_cast<int64_t>(platform::kUnixEpochAsFileTime));
}

#ifndef _WIN32
// Runs the tests of this block three hours east of Greenwich, so that local time
// and universal time differ by a known amount.
class EastOfGreenwich {
  public:
    EastOfGreenwich() {
        const char* tz = std::getenv("TZ");
        m_had = tz != nullptr;
        if (m_had)
            m_old = tz;
        setenv("TZ", "QBT-3", 1);
        tzset();
    }
    ~EastOfGreenwich() {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    bool m_had = false;
    std::string m_old;
};
#endif

TEST_F(ArchiveTest, EntriesCarryLocalDosTimesAndTheMaskedAttributes) {
#ifndef _WIN32
    EastOfGreenwich zone;
#endif
    struct Case {
        const char* name;
        platform::FileTime written;
        uint32_t attributes;  // set on the file (Linux: only read-only takes)
        uint16_t date, time;  // expected in the entry
        uint16_t stored;      // expected attributes, 0x40 for the main page
    } cases[] = {
#ifndef _WIN32
        // 12:34:56 UTC is 15:34:56 here; odd seconds round down.
        {"index.htm", UtcFileTime(2021, 6, 15, 12, 34, 56), 0, (41 << 9) | (6 << 5) | 15,
         (15 << 11) | (34 << 5) | 28, 0x20 | 0x40},
        {"ro.gif", UtcFileTime(2008, 2, 29, 22, 0, 1), platform::kAttrReadOnly,
         (28 << 9) | (3 << 5) | 1, (1 << 11) | 0, 0x21},
        {".dot.css", UtcFileTime(1999, 12, 31, 20, 59, 58), 0, (19 << 9) | (12 << 5) | 31,
         (23 << 11) | (59 << 5) | 29, 0x22},
#else
        {"index.htm", UtcFileTime(2021, 6, 15, 12, 34, 56), platform::kAttrArchive, 0, 0,
         0x20 | 0x40},
        {"ro.gif", UtcFileTime(2008, 2, 29, 22, 0, 1),
         platform::kAttrReadOnly | platform::kAttrArchive, 0, 0, 0x21},
        // Bits outside read-only, hidden, system and archive are not stored.
        {"hs.css", UtcFileTime(1999, 12, 31, 20, 59, 58),
         platform::kAttrHidden | platform::kAttrSystem | platform::kAttrArchive | 0x100, 0, 0,
         0x26},
#endif
        // Before 1980 the fields cannot hold the time: the earliest date instead.
        {"old.jpg", UtcFileTime(1975, 5, 5, 5, 5, 5), 0, (0 << 9) | (1 << 5) | 1, 0, 0x20},
    };
    for (Case& c : cases) {
        std::string path = JoinPath(work, c.name);
        WriteAll(path, std::string("contents of ") + c.name);
        ASSERT_TRUE(platform::SetWriteTime(path, c.written)) << c.name;
#ifdef _WIN32
        // Every file gets the same attributes wherever it was created.
        if (c.attributes == 0)
            c.attributes = platform::kAttrArchive;
#endif
        if (c.attributes) {
            ASSERT_TRUE(platform::SetAttributes(path, c.attributes)) << c.name;
        }
#ifdef _WIN32
        if (c.date == 0) {
            // The local time as the C runtime sees it, independent of the
            // conversions under test.
            time_t t = static_cast<time_t>((c.written - platform::kUnixEpochAsFileTime) / 10000000);
            struct tm* local = std::localtime(&t);
            ASSERT_NE(nullptr, local);
            c.date = static_cast<uint16_t>(((local->tm_year - 80) << 9) |
                                           ((local->tm_mon + 1) << 5) | local->tm_mday);
            c.time = static_cast<uint16_t>((local->tm_hour << 11) | (local->tm_min << 5) |
                                           (local->tm_sec / 2));
        }
#endif
    }
    std::string out = JoinPath(root, "fields.exe");
    ASSERT_TRUE(Build(out, "index.htm"));
    EXPECT_TRUE(ui.messages.empty());

    std::string exe = ReadAll(out);
    Archive a;
    ASSERT_TRUE(ParseArchive(exe, a));
    std::string cab = JoinPath(root, "fields.cab");
    WriteAll(cab, exe.substr(a.base));
    std::vector<ReadBack> entries;
    ASSERT_TRUE(ReadWithOurReader(root, "fields.cab", entries));
    ASSERT_EQ(std::size(cases), entries.size());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto it = std::find_if(entries.begin(), entries.end(),
                               [&](const ReadBack& e) { return e.name == c.name; });
        ASSERT_NE(entries.end(), it);
        EXPECT_EQ(DosDateText(c.date, c.time), DosDateText(it->date, it->time));
        EXPECT_EQ(c.stored, it->attributes);
        EXPECT_EQ((c.stored & 0x40) != 0, it->run);
        EXPECT_EQ(std::string("contents of ") + c.name, it->data);
    }

#ifndef _WIN32
    // A peer reads the same dates and times (cabextract prints them as stored).
    std::string listing = JoinPath(root, "listing.txt");
    std::string command = "cabextract -l '" + cab + "' > '" + listing + "' 2>&1";
    if (std::system(command.c_str()) != 0)
        GTEST_SKIP() << "cabextract is not available: " << ReadAll(listing);
    std::string text = ReadAll(listing);
    for (const Case& c : cases) {
        std::string row = "| " + DosDateText(c.date, c.time) + " | " + c.name;
        EXPECT_NE(std::string::npos, text.find(row)) << row << "\n" << text;
    }
#endif
}

TEST(ArchiveProgressTest, PercentOfTheListedBytesWithoutOverflow) {
    RecordingUi ui;
    platform::SetUserInterface(&ui);
    struct Case {
        uint32_t total, bytes;
        int percent;
    } cases[] = {
        {1000, 0, 0},
        {1000, 500, 50},
        {1000, 999, 99},
        {1000, 1000, 100},
        {1000, 5000, 100},               // more than listed: never past the end
        {1000, 0xFFFFFFFF, 100},         // "the cabinet is complete"
        {3000000000u, 1500000000u, 50},  // bytes × 100 does not fit 32 bits
        {0xFFFFFFFF, 0xFFFFFFFE, 99},
        {0, 0, 0},  // nothing listed could be opened
        {0, 0xFFFFFFFF, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.total) + " " + std::to_string(c.bytes));
        SwitchProgress watcher;
        ArchiveBuilder b(&watcher);
        b.m_totalBytes = c.total;
        b.m_pfnProgressHook(&b, c.bytes);
        EXPECT_EQ(c.percent, watcher.nPosition);
    }
    platform::SetUserInterface(nullptr);
}

// ---- The output replaced only by a complete executable -----------------------------

TEST_F(ArchiveTest, CancelKeepsTheOldExecutableByteForByte) {
    WriteAll(JoinPath(work, "1.htm"), std::string(40000, '1'));
    WriteAll(JoinPath(work, "2.htm"), std::string(40000, '2'));
    WriteAll(JoinPath(work, "3.htm"), std::string(40000, '3'));
    std::string out = OldExecutable();
    std::string before = ReadAll(out);
    // Each file is two blocks; the third block belongs to the second file.
    static int blocks;
    blocks = 0;
    auto hook = [](ArchiveBuilder* b, uint32_t bytes) {
        if (bytes != 0xFFFFFFFF && ++blocks == 3)
            static_cast<SwitchProgress*>(b->m_pProgress)->nAnswer = 0;
    };
    EXPECT_FALSE(Build(out, "1.htm", hook));
    EXPECT_EQ(before, ReadAll(out));
    EXPECT_EQ((std::vector<std::string>{"out.exe", "template.exe", "work"}), Names(root));
    EXPECT_EQ(0u, CountStartingWith(work, "cax"));
}

}  // namespace
