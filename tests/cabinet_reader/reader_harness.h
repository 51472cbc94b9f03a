// Test side of the cabinet reader: an in-memory file store behind the reader's callbacks,
// a client that records every notification, and a builder for hand-made cabinets.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cabinet/reader/cabinet_reader.h"

namespace memfs {

struct OpenCall {
    std::string path;
    int flags;
    int mode;
};

// Files by path. Output files land here too.
std::map<std::string, std::string>& Files();
// Every open, in order.
std::vector<OpenCall>& Opens();
// Handles open right now.
int OpenHandles();
// Blocks allocated and not yet released.
int LiveBlocks();
// Most bytes held through Alloc at any one time since Reset.
uint64_t PeakBytes();
// Bytes read through all handles since Reset.
uint64_t BytesRead();
// Forgets everything; allocations then fail from the failAllocAt-th on (0: never) and
// writes to output files stop after writeLimit bytes per handle.
void Reset(int failAllocAt = 0, uint64_t writeLimit = UINT64_MAX);

void* Alloc(uint32_t size);
void Free(void* block);
intptr_t Open(const char* path, int flags, int mode);
int32_t Read(intptr_t handle, void* buffer, uint32_t count);
int32_t Write(intptr_t handle, const void* buffer, uint32_t count);
int Close(intptr_t handle);
int32_t Seek(intptr_t handle, int32_t offset, int origin);

// A reader over the store.
FdiContext* CreateReader(CabError* error);

}  // namespace memfs

// One recorded notification, with its strings copied.
struct Event {
    int type;
    std::string str1, str2, str3;
    int32_t size;
    intptr_t handle;
    uint16_t date, time, attributes, setId, cabinetIndex;
    int32_t retryError;
};

// The client of an FDICopy. By default it extracts every file to "out/<name>" in the store
// and answers 0 to everything else; `answer` may take over any notification (return
// kDefault to fall back to the default).
struct Client {
    static constexpr intptr_t kDefault = INTPTR_MIN;
    std::vector<Event> events;
    std::function<intptr_t(int, FdiNotification*)> answer;
    std::vector<FdiDecrypt> decrypts;
    // Copies of what each call saw: the reserve (kinds 0 and 1), or the data followed by
    // "|" and the data reserve when there is one (kind 2). The pointers in `decrypts` are
    // the reader's and only valid during the call.
    std::vector<std::string> decryptBytes;
    std::function<int32_t(FdiDecrypt*)> decryptAnswer;

    std::vector<int> Types() const;
    std::string Output(const std::string& name) const;
};

// FDICopy on the store with the client; decrypt selects whether a DecryptFn is passed.
bool Copy(FdiContext* reader, const std::string& name, const std::string& directory, Client& client,
          bool decrypt = false);

// ---------------------------------------------------------------------------------------
// Hand-made cabinets.

struct BlockSpec {
    std::string bytes;              // the compressed bytes
    int32_t uncompressedSize = -1;  // -1: the number of bytes (a stored block)
    bool checksum = true;           // false stores 0 (unverified)
    uint32_t checksumXor = 0;       // spoils the stored checksum
};

struct FolderSpec {
    uint16_t type = 0;
    std::vector<BlockSpec> blocks;
};

struct FileSpec {
    std::string name;
    uint32_t size;
    uint32_t offset;
    uint16_t folder;
    uint16_t attributes = 0x20;
    uint16_t date = 0x5B89;  // 2025-12-09
    uint16_t time = 0x6000;  // 12:00:00
};

struct CabSpec {
    uint16_t setId = 4711;
    uint16_t index = 0;
    bool hasPrevious = false, hasNext = false;
    std::string previousCabinet, previousDisk, nextCabinet, nextDisk;
    bool reserve = false;
    std::string headerReserve;  // its size is the header reserve size
    uint8_t folderReserve = 0;  // areas filled with 'F' + folder index
    uint8_t dataReserve = 0;    // areas filled with 'D'
    std::vector<FolderSpec> folders;
    std::vector<FileSpec> files;
};

std::string BuildCabinet(const CabSpec& spec);

// A stored folder holding stream, cut into 32768-byte blocks.
FolderSpec StoredFolder(const std::string& stream);

// One stored folder holding the files in order.
CabSpec StoredCabinet(const std::vector<std::pair<std::string, std::string>>& files);

// Text of n bytes that differs from position to position (and between seeds).
std::string Pattern(size_t n, unsigned seed);
