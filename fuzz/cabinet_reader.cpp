// Arbitrary bytes as a cabinet (and, after a second "MSCF", as the next cabinet of its set):
// FDIIsCabinet, then FDICopy extracting every file to memory. The reader must not crash,
// hang, leak, leave handles open or hold more memory than its fixed buffers.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "cabinet/reader/cabinet_reader.h"

namespace {

constexpr uint64_t kMemoryBound = 256 * 1024;     // fixed buffers, whatever the input
constexpr uint64_t kOutputCap = 8 * 1024 * 1024;  // per run; beyond it writes come up short
// Per run. Rewinds and hops between folders re-read blocks, each of which may decode to
// 32768 bytes from a few; reads beyond these caps fail, which keeps one input quick.
constexpr uint64_t kReadCap = 16 * 1024 * 1024;
constexpr uint32_t kReadCallCap = 20000;
constexpr int kMaxCabinetRequests = 8;

struct Handle {
    const std::string* data;  // null for an output
    size_t position;
};

struct State {
    std::string first, second;
    std::map<intptr_t, Handle> handles;
    intptr_t next = 1;
    uint64_t liveBytes = 0;
    uint64_t written = 0;
    uint64_t read = 0;
    uint32_t readCalls = 0;
    int cabinetRequests = 0;
    uint8_t options = 0;
} g;

void* Alloc(uint32_t size) {
    void* p = malloc(size + sizeof(uint64_t));
    if (!p) {
        return nullptr;
    }
    memcpy(p, &size, sizeof size);
    g.liveBytes += size;
    if (g.liveBytes > kMemoryBound) {
        abort();
    }
    return static_cast<uint8_t*>(p) + sizeof(uint64_t);
}

void Free(void* block) {
    uint8_t* p = static_cast<uint8_t*>(block) - sizeof(uint64_t);
    uint32_t size;
    memcpy(&size, p, sizeof size);
    g.liveBytes -= size;
    free(p);
}

intptr_t Open(const char* path, int flags, int) {
    Handle h = {nullptr, 0};
    if (!(flags & 0x0100)) {
        h.data = strcmp(path, "c1") == 0 ? &g.first : &g.second;
    }
    g.handles[g.next] = h;
    return g.next++;
}

int32_t Read(intptr_t handle, void* buffer, uint32_t count) {
    auto it = g.handles.find(handle);
    if (it == g.handles.end() || !it->second.data || g.read > kReadCap ||
        ++g.readCalls > kReadCallCap) {
        return -1;
    }
    const std::string& d = *it->second.data;
    size_t at = it->second.position;
    size_t n = at >= d.size() ? 0 : std::min<size_t>(count, d.size() - at);
    memcpy(buffer, d.data() + at, n);
    it->second.position += n;
    g.read += n;
    return int32_t(n);
}

int32_t Write(intptr_t handle, const void* buffer, uint32_t count) {
    auto it = g.handles.find(handle);
    if (it == g.handles.end() || it->second.data) {
        abort();  // the reader writes only to handles the client gave it
    }
    // Touch every byte so that ASan sees a read outside the reader's buffers.
    volatile uint8_t sink = 0;
    for (uint32_t i = 0; i < count; ++i) {
        sink = sink ^ static_cast<const uint8_t*>(buffer)[i];
    }
    if (g.written + count > kOutputCap) {
        return 0;
    }
    g.written += count;
    return int32_t(count);
}

int Close(intptr_t handle) {
    if (g.handles.erase(handle) != 1) {
        abort();  // closed twice, or never opened
    }
    return 0;
}

int32_t Seek(intptr_t handle, int32_t offset, int origin) {
    auto it = g.handles.find(handle);
    if (it == g.handles.end() || !it->second.data) {
        return -1;
    }
    int64_t base = origin == 0   ? 0
                   : origin == 1 ? int64_t(it->second.position)
                                 : int64_t(it->second.data->size());
    int64_t target = base + offset;
    if (target < 0 || target > INT32_MAX) {
        return -1;
    }
    it->second.position = size_t(target);
    return int32_t(target);
}

intptr_t Notify(int type, FdiNotification* n) {
    switch (type) {
        case fdintCOPY_FILE:
            // Option bit 0 skips every other file, to exercise the pass-over counting.
            if ((g.options & 1) && (strlen(n->str1) & 1)) {
                return 0;
            }
            return Open("out", 0x8302, 0x0180);
        case fdintCLOSE_FILE_INFO:
            Close(n->handle);
            return 1;
        case fdintNEXT_CABINET:
            if (n->retryError != 0 || ++g.cabinetRequests > kMaxCabinetRequests) {
                return -1;
            }
            strcpy(n->str3, "");
            return 0;
        default:
            return 0;
    }
}

int32_t Decrypt(FdiDecrypt* d) {
    // Look at every byte offered, as a real client might.
    volatile uint8_t sink = 0;
    if (d->kind == DecryptNewCabinet && d->cabinet.headerReserve) {
        for (uint16_t i = 0; i < d->cabinet.headerReserveSize; ++i) {
            sink = sink ^ static_cast<uint8_t*>(d->cabinet.headerReserve)[i];
        }
    }
    if (d->kind == DecryptDataBlock) {
        for (uint16_t i = 0; i < d->dataBlock.dataSize; ++i) {
            sink = sink ^ static_cast<uint8_t*>(d->dataBlock.data)[i];
        }
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    g = State();
    g.options = data[0];
    std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t split = bytes.find("MSCF", 4);
    g.first = bytes.substr(0, split);
    g.second = split == std::string::npos ? std::string() : bytes.substr(split);

    CabError error = {};
    FdiContext* reader = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, 1, &error);
    if (!reader) {
        abort();
    }
    intptr_t h = Open("c1", 0x8000, 0);
    FdiCabinetInfo info;
    FDIIsCabinet(reader, h, &info);
    Close(h);
    for (int run = 0; run < 2; ++run) {
        FDICopy(reader, "c1", "", 0, Notify, (g.options & 2) ? Decrypt : nullptr, nullptr);
        if (!g.handles.empty()) {
            abort();  // a cabinet or output handle left open
        }
        if (run == 0 && !(g.options & 4)) {
            break;  // option bit 2: a second copy on the same context
        }
    }
    FDIDestroy(reader);
    if (g.liveBytes != 0) {
        abort();
    }
    return 0;
}
