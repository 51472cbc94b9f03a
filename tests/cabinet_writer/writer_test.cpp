// The cabinet writer driven through in-memory callbacks: layouts, sets,
// status values and every failure path.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "writer_harness.h"

namespace {

class CabinetWriter : public ::testing::Test {
  protected:
    void SetUp() override { ResetAlloc(); }
    void TearDown() override {
        // Whatever happened, everything allocated was released again.
        EXPECT_EQ(0u, g_alloc.current);
    }
};

TEST_F(CabinetWriter, WritesTheSmallestCabinetByteForByte) {
    CabinetParams params = MakeParams("a.cab");
    params.setId = 0;
    MemWriter w(params);
    ASSERT_NE(nullptr, w.fci);
    w.fs.files["src/a.txt"] = ToBytes("abc");
    w.fs.date = w.fs.time = w.fs.attributes = 0;
    ASSERT_TRUE(w.Add("src/a.txt", "a.txt"));
    ASSERT_TRUE(w.FlushCabinet());
    const uint8_t expected[77] = {
        'M',  'S',  'C',  'F',  0, 0, 0, 0, 77,  0,   0,  0, 0, 0, 0, 0, 44,  0,
        0,    0,    0,    0,    0, 0, 3, 1, 1,   0,   1,  0, 0, 0, 0, 0, 0,   0,  // header
        66,   0,    0,    0,    1, 0, 0, 0,                                       // folder
        3,    0,    0,    0,    0, 0, 0, 0, 0,   0,   0,  0, 0, 0, 0, 0, 'a', '.',
        't',  'x',  't',  0,                                 // file
        0x60, 0x62, 0x62, 0x00, 3, 0, 3, 0, 'a', 'b', 'c'};  // block
    ASSERT_TRUE(w.fs.Present("a.cab"));
    EXPECT_EQ(Bytes(expected, expected + 77), w.fs.files["a.cab"]);
    EXPECT_TRUE(w.Destroy());
    EXPECT_EQ(0u, w.fs.TempFilesPresent());
    EXPECT_FALSE(w.error.errorFlag);
}

// Files given as sizes; each is filled with its own pattern.
struct LayoutCase {
    const char* what;
    std::vector<size_t> sizes;
    bool folderEach;  // FCIFlushFolder after every file
    uint32_t headerReserve, folderReserve, dataReserve;
    size_t folders;
    size_t blocks;
    uint32_t firstFolderAt;  // offset of the first folder entry
};

TEST_F(CabinetWriter, LaysOutFoldersFilesAndBlocks) {
    const LayoutCase cases[] = {
        {"one small file", {3}, false, 0, 0, 0, 1, 1, 36},
        {"three files share a folder", {40000, 0, 70000}, false, 0, 0, 0, 1, 4, 36},
        {"one folder each", {40000, 0, 70000}, true, 0, 0, 0, 3, 2 + 0 + 3, 36},
        {"exactly one block", {32768}, false, 0, 0, 0, 1, 1, 36},
        {"one block and one byte", {32769}, false, 0, 0, 0, 1, 2, 36},
        {"only an empty file", {0}, false, 0, 0, 0, 1, 0, 36},
        {"data reserve only", {5, 100000}, false, 0, 0, 1, 1, 4, 40},
        {"all reserves", {5, 100000}, true, 6, 3, 2, 2, 1 + 4, 46},
        {"largest reserves", {70000}, false, 65535, 255, 255, 1, 3, 36 + 4 + 65535},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.what);
        ResetAlloc();
        CabinetParams params = MakeParams("c.cab");
        params.headerReserve = c.headerReserve;
        params.folderReserve = c.folderReserve;
        params.dataReserve = c.dataReserve;
        MemWriter w(params);
        ASSERT_NE(nullptr, w.fci);
        std::map<std::string, Bytes> input;
        for (size_t i = 0; i < c.sizes.size(); ++i) {
            std::string name = "f" + std::to_string(i);
            input[name] = w.fs.files["src/" + name] = PatternBytes(c.sizes[i], uint32_t(i));
            ASSERT_TRUE(w.Add("src/" + name, name));
            if (c.folderEach) {
                ASSERT_TRUE(w.Flush());
            }
        }
        ASSERT_TRUE(w.FlushCabinet());
        const Bytes cab = w.fs.files["c.cab"];
        ParsedCabinet p = ParseCabinet(cab);
        ASSERT_EQ("", p.error);
        const bool reserves = c.headerReserve || c.folderReserve || c.dataReserve;
        EXPECT_EQ(reserves, (p.header.flags & kCabFlagReserve) != 0);
        EXPECT_EQ(c.headerReserve, p.reserve.headerReserve);
        EXPECT_EQ(c.folderReserve, p.reserve.folderReserve);
        EXPECT_EQ(c.dataReserve, p.reserve.dataReserve);
        EXPECT_EQ(c.folders, p.folders.size());
        size_t blocks = 0;
        for (const auto& f : p.folders) {
            blocks += f.blocks.size();
            for (size_t b = 0; b < f.blocks.size(); ++b) {
                // Every block but a folder's last holds a full 32768 bytes.
                if (b + 1 < f.blocks.size()) {
                    EXPECT_EQ(32768, f.blocks[b].header.uncompressedSize);
                }
                EXPECT_EQ(f.blocks[b].header.compressedSize, f.blocks[b].header.uncompressedSize);
            }
        }
        EXPECT_EQ(c.blocks, blocks);
        // The first folder entry lies right after the header and its reserve.
        EXPECT_EQ(c.firstFolderAt + c.folders * (8 + c.folderReserve), p.header.filesOffset);
        ASSERT_EQ(c.sizes.size(), p.files.size());
        uint32_t offset = 0;
        for (size_t i = 0; i < p.files.size(); ++i) {
            const CabFileEntry& e = p.files[i].entry;
            EXPECT_EQ("f" + std::to_string(i), p.files[i].name);  // added order
            EXPECT_EQ(c.folderEach ? i : 0u, e.folderIndex);
            EXPECT_EQ(c.folderEach ? 0u : offset, e.folderOffset);
            offset += e.size;
        }
        std::string error;
        EXPECT_EQ(input, ExtractStoredSet({cab}, &error));
        EXPECT_EQ("", error);
        EXPECT_TRUE(w.Destroy());
        EXPECT_EQ(0u, w.fs.TempFilesPresent());
        EXPECT_EQ(0u, g_alloc.current);
    }
}

TEST_F(CabinetWriter, FolderThresholdClosesFoldersAfterTheFileThatPassesIt) {
    struct Case {
        uint32_t threshold;
        std::vector<size_t> sizes;
        std::vector<uint16_t> folderOfFile;
    } cases[] = {
        {0x7FFFFFFF, {32768, 32768, 32768, 32768}, {0, 0, 0, 0}},
        // Each full block stages 8 + 32768 bytes: two pass 40000.
        {40000, {32768, 32768, 32768, 32768}, {0, 0, 1, 1}},
        {65552, {32768, 32768, 32768, 32768}, {0, 0, 0, 1}},  // not more than 65552
        // An empty file stages nothing, so it joins the next file's folder.
        {0, {32768, 0, 32768}, {0, 1, 1}},
        // Bytes still waiting in the input buffer are not staged yet.
        {0, {600, 600, 32768}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.threshold);
        MemWriter w(MakeParams("t.cab", 0, c.threshold));
        for (size_t i = 0; i < c.sizes.size(); ++i) {
            std::string name = "f" + std::to_string(i);
            w.fs.files[name] = PatternBytes(c.sizes[i], uint32_t(i));
            ASSERT_TRUE(w.Add(name, name));
        }
        ASSERT_TRUE(w.FlushCabinet());
        ParsedCabinet p = ParseCabinet(w.fs.files["t.cab"]);
        ASSERT_EQ("", p.error);
        ASSERT_EQ(c.sizes.size(), p.files.size());
        for (size_t i = 0; i < p.files.size(); ++i) {
            EXPECT_EQ(c.folderOfFile[i], p.files[i].entry.folderIndex) << i;
        }
        EXPECT_EQ(size_t(c.folderOfFile.back()) + 1, p.folders.size());
    }
}

TEST_F(CabinetWriter, HeaderFieldsComeFromParamsAndTheSourcesInfo) {
    CabinetParams params = MakeParams("h.cab");
    params.cabinetNumber = 1;
    params.setId = 0xFF98;
    MemWriter w(params);
    w.fs.files["p"] = ToBytes("<html>");
    w.fs.files["q"] = ToBytes("x");
    w.fs.date = 0x5A21;
    w.fs.time = 0x6C3F;
    w.fs.attributes = 0x21;
    ASSERT_TRUE(w.Add("p", "index.html", 0, true));
    ASSERT_TRUE(w.Add("q", "x.bin", 0, false));
    ASSERT_TRUE(w.FlushCabinet());
    ParsedCabinet p = ParseCabinet(w.fs.files["h.cab"]);
    ASSERT_EQ("", p.error);
    EXPECT_EQ(0, p.header.cabinetIndex);  // the context's own counter, not cabinetNumber
    EXPECT_EQ(0xFF98, p.header.setId);
    EXPECT_EQ(0, p.header.flags);
    ASSERT_EQ(2u, p.files.size());
    EXPECT_EQ(0x61, p.files[0].entry.attributes);
    EXPECT_EQ(0x21, p.files[1].entry.attributes);
    EXPECT_EQ(0x5A21, p.files[0].entry.date);
    EXPECT_EQ(0x6C3F, p.files[0].entry.time);
}

TEST_F(CabinetWriter, OpensTemporariesExclusivelyAndTheCabinetWithoutAndWritesMscfLast) {
    CabinetParams params = MakeParams("out.cab");
    std::snprintf(params.cabinetPath, sizeof params.cabinetPath, "dir/");
    MemWriter w(params);
    w.fs.files["s"] = PatternBytes(50000, 1);
    std::vector<std::string> signaturesSeen;
    w.fs.onStatus = [&](int32_t kind) {
        if (kind == kFciStatusFolder && w.fs.Present("dir/out.cab")) {
            const Bytes& c = w.fs.files["dir/out.cab"];
            signaturesSeen.push_back(std::string(c.begin(), c.begin() + 4));
        }
    };
    ASSERT_TRUE(w.Add("s", "s"));
    ASSERT_TRUE(w.FlushCabinet());
    ASSERT_FALSE(signaturesSeen.empty());
    for (const std::string& s : signaturesSeen) {
        EXPECT_EQ("!CAB", s);  // while the cabinet is being written
    }
    EXPECT_EQ("MSCF", std::string(w.fs.files["dir/out.cab"].begin(),
                                  w.fs.files["dir/out.cab"].begin() + 4));
    size_t temps = 0, cabinets = 0;
    for (const MemFs::Open& o : w.fs.opens) {
        EXPECT_EQ(0x0180, o.mode);
        if (o.path == "dir/out.cab") {
            EXPECT_EQ(0x8302, o.flags);
            ++cabinets;
        } else {
            EXPECT_EQ(0x8502, o.flags) << o.path;
            ++temps;
        }
    }
    EXPECT_EQ(1u, cabinets);
    // Five at creation, two per folder flush, three fresh after the cabinet.
    EXPECT_EQ(5u + 2u + 3u, temps);
    EXPECT_TRUE(w.Destroy());
    EXPECT_EQ(0u, w.fs.TempFilesPresent());
}

TEST_F(CabinetWriter, ReportsBlocksFoldersAndCabinetsThroughStatus) {
    MemWriter w(MakeParams("s.cab"));
    w.fs.files["s"] = PatternBytes(70000, 2);
    ASSERT_TRUE(w.Add("s", "s"));
    // Two full blocks were staged during the read loop.
    ASSERT_EQ(2u, w.fs.statusCalls.size());
    for (const auto& s : w.fs.statusCalls) {
        EXPECT_EQ(kFciStatusBlock, s.kind);
        EXPECT_EQ(32768u, s.v1);
        EXPECT_EQ(32768u, s.v2);
    }
    ASSERT_TRUE(w.FlushCabinet());
    const auto& calls = w.fs.statusCalls;
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(kFciStatusBlock, calls[2].kind);  // the partial last block
    EXPECT_EQ(70000u - 65536u, calls[2].v2);
    const uint32_t size = uint32_t(w.fs.files["s.cab"].size());
    EXPECT_EQ(kFciStatusFolder, calls[3].kind);
    EXPECT_EQ(0u, calls[3].v1);
    EXPECT_EQ(size, calls[3].v2);  // the projection is exact for one cabinet
    EXPECT_EQ(kFciStatusCabinet, calls.back().kind);
    EXPECT_EQ(0u, calls.back().v1);  // no estimate before a NextCabinetFn call
    EXPECT_EQ(size, calls.back().v2);
    // The copy of files and data ends at their full size.
    const auto& lastCopy = calls[calls.size() - 2];
    EXPECT_EQ(kFciStatusFolder, lastCopy.kind);
    EXPECT_EQ(lastCopy.v1, lastCopy.v2);
}

TEST_F(CabinetWriter, EmptyFlushesAndTypeSwitches) {
    MemWriter w(MakeParams("t.cab"));
    w.fs.files["a"] = PatternBytes(100, 3);
    w.fs.files["b"] = PatternBytes(200, 4);
    ASSERT_TRUE(w.Flush());  // nothing added: no folder, no status
    EXPECT_TRUE(w.fs.statusCalls.empty());
    ASSERT_TRUE(w.FlushCabinet(true));  // an empty folder does not start a cabinet
    EXPECT_TRUE(w.fs.nextEstimates.empty());
    ASSERT_TRUE(w.Add("a", "a", 0));
    const size_t sourceReadsOfA = size_t(w.fs.calls["read-source"]);
    ASSERT_TRUE(w.Add("b", "b", 1));  // switching types closes the stored folder first
    // The stored folder's first entry was staged before b was read.
    EXPECT_EQ(size_t(w.fs.calls["read-source"]), sourceReadsOfA + 2);
    ASSERT_TRUE(w.Flush());
    ASSERT_TRUE(w.Flush());
    ASSERT_TRUE(w.FlushCabinet());
    ParsedCabinet p = ParseCabinet(w.fs.files["t.cab"]);
    ASSERT_EQ("", p.error);
    ASSERT_EQ(2u, p.folders.size());
    EXPECT_EQ(kCabCompressNone, p.folders[0].entry.compressionType);
    EXPECT_EQ(kCabCompressMszip, p.folders[1].entry.compressionType);
    ASSERT_EQ(2u, p.files.size());
    EXPECT_EQ(0, p.files[0].entry.folderIndex);
    EXPECT_EQ(1, p.files[1].entry.folderIndex);
    EXPECT_EQ(0u, p.files[1].entry.folderOffset);
    ASSERT_EQ(1u, p.folders[1].blocks.size());
    const Bytes& ck = p.folders[1].blocks[0].data;
    ASSERT_GE(ck.size(), 2u);
    EXPECT_EQ('C', ck[0]);
    EXPECT_EQ('K', ck[1]);
}

TEST_F(CabinetWriter, SecondCabinetOfAContextStartsItsFoldersAtZero) {
    MemWriter w(MakeParams("one.cab"));
    w.fs.files["a"] = ToBytes("first");
    w.fs.files["b"] = ToBytes("second");
    ASSERT_TRUE(w.Add("a", "a"));
    ASSERT_TRUE(w.FlushCabinet());
    const Bytes first = w.fs.files["one.cab"];
    ASSERT_TRUE(w.Add("b", "b"));
    ASSERT_TRUE(w.FlushCabinet());
    ParsedCabinet p1 = ParseCabinet(first);
    ParsedCabinet p2 = ParseCabinet(w.fs.files["one.cab"]);
    ASSERT_EQ("", p1.error);
    ASSERT_EQ("", p2.error);
    EXPECT_EQ(0, p1.header.cabinetIndex);
    EXPECT_EQ(1, p2.header.cabinetIndex);
    ASSERT_EQ(1u, p2.files.size());
    EXPECT_EQ(0, p2.files[0].entry.folderIndex);
    EXPECT_EQ(0, p2.header.flags);
}

// ---- Cabinet sets ------------------------------------------------------------------

struct SetRun {
    std::vector<std::string> names;
    std::vector<Bytes> cabinets;
    std::map<std::string, Bytes> input;
};

// Writes files of the given sizes into a set with the given size limit.
void WriteSet(MemWriter& w, const std::vector<size_t>& sizes, bool folderEach, SetRun* run) {
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::string name = "file" + std::to_string(i);
        run->input[name] = w.fs.files[name] = PatternBytes(sizes[i], uint32_t(10 + i));
        ASSERT_TRUE(w.Add(name, name)) << w.error.code;
        if (folderEach) {
            ASSERT_TRUE(w.Flush());
        }
    }
    ASSERT_TRUE(w.FlushCabinet());
    run->names.push_back("part1.cab");
    for (int n = 2; w.fs.Present("part" + std::to_string(n) + ".cab"); ++n) {
        run->names.push_back("part" + std::to_string(n) + ".cab");
    }
    for (const auto& n : run->names) {
        run->cabinets.push_back(w.fs.files[n]);
    }
}

TEST_F(CabinetWriter, SplitsSetsAtTheSizeLimitAndJoinsThemBack) {
    struct Case {
        const char* what;
        uint32_t maxSize;
        std::vector<size_t> sizes;
        bool folderEach;
        size_t minCabinets;
    } cases[] = {
        {"one file over two cabinets", 30000, {40000}, false, 2},
        {"one file over many cabinets", 10000, {100000}, false, 10},
        {"many files, one folder", 25000, {9000, 0, 20000, 33000, 1}, false, 3},
        {"many files, one folder each", 25000, {9000, 0, 20000, 33000, 1}, true, 3},
        {"limit just above one block", 32768 + 8 + 100, {65536 * 2}, false, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetAlloc();
        MemWriter w(MakeParams("part1.cab", c.maxSize));
        SetRun run;
        WriteSet(w, c.sizes, c.folderEach, &run);
        ASSERT_GE(run.cabinets.size(), c.minCabinets);
        std::string error;
        EXPECT_EQ(run.input, ExtractStoredSet(run.cabinets, &error));
        EXPECT_EQ("", error);
        bool sawSplitPiece = false;
        for (size_t i = 0; i < run.cabinets.size(); ++i) {
            ParsedCabinet p = ParseCabinet(run.cabinets[i]);
            ASSERT_EQ("", p.error);
            EXPECT_LE(run.cabinets[i].size(), c.maxSize);
            EXPECT_EQ(i, p.header.cabinetIndex);
            EXPECT_EQ(0x1234, p.header.setId);
            if (i > 0) {
                EXPECT_EQ(run.names[i - 1], p.prevCabinet);
            }
            if (i + 1 < run.cabinets.size()) {
                EXPECT_EQ(run.names[i + 1], p.nextCabinet);
                EXPECT_EQ("disk" + std::to_string(i + 2), p.nextDisk);
            } else {
                EXPECT_EQ(0, p.header.flags & kCabFlagNextCabinet);
            }
            for (const auto& f : p.folders) {
                for (const auto& b : f.blocks) {
                    sawSplitPiece = sawSplitPiece || b.header.uncompressedSize == 0;
                }
            }
        }
        EXPECT_TRUE(sawSplitPiece);
        EXPECT_TRUE(w.Destroy());
        EXPECT_EQ(0u, w.fs.TempFilesPresent());
    }
}

TEST_F(CabinetWriter, MarksFilesThatStraddleCabinets) {
    // 100000 bytes over cabinets of 30000: the file begins in the first,
    // passes through the middle ones and ends in the last.
    MemWriter w(MakeParams("part1.cab", 30000));
    SetRun run;
    WriteSet(w, {100000}, false, &run);
    ASSERT_GE(run.cabinets.size(), 4u);
    for (size_t i = 0; i < run.cabinets.size(); ++i) {
        ParsedCabinet p = ParseCabinet(run.cabinets[i]);
        ASSERT_EQ("", p.error);
        ASSERT_EQ(1u, p.files.size());
        uint16_t expected = i == 0                         ? kCabFolderContinuedToNext
                            : i + 1 == run.cabinets.size() ? kCabFolderContinuedFromPrev
                                                           : kCabFolderContinuedPrevAndNext;
        EXPECT_EQ(expected, p.files[0].entry.folderIndex) << i;
    }
    // FilePlacedFn hears of the file once per cabinet, flagged after the first.
    ASSERT_EQ(run.cabinets.size(), w.fs.placed.size());
    for (size_t i = 0; i < w.fs.placed.size(); ++i) {
        EXPECT_EQ(i > 0, w.fs.placed[i].continued);
        EXPECT_EQ(run.names[i], w.fs.placed[i].cabinet);
        EXPECT_EQ(100000u, w.fs.placed[i].size);
    }
    // Status kind 2 hands back the estimate that NextCabinetFn received.
    std::vector<uint32_t> estimatesReported;
    for (const auto& s : w.fs.statusCalls) {
        if (s.kind == kFciStatusCabinet) {
            estimatesReported.push_back(s.v1);
        }
    }
    ASSERT_EQ(run.cabinets.size(), estimatesReported.size());
    for (size_t i = 0; i + 1 < estimatesReported.size(); ++i) {
        EXPECT_EQ(w.fs.nextEstimates[i], estimatesReported[i]);
    }
}

TEST_F(CabinetWriter, ForcedBreakKeepsFolderIndexesRightInTheNextCabinet) {
    // The folder does not fit, so part of it moves on; the file added after
    // the break must not share folder index 0 with the continued folder.
    MemWriter w(MakeParams("part1.cab", 20000));
    w.fs.files["big"] = PatternBytes(30000, 5);
    w.fs.files["after"] = PatternBytes(500, 6);
    ASSERT_TRUE(w.Add("big", "big"));
    ASSERT_TRUE(w.FlushCabinet(true));
    ASSERT_TRUE(w.fs.Present("part1.cab"));
    ASSERT_TRUE(w.Add("after", "after"));
    ASSERT_TRUE(w.FlushCabinet());
    ParsedCabinet p = ParseCabinet(w.fs.files["part2.cab"]);
    ASSERT_EQ("", p.error);
    ASSERT_EQ(2u, p.folders.size());
    ASSERT_EQ(2u, p.files.size());
    EXPECT_EQ(kCabFolderContinuedFromPrev, p.files[0].entry.folderIndex);
    EXPECT_EQ(1, p.files[1].entry.folderIndex);
    std::string error;
    auto out = ExtractStoredSet({w.fs.files["part1.cab"], w.fs.files["part2.cab"]}, &error);
    EXPECT_EQ("", error);
    EXPECT_EQ(w.fs.files["big"], out["big"]);
    EXPECT_EQ(w.fs.files["after"], out["after"]);
}

TEST_F(CabinetWriter, ForcedBreakWithRoomLeftEndsTheCabinetAfterTheFolder) {
    MemWriter w(MakeParams("part1.cab"));
    w.fs.files["a"] = ToBytes("alpha");
    w.fs.files["b"] = ToBytes("beta");
    ASSERT_TRUE(w.Add("a", "a"));
    ASSERT_TRUE(w.FlushCabinet(true));
    ASSERT_TRUE(w.Add("b", "b"));
    ASSERT_TRUE(w.FlushCabinet());
    ParsedCabinet p1 = ParseCabinet(w.fs.files["part1.cab"]);
    ParsedCabinet p2 = ParseCabinet(w.fs.files["part2.cab"]);
    ASSERT_EQ("", p1.error);
    ASSERT_EQ("", p2.error);
    EXPECT_EQ("part2.cab", p1.nextCabinet);
    EXPECT_EQ("disk2", p1.nextDisk);
    EXPECT_EQ("part1.cab", p2.prevCabinet);
    EXPECT_EQ("disk1", p2.prevDisk);
    ASSERT_EQ(1u, p2.files.size());
    EXPECT_EQ(0, p2.files[0].entry.folderIndex);
    EXPECT_EQ("b", p2.files[0].name);
}

TEST_F(CabinetWriter, EmptyFileNeverAsksForANextCabinet) {
    // The first cabinet is exactly full after a; an empty file in a folder of
    // its own then stays with it instead of starting a cabinet.
    const uint32_t full = 36 + 8 + 18 + 8 + 100;
    MemWriter w(MakeParams("part1.cab", full));
    w.fs.files["a"] = PatternBytes(100, 7);
    w.fs.files["e"] = Bytes();
    ASSERT_TRUE(w.Add("a", "a"));
    ASSERT_TRUE(w.Flush());
    ASSERT_TRUE(w.Add("e", "e"));
    ASSERT_TRUE(w.Flush());
    ASSERT_TRUE(w.FlushCabinet());
    EXPECT_TRUE(w.fs.nextEstimates.empty());
    EXPECT_FALSE(w.fs.Present("part2.cab"));
    ParsedCabinet p = ParseCabinet(w.fs.files["part1.cab"]);
    ASSERT_EQ("", p.error);
    ASSERT_EQ(2u, p.files.size());
    EXPECT_EQ(1, p.files[1].entry.folderIndex);
    EXPECT_EQ(0u, p.folders[1].blocks.size());
}

TEST_F(CabinetWriter, KindTwoResultShrinksTheRoomOfTheSameDisk) {
    struct Case {
        int32_t status2Result;
        int32_t nextDisk;  // -1 keeps the disk number
        uint32_t expectedSecondMax;
    } cases[] = {
        {0, -1, 30000},
        {12000, -1, 18000},
        {12000, 7, 30000},   // another medium: its own pre-filled size
        {40000, -1, 30000},  // nothing left on the medium: the old size stays in the copy
    };
    for (const auto& c : cases) {
        ResetAlloc();
        MemWriter w(MakeParams("part1.cab", 30000));
        w.fs.status2Result = c.status2Result;
        w.fs.nextDiskNumber = c.nextDisk;
        SetRun run;
        WriteSet(w, {100000}, false, &run);
        ASSERT_GE(w.fs.nextMaxSeen.size(), 2u);
        EXPECT_EQ(30000u, w.fs.nextMaxSeen[0]);
        EXPECT_EQ(c.expectedSecondMax, w.fs.nextMaxSeen[1]) << c.status2Result;
    }
}

// ---- Failures ------------------------------------------------------------------------

TEST_F(CabinetWriter, CreateFailuresReleaseEverything) {
    struct Case {
        const char* what;
        long allocFail;
        std::string fsOp;
        int from, to;
        int32_t code, platformError;
    } cases[] = {
        {"context allocation", 1, "", 0, 0, 3, 0},
        {"work buffer allocation", 2, "", 0, 0, 3, 0},
        {"no temporary names at all", 0, "tempname", 1, 1 << 30, 4, 0},
        {"third temporary file, eleven times", 0, "open-temp", 3, 13, 4, 13},
        {"fifth temporary file, eleven times", 0, "open-temp", 5, 15, 4, 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetAlloc();
        g_alloc.failAtCall = c.allocFail;
        MemFs fs;
        if (!c.fsOp.empty()) {
            fs.failCalls[c.fsOp] = {c.from, c.to};
        }
        CabError error = {0, 0, false};
        CabinetParams params = MakeParams("x.cab");
        FciContext* fci =
            FCICreate(&error, MemFilePlaced, TestAlloc, TestFree, MemOpen, MemRead, MemWrite,
                      MemClose, MemSeek, MemDelete, MemTempName, &params, &fs);
        EXPECT_EQ(nullptr, fci);
        EXPECT_TRUE(error.errorFlag);
        EXPECT_EQ(c.code, error.code);
        EXPECT_EQ(c.platformError, error.platformError);
        EXPECT_EQ(0u, g_alloc.current);
        EXPECT_EQ(0u, fs.TempFilesPresent());
    }
    // Ten failed names are survived: the eleventh attempt succeeds.
    ResetAlloc();
    MemFs fs;
    fs.failCalls["tempname"] = {1, 10};
    CabError error = {0, 0, false};
    CabinetParams params = MakeParams("x.cab");
    FciContext* fci = FCICreate(&error, MemFilePlaced, TestAlloc, TestFree, MemOpen, MemRead,
                                MemWrite, MemClose, MemSeek, MemDelete, MemTempName, &params, &fs);
    ASSERT_NE(nullptr, fci);
    EXPECT_TRUE(FCIDestroy(fci));
    // Reserve sizes that the fields cannot hold are refused.
    params.folderReserve = 256;
    EXPECT_EQ(nullptr,
              FCICreate(&error, MemFilePlaced, TestAlloc, TestFree, MemOpen, MemRead, MemWrite,
                        MemClose, MemSeek, MemDelete, MemTempName, &params, &fs));
    EXPECT_EQ(6, error.code);
}

TEST_F(CabinetWriter, SourceFailuresLeaveTheContextUsable) {
    // Reference: the cabinet of b alone.
    Bytes reference;
    {
        MemWriter w(MakeParams("r.cab"));
        w.fs.files["b"] = PatternBytes(1000, 8);
        ASSERT_TRUE(w.Add("b", "b"));
        ASSERT_TRUE(w.FlushCabinet());
        reference = w.fs.files["r.cab"];
    }
    struct Case {
        const char* what;
        std::string source;
        uint16_t type;
        std::string name;
    } cases[] = {
        {"a folder", "dir", 0, "dir"},
        {"a missing file", "nothing", 0, "nothing"},
        {"a name of 256 bytes", "b", 0, std::string(256, 'n')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemWriter w(MakeParams("r.cab"));
        w.fs.files["b"] = PatternBytes(1000, 8);
        w.fs.folders.insert("dir");
        EXPECT_FALSE(w.Add(c.source, c.name, c.type));
        EXPECT_EQ(1, w.error.code);
        EXPECT_EQ(c.name.size() > 255 ? 0 : 2, w.error.platformError);
        EXPECT_TRUE(w.error.errorFlag);
        ASSERT_TRUE(w.Add("b", "b"));
        ASSERT_TRUE(w.FlushCabinet());
        EXPECT_EQ(reference, w.fs.files["r.cab"]);
    }

    // A read failure keeps the bytes already read in the folder's stream.
    MemWriter w(MakeParams("r.cab"));
    w.fs.files["a"] = PatternBytes(50000, 9);
    w.fs.files["b"] = PatternBytes(1000, 8);
    w.fs.FailAt("read-source", 2);
    EXPECT_FALSE(w.Add("a", "a"));
    EXPECT_EQ(2, w.error.code);
    EXPECT_EQ(5, w.error.platformError);
    ASSERT_TRUE(w.Add("b", "b"));
    ASSERT_TRUE(w.FlushCabinet());
    ParsedCabinet p = ParseCabinet(w.fs.files["r.cab"]);
    ASSERT_EQ("", p.error);
    ASSERT_EQ(1u, p.files.size());
    EXPECT_EQ("b", p.files[0].name);
    EXPECT_EQ(32768u - 7u, p.files[0].entry.folderOffset);  // the first read's bytes
    std::string error;
    EXPECT_EQ(w.fs.files["b"], ExtractStoredSet({w.fs.files["r.cab"]}, &error)["b"]);
}

TEST_F(CabinetWriter, UnknownCompressionTypesAreRefused) {
    const uint16_t types[] = {2, 3, 0x0F03, 4, 14, 15, 0x0101, 0xFFFF};
    for (uint16_t type : types) {
        MemWriter w(MakeParams("u.cab"));
        w.fs.files["a"] = ToBytes("a");
        EXPECT_FALSE(w.Add("a", "a", type)) << type;
        EXPECT_EQ(5, w.error.code) << type;
        EXPECT_EQ(0, w.fs.calls["read-source"]);
    }
}

// A failure in a later step: the code, the platform value, and whether a
// cabinet file is left behind.
struct StepFailure {
    const char* what;
    std::string op;
    int at;  // the failing call; negative: that call and all later ones
    int32_t code, platformError;
    bool cabinetLeft;
};

TEST_F(CabinetWriter, FailuresWhileWritingGiveTheirCodes) {
    const StepFailure cases[] = {
        {"cabinet cannot be created", "open-cabinet", 1, 6, 13, false},
        {"header write", "write-cabinet", 1, 6, 28, false},
        {"data write", "write-cabinet", 5, 6, 28, false},
        {"signature write", "write-cabinet", 6, 6, 28, false},
        {"cabinet seek", "seek-cabinet", 1, 6, 29, false},
        {"staging a block", "write-temp", 1, 4, 28, false},
        {"reading a staged block", "read-temp", 1, 4, 5, false},
        {"rewinding a temporary file", "seek-temp", 1, 4, 29, false},
        {"block status", "status0", 1, 7, 0, false},
        {"folder status", "status1", 1, 7, 0, false},
        {"copy status while the cabinet is open", "status1", 4, 7, 0, false},
        {"cabinet status after it was closed", "status2", 1, 7, 0, true},
        {"file placed", "placed", 1, 7, 0, false},
        {"fresh temporary files after the cabinet", "open-temp", -8, 4, 13, true},
    };
    for (const StepFailure& c : cases) {
        SCOPED_TRACE(c.what);
        ResetAlloc();
        MemWriter w(MakeParams("w.cab"));
        ASSERT_NE(nullptr, w.fci);
        w.fs.files["a"] = PatternBytes(40000, 11);
        if (c.at < 0) {
            w.fs.FailFrom(c.op, -c.at);  // every attempt from there on
        } else {
            w.fs.FailAt(c.op, c.at);
        }
        bool ok = w.Add("a", "a") && w.FlushCabinet();
        EXPECT_FALSE(ok);
        EXPECT_TRUE(w.error.errorFlag);
        EXPECT_EQ(c.code, w.error.code);
        EXPECT_EQ(c.platformError, w.error.platformError);
        EXPECT_EQ(c.cabinetLeft, w.fs.Present("w.cab"));
        if (c.cabinetLeft) {
            EXPECT_EQ("", ParseCabinet(w.fs.files["w.cab"]).error);
        }
        w.Destroy();
        EXPECT_EQ(0u, w.fs.TempFilesPresent());
        EXPECT_EQ(0u, g_alloc.current);
    }
}

TEST_F(CabinetWriter, SetFailuresGiveTheirCodes) {
    struct Case {
        const char* what;
        std::string op;
        int32_t code;
        uint32_t maxSize;
    } cases[] = {
        {"next cabinet refused", "next", 7, 30000},
        {"cabinet too small for any block", "", 6, 36 + 8 + 18 + 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetAlloc();
        MemWriter w(MakeParams("part1.cab", c.maxSize));
        w.fs.files["a"] = PatternBytes(100000, 12);
        if (!c.op.empty()) {
            w.fs.FailAt(c.op, 1);
        }
        bool ok = w.Add("a", "a") && w.FlushCabinet();
        EXPECT_FALSE(ok);
        EXPECT_EQ(c.code, w.error.code);
        w.Destroy();
        EXPECT_EQ(0u, w.fs.TempFilesPresent());
    }
}

TEST_F(CabinetWriter, MemoryFailuresAfterCreation) {
    struct Case {
        const char* what;
        uint16_t type;
        long failAfterCreate;  // allocation calls after FCICreate's
        int32_t code;
    } cases[] = {
        {"stored input buffer", 0, 1, 3},
        {"stored output buffer", 0, 2, 3},
        {"compressor state", 1, 1, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetAlloc();
        MemWriter w(MakeParams("m.cab"));
        ASSERT_NE(nullptr, w.fci);
        w.fs.files["a"] = ToBytes("abc");
        g_alloc.failAtCall = long(g_alloc.calls) + c.failAfterCreate;
        EXPECT_FALSE(w.Add("a", "a", c.type));
        EXPECT_EQ(c.code, w.error.code);
        w.Destroy();
        EXPECT_EQ(0u, g_alloc.current);
    }
}

TEST_F(CabinetWriter, DestroyReportsFailedCleanUpButReleasesAll) {
    struct Case {
        std::string op;
        int32_t platformError;
    } cases[] = {{"close-temp", 5}, {"delete", 2}};
    for (const Case& c : cases) {
        ResetAlloc();
        MemWriter w(MakeParams("d.cab"));
        w.fs.files["a"] = ToBytes("abc");
        ASSERT_TRUE(w.Add("a", "a", 1));
        w.fs.FailAt(c.op, 1);
        EXPECT_FALSE(w.Destroy());
        EXPECT_EQ(4, w.error.code);
        EXPECT_EQ(c.platformError, w.error.platformError);
        EXPECT_EQ(0u, g_alloc.current);
        EXPECT_TRUE(w.fs.handles.empty());
    }
}

TEST(FciErrorText, EveryCodeHasItsText) {
    const char* texts[] = {"No error",
                           "Failure opening file to be stored in cabinet",
                           "Failure reading file to be stored in cabinet",
                           "Insufficient memory in FCI",
                           "Could not create a temporary file",
                           "Unknown compression type",
                           "Could not create cabinet file",
                           "Client requested abort",
                           "Failure compressing data",
                           "Too many files or folders for one cabinet"};
    for (int32_t code = 0; code <= 9; ++code) {
        EXPECT_STREQ(texts[code], FciErrorText(code));
    }
    EXPECT_STREQ("Unknown error", FciErrorText(10));
    EXPECT_STREQ("Unknown error", FciErrorText(-1));
}

// The header counts are 16-bit and folder indices from 0xFFFD up are marks: the
// entry that would wrap a count (or make such an index) is refused, nothing else
// changes, and the cabinet written afterwards holds exactly what fitted.
TEST_F(CabinetWriter, RefusesTheEntryThatWouldWrapACount) {
    struct Case {
        const char* what;
        bool folderEach;
        uint32_t fit;  // entries accepted before the refusal
    } cases[] = {
        {"files in one folder", false, kCabMaxFiles},
        {"a folder per file", true, kCabMaxFolders},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetAlloc();
        MemWriter w(MakeParams("many.cab"));
        ASSERT_NE(nullptr, w.fci);
        w.fs.files["empty"] = Bytes();
        for (uint32_t i = 0; i < c.fit; ++i) {
            ASSERT_TRUE(w.Add("empty", "e")) << i;
            if (c.folderEach) {
                ASSERT_TRUE(w.Flush()) << i;
            }
        }
        size_t opensBefore = w.fs.opens.size();
        EXPECT_FALSE(w.Add("empty", "e"));
        EXPECT_EQ(kFciErrTooManyEntries, w.error.code);
        EXPECT_EQ(opensBefore, w.fs.opens.size());  // the source was never opened
        // A different compression type would need one folder more as well.
        if (c.folderEach) {
            EXPECT_FALSE(w.Add("empty", "e", kCabCompressMszip));
            EXPECT_EQ(kFciErrTooManyEntries, w.error.code);
        }

        ASSERT_TRUE(w.FlushCabinet());
        ParsedCabinet cab = ParseCabinet(w.fs.files["many.cab"]);
        ASSERT_EQ("", cab.error);
        EXPECT_EQ(c.fit, cab.header.fileCount);
        EXPECT_EQ(c.folderEach ? c.fit : 1u, cab.header.folderCount);
        EXPECT_EQ(c.folderEach ? c.fit - 1 : 0u, cab.files.back().entry.folderIndex);
        EXPECT_TRUE(w.Destroy());
    }
}

}  // namespace
