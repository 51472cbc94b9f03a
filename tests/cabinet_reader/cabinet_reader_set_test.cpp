// Cabinet sets: files and blocks continued into the next cabinet, the requests for it, and
// what happens when the cabinet offered is not the right one.
#include <gtest/gtest.h>

#include <cstring>

#include "cabinet/format/cabinet_format.h"
#include "reader_harness.h"

namespace {

const std::string kA = Pattern(50000, 11);
const std::string kB = Pattern(30000, 12);

// Two cabinets. The first holds "solo" in folder 0 and starts folder 1 with A and B, whose
// second block is split: 10000 bytes here, the rest in the second cabinet, which continues
// folder 1 as its folder 0 and adds "after" in a folder of its own.
struct TwoCabinets {
    CabSpec first, second;
    TwoCabinets() {
        std::string stream = kA + kB;
        first.hasNext = true;
        first.nextCabinet = "c2.cab";
        first.nextDisk = "disk2";
        first.folders.push_back(StoredFolder("solo!"));
        FolderSpec started;
        started.blocks.push_back({stream.substr(0, 32768)});
        started.blocks.push_back({stream.substr(32768, 10000), 0});
        first.folders.push_back(started);
        first.files = {{"solo", 5, 0, 0},
                       {"A", uint32_t(kA.size()), 0, kCabFolderContinuedToNext},
                       {"B", uint32_t(kB.size()), uint32_t(kA.size()), kCabFolderContinuedToNext}};

        second.index = 1;
        second.hasPrevious = true;
        second.previousCabinet = "c1.cab";
        second.previousDisk = "disk1";
        FolderSpec continued;
        continued.blocks.push_back({stream.substr(42768, 22768), 32768});
        continued.blocks.push_back({stream.substr(65536)});
        second.folders.push_back(continued);
        second.folders.push_back(StoredFolder("later"));
        second.files = {
            {"A", uint32_t(kA.size()), 0, kCabFolderContinuedFromPrev},
            {"B", uint32_t(kB.size()), uint32_t(kA.size()), kCabFolderContinuedFromPrev},
            {"after", 5, 0, 1}};
    }
    void Store(const std::string& secondDir = "dir/") const {
        memfs::Files()["dir/c1.cab"] = BuildCabinet(first);
        memfs::Files()[secondDir + "c2.cab"] = BuildCabinet(second);
    }
};

class CabinetSet : public ::testing::Test {
  protected:
    void SetUp() override {
        memfs::Reset();
        reader = memfs::CreateReader(&error);
        ASSERT_NE(reader, nullptr);
    }
    void TearDown() override {
        EXPECT_TRUE(FDIDestroy(reader));
        EXPECT_EQ(memfs::OpenHandles(), 0);
        EXPECT_EQ(memfs::LiveBlocks(), 0);
    }
    CabError error = {};
    FdiContext* reader = nullptr;
};

TEST_F(CabinetSet, FirstCabinetExtractsItsFilesAndTheRestOfTheContinuedOnes) {
    TwoCabinets set;
    set.Store();
    Client client;
    ASSERT_TRUE(Copy(reader, "c1.cab", "dir/", client, true)) << error.code;
    EXPECT_EQ(client.Output("solo"), "solo!");
    EXPECT_TRUE(client.Output("A") == kA);
    EXPECT_TRUE(client.Output("B") == kB);
    EXPECT_EQ(client.Output("after"), "<missing>");

    EXPECT_EQ(client.Types(),
              (std::vector<int>{fdintCABINET_INFO, fdintCOPY_FILE, fdintCLOSE_FILE_INFO,
                                fdintCOPY_FILE, fdintNEXT_CABINET, fdintCABINET_INFO,
                                fdintCLOSE_FILE_INFO, fdintCOPY_FILE, fdintCLOSE_FILE_INFO}));
    const Event& info = client.events[0];
    EXPECT_EQ(info.str1, "c2.cab");
    EXPECT_EQ(info.str2, "disk2");
    const Event& next = client.events[4];
    EXPECT_EQ(next.str1, "c2.cab");
    EXPECT_EQ(next.str2, "disk2");
    EXPECT_EQ(next.str3, "dir/");
    EXPECT_EQ(next.setId, 4711);
    EXPECT_EQ(next.cabinetIndex, 1);
    EXPECT_EQ(next.retryError, 0);
    EXPECT_EQ(client.events[5].cabinetIndex, 1);
    EXPECT_EQ(client.events[6].str1, "A");

    // The split block reaches DecryptFn as two pieces, the second joined to the first.
    std::vector<const FdiDecrypt*> split;
    for (const FdiDecrypt& d : client.decrypts) {
        if (d.kind == DecryptDataBlock && d.dataBlock.split) {
            split.push_back(&d);
        }
    }
    ASSERT_EQ(split.size(), 2u);
    EXPECT_EQ(split[0]->dataBlock.dataSize, 10000);
    EXPECT_EQ(split[0]->dataBlock.previousSize, 0);
    EXPECT_EQ(split[1]->dataBlock.dataSize, 32768);
    EXPECT_EQ(split[1]->dataBlock.previousSize, 10000);
}

TEST_F(CabinetSet, NextCabinetLeavesEarlierFilesToTheirOwnCabinet) {
    TwoCabinets set;
    set.Store();
    Client client;
    ASSERT_TRUE(Copy(reader, "c2.cab", "dir/", client));
    EXPECT_EQ(client.Types(),
              (std::vector<int>{fdintCABINET_INFO, fdintPARTIAL_FILE, fdintPARTIAL_FILE,
                                fdintCOPY_FILE, fdintCLOSE_FILE_INFO}));
    EXPECT_EQ(client.events[1].str1, "A");
    EXPECT_EQ(client.events[1].str2, "c1.cab");
    EXPECT_EQ(client.events[1].str3, "disk1");
    EXPECT_EQ(client.Output("after"), "later");
}

TEST_F(CabinetSet, SkippedContinuedFilesArePassedOverInTheNextCabinet) {
    TwoCabinets set;
    set.Store();
    Client client;
    client.answer = [](int type, FdiNotification* n) -> intptr_t {
        return type == fdintCOPY_FILE && std::string(n->str1) != "B" ? 0 : Client::kDefault;
    };
    ASSERT_TRUE(Copy(reader, "c1.cab", "dir/", client));
    EXPECT_TRUE(client.Output("B") == kB);
    EXPECT_EQ(client.Output("A"), "<missing>");
    // After the change B is closed, and A is not offered again.
    EXPECT_EQ(client.events.back().type, fdintCLOSE_FILE_INFO);
    EXPECT_EQ(client.events.back().str1, "B");
}

TEST_F(CabinetSet, AnEmptyFileInAFolderWithoutBlocksNeverAsksForTheNextCabinet) {
    // As the packager writes them: one folder per file, so an empty file's folder has no
    // block; the cabinet names a successor that does not exist.
    CabSpec spec = StoredCabinet({{"a", "abc"}});
    spec.hasNext = true;
    spec.nextCabinet = "absent.cab";
    spec.folders.push_back(FolderSpec());
    spec.files.push_back({"empty", 0, 0, 1});
    spec.files.push_back({"b", 2, 0, 2});
    spec.folders.push_back(StoredFolder("bb"));
    memfs::Files()["c.cab"] = BuildCabinet(spec);
    Client client;
    client.answer = [](int type, FdiNotification*) -> intptr_t {
        return type == fdintNEXT_CABINET ? -1 : Client::kDefault;
    };
    ASSERT_TRUE(Copy(reader, "c.cab", "", client)) << error.code;
    EXPECT_EQ(client.Output("empty"), "");
    EXPECT_EQ(client.Output("b"), "bb");
    for (const Event& e : client.events) {
        EXPECT_NE(e.type, fdintNEXT_CABINET);
    }
}

TEST_F(CabinetSet, AFileMaySpanThreeCabinets) {
    std::string x = Pattern(80000, 21);
    CabSpec one, two, three;
    one.hasNext = two.hasNext = true;
    one.nextCabinet = "2.cab";
    two.nextCabinet = "3.cab";
    two.hasPrevious = three.hasPrevious = true;
    two.index = 1;
    three.index = 2;
    one.folders.push_back(StoredFolder(x.substr(0, 32768)));
    two.folders.push_back(StoredFolder(x.substr(32768, 32768)));
    three.folders.push_back(StoredFolder(x.substr(65536)));
    one.files = {{"x", 80000, 0, kCabFolderContinuedToNext}};
    two.files = {{"x", 80000, 0, kCabFolderContinuedPrevAndNext}};
    three.files = {{"x", 80000, 0, kCabFolderContinuedFromPrev}};
    memfs::Files()["1.cab"] = BuildCabinet(one);
    memfs::Files()["2.cab"] = BuildCabinet(two);
    memfs::Files()["3.cab"] = BuildCabinet(three);
    Client client;
    ASSERT_TRUE(Copy(reader, "1.cab", "", client));
    EXPECT_TRUE(client.Output("x") == x);
    int requests = 0;
    for (const Event& e : client.events) {
        requests += e.type == fdintNEXT_CABINET;
    }
    EXPECT_EQ(requests, 2);
}

TEST_F(CabinetSet, ClientMayPointTheRetryAtAnotherDirectory) {
    TwoCabinets set;
    set.Store("other/");
    Client client;
    client.answer = [](int type, FdiNotification* n) -> intptr_t {
        if (type == fdintNEXT_CABINET && n->retryError != 0) {
            strcpy(n->str3, "other/");
        }
        return Client::kDefault;
    };
    ASSERT_TRUE(Copy(reader, "c1.cab", "dir/", client)) << error.code;
    EXPECT_TRUE(client.Output("B") == kB);
    std::vector<int32_t> retries;
    for (const Event& e : client.events) {
        if (e.type == fdintNEXT_CABINET) {
            retries.push_back(e.retryError);
        }
    }
    EXPECT_EQ(retries, (std::vector<int32_t>{0, fdiErrorCabinetNotFound}));
    // The failed attempt does not show in the outcome.
    EXPECT_FALSE(error.errorFlag);
}

// A wrong next cabinet is retried with its code in retryError until the client gives up.
TEST_F(CabinetSet, WrongNextCabinetIsRetriedWithItsCode) {
    struct Case {
        const char* what;
        std::function<void(CabSpec&)> spoil;
        std::function<void(std::string&)> damage;
        int32_t retryError;
    } cases[] = {
        {"other set", [](CabSpec& s) { s.setId = 1; }, nullptr, fdiErrorWrongCabinet},
        {"other index", [](CabSpec& s) { s.index = 2; }, nullptr, fdiErrorWrongCabinet},
        {"data reserve", [](CabSpec& s) { s.dataReserve = 1; }, nullptr, fdiErrorReserveMismatch},
        {"folder reserve", [](CabSpec& s) { s.folderReserve = 4; }, nullptr,
         fdiErrorReserveMismatch},
        {"header reserve", [](CabSpec& s) { s.headerReserve = "x"; }, nullptr,
         fdiErrorReserveMismatch},
        {"not a cabinet", nullptr, [](std::string& c) { c[0] = 'Z'; }, fdiErrorNotACabinet},
        {"other compression type", [](CabSpec& s) { s.folders[0].type = 1; }, nullptr,
         fdiErrorCorruptCabinet},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        TwoCabinets set;
        if (k.spoil) {
            k.spoil(set.second);
        }
        set.Store();
        if (k.damage) {
            k.damage(memfs::Files()["dir/c2.cab"]);
        }
        error = {};
        Client client;
        std::vector<int32_t> retries;
        client.answer = [&](int type, FdiNotification* n) -> intptr_t {
            if (type != fdintNEXT_CABINET) {
                return Client::kDefault;
            }
            retries.push_back(n->retryError);
            return retries.size() < 3 ? 0 : -1;
        };
        EXPECT_FALSE(Copy(reader, "c1.cab", "dir/", client));
        EXPECT_EQ(error.code, fdiErrorUserAbort);
        EXPECT_EQ(retries, (std::vector<int32_t>{0, k.retryError, k.retryError}));
        EXPECT_EQ(memfs::OpenHandles(), 0);
    }
}

TEST_F(CabinetSet, AContinuedFileThatStartsBeforeTheCurrentBlockIsCorrupt) {
    // The folder began in the first cabinet, so it cannot be read again from its start.
    TwoCabinets set;
    set.second.files.insert(set.second.files.begin() + 2,
                            {"early", 10, 0, kCabFolderContinuedFromPrev});
    set.Store();
    Client client;
    EXPECT_FALSE(Copy(reader, "c1.cab", "dir/", client));
    EXPECT_EQ(error.code, fdiErrorCorruptCabinet);
    EXPECT_TRUE(client.Output("B") == kB);
}

}  // namespace
