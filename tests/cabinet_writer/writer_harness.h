// Test-side callback sets for the cabinet writer: an in-memory file system with
// counted allocations and injectable failures, and a reader of the cabinets it
// produces built on the format records.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cabinet/format/cabinet_format.h"
#include "cabinet/writer/cabinet_writer.h"

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& s);
// Deterministic bytes that compress somewhat (words, numbers and noise).
Bytes PatternBytes(size_t size, uint32_t seed);

// Allocation accounting through AllocFn/FreeFn (process-wide: those callbacks
// carry no context).
struct AllocStats {
    size_t current = 0;
    size_t peak = 0;
    size_t calls = 0;
    long failAtCall = 0;  // 1-based allocation call that answers null; 0 never
};
extern AllocStats g_alloc;
void ResetAlloc();
void* TestAlloc(uint32_t size);
void TestFree(void* block);

// An in-memory file system behind the writer's callbacks; the MemFs itself is
// the context value.
struct MemFs {
    struct Handle {
        std::string name;
        size_t pos = 0;
        bool temp = false;    // opened with the exclusive bit
        bool source = false;  // opened through OpenInfoFn
    };
    std::map<std::string, Bytes> files;
    std::set<std::string> folders;  // sources that OpenInfoFn refuses
    std::map<int32_t, Handle> handles;
    int32_t nextHandle = 5;
    int tempCounter = 0;

    struct Open {
        std::string path;
        int32_t flags, mode;
    };
    std::vector<Open> opens;
    struct StatusCall {
        int32_t kind;
        uint32_t v1, v2;
    };
    std::vector<StatusCall> statusCalls;
    struct Placed {
        std::string cabinet, name;
        uint32_t size;
        bool continued;
    };
    std::vector<Placed> placed;
    std::vector<uint32_t> nextEstimates;

    // Failure injection: the n-th call (1-based) of an operation fails. Operations:
    // "tempname", "open-temp", "open-cabinet", "write-temp", "write-cabinet",
    // "read-temp", "read-source", "seek-temp", "seek-cabinet", "close-temp",
    // "delete", "status0", "status1", "status2", "placed", "next", "openinfo".
    struct Range {
        int from, to;
    };
    std::map<std::string, Range> failCalls;
    std::map<std::string, int> calls;
    bool Fail(const std::string& op);
    void FailAt(const std::string& op, int n) { failCalls[op] = {n, n}; }
    void FailFrom(const std::string& op, int n) { failCalls[op] = {n, 1 << 30}; }
    // Called at every StatusFn call, before it answers.
    std::function<void(int32_t kind)> onStatus;
    std::vector<uint32_t> nextMaxSeen;  // maxCabinetSize pre-filled for NextCabinetFn

    uint16_t date = 0x5A21, time = 0x6C3F, attributes = 0x20;
    int32_t status2Result = 0;
    std::string nextNamePattern = "part%d.cab";  // filled with cabinetNumber
    uint32_t nextMaxCabinetSize = 0;             // 0: keep the pre-filled value
    int32_t nextDiskNumber = -1;                 // -1: keep

    size_t TempFilesPresent() const;
    bool Present(const std::string& name) const { return files.count(name) != 0; }
};

// The callbacks, bound to a MemFs through the context value.
int32_t MemOpen(const char* path, int32_t flags, int32_t mode, int32_t* err, void* ctx);
int32_t MemRead(int32_t h, void* buf, uint32_t count, int32_t* err, void* ctx);
int32_t MemWrite(int32_t h, const void* buf, uint32_t count, int32_t* err, void* ctx);
int32_t MemClose(int32_t h, int32_t* err, void* ctx);
int32_t MemSeek(int32_t h, int32_t offset, int32_t origin, int32_t* err, void* ctx);
int32_t MemDelete(const char* path, int32_t* err, void* ctx);
bool MemTempName(char* buf, int32_t size, void* ctx);
int32_t MemFilePlaced(CabinetParams* p, const char* name, uint32_t size, bool continued, void* ctx);
int32_t MemNextCabinet(CabinetParams* p, uint32_t estimate, void* ctx);
int32_t MemStatus(int32_t kind, uint32_t v1, uint32_t v2, void* ctx);
int32_t MemOpenInfo(const char* path, uint16_t* date, uint16_t* time, uint16_t* attrs, int32_t* err,
                    void* ctx);

CabinetParams MakeParams(const std::string& name, uint32_t maxSize = 0,
                         uint32_t threshold = 0x7FFFFFFF);

// A writer over a MemFs with the usual callbacks.
struct MemWriter {
    MemFs fs;
    CabError error = {0, 0, false};
    FciContext* fci = nullptr;
    explicit MemWriter(const CabinetParams& params);
    ~MemWriter();
    bool Add(const std::string& path, const std::string& name, uint16_t type = 0, bool run = false);
    bool Flush() { return FCIFlushFolder(fci, MemNextCabinet, MemStatus); }
    bool FlushCabinet(bool next = false) {
        return FCIFlushCabinet(fci, next, MemNextCabinet, MemStatus);
    }
    bool Destroy();
};

// A cabinet taken apart with the format records; every offset and checksum
// checked on the way. error is empty when the cabinet is sound.
struct ParsedCabinet {
    std::string error;
    CabHeader header = {};
    CabReserveSizes reserve = {};
    std::string prevCabinet, prevDisk, nextCabinet, nextDisk;
    struct Block {
        CabDataHeader header;
        Bytes data;
    };
    struct Folder {
        CabFolderEntry entry;
        std::vector<Block> blocks;
    };
    std::vector<Folder> folders;
    struct File {
        CabFileEntry entry;
        std::string name;
    };
    std::vector<File> files;
};
ParsedCabinet ParseCabinet(const Bytes& cab);

// The files of a set of stored (type 0) cabinets, joined across cabinets by
// the continuation marks: name -> contents. error is empty on success.
std::map<std::string, Bytes> ExtractStoredSet(const std::vector<Bytes>& cabinets,
                                              std::string* error);
