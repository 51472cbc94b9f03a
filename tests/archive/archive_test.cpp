// The archive builder: work folder in, self-extracting executable out.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cabinet/format/cabinet_format.h"
#include "packager/archive/archive_builder.h"
#include "platform/files.h"
#include "platform/trace.h"
#include "platform/ui.h"
#include "tests/fixtures/support/packager_test_support.h"

namespace {

using platform::JoinPath;

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
    // Runs the builder the way PackageFolder does, with our template.
    bool Build(const std::string& out, const std::string& mainName,
               void (*hook)(ArchiveBuilder*, uint32_t) = nullptr) {
        ArchiveBuilder b(nullptr);
        b.m_strTemplatePath = templ;
        b.m_outputPath = out;
        b.ListFolder(work, mainName);
        if (hook)
            b.m_pfnProgressHook = hook;
        bool ok = b.Compress();
        b.TearDown();
        return ok;
    }

    RecordingUi ui;
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
    ASSERT_TRUE(Build(out, "page.htm"));
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

TEST_F(ArchiveTest, CancelDuringTheSecondOfThreeFilesKeepsTheFirstTwo) {
    WriteAll(JoinPath(work, "1.htm"), std::string(40000, '1'));
    WriteAll(JoinPath(work, "2.htm"), std::string(40000, '2'));
    WriteAll(JoinPath(work, "3.htm"), std::string(40000, '3'));
    std::string out = JoinPath(root, "out.exe");
    // Each file is two blocks; the third block belongs to the second file.
    static int blocks;
    blocks = 0;
    auto hook = [](ArchiveBuilder* b, uint32_t bytes) {
        if (bytes != 0xFFFFFFFF && ++blocks == 3)
            b->m_pProgress->m_bCancelled = 1;
    };
    EXPECT_FALSE(Build(out, "1.htm", hook));
    Archive a;
    ASSERT_TRUE(ParseArchive(ReadAll(out), a));
    EXPECT_EQ(a.order, (std::vector<std::string>{"1.htm", "2.htm"}));
    EXPECT_EQ(std::string(ReadAll(out), a.base, 4), "MSCF");
}

TEST_F(ArchiveTest, MissingTemplateIsReportedTwice) {
    WriteAll(JoinPath(work, "index.htm"), "x");
    std::remove(templ.c_str());
    std::string out = JoinPath(root, "out.exe");
    ASSERT_FALSE(PackageFolder(nullptr, out, JoinPath(work, "index.htm"), templ));
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0].rfind("Could not create self-extracting exe header, err=", 0), 0u);
    EXPECT_NE(ui.messages[0].find("pszFile=" + out), std::string::npos);
    EXPECT_EQ(ui.messages[1], "Failed to write the file.");
}

}  // namespace
