// The reader on hand-made cabinets: notifications and their fields, what is extracted,
// and the error code for each kind of damage.
#include <gtest/gtest.h>

#include <cstring>

#include "cabinet/format/cabinet_format.h"
#include "reader_harness.h"

namespace {

class Reader : public ::testing::Test {
  protected:
    void SetUp() override {
        memfs::Reset();
        reader = memfs::CreateReader(&error);
        ASSERT_NE(reader, nullptr);
    }
    void TearDown() override {
        if (reader) {
            EXPECT_TRUE(FDIDestroy(reader));
        }
        // Whatever happened, nothing stays open or allocated.
        EXPECT_EQ(memfs::OpenHandles(), 0);
        EXPECT_EQ(memfs::LiveBlocks(), 0);
    }
    // Stores cabinet as dir/name and runs FDICopy on it.
    bool CopyOf(const std::string& cabinet, Client& client, bool decrypt = false) {
        memfs::Files()["dir/c.cab"] = cabinet;
        return Copy(reader, "c.cab", "dir/", client, decrypt);
    }
    CabError error = {};
    FdiContext* reader = nullptr;
};

std::string OneFileCabinet() {
    return BuildCabinet(StoredCabinet({{"a.txt", "abc"}}));
}

TEST_F(Reader, ExtractsTheSmallestCabinetWithEveryNotificationField) {
    std::string cab = OneFileCabinet();
    ASSERT_EQ(cab.size(), 77u);
    Client client;
    ASSERT_TRUE(CopyOf(cab, client));
    EXPECT_FALSE(error.errorFlag);
    EXPECT_EQ(client.Output("a.txt"), "abc");

    ASSERT_EQ(client.Types(),
              (std::vector<int>{fdintCABINET_INFO, fdintCOPY_FILE, fdintCLOSE_FILE_INFO}));
    const Event& info = client.events[0];
    EXPECT_EQ(info.str1, "");
    EXPECT_EQ(info.str2, "");
    EXPECT_EQ(info.str3, "dir/");
    EXPECT_EQ(info.setId, 4711);
    EXPECT_EQ(info.cabinetIndex, 0);
    const Event& copy = client.events[1];
    EXPECT_EQ(copy.str1, "a.txt");
    EXPECT_EQ(copy.size, 3);
    EXPECT_EQ(copy.date, 0x5B89);
    EXPECT_EQ(copy.time, 0x6000);
    EXPECT_EQ(copy.attributes, 0x20);
    const Event& close = client.events[2];
    EXPECT_EQ(close.str1, "a.txt");
    EXPECT_NE(close.handle, 0);
    EXPECT_EQ(close.date, 0x5B89);
    EXPECT_EQ(close.time, 0x6000);
    EXPECT_EQ(close.attributes, 0x20);
    EXPECT_EQ(close.size, 0);

    // The cabinet is opened twice, binary read-only, at directory + name.
    ASSERT_GE(memfs::Opens().size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(memfs::Opens()[i].path, "dir/c.cab");
        EXPECT_EQ(memfs::Opens()[i].flags, 0x8000);
        EXPECT_EQ(memfs::Opens()[i].mode, 0x0180);
    }
}

TEST_F(Reader, ExtractsManyFilesAcrossBlocksAndFolders) {
    // Folder 0 holds three files over several blocks, one of them ending exactly on a block
    // boundary; folder 1 holds one more; a file of size 0 sits between them.
    std::string a = Pattern(32768 - 100, 1), b = Pattern(100, 2), c = Pattern(70000, 3);
    std::string d = Pattern(5, 4);
    CabSpec spec = StoredCabinet({{"a", a}, {"b", b}, {"c", c}});
    spec.files.push_back({"empty", 0, 0, 1});
    spec.files.push_back({"d", 5, 0, 1});
    spec.folders.push_back(StoredFolder(d));
    Client client;
    ASSERT_TRUE(CopyOf(BuildCabinet(spec), client));
    EXPECT_EQ(client.Output("a"), a);
    EXPECT_EQ(client.Output("b"), b);
    EXPECT_EQ(client.Output("c"), c);
    EXPECT_EQ(client.Output("d"), d);
    EXPECT_EQ(client.Output("empty"), "");
}

TEST_F(Reader, ExtractsMszipBlocks) {
    // "CK" and a raw deflate stream of the text below, three times over.
    const char* deflate = "cb48cdc9c957c84027751492139332f3524b148a521353528bb832a8ac0e00";
    std::string block = "CK";
    for (size_t i = 0; deflate[i]; i += 2) {
        block += char(strtol(std::string(deflate + i, 2).c_str(), nullptr, 16));
    }
    std::string text;
    for (int i = 0; i < 3; ++i) {
        text += "hello hello hello hello, cabinet reader\n";
    }
    CabSpec spec;
    spec.folders.push_back({kCabCompressMszip, {{block, int32_t(text.size())}}});
    spec.files.push_back({"t.txt", uint32_t(text.size()), 0, 0});
    Client client;
    ASSERT_TRUE(CopyOf(BuildCabinet(spec), client));
    EXPECT_EQ(client.Output("t.txt"), text);

    // The same block with its stored size one off is refused.
    spec.folders[0].blocks[0].uncompressedSize = int32_t(text.size() + 1);
    spec.files[0].size = uint32_t(text.size() + 1);
    Client again;
    EXPECT_FALSE(CopyOf(BuildCabinet(spec), again));
    EXPECT_EQ(error.code, fdiErrorMdiFail);
}

TEST_F(Reader, RunMarkTravelsInItsOwnFieldAndSizeZeroFilesWriteNothing) {
    struct Case {
        uint16_t stored;
        uint16_t reported;
        int32_t runMark;
    } cases[] = {{0x61, 0x21, 1}, {0x21, 0x21, 0}, {0x40, 0x00, 1}, {0x27, 0x27, 0}};
    for (const Case& k : cases) {
        CabSpec spec = StoredCabinet({{"x", "data"}, {"zero", ""}});
        spec.files[0].attributes = k.stored;
        Client client;
        uint64_t writes = 0;
        client.answer = [&](int type, FdiNotification* n) -> intptr_t {
            if (type == fdintCLOSE_FILE_INFO && std::string(n->str1) == "zero") {
                writes = memfs::Files()["out/zero"].size();
            }
            return Client::kDefault;
        };
        ASSERT_TRUE(CopyOf(BuildCabinet(spec), client));
        ASSERT_EQ(client.events.size(), 5u);
        EXPECT_EQ(client.events[1].attributes, k.stored);
        EXPECT_EQ(client.events[2].attributes, k.reported);
        EXPECT_EQ(client.events[2].size, k.runMark);
        EXPECT_EQ(client.events[3].size, 0);
        EXPECT_EQ(writes, 0u);
    }
}

TEST_F(Reader, MemoryStaysBoundedWhateverTheCabinetSize) {
    // 4 MB in one folder: the reader holds one block at a time, never the folder.
    std::string big = Pattern(4 << 20, 7);
    Client client;
    ASSERT_TRUE(CopyOf(BuildCabinet(StoredCabinet({{"big", big}, {"small", "s"}})), client));
    EXPECT_TRUE(client.Output("big") == big);
    EXPECT_LT(memfs::PeakBytes(), 64u * 1024);
}

TEST_F(Reader, SkippingEveryFileReadsNoDataBlock) {
    std::string big = Pattern(100000, 9);
    std::string cab = BuildCabinet(StoredCabinet({{"a", big}, {"b", "xyz"}}));
    Client client;
    client.answer = [](int type, FdiNotification*) -> intptr_t {
        return type == fdintCOPY_FILE ? 0 : Client::kDefault;
    };
    ASSERT_TRUE(CopyOf(cab, client));
    EXPECT_EQ(client.Types(),
              (std::vector<int>{fdintCABINET_INFO, fdintCOPY_FILE, fdintCOPY_FILE}));
    // The header and the entries (each read with room for a long name), but no block.
    EXPECT_LT(memfs::BytesRead(), 1000u);
}

TEST_F(Reader, VersionOtherThanOnePointThreeIsRefused) {
    struct Case {
        uint8_t minor, major;
    } cases[] = {{2, 1}, {4, 1}, {3, 2}, {3, 0}};
    for (const Case& k : cases) {
        std::string cab = OneFileCabinet();
        cab[24] = char(k.minor);
        cab[25] = char(k.major);
        memfs::Files()["dir/c.cab"] = cab;

        error = {};
        intptr_t h = memfs::Open("dir/c.cab", 0x8000, 0);
        FdiCabinetInfo info = {};
        EXPECT_FALSE(FDIIsCabinet(reader, h, &info));
        memfs::Close(h);
        EXPECT_EQ(error.code, fdiErrorUnknownCabinetVersion);
        EXPECT_EQ(error.platformError, (k.major << 8) | k.minor);
        EXPECT_TRUE(error.errorFlag);

        error = {};
        Client client;
        EXPECT_FALSE(CopyOf(cab, client));
        EXPECT_EQ(error.code, fdiErrorUnknownCabinetVersion);
        EXPECT_TRUE(client.events.empty());
    }
}

TEST_F(Reader, IsCabinetReportsTheHeaderAndRefusesOtherBytesSilently) {
    CabSpec spec = StoredCabinet({{"a", "1"}, {"b", "2"}});
    spec.setId = 65432;
    spec.index = 3;
    spec.hasNext = true;
    spec.nextCabinet = "n.cab";
    spec.headerReserve = "pw";
    std::string cab = BuildCabinet(spec);
    memfs::Files()["c.cab"] = cab;
    intptr_t h = memfs::Open("c.cab", 0x8000, 0);
    FdiCabinetInfo info = {};
    ASSERT_TRUE(FDIIsCabinet(reader, h, &info));
    memfs::Close(h);
    EXPECT_EQ(info.cabinetSize, int32_t(cab.size()));
    EXPECT_EQ(info.folderCount, 1);
    EXPECT_EQ(info.fileCount, 2);
    EXPECT_EQ(info.setId, 65432);
    EXPECT_EQ(info.cabinetIndex, 3);
    EXPECT_TRUE(info.hasReserve);
    EXPECT_FALSE(info.hasPrevious);
    EXPECT_TRUE(info.hasNext);

    // A short file, another signature, a cabinet behind other bytes: false, nothing stored.
    for (std::string bytes : {cab.substr(0, 35), "MSCX" + cab.substr(4), "MZ" + cab}) {
        memfs::Files()["x"] = bytes;
        h = memfs::Open("x", 0x8000, 0);
        EXPECT_FALSE(FDIIsCabinet(reader, h, &info));
        memfs::Close(h);
        EXPECT_FALSE(error.errorFlag);
    }
}

TEST_F(Reader, ChecksumZeroIsNotVerifiedAndAWrongOneIsCorruption) {
    struct Case {
        bool checksum;
        uint32_t spoil;
        bool ok;
    } cases[] = {{false, 0, true}, {true, 0, true}, {true, 1, false}, {true, 0x80000000, false}};
    for (const Case& k : cases) {
        CabSpec spec = StoredCabinet({{"a", Pattern(40000, 5)}});
        spec.folders[0].blocks[1].checksum = k.checksum;
        spec.folders[0].blocks[1].checksumXor = k.spoil;
        error = {};
        Client client;
        EXPECT_EQ(CopyOf(BuildCabinet(spec), client), k.ok);
        EXPECT_EQ(error.code, k.ok ? 0 : fdiErrorCorruptCabinet);
    }
}

// Damage at a known place of a small cabinet, and the code it must produce. The cabinet:
// header 0..35, folder entry 36..43, entries "a" at 44 (size 3) and "bb" at 62 (size 2),
// data block at 81 (8-byte header, then "abcde").
TEST_F(Reader, DamagedCabinetsFailWithTheRightCode) {
    auto base = [] { return BuildCabinet(StoredCabinet({{"a", "abc"}, {"bb", "de"}})); };
    ASSERT_EQ(base().size(), 94u);
    auto put16 = [](std::string& s, size_t at, uint16_t v) {
        CabPut16(reinterpret_cast<uint8_t*>(&s[at]), v);
    };
    auto put32 = [](std::string& s, size_t at, uint32_t v) {
        CabPut32(reinterpret_cast<uint8_t*>(&s[at]), v);
    };
    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        int32_t code;
    } cases[] = {
        {"signature", [](std::string& s) { s[0] = 'X'; }, fdiErrorNotACabinet},
        {"header cut short", [](std::string& s) { s.resize(30); }, fdiErrorNotACabinet},
        {"reserve fields missing",
         [&](std::string& s) {
             put16(s, 30, kCabFlagReserve);
             s.resize(38);
         },
         fdiErrorNotACabinet},
        {"header reserve longer than the file",
         [&](std::string& s) {
             put16(s, 30, kCabFlagReserve);
             put16(s, 36, 60000);
         },
         fdiErrorNotACabinet},
        {"first file entry past the end", [&](std::string& s) { put32(s, 16, 5000); },
         fdiErrorCorruptCabinet},
        {"first file entry offset negative", [&](std::string& s) { put32(s, 16, 0x90000000); },
         fdiErrorCorruptCabinet},
        {"more files than entries", [&](std::string& s) { put16(s, 28, 3); },
         fdiErrorCorruptCabinet},
        {"file in a folder that does not exist", [&](std::string& s) { put16(s, 52, 1); },
         fdiErrorCorruptCabinet},
        {"no folders at all", [&](std::string& s) { put16(s, 26, 0); }, fdiErrorCorruptCabinet},
        {"name without NUL",
         [](std::string& s) { s = s.substr(0, 60) + std::string(300, 'n') + s.substr(60); },
         fdiErrorCorruptCabinet},
        {"next cabinet name without NUL",
         [&](std::string& s) {
             put16(s, 30, kCabFlagNextCabinet);
             s = s.substr(0, 36) + std::string(300, 'n');
         },
         fdiErrorCorruptCabinet},
        {"first block offset wrong", [&](std::string& s) { put32(s, 36, 82); },
         fdiErrorCorruptCabinet},
        {"first block past the end", [&](std::string& s) { put32(s, 36, 4000); },
         fdiErrorCorruptCabinet},
        {"data cut short", [](std::string& s) { s.resize(90); }, fdiErrorCorruptCabinet},
        {"block larger than its buffer", [&](std::string& s) { put16(s, 85, 40000); },
         fdiErrorCorruptCabinet},
        {"stored block with other sizes",
         [&](std::string& s) {
             put16(s, 87, 4);
             put32(s, 81, 0);
         },
         fdiErrorMdiFail},
        {"file longer than its folder and no next cabinet",
         [&](std::string& s) { put32(s, 62, 3000); }, fdiErrorCorruptCabinet},
        {"file longer than its folder, block count 0", [&](std::string& s) { put16(s, 40, 0); },
         fdiErrorCorruptCabinet},
        {"compression type LZX", [&](std::string& s) { put16(s, 42, 3); },
         fdiErrorBadCompressionType},
        {"compression type Quantum", [&](std::string& s) { put16(s, 42, 0x1002); },
         fdiErrorBadCompressionType},
        {"MSZIP type on stored bytes", [&](std::string& s) { put16(s, 42, 1); }, fdiErrorMdiFail},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        std::string cab = base();
        k.damage(cab);
        error = {};
        Client client;
        EXPECT_FALSE(CopyOf(cab, client));
        EXPECT_EQ(error.code, k.code);
        EXPECT_TRUE(error.errorFlag);
        EXPECT_EQ(memfs::OpenHandles(), 0);
        // A cabinet that names no successor is never asked for one.
        for (const Event& e : client.events) {
            EXPECT_NE(e.type, fdintNEXT_CABINET);
        }
    }
}

TEST_F(Reader, EveryTruncationFailsCleanly) {
    CabSpec spec = StoredCabinet({{"one", Pattern(40000, 1)}, {"two", "tail"}});
    spec.headerReserve = "reserve";
    spec.folderReserve = 3;
    spec.dataReserve = 2;
    spec.hasPrevious = true;
    spec.previousCabinet = "p.cab";
    spec.previousDisk = "disk";
    std::string cab = BuildCabinet(spec);
    Client whole;
    ASSERT_TRUE(CopyOf(cab, whole));
    for (size_t length = 0; length < cab.size(); length += (length < 200 ? 1 : 997)) {
        SCOPED_TRACE(length);
        error = {};
        Client client;
        EXPECT_FALSE(CopyOf(cab.substr(0, length), client));
        EXPECT_TRUE(error.code == fdiErrorNotACabinet || error.code == fdiErrorCorruptCabinet)
            << error.code;
        EXPECT_EQ(memfs::OpenHandles(), 0);
    }
}

TEST_F(Reader, ReserveAreasReachDecryptAndEmptyOnesAreNull) {
    // Without reserves: kind 0 with no pointer and size 0, kinds 1 and 2 without reserve.
    Client plain;
    ASSERT_TRUE(CopyOf(OneFileCabinet(), plain, true));
    ASSERT_EQ(plain.decrypts.size(), 3u);
    EXPECT_EQ(plain.decrypts[0].kind, DecryptNewCabinet);
    EXPECT_EQ(plain.decrypts[0].cabinet.headerReserve, nullptr);
    EXPECT_EQ(plain.decrypts[0].cabinet.headerReserveSize, 0);
    EXPECT_EQ(plain.decrypts[1].kind, DecryptNewFolder);
    EXPECT_EQ(plain.decrypts[1].folder.folderReserve, nullptr);
    EXPECT_EQ(plain.decrypts[1].folder.folderReserveSize, 0);
    EXPECT_EQ(plain.decrypts[2].kind, DecryptDataBlock);
    EXPECT_EQ(plain.decrypts[2].dataBlock.dataReserve, nullptr);
    EXPECT_EQ(plain.decryptBytes[2], "abc");
    EXPECT_FALSE(plain.decrypts[2].dataBlock.split);

    // With reserves, two folders: each area arrives with its bytes.
    CabSpec spec = StoredCabinet({{"a", "abc"}});
    spec.setId = 9;
    spec.headerReserve = "0049005000510052";
    spec.folderReserve = 2;
    spec.dataReserve = 1;
    spec.files.push_back({"b", 2, 0, 1});
    spec.folders.push_back(StoredFolder("xy"));
    Client client;
    ASSERT_TRUE(CopyOf(BuildCabinet(spec), client, true));
    EXPECT_EQ(client.Output("a"), "abc");
    EXPECT_EQ(client.Output("b"), "xy");
    ASSERT_EQ(client.decrypts.size(), 5u);
    EXPECT_EQ(client.decryptBytes[0], "0049005000510052");
    EXPECT_EQ(client.decrypts[0].cabinet.setId, 9);
    EXPECT_EQ(client.decryptBytes[1], "FF");
    EXPECT_EQ(client.decrypts[1].folder.folderIndex, 0);
    EXPECT_EQ(client.decryptBytes[2], "abc|D");
    EXPECT_EQ(client.decrypts[2].dataBlock.dataReserveSize, 1);
    EXPECT_EQ(client.decryptBytes[3], "GG");
    EXPECT_EQ(client.decrypts[3].folder.folderIndex, 1);
    EXPECT_EQ(client.decryptBytes[4], "xy|D");
}

TEST_F(Reader, MinusOneFromAnyCallbackIsAUserAbort) {
    struct Case {
        const char* what;
        int notification;  // answers -1 to this one (-2: none)
        int decryptKind;   // answers -1 to this kind (-1: none)
        std::vector<int> seen;
    } cases[] = {
        {"cabinet info", fdintCABINET_INFO, -1, {fdintCABINET_INFO}},
        {"copy file", fdintCOPY_FILE, -1, {fdintCABINET_INFO, fdintCOPY_FILE}},
        {"close file info",
         fdintCLOSE_FILE_INFO,
         -1,
         {fdintCABINET_INFO, fdintCOPY_FILE, fdintCLOSE_FILE_INFO}},
        {"decrypt cabinet", -2, DecryptNewCabinet, {fdintCABINET_INFO}},
        {"decrypt folder", -2, DecryptNewFolder, {fdintCABINET_INFO, fdintCOPY_FILE}},
        {"decrypt block", -2, DecryptDataBlock, {fdintCABINET_INFO, fdintCOPY_FILE}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        error = {};
        Client client;
        client.answer = [&](int type, FdiNotification*) -> intptr_t {
            return type == k.notification ? -1 : Client::kDefault;
        };
        client.decryptAnswer = [&](FdiDecrypt* d) { return d->kind == k.decryptKind ? -1 : 0; };
        EXPECT_FALSE(CopyOf(OneFileCabinet(), client, true));
        EXPECT_EQ(error.code, fdiErrorUserAbort);
        EXPECT_EQ(client.Types(), k.seen);
        // The output handle, if one was given, was closed by the reader.
        EXPECT_EQ(memfs::OpenHandles(), 0);
    }
}

TEST_F(Reader, OutputHandleIsClosedOnFailureAndLeftToTheClientAfterCloseInfo) {
    // A short write: code 8 and the reader closes the output itself.
    FDIDestroy(reader);
    memfs::Reset(0, 10);
    reader = memfs::CreateReader(&error);
    Client shortWrite;
    EXPECT_FALSE(CopyOf(BuildCabinet(StoredCabinet({{"a", Pattern(100, 1)}})), shortWrite));
    EXPECT_EQ(error.code, fdiErrorTargetFile);
    EXPECT_EQ(memfs::OpenHandles(), 0);

    // fdintCLOSE_FILE_INFO answering 0: code 8, and the handle stays the client's.
    error = {};
    Client refuses;
    intptr_t kept = -1;
    refuses.answer = [&](int type, FdiNotification* n) -> intptr_t {
        if (type == fdintCLOSE_FILE_INFO) {
            kept = n->handle;
            return 0;
        }
        return Client::kDefault;
    };
    EXPECT_FALSE(CopyOf(OneFileCabinet(), refuses));
    EXPECT_EQ(error.code, fdiErrorTargetFile);
    EXPECT_EQ(memfs::OpenHandles(), 1);
    EXPECT_EQ(memfs::Close(kept), 0);
}

TEST_F(Reader, AFileThatStartsBeforeTheCurrentBlockIsReadAgainFromTheFolderStart) {
    // "late" is listed first and lies in the third block; "early" starts in the first.
    std::string early = Pattern(40000, 1), late = Pattern(30000, 2);
    CabSpec spec;
    spec.folders.push_back(StoredFolder(early + late));
    spec.files.push_back({"late", uint32_t(late.size()), uint32_t(early.size()), 0});
    spec.files.push_back({"early", uint32_t(early.size()), 0, 0});
    spec.files.push_back({"again", 10, 5, 0});
    Client client;
    ASSERT_TRUE(CopyOf(BuildCabinet(spec), client));
    EXPECT_EQ(client.Output("late"), late);
    EXPECT_EQ(client.Output("early"), early);
    EXPECT_EQ(client.Output("again"), early.substr(5, 10));
}

TEST_F(Reader, ContextSurvivesFailuresAndServesFurtherCopies) {
    Client bad;
    EXPECT_FALSE(CopyOf("MSCF but nothing else", bad));
    EXPECT_EQ(error.code, fdiErrorNotACabinet);
    Client missing;
    EXPECT_FALSE(Copy(reader, "none.cab", "dir/", missing));
    EXPECT_EQ(error.code, fdiErrorCabinetNotFound);
    for (int i = 0; i < 2; ++i) {
        Client good;
        ASSERT_TRUE(CopyOf(OneFileCabinet(), good));
        EXPECT_EQ(good.Output("a.txt"), "abc");
    }
}

TEST(ReaderErrors, ReaderWithoutAnErrorRecordStillFailsCleanly) {
    memfs::Reset();
    FdiContext* reader = memfs::CreateReader(nullptr);
    ASSERT_NE(reader, nullptr);
    Client client;
    EXPECT_FALSE(Copy(reader, "missing.cab", "", client));
    EXPECT_TRUE(FDIDestroy(reader));
    EXPECT_EQ(memfs::LiveBlocks(), 0);
}

TEST(ReaderErrors, TextsForEveryCode) {
    const char* texts[] = {"No error",
                           "Cabinet not found",
                           "Not a cabinet",
                           "Unknown cabinet version",
                           "Corrupt cabinet",
                           "Memory allocation failed",
                           "Unknown compression type",
                           "Failure decompressing data",
                           "Failure writing to target file",
                           "Cabinets in set have different RESERVE sizes",
                           "Cabinet returned on fdintNEXT_CABINET is incorrect",
                           "User aborted"};
    for (int code = 0; code < 12; ++code) {
        EXPECT_STREQ(FDIErrorText(code), texts[code]);
    }
    EXPECT_STREQ(FDIErrorText(12), "Unknown error");
    EXPECT_STREQ(FDIErrorText(-1), "Unknown error");
}

TEST(ReaderMemory, EveryAllocationFailureIsCodeFiveAndLeaksNothing) {
    // Allocation n fails, for each n up to past the last one a copy makes.
    int failures = 0;
    for (int failAt = 1; failAt < 12; ++failAt) {
        SCOPED_TRACE(failAt);
        memfs::Reset(failAt);
        memfs::Files()["c.cab"] = BuildCabinet(StoredCabinet({{"a", "abc"}}));
        CabError error = {};
        FdiContext* reader = memfs::CreateReader(&error);
        if (reader) {
            Client client;
            bool ok = Copy(reader, "c.cab", "", client);
            if (!ok) {
                ++failures;
                EXPECT_EQ(error.code, fdiErrorAllocFail);
            }
            EXPECT_TRUE(FDIDestroy(reader));
        } else {
            ++failures;
            EXPECT_EQ(error.code, fdiErrorAllocFail);
        }
        EXPECT_EQ(memfs::LiveBlocks(), 0);
        EXPECT_EQ(memfs::OpenHandles(), 0);
    }
    // The context, the two record buffers and the data buffer.
    EXPECT_GE(failures, 4);
}

}  // namespace
