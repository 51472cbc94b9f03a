#include "reader_harness.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cabinet/format/cabinet_format.h"

namespace memfs {
namespace {

struct Handle {
    std::string path;
    size_t position = 0;
    bool writable = false;
    uint64_t written = 0;
};

struct Store {
    std::map<std::string, std::string> files;
    std::vector<OpenCall> opens;
    std::map<intptr_t, Handle> handles;
    intptr_t nextHandle = 100;
    int liveBlocks = 0;
    uint64_t liveBytes = 0;
    uint64_t peakBytes = 0;
    int allocCalls = 0;
    int failAllocAt = 0;
    uint64_t writeLimit = UINT64_MAX;
    uint64_t bytesRead = 0;
};

Store& S() {
    static Store store;
    return store;
}

}  // namespace

std::map<std::string, std::string>& Files() {
    return S().files;
}
std::vector<OpenCall>& Opens() {
    return S().opens;
}
int OpenHandles() {
    return int(S().handles.size());
}
int LiveBlocks() {
    return S().liveBlocks;
}
uint64_t BytesRead() {
    return S().bytesRead;
}
uint64_t PeakBytes() {
    return S().peakBytes;
}

void Reset(int failAllocAt, uint64_t writeLimit) {
    S() = Store();
    S().failAllocAt = failAllocAt;
    S().writeLimit = writeLimit;
}

void* Alloc(uint32_t size) {
    ++S().allocCalls;
    if (S().failAllocAt && S().allocCalls >= S().failAllocAt) {
        return nullptr;
    }
    ++S().liveBlocks;
    S().liveBytes += size;
    S().peakBytes = std::max(S().peakBytes, S().liveBytes);
    // The size travels in front of the block so that Free can count it back.
    auto* p = static_cast<uint64_t*>(malloc(size + sizeof(uint64_t)));
    *p = size;
    return p + 1;
}

void Free(void* block) {
    --S().liveBlocks;
    uint64_t* p = static_cast<uint64_t*>(block) - 1;
    S().liveBytes -= *p;
    free(p);
}

intptr_t Open(const char* path, int flags, int mode) {
    S().opens.push_back({path, flags, mode});
    Handle h;
    h.path = path;
    h.writable = (flags & 0x0003) != 0 || (flags & 0x0100) != 0;
    if (flags & 0x0100) {
        S().files[path].clear();
    } else if (!S().files.count(path)) {
        return -1;
    }
    intptr_t id = S().nextHandle++;
    S().handles[id] = h;
    return id;
}

int32_t Read(intptr_t handle, void* buffer, uint32_t count) {
    auto it = S().handles.find(handle);
    if (it == S().handles.end()) {
        return -1;
    }
    const std::string& data = S().files[it->second.path];
    size_t position = it->second.position;
    size_t n = position >= data.size() ? 0 : std::min<size_t>(count, data.size() - position);
    memcpy(buffer, data.data() + position, n);
    it->second.position += n;
    S().bytesRead += n;
    return int32_t(n);
}

int32_t Write(intptr_t handle, const void* buffer, uint32_t count) {
    auto it = S().handles.find(handle);
    if (it == S().handles.end() || !it->second.writable) {
        return -1;
    }
    Handle& h = it->second;
    uint64_t room = S().writeLimit - h.written;
    uint32_t n = room < count ? uint32_t(room) : count;
    std::string& data = S().files[h.path];
    if (data.size() < h.position + n) {
        data.resize(h.position + n);
    }
    memcpy(&data[h.position], buffer, n);
    h.position += n;
    h.written += n;
    return int32_t(n);
}

int Close(intptr_t handle) {
    return S().handles.erase(handle) == 1 ? 0 : -1;
}

int32_t Seek(intptr_t handle, int32_t offset, int origin) {
    auto it = S().handles.find(handle);
    if (it == S().handles.end()) {
        return -1;
    }
    int64_t base = origin == 0   ? 0
                   : origin == 1 ? int64_t(it->second.position)
                                 : int64_t(S().files[it->second.path].size());
    int64_t target = base + offset;
    if (target < 0) {
        return -1;
    }
    it->second.position = size_t(target);
    return int32_t(target);
}

FdiContext* CreateReader(CabError* error) {
    return FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, 1, error);
}

}  // namespace memfs

std::vector<int> Client::Types() const {
    std::vector<int> types;
    for (const Event& e : events) {
        types.push_back(e.type);
    }
    return types;
}

std::string Client::Output(const std::string& name) const {
    auto it = memfs::Files().find("out/" + name);
    return it == memfs::Files().end() ? std::string("<missing>") : it->second;
}

namespace {

intptr_t Notify(int type, FdiNotification* n) {
    Client& client = *static_cast<Client*>(n->context);
    Event e;
    e.type = type;
    e.str1 = n->str1 ? n->str1 : "";
    e.str2 = n->str2 ? n->str2 : "";
    e.str3 = n->str3 ? n->str3 : "";
    e.size = n->size;
    e.handle = n->handle;
    e.date = n->date;
    e.time = n->time;
    e.attributes = n->attributes;
    e.setId = n->setId;
    e.cabinetIndex = n->cabinetIndex;
    e.retryError = n->retryError;
    client.events.push_back(e);
    if (client.answer) {
        intptr_t r = client.answer(type, n);
        if (r != Client::kDefault) {
            return r;
        }
    }
    if (type == fdintCOPY_FILE) {
        return memfs::Open(("out/" + std::string(n->str1)).c_str(), 0x8302, 0x0180);
    }
    if (type == fdintCLOSE_FILE_INFO) {
        memfs::Close(n->handle);
        return 1;
    }
    return 0;
}

int32_t Decrypt(FdiDecrypt* d) {
    Client& client = *static_cast<Client*>(d->context);
    client.decrypts.push_back(*d);
    std::string bytes;
    if (d->kind == DecryptNewCabinet && d->cabinet.headerReserve) {
        bytes.assign(static_cast<char*>(d->cabinet.headerReserve), d->cabinet.headerReserveSize);
    } else if (d->kind == DecryptNewFolder && d->folder.folderReserve) {
        bytes.assign(static_cast<char*>(d->folder.folderReserve), d->folder.folderReserveSize);
    } else if (d->kind == DecryptDataBlock) {
        bytes.assign(static_cast<char*>(d->dataBlock.data), d->dataBlock.dataSize);
        if (d->dataBlock.dataReserve) {
            bytes += "|" + std::string(static_cast<char*>(d->dataBlock.dataReserve),
                                       d->dataBlock.dataReserveSize);
        }
    }
    client.decryptBytes.push_back(bytes);
    return client.decryptAnswer ? client.decryptAnswer(d) : 0;
}

}  // namespace

bool Copy(FdiContext* reader, const std::string& name, const std::string& directory, Client& client,
          bool decrypt) {
    return FDICopy(reader, name.c_str(), directory.c_str(), 0, Notify, decrypt ? Decrypt : nullptr,
                   &client);
}

std::string BuildCabinet(const CabSpec& spec) {
    bool reserve =
        spec.reserve || !spec.headerReserve.empty() || spec.folderReserve || spec.dataReserve;
    uint32_t headerSize = CabHeaderSizeWith(reserve, uint32_t(spec.headerReserve.size()));
    std::string names;
    if (spec.hasPrevious) {
        names += spec.previousCabinet + '\0' + spec.previousDisk + '\0';
    }
    if (spec.hasNext) {
        names += spec.nextCabinet + '\0' + spec.nextDisk + '\0';
    }
    uint32_t folderEntrySize = kCabFolderEntrySize + spec.folderReserve;
    uint32_t filesOffset =
        headerSize + uint32_t(names.size()) + uint32_t(spec.folders.size()) * folderEntrySize;
    std::string fileEntries;
    for (const FileSpec& f : spec.files) {
        uint8_t entry[kCabFileEntrySize];
        CabEncodeFileEntry({f.size, f.offset, f.folder, f.date, f.time, f.attributes}, entry);
        fileEntries.append(reinterpret_cast<char*>(entry), sizeof entry);
        fileEntries += f.name + '\0';
    }
    uint32_t dataStart = filesOffset + uint32_t(fileEntries.size());

    std::string folders, data;
    for (size_t i = 0; i < spec.folders.size(); ++i) {
        const FolderSpec& folder = spec.folders[i];
        uint8_t entry[kCabFolderEntrySize];
        CabEncodeFolderEntry(
            {dataStart + uint32_t(data.size()), uint16_t(folder.blocks.size()), folder.type},
            entry);
        folders.append(reinterpret_cast<char*>(entry), sizeof entry);
        folders.append(spec.folderReserve, char('F' + i));
        for (const BlockSpec& b : folder.blocks) {
            std::vector<uint8_t> header(kCabDataHeaderSize + spec.dataReserve, 'D');
            uint16_t uncompressed =
                uint16_t(b.uncompressedSize < 0 ? b.bytes.size() : b.uncompressedSize);
            CabEncodeDataHeader({0, uint16_t(b.bytes.size()), uncompressed}, header.data());
            uint32_t sum = 0;
            if (b.checksum) {
                sum = CabDataBlockChecksum(header.data(), header.size(),
                                           reinterpret_cast<const uint8_t*>(b.bytes.data()),
                                           b.bytes.size()) ^
                      b.checksumXor;
            }
            CabPut32(header.data(), sum);
            data.append(reinterpret_cast<char*>(header.data()), header.size());
            data += b.bytes;
        }
    }

    CabHeader h = CabMakeHeader();
    h.cabinetSize = dataStart + uint32_t(data.size());
    h.filesOffset = filesOffset;
    h.folderCount = uint16_t(spec.folders.size());
    h.fileCount = uint16_t(spec.files.size());
    h.flags = uint16_t((spec.hasPrevious ? kCabFlagPrevCabinet : 0) |
                       (spec.hasNext ? kCabFlagNextCabinet : 0) | (reserve ? kCabFlagReserve : 0));
    h.setId = spec.setId;
    h.cabinetIndex = spec.index;
    uint8_t bytes[kCabHeaderSize];
    CabEncodeHeader(h, bytes);
    std::string out(reinterpret_cast<char*>(bytes), sizeof bytes);
    if (reserve) {
        uint8_t fields[kCabReserveFieldsSize];
        CabEncodeReserveSizes(
            {uint16_t(spec.headerReserve.size()), spec.folderReserve, spec.dataReserve}, fields);
        out.append(reinterpret_cast<char*>(fields), sizeof fields);
        out += spec.headerReserve;
    }
    return out + names + folders + fileEntries + data;
}

FolderSpec StoredFolder(const std::string& stream) {
    FolderSpec folder;
    for (size_t at = 0; at < stream.size(); at += 32768) {
        folder.blocks.push_back({stream.substr(at, 32768)});
    }
    return folder;
}

CabSpec StoredCabinet(const std::vector<std::pair<std::string, std::string>>& files) {
    CabSpec spec;
    std::string stream;
    for (const auto& f : files) {
        spec.files.push_back({f.first, uint32_t(f.second.size()), uint32_t(stream.size()), 0});
        stream += f.second;
    }
    spec.folders.push_back(StoredFolder(stream));
    return spec;
}

std::string Pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    uint32_t x = 2463534242u ^ (seed * 2654435761u);
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = char('a' + x % 26);
    }
    return s;
}
