#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "scratch.h"

using namespace platform;

namespace {

std::vector<std::string> Names(const std::string& pattern) {
    std::vector<std::string> out;
    for (const FindData& e : ListFolder(pattern))
        out.push_back(e.name);
    return out;
}

bool IsHex(const std::string& s) {
    if (s.empty())
        return false;
    for (char c : s) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

std::string Upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

constexpr uint16_t Date(int year, int month, int day) {
    return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
constexpr uint16_t Time(int hour, int minute, int second) {
    return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

}  // namespace

TEST(FileHandles, OpenFlagsBehaveLikeTheRuntime) {
    ScratchFolder dir;
    ASSERT_FALSE(dir.Path().empty());
    struct Case {
        const char* what;
        bool exists;  // the file holds "old" before the open
        int flags;
        bool opens;
        int err;               // errno expected when it does not open
        const char* contents;  // after writing "new" (when writable) and closing
    };
    const int rw = kOpenReadWrite | kOpenBinary;
    const Case cases[] = {
        {"create new", false, rw | kOpenCreate, true, 0, "new"},
        {"create existing keeps the rest", true, rw | kOpenCreate, true, 0, "new"},
        {"create+truncate empties", true, rw | kOpenCreate | kOpenTruncate, true, 0, "new"},
        {"create+exclusive on existing", true, rw | kOpenCreate | kOpenExclusive, false, EEXIST,
         "old"},
        {"create+exclusive on new", false, rw | kOpenCreate | kOpenExclusive, true, 0, "new"},
        {"read-write without create on missing", false, rw, false, ENOENT, "<missing>"},
        {"read-only on existing", true, kOpenReadOnly | kOpenBinary, true, 0, "old"},
        {"the extractor's write open (0x8321)", true, 0x8321, true, 0, "new"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = dir / ("f" + std::to_string(n++));
        if (c.exists) {
            ASSERT_TRUE(ScratchFolder::Write(path, "old"));
        }
        errno = 0;
        int h = FileOpen(path, c.flags, kModeReadWrite);
        EXPECT_EQ(h >= 0, c.opens);
        if (h < 0) {
            EXPECT_EQ(errno, c.err);
        } else {
            int wrote = FileWrite(h, "new", 3);
            if ((c.flags & 3) == kOpenReadOnly)
                EXPECT_EQ(wrote, -1);
            else
                EXPECT_EQ(wrote, 3);
            EXPECT_EQ(FileClose(h), 0);
        }
        EXPECT_EQ(ScratchFolder::Read(path), c.contents);
    }
}

TEST(FileHandles, FoldersAndBadHandlesAreRefused) {
    ScratchFolder dir;
    ASSERT_FALSE(dir.Path().empty());
    EXPECT_EQ(FileOpen(dir.Path(), kOpenReadOnly), -1);
    EXPECT_EQ(FileOpen(dir / ".", kOpenReadOnly), -1);
    char c;
    EXPECT_EQ(FileRead(-1, &c, 1), -1);
    EXPECT_EQ(FileWrite(-1, &c, 1), -1);
    EXPECT_EQ(FileSeek(-1, 0, kSeekSet), -1);
    EXPECT_EQ(FileClose(-1), -1);

    std::string path = dir / "twice";
    int h = FileOpen(path, kOpenReadWrite | kOpenCreate);
    ASSERT_GE(h, 0);
    EXPECT_EQ(FileClose(h), 0);
    EXPECT_EQ(FileClose(h), -1);
}

TEST(FileHandles, CreatedWithoutWritePermissionIsReadOnly) {
    ScratchFolder dir;
    std::string path = dir / "ro";
    int h = FileOpen(path, kOpenReadWrite | kOpenCreate, kModeRead);
    ASSERT_GE(h, 0);
    EXPECT_EQ(FileWrite(h, "x", 1), 1);  // the open handle may still write
    EXPECT_EQ(FileClose(h), 0);
    EXPECT_TRUE(GetAttributes(path) & kAttrReadOnly);
    int again = FileOpen(path, kOpenReadWrite);
    EXPECT_EQ(again, -1);
    FileClose(again);
}

TEST(FileHandles, ReadWriteSeek) {
    ScratchFolder dir;
    std::string path = dir / "data";
    int h = FileOpen(path, kOpenReadWrite | kOpenCreate | kOpenBinary);
    ASSERT_GE(h, 0);
    // Binary always: a line feed stays one byte.
    ASSERT_EQ(FileWrite(h, "hello\nworld", 11), 11);
    EXPECT_EQ(FileSeek(h, 0, kSeekCur), 11);
    EXPECT_EQ(FileSeek(h, 6, kSeekSet), 6);
    char buf[16] = {};
    EXPECT_EQ(FileRead(h, buf, 5), 5);
    EXPECT_EQ(std::string(buf, 5), "world");
    EXPECT_EQ(FileRead(h, buf, sizeof buf), 0);
    EXPECT_EQ(FileSeek(h, -5, kSeekCur), 6);
    EXPECT_EQ(FileSeek(h, -11, kSeekEnd), 0);
    EXPECT_EQ(FileRead(h, buf, sizeof buf), 11);
    EXPECT_EQ(std::string(buf, 11), "hello\nworld");
    EXPECT_EQ(FileSeek(h, -1, kSeekSet), -1);
    EXPECT_EQ(FileSeek(h, 0, 3), -1);
    // Writing behind the end leaves a zero-filled gap.
    EXPECT_EQ(FileSeek(h, 13, kSeekSet), 13);
    EXPECT_EQ(FileWrite(h, "!", 1), 1);
    EXPECT_EQ(FileSeek(h, 0, kSeekEnd), 14);
    // Positions past 2 GB are refused, never wrapped to a small or negative number.
    EXPECT_EQ(FileSeek(h, 0x7FFFFFFF, kSeekSet), 0x7FFFFFFF);
    EXPECT_EQ(FileSeek(h, 1, kSeekCur), -1);
    EXPECT_EQ(FileSeek(h, 0, kSeekSet), 0);
    EXPECT_EQ(FileClose(h), 0);
    EXPECT_EQ(ScratchFolder::Read(path), std::string("hello\nworld\0\0!", 14));
    EXPECT_EQ(FileSize(path), 14);
    EXPECT_EQ(FileSize(dir.Path()), -1);
    EXPECT_EQ(FileSize(dir / "missing"), -1);
}

TEST(Folders, EnumerationListsDotEntriesFirstAndMatchesMasks) {
    ScratchFolder dir;
    ASSERT_TRUE(ScratchFolder::Write(dir / "b.txt", "12345"));
    ASSERT_TRUE(ScratchFolder::Write(dir / "a", ""));
    ASSERT_TRUE(ScratchFolder::Write(dir / "C.TXT", "x"));
    ASSERT_TRUE(FolderCreate(dir / "sub"));

    std::vector<std::string> all = Names(dir / "*");
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(all[0], ".");
    EXPECT_EQ(all[1], "..");
    EXPECT_EQ(std::set<std::string>(all.begin() + 2, all.end()),
              (std::set<std::string>{"a", "b.txt", "C.TXT", "sub"}));
    // "*.*" takes names without a dot too, as on Windows.
    EXPECT_EQ(Names(dir / "*.*").size(), 6u);
    // Masks match letters without regard to case.
    std::vector<std::string> txt = Names(dir / "*.txt");
    EXPECT_EQ(std::set<std::string>(txt.begin(), txt.end()),
              (std::set<std::string>{"b.txt", "C.TXT"}));
    EXPECT_EQ(Names(dir / "?.TXT").size(), 2u);
    EXPECT_TRUE(Names(dir / "*.none").empty());
    EXPECT_TRUE(Names(JoinPath(dir / "missing", "*")).empty());

    for (const FindData& e : ListFolder(dir / "*")) {
        SCOPED_TRACE(e.name);
        bool folder = e.name == "." || e.name == ".." || e.name == "sub";
        EXPECT_EQ((e.attributes & kAttrDirectory) != 0, folder);
        if (e.name == "b.txt") {
            EXPECT_EQ(e.size, 5);
        }
    }

    // A folder with something in it stays; an empty one goes.
    EXPECT_FALSE(FolderRemove(dir.Path()));
    EXPECT_FALSE(FolderCreate(dir / "sub"));
    EXPECT_TRUE(FolderRemove(dir / "sub"));
    EXPECT_FALSE(FolderExists(dir / "sub"));
}

TEST(Folders, ExistenceRenameAndRemove) {
    ScratchFolder dir;
    std::string file = dir / "f";
    ASSERT_TRUE(ScratchFolder::Write(file, "f"));
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FolderExists(file));
    EXPECT_TRUE(FolderExists(dir.Path()));
    EXPECT_FALSE(FileExists(dir.Path()));
    EXPECT_TRUE(PathExists(dir.Path()));
    EXPECT_FALSE(PathExists(dir / "none"));

    ASSERT_TRUE(ScratchFolder::Write(dir / "g", "g"));
    EXPECT_FALSE(FileRename(file, dir / "g"));  // never replaces
    EXPECT_EQ(ScratchFolder::Read(dir / "g"), "g");
    EXPECT_TRUE(FileRename(file, dir / "h.htm"));
    EXPECT_EQ(ScratchFolder::Read(dir / "h.htm"), "f");
    EXPECT_FALSE(FileExists(file));

    EXPECT_TRUE(FileRemove(dir / "h.htm"));
    EXPECT_FALSE(FileRemove(dir / "h.htm"));
    EXPECT_EQ(errno, ENOENT);
}

TEST(Attributes, RoundTripAndProtectFromDeletion) {
    ScratchFolder dir;
    std::string file = dir / "file";
    ASSERT_TRUE(ScratchFolder::Write(file, "x"));
    uint32_t plain = GetAttributes(file);
    ASSERT_NE(plain, kInvalidAttributes);
    EXPECT_EQ(plain & (kAttrReadOnly | kAttrDirectory), 0u);
    EXPECT_TRUE(GetAttributes(dir.Path()) & kAttrDirectory);
    EXPECT_EQ(GetAttributes(dir / "none"), kInvalidAttributes);
    EXPECT_FALSE(SetAttributes(dir / "none", kAttrNormal));

    // What the extractor applies: the stored bits ANDed with 0x27.
    ASSERT_TRUE(SetAttributes(file, (kAttrReadOnly | kAttrArchive | 0x40) & 0x27));
    EXPECT_TRUE(GetAttributes(file) & kAttrReadOnly);
    int h = FileOpen(file, kOpenReadWrite);
    EXPECT_EQ(h, -1);
    FileClose(h);
    EXPECT_EQ(FileOpen(file, kOpenReadOnly | kOpenTruncate), -1);
    EXPECT_FALSE(FileRemove(file));
    EXPECT_TRUE(FileExists(file));

    ASSERT_TRUE(SetAttributes(file, kAttrNormal));
    EXPECT_FALSE(GetAttributes(file) & kAttrReadOnly);
    EXPECT_TRUE(FileRemove(file));
}

#ifndef _WIN32
TEST(Attributes, DotNamesAreHiddenAndFilesCarryTheArchiveBit) {
    ScratchFolder dir;
    ASSERT_TRUE(ScratchFolder::Write(dir / ".profile", ""));
    ASSERT_TRUE(ScratchFolder::Write(dir / "plain", ""));
    EXPECT_EQ(GetAttributes(dir / ".profile"), kAttrHidden | kAttrArchive);
    EXPECT_EQ(GetAttributes(dir / "plain"), kAttrArchive);
    EXPECT_EQ(GetAttributes(dir / "."), kAttrDirectory);
}
#endif

TEST(Times, DosDateTimeRoundTripsThroughUniversalTime) {
    struct Case {
        uint16_t date, time;
    };
    const Case cases[] = {
        {Date(1980, 1, 1), Time(0, 0, 0)},     {Date(1996, 2, 29), Time(12, 34, 56)},
        {Date(2024, 7, 15), Time(23, 59, 58)}, {Date(2107, 12, 31), Time(23, 59, 58)},
        {Date(2000, 12, 31), Time(1, 2, 4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.date << " " << c.time);
        FileTime utc = 0;
        ASSERT_TRUE(DosDateTimeToUtc(c.date, c.time, utc));
        uint16_t date = 0, time = 0;
        ASSERT_TRUE(UtcToDosDateTime(utc, date, time));
        EXPECT_EQ(date, c.date);
        EXPECT_EQ(time, c.time);
        // Odd seconds and fractions round down to the even second.
        ASSERT_TRUE(UtcToDosDateTime(utc + 19999999, date, time));
        EXPECT_EQ(time, c.time);
    }
}

TEST(Times, DosRangeEndsAt1980AndImpossibleFieldsFail) {
    FileTime first = 0;
    ASSERT_TRUE(DosDateTimeToUtc(Date(1980, 1, 1), Time(0, 0, 0), first));
    uint16_t date, time;
    EXPECT_FALSE(UtcToDosDateTime(first - 1, date, time));
    EXPECT_FALSE(UtcToDosDateTime(0, date, time));

    const uint16_t badDates[] = {Date(1990, 13, 1), Date(1990, 0, 1), Date(1990, 1, 0)};
    FileTime utc;
    for (uint16_t d : badDates)
        EXPECT_FALSE(DosDateTimeToUtc(d, 0, utc)) << std::hex << d;
    EXPECT_FALSE(DosDateTimeToUtc(Date(1990, 1, 1), Time(24, 0, 0), utc));
    EXPECT_FALSE(DosDateTimeToUtc(Date(1990, 1, 1), Time(0, 60, 0), utc));
}

#ifndef _WIN32
TEST(Times, DosTimesAreLocal) {
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "EST5", 1);
    tzset();
    FileTime utc = 0;
    bool ok = DosDateTimeToUtc(Date(1980, 1, 1), Time(0, 0, 0), utc);
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    ASSERT_TRUE(ok);
    // 1980-01-01 00:00 in New York is 05:00 universal time: 315550800 s after 1970.
    EXPECT_EQ(utc, kUnixEpochAsFileTime + 315550800ULL * 10000000ULL);
}
#endif

TEST(Times, WriteTimeRoundTripOnFiles) {
    ScratchFolder dir;
    std::string file = dir / "t";
    ASSERT_TRUE(ScratchFolder::Write(file, "x"));
    FileTime utc = 0;
    ASSERT_TRUE(DosDateTimeToUtc(Date(2001, 9, 8), Time(7, 6, 4), utc));
    ASSERT_TRUE(SetWriteTime(file, utc));
    FileTime back = 0;
    ASSERT_TRUE(GetWriteTime(file, back));
    EXPECT_EQ(back, utc);
    uint16_t date, time;
    ASSERT_TRUE(UtcToDosDateTime(back, date, time));
    EXPECT_EQ(date, Date(2001, 9, 8));
    EXPECT_EQ(time, Time(7, 6, 4));
    EXPECT_FALSE(SetWriteTime(dir / "none", utc));
    EXPECT_FALSE(GetWriteTime(dir / "none", back));
}

TEST(TempNames, FolderPrefixHexAndTmp) {
    ScratchFolder dir;
    std::string first, second;
    unsigned n1 = TempFileName(dir.Path(), "abcdef", 0, first);
    unsigned n2 = TempFileName(dir.Path(), "abcdef", 0, second);
    ASSERT_NE(n1, 0u);
    ASSERT_NE(n2, 0u);
    EXPECT_NE(first, second);
    for (const std::string& name : {first, second}) {
        SCOPED_TRACE(name);
        std::string prefix = JoinPath(dir.Path(), "abc");
        ASSERT_EQ(name.compare(0, prefix.size(), prefix), 0);
        ASSERT_GT(name.size(), prefix.size() + 4);
        EXPECT_EQ(Upper(name.substr(name.size() - 4)), ".TMP");
        EXPECT_TRUE(IsHex(name.substr(prefix.size(), name.size() - prefix.size() - 4)));
        // Created, empty.
        EXPECT_EQ(FileSize(name), 0);
    }
    // The number returned is the number in the name.
    EXPECT_EQ(std::strtoul(first.substr(JoinPath(dir.Path(), "abc").size()).c_str(), nullptr, 16),
              n1);

    // A given number only forms the name.
    std::string formed;
    EXPECT_EQ(TempFileName(dir.Path(), "Q", 0x1A2B, formed), 0x1A2Bu);
    EXPECT_EQ(Upper(formed), Upper(JoinPath(dir.Path(), "Q1A2B.tmp")));
    EXPECT_FALSE(PathExists(formed));

    std::string none;
    EXPECT_EQ(TempFileName(dir / "missing", "abc", 0, none), 0u);
}

TEST(TempNames, PickedNumbersNeverReuseAnExistingFile) {
    ScratchFolder dir;
    // Occupy a run of names; every picked name must be fresh and created exclusively.
    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) {
        std::string name;
        ASSERT_NE(TempFileName(dir.Path(), "cax", 0, name), 0u);
        EXPECT_TRUE(seen.insert(name).second) << name;
        ASSERT_TRUE(ScratchFolder::Write(name, "taken"));
    }
    for (const std::string& name : seen)
        EXPECT_EQ(ScratchFolder::Read(name), "taken");
}

TEST(WellKnownFolders, TempProgramAndWindowsFolder) {
    std::string temp = GetTempFolder();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), kPathSeparator);
    EXPECT_TRUE(FolderExists(temp));

    std::string program = GetProgramPath();
    ASSERT_FALSE(program.empty());
    EXPECT_TRUE(FileExists(program));
    EXPECT_NE(program.find("test_platform"), std::string::npos);

    std::string windows = GetWindowsFolder();
    ASSERT_FALSE(windows.empty());
#ifdef _WIN32
    EXPECT_TRUE(FolderExists(windows));
#else
    // Beside the program's folder: <prefix>/bin/x -> <prefix>/share/quillbox.
    EXPECT_EQ(windows, FolderOf(FolderOf(program)) + "/share/quillbox");
    EXPECT_EQ(windows.find("/../"), std::string::npos);
#endif
}

#ifndef _WIN32
TEST(WellKnownFolders, TempFolderFollowsTmpdir) {
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    struct Case {
        const char* value;  // nullptr: unset
        const char* expected;
    };
    const Case cases[] = {
        {"/var/x", "/var/x/"}, {"/var/y/", "/var/y/"}, {"", "/tmp/"}, {nullptr, "/tmp/"}};
    for (const Case& c : cases) {
        if (c.value)
            setenv("TMPDIR", c.value, 1);
        else
            unsetenv("TMPDIR");
        EXPECT_EQ(GetTempFolder(), c.expected);
    }
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}
#endif

TEST(Copy, FailIfExistsAndReplace) {
    ScratchFolder dir;
    std::string src = dir / "src", dst = dir / "dst";
    ASSERT_TRUE(ScratchFolder::Write(src, "source bytes"));
    FileTime stamp = 0;
    ASSERT_TRUE(DosDateTimeToUtc(Date(1999, 12, 31), Time(23, 0, 0), stamp));
    ASSERT_TRUE(SetWriteTime(src, stamp));

    EXPECT_TRUE(FileCopy(src, dst, true));
    EXPECT_EQ(ScratchFolder::Read(dst), "source bytes");
    FileTime copied = 0;
    ASSERT_TRUE(GetWriteTime(dst, copied));
    EXPECT_EQ(copied, stamp);

    ASSERT_TRUE(ScratchFolder::Write(dst, "other"));
    EXPECT_FALSE(FileCopy(src, dst, true));
    EXPECT_EQ(ScratchFolder::Read(dst), "other");
    EXPECT_TRUE(FileCopy(src, dst, false));
    EXPECT_EQ(ScratchFolder::Read(dst), "source bytes");

    // A read-only target is not replaced.
    ASSERT_TRUE(SetAttributes(dst, kAttrReadOnly));
    ASSERT_TRUE(ScratchFolder::Write(src, "newer"));
    EXPECT_FALSE(FileCopy(src, dst, false));
    EXPECT_EQ(ScratchFolder::Read(dst), "source bytes");

    EXPECT_FALSE(FileCopy(dir / "none", dir / "x", false));
    EXPECT_FALSE(PathExists(dir / "x"));
    // Copying a file onto itself must not destroy it.
    EXPECT_FALSE(FileCopy(src, src, false));
    EXPECT_EQ(ScratchFolder::Read(src), "newer");
}

TEST(Paths, JoinAndNormalise) {
    const std::string s(1, kPathSeparator);
    struct Join {
        std::string left, right, expected;
    };
    const Join joins[] = {
        {"a", "b", "a" + s + "b"},
        {"a" + s, "b", "a" + s + "b"},
        {"a", s + "b", "a" + s + "b"},
        {"a" + s, s + "b", "a" + s + "b"},
        {"", "b", "b"},
        {"a", "", "a"},
    };
    for (const Join& j : joins)
        EXPECT_EQ(JoinPath(j.left, j.right), j.expected) << j.left << " + " << j.right;

    struct Norm {
        std::string in, expected;
    };
    const Norm norms[] = {
        {s + "usr" + s + "bin" + s + ".." + s + "share" + s + "quillbox",
         s + "usr" + s + "share" + s + "quillbox"},
        {s + "a" + s + "." + s + s + "b" + s, s + "a" + s + "b"},
        {s + ".." + s + "a", s + "a"},
        {"a" + s + ".." + s + ".." + s + "b", ".." + s + "b"},
    };
    for (const Norm& n : norms)
        EXPECT_EQ(NormalisePath(n.in), n.expected) << n.in;
    EXPECT_EQ(FolderOf("a" + s + "b" + s + "c.txt"), "a" + s + "b");
    EXPECT_EQ(FolderOf("c.txt"), "");
}

TEST(BadInput, OverLongPathsFailCleanly) {
    ScratchFolder dir;
    const std::string longName(5000, 'n');
    const std::string longPath = dir / longName;
    EXPECT_EQ(FileOpen(longPath, kOpenReadWrite | kOpenCreate), -1);
    EXPECT_FALSE(FolderCreate(longPath));
    EXPECT_EQ(GetAttributes(longPath), kInvalidAttributes);
    EXPECT_FALSE(SetAttributes(longPath, kAttrNormal));
    EXPECT_FALSE(PathExists(longPath));
    EXPECT_EQ(FileSize(longPath), -1);
    FileTime t;
    EXPECT_FALSE(GetWriteTime(longPath, t));
    std::string out;
    EXPECT_EQ(TempFileName(longPath, "abc", 0, out), 0u);
    EXPECT_TRUE(ListFolder(JoinPath(longPath, "*")).empty());
    ASSERT_TRUE(ScratchFolder::Write(dir / "src", "s"));
    EXPECT_FALSE(FileCopy(dir / "src", longPath, false));
    EXPECT_FALSE(FileRename(dir / "src", longPath));
    EXPECT_FALSE(FileRemove(longPath));
    // Nothing was left behind by the failed calls.
    EXPECT_EQ(Names(dir / "*").size(), 3u);
}
