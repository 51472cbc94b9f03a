// Cabinets written by another tool (gcab, run as a black box) unpack to identical bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "reader_harness.h"

namespace {

#ifndef _WIN32
namespace fs = std::filesystem;

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Files of several kinds and sizes, written to a fresh folder: block boundaries, a file
// larger than several blocks, an empty file, text and machine code.
std::vector<std::pair<std::string, std::string>> Corpus() {
    std::vector<std::pair<std::string, std::string>> files = {
        {"empty.txt", ""},
        {"small.txt", "abc"},
        {"exact.bin", Pattern(32768, 1)},
        {"multi.txt", Pattern(100000, 2)},
        {"repeat.txt", std::string(70000, 'z')},
    };
    for (const char* candidate : {"/usr/share/common-licenses/GPL-3", "/bin/ls", "/bin/sh"}) {
        std::string data = ReadWhole(candidate);
        if (!data.empty()) {
            files.push_back({fs::path(candidate).filename().string() + ".peer", data});
        }
    }
    return files;
}

#endif

class PeerCabinets : public ::testing::TestWithParam<bool> {};

TEST_P(PeerCabinets, GcabCabinetUnpacksToTheSameBytes) {
#ifdef _WIN32
    GTEST_SKIP() << "gcab runs on the build machine only";
#else
    if (std::system("gcab --version >/dev/null 2>&1") != 0) {
        GTEST_FAIL() << "gcab is not installed";
    }
    bool mszip = GetParam();
    fs::path dir = fs::temp_directory_path() /
                   ("qb_reader_gcab_" + std::to_string(getpid()) + (mszip ? "_z" : "_s"));
    fs::remove_all(dir);
    fs::create_directories(dir);
    auto files = Corpus();
    std::string names;
    for (const auto& f : files) {
        std::ofstream(dir / f.first, std::ios::binary) << f.second;
        names += " " + f.first;
    }
    std::string command = "cd '" + dir.string() + "' && gcab -c " + (mszip ? "-z " : "") +
                          "peer.cab" + names + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    memfs::Reset();
    memfs::Files()["peer.cab"] = ReadWhole(dir / "peer.cab");
    fs::remove_all(dir);
    CabError error = {};
    FdiContext* reader = memfs::CreateReader(&error);
    ASSERT_NE(reader, nullptr);

    // FDIIsCabinet sees every file; gcab puts them all in one folder.
    intptr_t h = memfs::Open("peer.cab", 0x8000, 0);
    FdiCabinetInfo info = {};
    ASSERT_TRUE(FDIIsCabinet(reader, h, &info));
    memfs::Close(h);
    EXPECT_EQ(info.fileCount, files.size());
    EXPECT_EQ(info.folderCount, 1);

    Client client;
    ASSERT_TRUE(Copy(reader, "peer.cab", "", client)) << error.code;
    for (const auto& f : files) {
        EXPECT_TRUE(client.Output(f.first) == f.second) << f.first;
    }
    EXPECT_TRUE(FDIDestroy(reader));
    EXPECT_EQ(memfs::LiveBlocks(), 0);
#endif
}

INSTANTIATE_TEST_SUITE_P(StoredAndMszip, PeerCabinets, ::testing::Values(false, true));

}  // namespace
