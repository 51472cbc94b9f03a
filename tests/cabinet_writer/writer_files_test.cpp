// The cabinet writer over real files (platform file layer), with the cabinets
// it makes checked by the peer tools cabextract, gcab and 7zz, run as black
// boxes where they are installed (not under Windows).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "platform/files.h"
#include "writer_harness.h"

namespace {

// Bytes that no deflate can shrink, like the pictures of a page.
Bytes NoiseBytes(size_t size, uint32_t seed) {
    Bytes out(size);
    uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = uint8_t(x >> 24);
    }
    return out;
}

// ---- Real-file callbacks ------------------------------------------------------------

// Sources named "gen:<bytes>" are generated on the fly, so that a very large
// file needs neither disk nor memory on the reading side.
constexpr int32_t kGeneratedBase = 1 << 24;

struct DiskFs {
    std::string tempFolder;
    int tempCounter = 0;
    struct Generated {
        uint64_t size, pos;
        uint32_t state;
    };
    std::map<int32_t, Generated> generated;
    int32_t nextGenerated = kGeneratedBase;
};

DiskFs& Disk(void* ctx) {
    return *static_cast<DiskFs*>(ctx);
}

int32_t DiskOpen(const char* path, int32_t flags, int32_t mode, int32_t* err, void*) {
    int h = platform::FileOpen(path, flags, mode);
    if (h == -1) {
        *err = errno;
    }
    return h;
}

// Text-like bytes with numbers and noise: compressible, but not trivially.
void Generate(DiskFs::Generated& g, uint8_t* out, uint32_t n) {
    static const char text[] = "<tr><td class=\"c\">quillbox</td><td>cabinet folder block</td>";
    for (uint32_t i = 0; i < n; ++i, ++g.pos) {
        g.state = g.state * 1103515245u + 12345u;
        uint32_t r = g.state >> 16;
        out[i] =
            (r & 7) == 0 ? uint8_t(r >> 3) : uint8_t(text[(g.pos + (r & 3)) % (sizeof text - 1)]);
    }
}

int32_t DiskRead(int32_t h, void* buf, uint32_t count, int32_t* err, void* ctx) {
    auto it = Disk(ctx).generated.find(h);
    if (it != Disk(ctx).generated.end()) {
        DiskFs::Generated& g = it->second;
        uint64_t left = g.size - g.pos;
        uint32_t n = left < count ? uint32_t(left) : count;
        Generate(g, static_cast<uint8_t*>(buf), n);
        return int32_t(n);
    }
    int n = platform::FileRead(h, buf, count);
    if (n == -1) {
        *err = errno;
    }
    return n;
}

int32_t DiskWrite(int32_t h, const void* buf, uint32_t count, int32_t* err, void*) {
    int n = platform::FileWrite(h, buf, count);
    if (n == -1) {
        *err = errno;
    }
    return n;
}

int32_t DiskClose(int32_t h, int32_t* err, void* ctx) {
    if (Disk(ctx).generated.erase(h)) {
        return 0;
    }
    if (platform::FileClose(h) != 0) {
        *err = errno;
        return -1;
    }
    return 0;
}

int32_t DiskSeek(int32_t h, int32_t offset, int32_t origin, int32_t* err, void*) {
    long pos = platform::FileSeek(h, offset, origin);
    if (pos == -1) {
        *err = errno;
    }
    return int32_t(pos);
}

int32_t DiskDelete(const char* path, int32_t* err, void*) {
    if (!platform::FileRemove(path)) {
        *err = errno;
        return -1;
    }
    return 0;
}

bool DiskTempName(char* buf, int32_t size, void* ctx) {
    DiskFs& d = Disk(ctx);
    std::string name =
        platform::JoinPath(d.tempFolder, "qbw" + std::to_string(++d.tempCounter) + ".tmp");
    if (name.size() + 1 > size_t(size)) {
        return false;
    }
    std::memcpy(buf, name.c_str(), name.size() + 1);
    return true;
}

int32_t DiskOpenInfo(const char* path, uint16_t* date, uint16_t* time, uint16_t* attrs,
                     int32_t* err, void* ctx) {
    DiskFs& d = Disk(ctx);
    if (std::strncmp(path, "gen:", 4) == 0) {
        int32_t h = d.nextGenerated++;
        d.generated[h] = {std::strtoull(path + 4, nullptr, 10), 0, 12345};
        *date = 0x5A21;
        *time = 0x6C3F;
        *attrs = 0x20;
        return h;
    }
    if (platform::FolderExists(path)) {
        *err = EISDIR;
        return -1;
    }
    platform::FileTime t = 0;
    if (!platform::GetWriteTime(path, t) || !platform::UtcToDosDateTime(t, *date, *time)) {
        *date = 0x0021;
        *time = 0;
    }
    uint32_t a = platform::GetAttributes(path);
    *attrs = a == platform::kInvalidAttributes ? 0 : uint16_t(a & 0x27);
    int h = platform::FileOpen(path, platform::kOpenReadOnly | platform::kOpenBinary);
    if (h == -1) {
        *err = errno;
    }
    return h;
}

int32_t DiskNext(CabinetParams* p, uint32_t, void*) {
    std::snprintf(p->cabinetName, sizeof p->cabinetName, "set%d.cab", p->cabinetNumber);
    return 1;
}

int32_t DiskStatus(int32_t, uint32_t, uint32_t, void*) {
    return 0;
}
int32_t DiskPlaced(CabinetParams*, const char*, uint32_t, bool, void*) {
    return 0;
}

// ---- Helpers -----------------------------------------------------------------------------

std::string FreshFolder(const std::string& name) {
    std::string base = platform::GetTempFolder();
    std::string dir =
        platform::JoinPath(base, "qbw_" + name + "_" + std::to_string(std::rand() % 1000000));
    platform::FolderCreate(dir);
    return dir;
}

bool WriteWholeFile(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return bool(f);
}

Bytes ReadWholeFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Removes a folder with its files (one level of subfolders).
void RemoveTree(const std::string& dir) {
    for (const auto& e : platform::ListFolder(platform::JoinPath(dir, "*"))) {
        if (e.name == "." || e.name == "..") {
            continue;
        }
        std::string p = platform::JoinPath(dir, e.name);
        if (e.attributes & platform::kAttrDirectory) {
            RemoveTree(p);
        } else {
            platform::SetAttributes(p, 0x20);
            platform::FileRemove(p);
        }
    }
    platform::FolderRemove(dir);
}

struct DiskWriter {
    DiskFs fs;
    CabError error = {0, 0, false};
    FciContext* fci = nullptr;
    DiskWriter(const std::string& dir, const CabinetParams& params) {
        fs.tempFolder = dir;
        fci = FCICreate(&error, DiskPlaced, TestAlloc, TestFree, DiskOpen, DiskRead, DiskWrite,
                        DiskClose, DiskSeek, DiskDelete, DiskTempName, &params, &fs);
    }
    ~DiskWriter() {
        if (fci) {
            FCIDestroy(fci);
        }
    }
    bool Add(const std::string& path, const std::string& name, uint16_t type) {
        return FCIAddFile(fci, path.c_str(), name.c_str(), false, DiskNext, DiskStatus,
                          DiskOpenInfo, type);
    }
};

CabinetParams DiskParams(const std::string& dir, const std::string& name, uint32_t maxSize) {
    CabinetParams p = MakeParams(name, maxSize);
    std::string prefix = dir + platform::kPathSeparator;
    std::snprintf(p.cabinetPath, sizeof p.cabinetPath, "%s", prefix.c_str());
    return p;
}

#ifndef _WIN32
// Runs a command; its exit status, with stdout and stderr in *output.
int RunPeer(const std::string& command, std::string* output) {
    std::string log = "/tmp/qbw_peer_" + std::to_string(::getpid()) + ".log";
    int rc = std::system((command + " >" + log + " 2>&1").c_str());
    Bytes b = ReadWholeFile(log);
    *output = std::string(b.begin(), b.end());
    std::remove(log.c_str());
    return rc;
}
#endif

TEST(CabinetWriterFiles, WritesRealCabinetsThatPeersAccept) {
    struct Case {
        const char* what;
        std::vector<size_t> sizes;
        uint16_t type;
        bool folderEach;
        uint32_t headerReserve, folderReserve, dataReserve;
        uint32_t maxSize;  // 0: one cabinet
        bool noise;        // contents deflate cannot shrink (stored blocks in MSZIP)
    } cases[] = {
        {"one stored file", {3}, 0, false, 0, 0, 0, 0, false},
        {"one MSZIP file", {100000}, 1, false, 0, 0, 0, 0, false},
        {"many files in one MSZIP folder",
         {5000, 70000, 1, 32768, 40000},
         1,
         false,
         0,
         0,
         0,
         0,
         false},
        {"one MSZIP folder each", {5000, 70000, 1, 32768, 40000}, 1, true, 0, 0, 0, 0, false},
        {"many stored files", {5000, 70000, 1}, 0, false, 0, 0, 0, 0, false},
        {"empty files", {0, 10, 0, 0}, 1, false, 0, 0, 0, 0, false},
        {"empty files, own folders", {0, 10, 0}, 1, true, 0, 0, 0, 0, false},
        {"reserves", {5000, 70000}, 1, true, 20, 4, 8, 0, false},
        {"stored set", {50000, 30000, 0, 20000}, 0, false, 0, 0, 0, 30000, false},
        {"MSZIP set", {150000, 3000, 90000}, 1, false, 0, 0, 0, 25000, false},
        {"MSZIP set, folder each", {150000, 3000, 90000}, 1, true, 0, 0, 0, 25000, false},
        {"MSZIP set with reserves", {150000, 3000, 90000}, 1, false, 10, 2, 3, 25000, false},
        {"incompressible MSZIP files", {100000, 32768, 5000}, 1, true, 0, 0, 0, 0, true},
        {"incompressible MSZIP set", {100000, 60000}, 1, false, 0, 0, 0, 40000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetAlloc();
        std::string dir = FreshFolder("peers");
        std::string src = platform::JoinPath(dir, "src");
        ASSERT_TRUE(platform::FolderCreate(src));
        std::map<std::string, Bytes> input;
        CabinetParams params = DiskParams(dir, "set1.cab", c.maxSize);
        params.headerReserve = c.headerReserve;
        params.folderReserve = c.folderReserve;
        params.dataReserve = c.dataReserve;
        {
            DiskWriter w(dir, params);
            ASSERT_NE(nullptr, w.fci);
            for (size_t i = 0; i < c.sizes.size(); ++i) {
                std::string name = "file" + std::to_string(i) + ".bin";
                input[name] = c.noise ? NoiseBytes(c.sizes[i], uint32_t(i + 40))
                                      : PatternBytes(c.sizes[i], uint32_t(i + 40));
                ASSERT_TRUE(WriteWholeFile(platform::JoinPath(src, name), input[name]));
                ASSERT_TRUE(w.Add(platform::JoinPath(src, name), name, c.type)) << w.error.code;
                if (c.folderEach) {
                    ASSERT_TRUE(FCIFlushFolder(w.fci, DiskNext, DiskStatus));
                }
            }
            // A folder is refused like any source that cannot be opened.
            EXPECT_FALSE(w.Add(src, "src", c.type));
            EXPECT_EQ(1, w.error.code);
            ASSERT_TRUE(FCIFlushCabinet(w.fci, false, DiskNext, DiskStatus));
            EXPECT_TRUE(FCIDestroy(w.fci));
            w.fci = nullptr;
        }
        EXPECT_EQ(0u, g_alloc.current);
        // Only the cabinets and the sources are left: no temporary files.
        size_t cabinets = 0;
        for (const auto& e : platform::ListFolder(platform::JoinPath(dir, "*"))) {
            EXPECT_EQ(std::string::npos, e.name.find(".tmp")) << e.name;
            cabinets += e.name.find(".cab") != std::string::npos ? 1 : 0;
        }
        const std::string first = platform::JoinPath(dir, "set1.cab");
        if (c.maxSize) {
            EXPECT_GE(cabinets, 2u);
        } else {
            EXPECT_EQ(1u, cabinets);
        }
        if (c.type == 0) {
            std::vector<Bytes> set;
            for (size_t i = 1; i <= cabinets; ++i) {
                set.push_back(
                    ReadWholeFile(platform::JoinPath(dir, "set" + std::to_string(i) + ".cab")));
            }
            std::string error;
            EXPECT_EQ(input, ExtractStoredSet(set, &error));
            EXPECT_EQ("", error);
        }
#ifndef _WIN32
        std::string out;
        EXPECT_EQ(0, RunPeer("cabextract -t '" + first + "'", &out)) << out;
        std::string cx = platform::JoinPath(dir, "cx");
        EXPECT_EQ(0, RunPeer("cabextract -q -d '" + cx + "' '" + first + "'", &out)) << out;
        for (const auto& f : input) {
            EXPECT_EQ(f.second, ReadWholeFile(platform::JoinPath(cx, f.first))) << f.first;
        }
        if (!c.maxSize) {  // gcab and 7zz read single cabinets
            EXPECT_EQ(0, RunPeer("gcab -l '" + first + "'", &out)) << out;
            for (const auto& f : input) {
                EXPECT_NE(std::string::npos, out.find(f.first)) << out;
            }
            std::string gx = platform::JoinPath(dir, "gx");
            platform::FolderCreate(gx);
            EXPECT_EQ(0, RunPeer("gcab -x -C '" + gx + "' '" + first + "'", &out)) << out;
            for (const auto& f : input) {
                EXPECT_EQ(f.second, ReadWholeFile(platform::JoinPath(gx, f.first))) << f.first;
            }
            EXPECT_EQ(0, RunPeer("7zz t '" + first + "'", &out)) << out;
            EXPECT_NE(std::string::npos, out.find("Everything is Ok")) << out;
        }
#endif
        RemoveTree(dir);
    }
}

#ifndef _WIN32
long PeakRssKiB() {
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}
#endif

TEST(CabinetWriterFiles, StreamsAFileOver100MBInBoundedMemory) {
    // The writer's own allocations are the same for 1 MB and for 100 MB: the
    // input goes through in blocks and the staging through temporary files.
    size_t peaks[2] = {0, 0};
    const uint64_t sizes[2] = {1 << 20, 100ull * 1024 * 1024 + 12345};
    std::string dir = FreshFolder("big");
#ifndef _WIN32
    const long rssBefore = PeakRssKiB();
#endif
    for (int i = 0; i < 2; ++i) {
        ResetAlloc();
        CabinetParams params = DiskParams(dir, "big" + std::to_string(i) + ".cab", 0x7FFFFFFF);
        DiskWriter w(dir, params);
        ASSERT_NE(nullptr, w.fci);
        ASSERT_TRUE(w.Add("gen:" + std::to_string(sizes[i]), "big.txt", 1)) << w.error.code;
        ASSERT_TRUE(FCIFlushCabinet(w.fci, false, DiskNext, DiskStatus)) << w.error.code;
        EXPECT_TRUE(FCIDestroy(w.fci));
        w.fci = nullptr;
        peaks[i] = g_alloc.peak;
        EXPECT_EQ(0u, g_alloc.current);
    }
    EXPECT_EQ(peaks[0], peaks[1]);
    EXPECT_LT(peaks[1], 512u * 1024u);
    const std::string cab = platform::JoinPath(dir, "big1.cab");
    ParsedCabinet p;
    {
        // Only the header and entries are read back here; the blocks are left to the peer.
        std::ifstream f(cab, std::ios::binary);
        Bytes head(200);
        f.read(reinterpret_cast<char*>(head.data()), 200);
        CabHeader h;
        ASSERT_EQ(kCabFormatOk, CabDecodeHeader(head.data(), head.size(), 0, &h));
        EXPECT_EQ(uint64_t(platform::FileSize(cab)), h.cabinetSize);
        CabFileEntry e;
        ASSERT_EQ(kCabFormatOk, CabDecodeFileEntry(head.data(), head.size(), h.filesOffset, &e));
        EXPECT_EQ(sizes[1], e.size);
        CabFolderEntry fo;
        ASSERT_EQ(kCabFormatOk, CabDecodeFolderEntry(head.data(), head.size(), 36, &fo));
        EXPECT_EQ((sizes[1] + 32767) / 32768, fo.blockCount);
    }
#ifndef _WIN32
    // Nothing the size of the file was held anywhere in the process either.
    EXPECT_LT(PeakRssKiB() - rssBefore, 32 * 1024);
    std::string out;
    EXPECT_EQ(0, RunPeer("cabextract -t '" + cab + "'", &out)) << out;
    EXPECT_NE(std::string::npos, out.find("big.txt")) << out;
#endif
    RemoveTree(dir);
}

}  // namespace
