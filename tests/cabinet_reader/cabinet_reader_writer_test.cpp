// Cabinets and cabinet sets made by our own writer read back to the files that went in.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <ostream>

#include "cabinet/writer/cabinet_writer.h"
#include "reader_harness.h"

namespace {

// The writer's callbacks over the same in-memory store the reader uses.
int32_t WOpen(const char* path, int32_t flags, int32_t mode, int32_t* err, void*) {
    intptr_t h = memfs::Open(path, flags, mode);
    if (h == -1) {
        *err = 2;
    }
    return int32_t(h);
}
int32_t WRead(int32_t h, void* buffer, uint32_t count, int32_t*, void*) {
    return memfs::Read(h, buffer, count);
}
int32_t WWrite(int32_t h, const void* buffer, uint32_t count, int32_t*, void*) {
    return memfs::Write(h, buffer, count);
}
int32_t WClose(int32_t h, int32_t*, void*) {
    return memfs::Close(h);
}
int32_t WSeek(int32_t h, int32_t offset, int32_t origin, int32_t*, void*) {
    return memfs::Seek(h, offset, origin);
}
int32_t WDelete(const char* path, int32_t*, void*) {
    return memfs::Files().erase(path) == 1 ? 0 : -1;
}
bool WTempName(char* buffer, int32_t size, void*) {
    static int counter = 0;
    std::snprintf(buffer, size_t(size), "tmp/%d", ++counter);
    return true;
}
int32_t WPlaced(CabinetParams*, const char*, uint32_t, bool, void*) {
    return 0;
}
int32_t WNext(CabinetParams* p, uint32_t, void*) {
    std::snprintf(p->cabinetName, sizeof p->cabinetName, "set%d.cab", p->cabinetNumber);
    std::snprintf(p->diskName, sizeof p->diskName, "disk%d", p->cabinetNumber);
    return 0;
}
int32_t WStatus(int32_t, uint32_t, uint32_t, void*) {
    return 0;
}
int32_t WOpenInfo(const char* path, uint16_t* date, uint16_t* time, uint16_t* attributes,
                  int32_t* err, void*) {
    *date = 0x5B89;
    *time = 0x6000;
    *attributes = 0x20;
    intptr_t h = memfs::Open(path, 0x8000, 0);
    if (h == -1) {
        *err = 2;
    }
    return int32_t(h);
}

struct Case {
    const char* what;
    uint16_t type;
    bool folderPerFile;
    uint32_t maxCabinetSize;  // 0: one cabinet
    uint32_t folderReserve, dataReserve;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.what;
}

class WriterCabinets : public ::testing::TestWithParam<Case> {};

TEST_P(WriterCabinets, ReadBackToTheSameFilesEachExtractedOnce) {
    const Case& k = GetParam();
    memfs::Reset();
    std::vector<std::pair<std::string, std::string>> files = {
        {"index.htm", Pattern(20000, 1)},    {"empty.gif", ""}, {"big.bin", Pattern(150000, 2)},
        {"zeros", std::string(40000, '\0')}, {"tiny", "x"},     {"tail.txt", Pattern(33000, 3)},
    };
    CabinetParams params = {};
    params.maxCabinetSize = k.maxCabinetSize;
    params.folderThreshold = 0x7FFFFFFF;
    params.folderReserve = k.folderReserve;
    params.dataReserve = k.dataReserve;
    params.cabinetNumber = 0;
    params.setId = 65432;
    std::snprintf(params.cabinetName, sizeof params.cabinetName, "set0.cab");
    std::snprintf(params.diskName, sizeof params.diskName, "disk0");
    CabError werror = {};
    FciContext* writer = FCICreate(&werror, WPlaced, memfs::Alloc, memfs::Free, WOpen, WRead,
                                   WWrite, WClose, WSeek, WDelete, WTempName, &params, nullptr);
    ASSERT_NE(writer, nullptr);
    for (const auto& f : files) {
        memfs::Files()["src/" + f.first] = f.second;
        ASSERT_TRUE(FCIAddFile(writer, ("src/" + f.first).c_str(), f.first.c_str(),
                               f.first == "index.htm", WNext, WStatus, WOpenInfo, k.type))
            << werror.code;
        if (k.folderPerFile) {
            ASSERT_TRUE(FCIFlushFolder(writer, WNext, WStatus)) << werror.code;
        }
    }
    ASSERT_TRUE(FCIFlushCabinet(writer, false, WNext, WStatus)) << werror.code;
    ASSERT_TRUE(FCIDestroy(writer));

    std::vector<std::string> cabinets;
    while (memfs::Files().count("set" + std::to_string(cabinets.size()) + ".cab")) {
        cabinets.push_back("set" + std::to_string(cabinets.size()) + ".cab");
    }
    if (k.maxCabinetSize) {
        EXPECT_GT(cabinets.size(), 2u);
    } else {
        EXPECT_EQ(cabinets.size(), 1u);
    }

    CabError error = {};
    FdiContext* reader = memfs::CreateReader(&error);
    ASSERT_NE(reader, nullptr);
    std::map<std::string, int> copies;
    std::map<std::string, int32_t> runMarks;
    for (const std::string& cabinet : cabinets) {
        SCOPED_TRACE(cabinet);
        Client client;
        client.answer = [&](int type, FdiNotification* n) -> intptr_t {
            if (type == fdintCOPY_FILE) {
                ++copies[n->str1];
            } else if (type == fdintCLOSE_FILE_INFO) {
                runMarks[n->str1] = n->size;
            }
            return Client::kDefault;
        };
        ASSERT_TRUE(Copy(reader, cabinet, "", client)) << error.code;
    }
    EXPECT_TRUE(FDIDestroy(reader));
    for (const auto& f : files) {
        EXPECT_EQ(copies[f.first], 1) << f.first;
        EXPECT_TRUE(Client().Output(f.first) == f.second) << f.first;
        EXPECT_EQ(runMarks[f.first], f.first == "index.htm" ? 1 : 0) << f.first;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, WriterCabinets,
                         ::testing::Values(Case{"stored_one_folder", 0, false, 0, 0, 0},
                                           Case{"mszip_folder_per_file", 1, true, 0, 0, 0},
                                           Case{"mszip_one_folder", 1, false, 0, 0, 0},
                                           Case{"stored_set", 0, false, 30000, 0, 0},
                                           Case{"mszip_set", 1, false, 30000, 0, 0},
                                           Case{"mszip_set_folder_per_file", 1, true, 30000, 0, 0},
                                           Case{"mszip_set_with_reserves", 1, false, 30000, 3, 5}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.what);
                         });

}  // namespace
