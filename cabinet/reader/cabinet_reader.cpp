#include "cabinet/reader/cabinet_reader.h"

#include <cstring>
#include <new>

#include "cabinet/mszip/mszip_decompressor.h"

namespace {

constexpr uint16_t kNoCompression = 15;  // no compression type selected yet
constexpr uint16_t kNoFolder = 0xFFFF;
constexpr uint32_t kNameBufferSize = kCabMaxNameLength + 1;
constexpr uint32_t kOutputSize = 32768;
constexpr uint32_t kStoredBufferSize = 32768;
constexpr int kOpenCabinetFlags = 0x8000;  // binary, read-only
constexpr int kOpenCabinetMode = 0x0180;
constexpr int32_t kSeekLimit = 0x7FFFFFFF;  // positions travel as signed 32-bit values

}  // namespace

struct FdiContext {
    fdi::AllocFn alloc;
    fdi::FreeFn release;
    fdi::OpenFn open;
    fdi::ReadFn read;
    fdi::WriteFn write;
    fdi::CloseFn close;
    fdi::SeekFn seek;
    int processorType;
    CabError* error;  // the client's record, or ownError when it gave none
    CabError ownError;

    // Per FDICopy.
    NotifyFn notify;
    DecryptFn decrypt;
    void* client;
    intptr_t cabHandle;   // header, names and file entries
    intptr_t dataHandle;  // folder entries and data blocks
    bool haveSizes;       // reserve sizes taken from the first cabinet of this FDICopy
    uint8_t* headerReserve;
    uint16_t headerReserveSize;
    uint8_t* folderEntry;
    uint32_t folderEntrySize;
    uint8_t* dataHeader;
    uint32_t dataHeaderSize;

    // Compression type and its buffers; they survive from one FDICopy to the next.
    uint16_t compressionType;
    MszipDecompressor* mszip;
    uint8_t* compressed;
    uint32_t compressedSize;
    uint8_t* output;  // MSZIP output and history; stored blocks are used in place
    const uint8_t* blockData;

    // Position in the current folder's uncompressed stream.
    uint16_t folderIndex;
    uint32_t blocksLeft;
    uint64_t blockOffset;
    uint32_t blockSize;

    // The current cabinet and the walk over its file entries.
    CabHeader header;
    uint32_t folderEntriesStart;
    uint32_t entryPosition;
    uint32_t filesLeft;
    bool continuation;
    uint32_t passOver;  // skipped entries that are listed again in the next cabinet

    CabFileEntry file;
    char fileName[kNameBufferSize];
    char previousCabinet[kNameBufferSize];
    char previousDisk[kNameBufferSize];
    char nextCabinet[kNameBufferSize];
    char nextDisk[kNameBufferSize];
    char directory[kNameBufferSize];
    char path[2 * kNameBufferSize];
    uint8_t entryBuffer[kCabFileEntrySize + kNameBufferSize];
};

const char* FDIErrorText(int32_t code) {
    switch (code) {
        case fdiErrorNone:
            return "No error";
        case fdiErrorCabinetNotFound:
            return "Cabinet not found";
        case fdiErrorNotACabinet:
            return "Not a cabinet";
        case fdiErrorUnknownCabinetVersion:
            return "Unknown cabinet version";
        case fdiErrorCorruptCabinet:
            return "Corrupt cabinet";
        case fdiErrorAllocFail:
            return "Memory allocation failed";
        case fdiErrorBadCompressionType:
            return "Unknown compression type";
        case fdiErrorMdiFail:
            return "Failure decompressing data";
        case fdiErrorTargetFile:
            return "Failure writing to target file";
        case fdiErrorReserveMismatch:
            return "Cabinets in set have different RESERVE sizes";
        case fdiErrorWrongCabinet:
            return "Cabinet returned on fdintNEXT_CABINET is incorrect";
        case fdiErrorUserAbort:
            return "User aborted";
        default:
            return "Unknown error";
    }
}

namespace {

bool Fail(FdiContext* c, int32_t code, int32_t platformError = 0) {
    c->error->code = code;
    c->error->platformError = platformError;
    c->error->errorFlag = true;
    return false;
}

bool ReadExact(FdiContext* c, intptr_t handle, void* buffer, uint32_t count) {
    if (count == 0) {
        return true;
    }
    int32_t got = c->read(handle, buffer, count);
    return got >= 0 && uint32_t(got) == count;
}

bool SeekTo(FdiContext* c, intptr_t handle, uint64_t position) {
    if (position > uint64_t(kSeekLimit)) {
        return false;
    }
    return c->seek(handle, int32_t(position), 0) == int32_t(position);
}

void FreeBlock(FdiContext* c, void* block) {
    if (block) {
        c->release(block);
    }
}

void ReleaseDecompressor(FdiContext* c) {
    if (c->mszip) {
        mszipDecompressDestroy(c->mszip);
        c->mszip = nullptr;
    }
    FreeBlock(c, c->compressed);
    FreeBlock(c, c->output);
    c->compressed = nullptr;
    c->output = nullptr;
    c->blockData = nullptr;
    c->compressedSize = 0;
    c->compressionType = kNoCompression;
}

void ReleaseCopyBuffers(FdiContext* c) {
    FreeBlock(c, c->headerReserve);
    FreeBlock(c, c->folderEntry);
    FreeBlock(c, c->dataHeader);
    c->headerReserve = nullptr;
    c->folderEntry = nullptr;
    c->dataHeader = nullptr;
    c->headerReserveSize = 0;
    c->folderEntrySize = 0;
    c->dataHeaderSize = 0;
    c->haveSizes = false;
}

// Closes both cabinet handles; false when a close failed.
bool CloseCabinet(FdiContext* c) {
    bool ok = true;
    if (c->cabHandle != -1) {
        ok = c->close(c->cabHandle) == 0 && ok;
        c->cabHandle = -1;
    }
    if (c->dataHandle != -1) {
        ok = c->close(c->dataHandle) == 0 && ok;
        c->dataHandle = -1;
    }
    return ok;
}

// Makes type the current compression type, keeping the decompressor (and so the MSZIP
// history) when it already is.
bool SelectCompression(FdiContext* c, uint16_t type) {
    if (type == c->compressionType) {
        return true;
    }
    uint16_t kind = type & kCabCompressTypeMask;
    // Quantum is never written by this system and has no decoder here.
    if (kind != kCabCompressNone && kind != kCabCompressMszip) {
        return Fail(c, fdiErrorBadCompressionType);
    }
    ReleaseDecompressor(c);
    if (kind == kCabCompressNone) {
        c->compressedSize = kStoredBufferSize;
    } else {
        int status = mszipDecompressCreate(0, c->alloc, c->release, &c->mszip, &c->compressedSize);
        if (status != mszipDecompressOk) {
            c->mszip = nullptr;
            return Fail(c, status == mszipDecompressNoMemory ? fdiErrorAllocFail : fdiErrorMdiFail);
        }
        c->output = static_cast<uint8_t*>(c->alloc(kOutputSize));
        if (!c->output) {
            ReleaseDecompressor(c);
            return Fail(c, fdiErrorAllocFail);
        }
    }
    c->compressed = static_cast<uint8_t*>(c->alloc(c->compressedSize));
    if (!c->compressed) {
        ReleaseDecompressor(c);
        return Fail(c, fdiErrorAllocFail);
    }
    c->compressionType = type;
    return true;
}

// Reads a NUL-terminated name of at most 255 bytes at *position into a 256-byte buffer and
// leaves the handle just past the NUL.
bool ReadName(FdiContext* c, char* name, uint32_t* position) {
    int32_t got = c->read(c->cabHandle, name, kNameBufferSize);
    if (got <= 0) {
        return Fail(c, fdiErrorCorruptCabinet);
    }
    size_t length = 0;
    if (CabDecodeName(reinterpret_cast<const uint8_t*>(name), size_t(got), 0, &length) !=
        kCabFormatOk) {
        name[0] = 0;
        return Fail(c, fdiErrorCorruptCabinet);
    }
    *position += uint32_t(length) + 1;
    if (!SeekTo(c, c->cabHandle, *position)) {
        return Fail(c, fdiErrorCorruptCabinet);
    }
    return true;
}

// Opens directory + name twice and reads its header, reserve fields and names. With
// expectNext the cabinet must be the given member of the set.
bool OpenCabinet(FdiContext* c, const char* name, bool expectNext, uint16_t setId,
                 uint16_t cabinetIndex) {
    size_t directoryLength = strlen(c->directory);
    size_t nameLength = strlen(name);
    if (directoryLength + nameLength >= sizeof(c->path)) {
        return Fail(c, fdiErrorCabinetNotFound);
    }
    memcpy(c->path, c->directory, directoryLength);
    memcpy(c->path + directoryLength, name, nameLength + 1);

    c->cabHandle = c->open(c->path, kOpenCabinetFlags, kOpenCabinetMode);
    if (c->cabHandle == -1) {
        return Fail(c, fdiErrorCabinetNotFound);
    }
    c->dataHandle = c->open(c->path, kOpenCabinetFlags, kOpenCabinetMode);
    if (c->dataHandle == -1) {
        return Fail(c, fdiErrorCabinetNotFound);
    }

    uint8_t bytes[kCabHeaderSize];
    CabHeader header;
    if (!ReadExact(c, c->cabHandle, bytes, kCabHeaderSize) ||
        CabDecodeHeader(bytes, sizeof bytes, 0, &header) != kCabFormatOk ||
        !CabHasSignature(header)) {
        return Fail(c, fdiErrorNotACabinet);
    }
    if (header.versionMinor != kCabVersionMinor || header.versionMajor != kCabVersionMajor) {
        return Fail(c, fdiErrorUnknownCabinetVersion,
                    (int32_t(header.versionMajor) << 8) | header.versionMinor);
    }
    if (expectNext && (header.setId != setId || header.cabinetIndex != cabinetIndex)) {
        return Fail(c, fdiErrorWrongCabinet);
    }

    uint32_t position = kCabHeaderSize;
    CabReserveSizes sizes = {0, 0, 0};
    if (header.flags & kCabFlagReserve) {
        uint8_t fields[kCabReserveFieldsSize];
        if (!ReadExact(c, c->cabHandle, fields, sizeof fields)) {
            return Fail(c, fdiErrorNotACabinet);
        }
        CabDecodeReserveSizes(fields, sizeof fields, 0, &sizes);
        position += kCabReserveFieldsSize + sizes.headerReserve;
    }
    if (!c->haveSizes) {
        c->headerReserveSize = sizes.headerReserve;
        c->folderEntrySize = kCabFolderEntrySize + sizes.folderReserve;
        c->dataHeaderSize = kCabDataHeaderSize + sizes.dataReserve;
        if (sizes.headerReserve) {
            c->headerReserve = static_cast<uint8_t*>(c->alloc(sizes.headerReserve));
        }
        c->folderEntry = static_cast<uint8_t*>(c->alloc(c->folderEntrySize));
        c->dataHeader = static_cast<uint8_t*>(c->alloc(c->dataHeaderSize));
        c->haveSizes = true;
        if ((sizes.headerReserve && !c->headerReserve) || !c->folderEntry || !c->dataHeader) {
            return Fail(c, fdiErrorAllocFail);
        }
    } else if (c->folderEntrySize != kCabFolderEntrySize + sizes.folderReserve ||
               c->dataHeaderSize != kCabDataHeaderSize + sizes.dataReserve ||
               c->headerReserveSize != sizes.headerReserve) {
        // A header reserve of another size would be read with the wrong length and every
        // name and offset after it misplaced; refuse it like the other two.
        return Fail(c, fdiErrorReserveMismatch);
    }
    if (!ReadExact(c, c->cabHandle, c->headerReserve, c->headerReserveSize)) {
        return Fail(c, fdiErrorNotACabinet);
    }

    c->previousCabinet[0] = c->previousDisk[0] = 0;
    c->nextCabinet[0] = c->nextDisk[0] = 0;
    if (header.flags & kCabFlagPrevCabinet) {
        if (!ReadName(c, c->previousCabinet, &position) ||
            !ReadName(c, c->previousDisk, &position)) {
            return false;
        }
    }
    if (header.flags & kCabFlagNextCabinet) {
        if (!ReadName(c, c->nextCabinet, &position) || !ReadName(c, c->nextDisk, &position)) {
            return false;
        }
    }
    c->folderEntriesStart = position;
    if (!SeekTo(c, c->cabHandle, header.filesOffset)) {
        return Fail(c, fdiErrorCorruptCabinet);
    }
    c->entryPosition = header.filesOffset;
    c->filesLeft = header.fileCount;
    c->header = header;

    FdiNotification info = {};
    info.str1 = c->nextCabinet;
    info.str2 = c->nextDisk;
    info.str3 = c->directory;
    info.context = c->client;
    info.setId = header.setId;
    info.cabinetIndex = header.cabinetIndex;
    if (c->notify(fdintCABINET_INFO, &info) == -1) {
        return Fail(c, fdiErrorUserAbort);
    }
    c->directory[kNameBufferSize - 1] = 0;
    if (c->decrypt) {
        FdiDecrypt d = {};
        d.kind = DecryptNewCabinet;
        d.context = c->client;
        d.cabinet.headerReserve = c->headerReserveSize ? c->headerReserve : nullptr;
        d.cabinet.headerReserveSize = c->headerReserveSize;
        d.cabinet.setId = header.setId;
        d.cabinet.cabinetIndex = header.cabinetIndex;
        if (c->decrypt(&d) == -1) {
            return Fail(c, fdiErrorUserAbort);
        }
    }
    return true;
}

// Reads the folder entry at index, positions the data handle at its first block and selects
// its compression type. With sameType the folder must keep the current type (a folder
// continued from an earlier cabinet, whose held data and history must survive).
bool ReadFolderEntry(FdiContext* c, uint16_t index, bool sameType) {
    uint64_t position = uint64_t(c->folderEntriesStart) + uint64_t(index) * c->folderEntrySize;
    if (!SeekTo(c, c->dataHandle, position) ||
        !ReadExact(c, c->dataHandle, c->folderEntry, c->folderEntrySize)) {
        return Fail(c, fdiErrorCorruptCabinet);
    }
    CabFolderEntry entry;
    CabDecodeFolderEntry(c->folderEntry, c->folderEntrySize, 0, &entry);
    if (sameType && entry.compressionType != c->compressionType) {
        return Fail(c, fdiErrorCorruptCabinet);
    }
    if (!SeekTo(c, c->dataHandle, entry.firstBlockOffset)) {
        return Fail(c, fdiErrorCorruptCabinet);
    }
    c->blocksLeft = entry.blockCount;
    if (!SelectCompression(c, entry.compressionType)) {
        return false;
    }
    c->folderIndex = index;
    if (c->decrypt) {
        FdiDecrypt d = {};
        d.kind = DecryptNewFolder;
        d.context = c->client;
        uint16_t reserve = uint16_t(c->folderEntrySize - kCabFolderEntrySize);
        d.folder.folderReserve = reserve ? c->folderEntry + kCabFolderEntrySize : nullptr;
        d.folder.folderReserveSize = reserve;
        d.folder.folderIndex = index;
        if (c->decrypt(&d) == -1) {
            return Fail(c, fdiErrorUserAbort);
        }
    }
    return true;
}

// Reads the next file entry into entry/name (name may be null: the entry is passed over).
bool ReadFileEntry(FdiContext* c, CabFileEntry* entry, char* name) {
    int32_t got = c->read(c->cabHandle, c->entryBuffer, sizeof c->entryBuffer);
    const char* stored = nullptr;
    size_t recordSize = 0;
    if (got < 0 || CabDecodeFileRecord(c->entryBuffer, size_t(got), 0, entry, &stored,
                                       &recordSize) != kCabFormatOk) {
        return Fail(c, fdiErrorCorruptCabinet);
    }
    if (name) {
        memcpy(name, stored, recordSize - kCabFileEntrySize);
    }
    c->entryPosition += uint32_t(recordSize);
    if (uint32_t(got) != recordSize && !SeekTo(c, c->cabHandle, c->entryPosition)) {
        return Fail(c, fdiErrorCorruptCabinet);
    }
    --c->filesLeft;
    return true;
}

bool ChangeCabinet(FdiContext* c);

// Reads the next data block of the current folder (joining the pieces of a block split
// between cabinets) and decompresses it.
bool ReadNextBlock(FdiContext* c) {
    c->blockOffset += c->blockSize;
    c->blockSize = 0;
    c->blockData = nullptr;
    uint32_t held = 0;
    CabDataHeader block;
    for (;;) {
        while (c->blocksLeft == 0) {
            if (!ChangeCabinet(c)) {
                return false;
            }
        }
        if (!ReadExact(c, c->dataHandle, c->dataHeader, c->dataHeaderSize)) {
            return Fail(c, fdiErrorCorruptCabinet);
        }
        CabDecodeDataHeader(c->dataHeader, c->dataHeaderSize, 0, &block);
        if (uint32_t(held) + block.compressedSize > c->compressedSize) {
            return Fail(c, fdiErrorCorruptCabinet);
        }
        uint8_t* piece = c->compressed + held;
        if (!ReadExact(c, c->dataHandle, piece, block.compressedSize)) {
            return Fail(c, fdiErrorCorruptCabinet);
        }
        if (block.checksum != 0 && CabDataBlockChecksum(c->dataHeader, c->dataHeaderSize, piece,
                                                        block.compressedSize) != block.checksum) {
            return Fail(c, fdiErrorCorruptCabinet);
        }
        --c->blocksLeft;
        if (c->decrypt) {
            FdiDecrypt d = {};
            d.kind = DecryptDataBlock;
            d.context = c->client;
            uint16_t reserve = uint16_t(c->dataHeaderSize - kCabDataHeaderSize);
            d.dataBlock.dataReserve = reserve ? c->dataHeader + kCabDataHeaderSize : nullptr;
            d.dataBlock.dataReserveSize = reserve;
            d.dataBlock.data = c->compressed;
            d.dataBlock.dataSize = uint16_t(held + block.compressedSize);
            d.dataBlock.split = held != 0 || block.uncompressedSize == 0;
            d.dataBlock.previousSize = uint16_t(held);
            if (c->decrypt(&d) == -1) {
                return Fail(c, fdiErrorUserAbort);
            }
        }
        held += block.compressedSize;
        if (block.uncompressedSize != 0) {
            break;
        }
        // The first piece of a block split between cabinets: the rest opens the folder's
        // continuation in the next cabinet.
        if (!ChangeCabinet(c)) {
            return false;
        }
    }

    uint32_t expected = block.uncompressedSize;
    if ((c->compressionType & kCabCompressTypeMask) == kCabCompressNone) {
        if (held != expected) {
            return Fail(c, fdiErrorMdiFail);
        }
        c->blockData = c->compressed;
    } else {
        uint32_t produced = kOutputSize;
        if (mszipDecompress(c->mszip, c->compressed, held, c->output, &produced) !=
                mszipDecompressOk ||
            produced != expected) {
            return Fail(c, fdiErrorMdiFail);
        }
        c->blockData = c->output;
    }
    c->blockSize = expected;
    return true;
}

// Moves on to the next cabinet of the set, where the current folder continues, asking the
// client for it until it can be opened or the client gives up.
bool ChangeCabinet(FdiContext* c) {
    // A cabinet that names no successor yet runs out of data is corrupt; asking for a next
    // cabinet would be repeated for as long as the client answers anything but -1.
    if (!(c->header.flags & kCabFlagNextCabinet)) {
        return Fail(c, fdiErrorCorruptCabinet);
    }
    char name[kNameBufferSize];
    char disk[kNameBufferSize];
    memcpy(name, c->nextCabinet, sizeof name);
    memcpy(disk, c->nextDisk, sizeof disk);
    uint16_t setId = c->header.setId;
    uint16_t cabinetIndex = uint16_t(c->header.cabinetIndex + 1);
    if (!CloseCabinet(c)) {
        return Fail(c, fdiErrorCorruptCabinet);
    }

    CabError before = *c->error;
    int32_t retryError = 0;
    for (;;) {
        FdiNotification info = {};
        info.str1 = name;
        info.str2 = disk;
        info.str3 = c->directory;
        info.context = c->client;
        info.setId = setId;
        info.cabinetIndex = cabinetIndex;
        info.retryError = retryError;
        if (c->notify(fdintNEXT_CABINET, &info) == -1) {
            return Fail(c, fdiErrorUserAbort);
        }
        c->directory[kNameBufferSize - 1] = 0;
        if (OpenCabinet(c, name, true, setId, cabinetIndex) && ReadFolderEntry(c, 0, true)) {
            break;
        }
        CloseCabinet(c);
        if (c->error->code == fdiErrorUserAbort) {
            return false;
        }
        retryError = c->error->code;
    }
    // The failed attempts are not the outcome of the walk.
    *c->error = before;

    // The entries listed again here come first: those skipped earlier and the current file.
    for (uint32_t n = c->passOver + 1; n > 0 && c->filesLeft > 0; --n) {
        CabFileEntry skipped;
        if (!ReadFileEntry(c, &skipped, nullptr)) {
            return false;
        }
    }
    c->passOver = 0;
    c->continuation = true;
    return true;
}

// Makes folder index current and reads its first block.
bool StartFolder(FdiContext* c, uint16_t index) {
    if (c->mszip) {
        mszipDecompressReset(c->mszip);
    }
    c->folderIndex = kNoFolder;
    if (!ReadFolderEntry(c, index, false)) {
        return false;
    }
    c->blockOffset = 0;
    c->blockSize = 0;
    return ReadNextBlock(c);
}

// Writes the current file's bytes to handle, reading blocks as far as it needs.
bool WriteFileData(FdiContext* c, intptr_t handle) {
    uint64_t start = c->file.folderOffset;
    uint64_t end = start + c->file.size;
    if (!c->continuation) {
        uint16_t index = c->file.folderIndex;
        if (CabContinuesToNext(index)) {
            if (c->header.folderCount == 0) {
                return Fail(c, fdiErrorCorruptCabinet);
            }
            index = uint16_t(c->header.folderCount - 1);
        } else if (index >= c->header.folderCount) {
            return Fail(c, fdiErrorCorruptCabinet);
        }
        if (index != c->folderIndex && !StartFolder(c, index)) {
            return false;
        }
    }
    if (start < c->blockOffset) {
        // Files of a folder normally come in increasing offset order. One that starts
        // earlier is read again from the folder's first block, which only exists here when
        // the folder began in this cabinet.
        if (c->continuation) {
            return Fail(c, fdiErrorCorruptCabinet);
        }
        if (!StartFolder(c, c->folderIndex)) {
            return false;
        }
    }
    while (start >= c->blockOffset + c->blockSize) {
        if (!ReadNextBlock(c)) {
            return false;
        }
    }
    uint64_t position = start;
    for (;;) {
        uint64_t blockEnd = c->blockOffset + c->blockSize;
        uint32_t count = uint32_t((end < blockEnd ? end : blockEnd) - position);
        const uint8_t* from = c->blockData + (position - c->blockOffset);
        int32_t written = c->write(handle, from, count);
        if (written < 0 || uint32_t(written) != count) {
            return Fail(c, fdiErrorTargetFile);
        }
        position += count;
        if (position == end) {
            return true;
        }
        if (!ReadNextBlock(c)) {
            return false;
        }
    }
}

bool ExtractFile(FdiContext* c, intptr_t handle) {
    // A file of size 0 needs no block: its folder is not even selected, so it never asks
    // for a next cabinet and the current folder stays as it was.
    if (c->file.size > 0 && !WriteFileData(c, handle)) {
        c->close(handle);
        return false;
    }
    FdiNotification info = {};
    info.str1 = c->fileName;
    info.context = c->client;
    info.handle = handle;
    info.date = c->file.date;
    info.time = c->file.time;
    info.attributes = uint16_t(c->file.attributes & ~kCabAttrRunAfterExtract);
    info.size = (c->file.attributes & kCabAttrRunAfterExtract) ? 1 : 0;
    intptr_t result = c->notify(fdintCLOSE_FILE_INFO, &info);
    if (result == -1) {
        c->close(handle);
        return Fail(c, fdiErrorUserAbort);
    }
    if (result == 0) {
        return Fail(c, fdiErrorTargetFile);
    }
    return true;
}

bool WalkEntries(FdiContext* c) {
    while (c->filesLeft > 0) {
        if (!ReadFileEntry(c, &c->file, c->fileName)) {
            return false;
        }
        bool beganEarlier = CabBeganInPrevious(c->file.folderIndex);
        if (beganEarlier && !c->continuation) {
            FdiNotification info = {};
            info.str1 = c->fileName;
            info.str2 = c->previousCabinet;
            info.str3 = c->previousDisk;
            info.context = c->client;
            if (c->notify(fdintPARTIAL_FILE, &info) == -1) {
                return Fail(c, fdiErrorUserAbort);
            }
            continue;
        }
        if (!beganEarlier && c->continuation) {
            // Begins in this cabinet: FDICopy on this cabinet extracts it.
            continue;
        }
        FdiNotification info = {};
        info.str1 = c->fileName;
        info.context = c->client;
        info.size = int32_t(c->file.size);
        info.date = c->file.date;
        info.time = c->file.time;
        info.attributes = c->file.attributes;
        intptr_t handle = c->notify(fdintCOPY_FILE, &info);
        if (handle == -1) {
            return Fail(c, fdiErrorUserAbort);
        }
        if (handle == 0) {
            if (CabContinuesToNext(c->file.folderIndex)) {
                ++c->passOver;
            }
            continue;
        }
        if (!ExtractFile(c, handle)) {
            return false;
        }
    }
    return true;
}

}  // namespace

FdiContext* FDICreate(fdi::AllocFn alloc, fdi::FreeFn release, fdi::OpenFn open, fdi::ReadFn read,
                      fdi::WriteFn write, fdi::CloseFn close, fdi::SeekFn seek, int processorType,
                      CabError* error) {
    void* block = alloc ? alloc(sizeof(FdiContext)) : nullptr;
    if (!block) {
        if (error) {
            error->code = fdiErrorAllocFail;
            error->platformError = 0;
            error->errorFlag = true;
        }
        return nullptr;
    }
    FdiContext* c = new (block) FdiContext();
    c->alloc = alloc;
    c->release = release;
    c->open = open;
    c->read = read;
    c->write = write;
    c->close = close;
    c->seek = seek;
    c->processorType = processorType;
    c->error = error ? error : &c->ownError;
    c->cabHandle = -1;
    c->dataHandle = -1;
    c->compressionType = kNoCompression;
    c->folderIndex = kNoFolder;
    return c;
}

bool FDIIsCabinet(FdiContext* c, intptr_t handle, FdiCabinetInfo* info) {
    uint8_t bytes[kCabHeaderSize];
    CabHeader header;
    if (!ReadExact(c, handle, bytes, kCabHeaderSize) ||
        CabDecodeHeader(bytes, sizeof bytes, 0, &header) != kCabFormatOk ||
        !CabHasSignature(header)) {
        return false;
    }
    if (header.versionMinor != kCabVersionMinor || header.versionMajor != kCabVersionMajor) {
        return Fail(c, fdiErrorUnknownCabinetVersion,
                    (int32_t(header.versionMajor) << 8) | header.versionMinor);
    }
    info->cabinetSize = int32_t(header.cabinetSize);
    info->folderCount = header.folderCount;
    info->fileCount = header.fileCount;
    info->setId = header.setId;
    info->cabinetIndex = header.cabinetIndex;
    info->hasReserve = (header.flags & kCabFlagReserve) != 0;
    info->hasPrevious = (header.flags & kCabFlagPrevCabinet) != 0;
    info->hasNext = (header.flags & kCabFlagNextCabinet) != 0;
    return true;
}

bool FDICopy(FdiContext* c, const char* cabinetName, const char* cabinetPath, int /*flags*/,
             NotifyFn notify, DecryptFn decrypt, void* clientContext) {
    c->notify = notify;
    c->decrypt = decrypt;
    c->client = clientContext;
    c->folderIndex = kNoFolder;
    c->blocksLeft = 0;
    c->blockOffset = 0;
    c->blockSize = 0;
    c->blockData = nullptr;
    c->filesLeft = 0;
    c->continuation = false;
    c->passOver = 0;
    ReleaseCopyBuffers(c);

    bool ok;
    size_t directoryLength = cabinetPath ? strlen(cabinetPath) : 0;
    if (!notify || !cabinetName || directoryLength >= sizeof c->directory) {
        ok = Fail(c, fdiErrorCabinetNotFound);
    } else {
        memcpy(c->directory, cabinetPath, directoryLength);
        c->directory[directoryLength] = 0;
        ok = OpenCabinet(c, cabinetName, false, 0, 0) && WalkEntries(c);
    }
    CloseCabinet(c);
    ReleaseCopyBuffers(c);
    return ok;
}

bool FDIDestroy(FdiContext* c) {
    if (!c) {
        return true;
    }
    CloseCabinet(c);
    ReleaseCopyBuffers(c);
    ReleaseDecompressor(c);
    fdi::FreeFn release = c->release;
    c->~FdiContext();
    release(c);
    return true;
}
