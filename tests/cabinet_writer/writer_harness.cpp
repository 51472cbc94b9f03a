#include "writer_harness.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

AllocStats g_alloc;

Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes PatternBytes(size_t size, uint32_t seed) {
    static const char* words[] = {"cabinet ", "folder ", "block ", "<p>", "</p>\r\n",
                                  "quill ",   "box ",    "0123 ",  "zz "};
    Bytes out;
    out.reserve(size);
    uint32_t x = seed * 2654435761u + 1;
    while (out.size() < size) {
        x = x * 1103515245u + 12345u;
        if ((x >> 28) < 3) {
            out.push_back(uint8_t(x >> 13));  // noise
        } else {
            const char* w = words[(x >> 16) % 9];
            for (const char* p = w; *p && out.size() < size; ++p) {
                out.push_back(uint8_t(*p));
            }
        }
    }
    return out;
}

void ResetAlloc() {
    g_alloc = AllocStats();
}

// Each block carries its size in front so that the current total can be kept.
void* TestAlloc(uint32_t size) {
    ++g_alloc.calls;
    if (g_alloc.failAtCall != 0 && long(g_alloc.calls) == g_alloc.failAtCall) {
        return nullptr;
    }
    auto* p = static_cast<uint64_t*>(std::malloc(size + sizeof(uint64_t)));
    if (!p) {
        return nullptr;
    }
    p[0] = size;
    g_alloc.current += size;
    if (g_alloc.current > g_alloc.peak) {
        g_alloc.peak = g_alloc.current;
    }
    return p + 1;
}

void TestFree(void* block) {
    if (!block) {
        return;
    }
    auto* p = static_cast<uint64_t*>(block) - 1;
    g_alloc.current -= size_t(p[0]);
    std::free(p);
}

bool MemFs::Fail(const std::string& op) {
    int n = ++calls[op];
    auto it = failCalls.find(op);
    return it != failCalls.end() && n >= it->second.from && n <= it->second.to;
}

size_t MemFs::TempFilesPresent() const {
    size_t n = 0;
    for (const auto& f : files) {
        n += f.first.rfind("tmp", 0) == 0 ? 1 : 0;
    }
    return n;
}

static MemFs& Fs(void* ctx) {
    return *static_cast<MemFs*>(ctx);
}

int32_t MemOpen(const char* path, int32_t flags, int32_t mode, int32_t* err, void* ctx) {
    MemFs& fs = Fs(ctx);
    fs.opens.push_back({path, flags, mode});
    const bool temp = (flags & kFciOpenExclusive) != 0;
    if (fs.Fail(temp ? "open-temp" : "open-cabinet")) {
        *err = 13;
        return -1;
    }
    const bool exists = fs.files.count(path) != 0;
    if (temp && exists) {
        *err = 17;
        return -1;
    }
    if (!exists && !(flags & kFciOpenCreate)) {
        *err = 2;
        return -1;
    }
    if (!exists || (flags & kFciOpenTruncate)) {
        fs.files[path].clear();
    }
    int32_t h = fs.nextHandle++;
    fs.handles[h] = {path, 0, temp, false};
    return h;
}

int32_t MemRead(int32_t h, void* buf, uint32_t count, int32_t* err, void* ctx) {
    MemFs& fs = Fs(ctx);
    auto it = fs.handles.find(h);
    if (it == fs.handles.end()) {
        *err = 9;
        return -1;
    }
    MemFs::Handle& hd = it->second;
    if (fs.Fail(hd.source ? "read-source" : "read-temp")) {
        *err = 5;
        return -1;
    }
    const Bytes& data = fs.files[hd.name];
    size_t n = hd.pos < data.size() ? data.size() - hd.pos : 0;
    if (n > count) {
        n = count;
    }
    // Sources hand out odd-sized pieces, so the writer's buffer filling is exercised.
    if (hd.source && n > 1000) {
        n = n - 7;
    }
    if (n > 0) {
        std::memcpy(buf, data.data() + hd.pos, n);
    }
    hd.pos += n;
    return int32_t(n);
}

int32_t MemWrite(int32_t h, const void* buf, uint32_t count, int32_t* err, void* ctx) {
    MemFs& fs = Fs(ctx);
    auto it = fs.handles.find(h);
    if (it == fs.handles.end()) {
        *err = 9;
        return -1;
    }
    MemFs::Handle& hd = it->second;
    if (fs.Fail(hd.temp ? "write-temp" : "write-cabinet")) {
        *err = 28;
        return -1;
    }
    Bytes& data = fs.files[hd.name];
    if (data.size() < hd.pos + count) {
        data.resize(hd.pos + count);
    }
    if (count > 0) {
        std::memcpy(data.data() + hd.pos, buf, count);
    }
    hd.pos += count;
    return int32_t(count);
}

int32_t MemClose(int32_t h, int32_t* err, void* ctx) {
    MemFs& fs = Fs(ctx);
    auto it = fs.handles.find(h);
    if (it == fs.handles.end()) {
        *err = 9;
        return -1;
    }
    bool temp = it->second.temp;
    fs.handles.erase(it);
    if (temp && fs.Fail("close-temp")) {
        *err = 5;
        return -1;
    }
    return 0;
}

int32_t MemSeek(int32_t h, int32_t offset, int32_t origin, int32_t* err, void* ctx) {
    MemFs& fs = Fs(ctx);
    auto it = fs.handles.find(h);
    if (it == fs.handles.end()) {
        *err = 9;
        return -1;
    }
    MemFs::Handle& hd = it->second;
    if (fs.Fail(hd.temp ? "seek-temp" : "seek-cabinet")) {
        *err = 29;
        return -1;
    }
    int64_t base = origin == 0   ? 0
                   : origin == 1 ? int64_t(hd.pos)
                                 : int64_t(fs.files[hd.name].size());
    int64_t pos = base + offset;
    if (pos < 0) {
        *err = 22;
        return -1;
    }
    hd.pos = size_t(pos);
    return int32_t(pos);
}

int32_t MemDelete(const char* path, int32_t* err, void* ctx) {
    MemFs& fs = Fs(ctx);
    if (fs.Fail("delete") || fs.files.erase(path) == 0) {
        *err = 2;
        return -1;
    }
    return 0;
}

bool MemTempName(char* buf, int32_t size, void* ctx) {
    MemFs& fs = Fs(ctx);
    if (fs.Fail("tempname")) {
        return false;
    }
    std::snprintf(buf, size_t(size), "tmp%04d", ++fs.tempCounter);
    return true;
}

int32_t MemFilePlaced(CabinetParams* p, const char* name, uint32_t size, bool continued,
                      void* ctx) {
    MemFs& fs = Fs(ctx);
    fs.placed.push_back({p->cabinetName, name, size, continued});
    return fs.Fail("placed") ? -1 : 0;
}

int32_t MemNextCabinet(CabinetParams* p, uint32_t estimate, void* ctx) {
    MemFs& fs = Fs(ctx);
    fs.nextEstimates.push_back(estimate);
    fs.nextMaxSeen.push_back(p->maxCabinetSize);
    if (fs.Fail("next")) {
        return -1;
    }
    std::snprintf(p->cabinetName, sizeof p->cabinetName, fs.nextNamePattern.c_str(),
                  p->cabinetNumber);
    std::snprintf(p->diskName, sizeof p->diskName, "disk%d", p->cabinetNumber);
    if (fs.nextMaxCabinetSize != 0) {
        p->maxCabinetSize = fs.nextMaxCabinetSize;
    }
    if (fs.nextDiskNumber != -1) {
        p->diskNumber = fs.nextDiskNumber;
    }
    return 1;
}

int32_t MemStatus(int32_t kind, uint32_t v1, uint32_t v2, void* ctx) {
    MemFs& fs = Fs(ctx);
    fs.statusCalls.push_back({kind, v1, v2});
    if (fs.onStatus) {
        fs.onStatus(kind);
    }
    if (fs.Fail("status" + std::to_string(kind))) {
        return -1;
    }
    return kind == 2 ? fs.status2Result : 0;
}

int32_t MemOpenInfo(const char* path, uint16_t* date, uint16_t* time, uint16_t* attrs, int32_t* err,
                    void* ctx) {
    MemFs& fs = Fs(ctx);
    if (fs.Fail("openinfo") || fs.folders.count(path) || !fs.files.count(path)) {
        *err = 2;
        return -1;
    }
    *date = fs.date;
    *time = fs.time;
    *attrs = fs.attributes;
    int32_t h = fs.nextHandle++;
    fs.handles[h] = {path, 0, false, true};
    return h;
}

CabinetParams MakeParams(const std::string& name, uint32_t maxSize, uint32_t threshold) {
    CabinetParams p = {};
    p.maxCabinetSize = maxSize;
    p.folderThreshold = threshold;
    p.cabinetNumber = 1;
    p.setId = 0x1234;
    std::snprintf(p.cabinetName, sizeof p.cabinetName, "%s", name.c_str());
    std::snprintf(p.diskName, sizeof p.diskName, "disk1");
    return p;
}

MemWriter::MemWriter(const CabinetParams& params) {
    fci = FCICreate(&error, MemFilePlaced, TestAlloc, TestFree, MemOpen, MemRead, MemWrite,
                    MemClose, MemSeek, MemDelete, MemTempName, &params, &fs);
}

MemWriter::~MemWriter() {
    Destroy();
}

bool MemWriter::Add(const std::string& path, const std::string& name, uint16_t type, bool run) {
    return FCIAddFile(fci, path.c_str(), name.c_str(), run, MemNextCabinet, MemStatus, MemOpenInfo,
                      type);
}

bool MemWriter::Destroy() {
    if (!fci) {
        return true;
    }
    bool ok = FCIDestroy(fci);
    fci = nullptr;
    return ok;
}

namespace {

std::string ReadName(const Bytes& cab, size_t* at, std::string* error) {
    size_t length = 0;
    if (CabDecodeName(cab.data(), cab.size(), *at, &length) != kCabFormatOk) {
        *error = "bad name at " + std::to_string(*at);
        return "";
    }
    std::string s(reinterpret_cast<const char*>(cab.data() + *at), length);
    *at += length + 1;
    return s;
}

}  // namespace

ParsedCabinet ParseCabinet(const Bytes& cab) {
    ParsedCabinet p;
    std::string& e = p.error;
    if (CabDecodeHeader(cab.data(), cab.size(), 0, &p.header) != kCabFormatOk) {
        e = "short header";
        return p;
    }
    const CabHeader& h = p.header;
    if (!CabHasSignature(h)) {
        e = "no signature";
        return p;
    }
    if (h.cabinetSize != cab.size()) {
        e = "total size " + std::to_string(h.cabinetSize) + " vs " + std::to_string(cab.size());
        return p;
    }
    if (h.versionMinor != 3 || h.versionMajor != 1 || h.reserved1 || h.reserved2 || h.reserved3) {
        e = "version or reserved fields";
        return p;
    }
    size_t at = kCabHeaderSize;
    if (h.flags & kCabFlagReserve) {
        if (CabDecodeReserveSizes(cab.data(), cab.size(), at, &p.reserve) != kCabFormatOk) {
            e = "short reserve";
            return p;
        }
        at += kCabReserveFieldsSize;
        for (uint32_t i = 0; i < p.reserve.headerReserve; ++i, ++at) {
            if (at >= cab.size() || cab[at] != 0) {
                e = "header reserve not zero";
                return p;
            }
        }
    }
    if (h.flags & kCabFlagPrevCabinet) {
        p.prevCabinet = ReadName(cab, &at, &e);
        p.prevDisk = ReadName(cab, &at, &e);
    }
    if (h.flags & kCabFlagNextCabinet) {
        p.nextCabinet = ReadName(cab, &at, &e);
        p.nextDisk = ReadName(cab, &at, &e);
    }
    if (!e.empty()) {
        return p;
    }
    for (uint16_t i = 0; i < h.folderCount; ++i) {
        ParsedCabinet::Folder f;
        if (CabDecodeFolderEntry(cab.data(), cab.size(), at, &f.entry) != kCabFormatOk) {
            e = "short folder entry";
            return p;
        }
        at += kCabFolderEntrySize + p.reserve.folderReserve;
        p.folders.push_back(f);
    }
    if (at != h.filesOffset) {
        e = "first file offset " + std::to_string(h.filesOffset) + " vs " + std::to_string(at);
        return p;
    }
    for (uint16_t i = 0; i < h.fileCount; ++i) {
        ParsedCabinet::File f;
        const char* name = nullptr;
        size_t size = 0;
        if (CabDecodeFileRecord(cab.data(), cab.size(), at, &f.entry, &name, &size) !=
            kCabFormatOk) {
            e = "bad file entry";
            return p;
        }
        f.name = name;
        at += size;
        p.files.push_back(f);
    }
    // Blocks, folder after folder, must tile the data area exactly.
    const uint32_t dataHeader = kCabDataHeaderSize + p.reserve.dataReserve;
    for (auto& f : p.folders) {
        if (f.entry.blockCount > 0 && f.entry.firstBlockOffset != at) {
            e = "folder offset " + std::to_string(f.entry.firstBlockOffset) + " vs " +
                std::to_string(at);
            return p;
        }
        for (uint16_t b = 0; b < f.entry.blockCount; ++b) {
            ParsedCabinet::Block block;
            if (CabDecodeDataHeader(cab.data(), cab.size(), at, &block.header) != kCabFormatOk ||
                at + dataHeader + block.header.compressedSize > cab.size()) {
                e = "short block";
                return p;
            }
            for (uint32_t r = kCabDataHeaderSize; r < dataHeader; ++r) {
                if (cab[at + r] != 0) {
                    e = "data reserve not zero";
                    return p;
                }
            }
            const uint8_t* data = cab.data() + at + dataHeader;
            uint32_t sum = CabDataBlockChecksum(cab.data() + at, dataHeader, data,
                                                block.header.compressedSize);
            if (sum != block.header.checksum) {
                e = "checksum of block at " + std::to_string(at);
                return p;
            }
            block.data.assign(data, data + block.header.compressedSize);
            at += dataHeader + block.header.compressedSize;
            f.blocks.push_back(block);
        }
    }
    if (at != cab.size()) {
        e = "data area ends at " + std::to_string(at);
    }
    return p;
}

std::map<std::string, Bytes> ExtractStoredSet(const std::vector<Bytes>& cabinets,
                                              std::string* error) {
    std::vector<Bytes> streams;  // one per folder, joined across cabinets
    struct Pending {
        std::string name;
        size_t stream;
        CabFileEntry entry;
    };
    std::vector<Pending> files;
    std::set<std::string> seen;
    size_t lastStream = 0;
    for (size_t c = 0; c < cabinets.size(); ++c) {
        ParsedCabinet p = ParseCabinet(cabinets[c]);
        if (!p.error.empty()) {
            *error = "cabinet " + std::to_string(c) + ": " + p.error;
            return {};
        }
        bool continues = false;
        for (const auto& f : p.files) {
            continues = continues || CabBeganInPrevious(f.entry.folderIndex);
        }
        std::vector<size_t> map;
        for (size_t i = 0; i < p.folders.size(); ++i) {
            if (i == 0 && continues) {
                map.push_back(lastStream);
            } else {
                streams.emplace_back();
                map.push_back(streams.size() - 1);
            }
            if (p.folders[i].entry.compressionType != kCabCompressNone) {
                *error = "not stored";
                return {};
            }
            for (const auto& b : p.folders[i].blocks) {
                Bytes& s = streams[map.back()];
                s.insert(s.end(), b.data.begin(), b.data.end());
            }
            lastStream = map.back();
        }
        for (const auto& f : p.files) {
            uint16_t idx = f.entry.folderIndex;
            size_t folder = CabBeganInPrevious(idx)   ? 0
                            : CabContinuesToNext(idx) ? p.folders.size() - 1
                                                      : idx;
            if (folder >= map.size()) {
                *error = "folder index of " + f.name;
                return {};
            }
            if (seen.insert(f.name).second) {
                files.push_back({f.name, map[folder], f.entry});
            }
        }
    }
    std::map<std::string, Bytes> out;
    for (const auto& f : files) {
        const Bytes& s = streams[f.stream];
        if (uint64_t(f.entry.folderOffset) + f.entry.size > s.size()) {
            *error = "file beyond its folder: " + f.name;
            return {};
        }
        out[f.name] = Bytes(s.begin() + f.entry.folderOffset,
                            s.begin() + f.entry.folderOffset + f.entry.size);
    }
    return out;
}
