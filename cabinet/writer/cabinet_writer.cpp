#include "cabinet/writer/cabinet_writer.h"

#include <cstring>
#include <new>

#include "cabinet/mszip/mszip_compressor.h"

namespace {

constexpr uint32_t kDefaultMaxCabinetSize = 134217727;  // 2^27 - 1
constexpr uint16_t kNoCompressor = 15;                  // a fresh writer has none selected
constexpr uint32_t kNameBufferSize = 257;               // 255 + NUL, with one to spare
constexpr uint32_t kTempNameSize = 256;
constexpr int kTempNameAttempts = 11;
constexpr uint32_t kCopyPiece = 32768;
constexpr uint32_t kMaxDataHeader = kCabDataHeaderSize + kCabMaxDataReserve;
// Largest compressed block any supported type produces (MSZIP: 32768 + 12).
constexpr uint32_t kMaxCompressedBlock = kCabBlockSize + kMszipCompressOverhead;
// One staged block (header and data) fits; also serves as the copy buffer.
constexpr uint32_t kWorkBufferSize = kMaxDataHeader + kMaxCompressedBlock;
static_assert(kWorkBufferSize >= kCopyPiece, "copy pieces use the work buffer");

struct TempFile {
    uint32_t size;  // bytes written so far, counted, never asked of the file system
    int32_t handle;
    char name[kTempNameSize];
};

}  // namespace

struct FciContext {
    CabError* error;
    FilePlacedFn filePlaced;
    AllocFn alloc;
    FreeFn release;
    OpenFn open;
    ReadFn read;
    WriteFn write;
    CloseFn close;
    SeekFn seek;
    DeleteFn remove;
    TempNameFn tempName;
    void* context;

    // Cabinet state.
    CabinetParams params;
    CabinetParams nextParams;
    uint16_t folderCount;  // folders in the cabinet being built
    uint16_t fileCount;    // file entries in the cabinet being built
    bool reserves;         // any reserve is non-zero: the reserve fields are written
    uint32_t headerSize;   // 36, plus 4 + headerReserve with reserves
    uint32_t folderEntrySize;
    uint32_t dataHeaderSize;
    uint16_t cabinetCounter;  // cabinets written by this context
    uint32_t estimate;        // last estimate handed to NextCabinetFn
    char prevCabinet[kNameBufferSize];
    char prevDisk[kNameBufferSize];
    char thisCabinet[kNameBufferSize];
    char thisDisk[kNameBufferSize];
    char nextCabinet[kNameBufferSize];
    char nextDisk[kNameBufferSize];
    bool hasPrev;
    bool hasThis;
    bool hasNext;
    TempFile cabData;     // blocks assigned to this cabinet, checksummed
    TempFile cabFiles;    // file entries assigned to this cabinet
    TempFile cabFolders;  // folder entries, offsets from the start of the data area

    // Folder state.
    uint32_t folderOffset;     // running uncompressed offset within the folder
    uint32_t folderFileCount;  // file entries staged for the current folder
    uint16_t compressionType;
    MszipCompressor* mszip;
    uint8_t* input;
    uint32_t inputFill;
    uint8_t* output;
    uint32_t outputSize;
    uint8_t* work;
    TempFile folderData;   // blocks of the current folder, checksum 0
    TempFile folderFiles;  // file entries of the current folder
};

namespace {

void SetError(FciContext* f, int32_t code, int32_t platformError) {
    f->error->code = code;
    f->error->platformError = platformError;
    f->error->errorFlag = true;
}

void CopyName(char* to, const char* from) {
    size_t n = strnlen(from, kCabMaxNameLength);
    std::memcpy(to, from, n);
    to[n] = 0;
}

void ClearTemp(TempFile* t) {
    t->size = 0;
    t->handle = -1;
    t->name[0] = 0;
}

// Creates count temporary files. Each gets up to 11 names from TempNameFn. If
// one cannot be made, the ones already made in this batch are removed again.
bool CreateTemps(FciContext* f, TempFile* const* files, int count);

// Closes and removes a temporary file; false (code 4) if either fails.
bool DestroyTemp(FciContext* f, TempFile* t) {
    bool ok = true;
    int32_t err = 0;
    if (t->handle != -1) {
        if (f->close(t->handle, &err, f->context) != 0) {
            SetError(f, kFciErrTempFile, err);
            ok = false;
        }
        t->handle = -1;
        if (f->remove(t->name, &err, f->context) != 0) {
            SetError(f, kFciErrTempFile, err);
            ok = false;
        }
    }
    ClearTemp(t);
    return ok;
}

bool CreateTemps(FciContext* f, TempFile* const* files, int count) {
    for (int i = 0; i < count; ++i) {
        TempFile* t = files[i];
        ClearTemp(t);
        int32_t err = 0;
        for (int attempt = 0; attempt < kTempNameAttempts && t->handle == -1; ++attempt) {
            std::memset(t->name, 0, sizeof t->name);
            if (!f->tempName(t->name, int32_t(kTempNameSize), f->context)) {
                continue;
            }
            t->name[kTempNameSize - 1] = 0;
            t->handle = f->open(t->name, kFciOpenTempFlags, kFciOpenMode, &err, f->context);
        }
        if (t->handle == -1) {
            ClearTemp(t);
            for (int j = 0; j < i; ++j) {
                DestroyTemp(f, files[j]);
            }
            SetError(f, kFciErrTempFile, err);
            return false;
        }
    }
    return true;
}

bool WriteTemp(FciContext* f, TempFile* t, const void* data, uint32_t size) {
    if (size == 0) {
        return true;
    }
    int32_t err = 0;
    if (f->write(t->handle, data, size, &err, f->context) != int32_t(size)) {
        SetError(f, kFciErrTempFile, err);
        return false;
    }
    t->size += size;
    return true;
}

// Reads exactly size bytes; a short read is a failure, since the writer knows
// how much it wrote.
bool ReadTemp(FciContext* f, TempFile* t, void* data, uint32_t size) {
    uint8_t* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        int32_t err = 0;
        int32_t n = f->read(t->handle, p, size, &err, f->context);
        if (n <= 0 || uint32_t(n) > size) {
            SetError(f, kFciErrTempFile, err);
            return false;
        }
        p += n;
        size -= uint32_t(n);
    }
    return true;
}

bool RewindTemp(FciContext* f, TempFile* t) {
    int32_t err = 0;
    if (f->seek(t->handle, 0, 0, &err, f->context) != 0) {
        SetError(f, kFciErrTempFile, err);
        return false;
    }
    return true;
}

// Calls StatusFn; false (code 7) when it answers -1. Result of kind 2 in *result.
bool Status(FciContext* f, StatusFn status, int32_t kind, uint32_t v1, uint32_t v2,
            int32_t* result = nullptr) {
    int32_t r = status ? status(kind, v1, v2, f->context) : 0;
    if (result) {
        *result = r;
    }
    if (r == -1) {
        SetError(f, kFciErrUserAbort, 0);
        return false;
    }
    return true;
}

uint32_t NamePairSize(const char* cabinet, const char* disk) {
    return uint32_t(std::strlen(cabinet) + 1 + std::strlen(disk) + 1);
}

void ResetHeader(FciContext* f) {
    f->folderCount = 0;
    f->fileCount = 0;
}

// ---- Compressors ----------------------------------------------------------------

void ReleaseCompressor(FciContext* f) {
    if (f->mszip) {
        mszipCompressDestroy(f->mszip);
        f->mszip = nullptr;
    }
    if (f->input) {
        f->release(f->input);
        f->input = nullptr;
    }
    if (f->output) {
        f->release(f->output);
        f->output = nullptr;
    }
    f->inputFill = 0;
    f->outputSize = 0;
    f->compressionType = kNoCompressor;
}

bool SelectCompressor(FciContext* f, uint16_t type) {
    ReleaseCompressor(f);
    uint32_t outputSize = kCabBlockSize;
    if (type == kCabCompressMszip) {
        if (mszipCompressCreate(kCabBlockSize, f->alloc, f->release, &f->mszip, &outputSize) !=
            mszipCompressOk) {
            f->mszip = nullptr;
            SetError(f, kFciErrCompress, 0);
            return false;
        }
    }
    f->input = static_cast<uint8_t*>(f->alloc(kCabBlockSize));
    f->output = static_cast<uint8_t*>(f->alloc(outputSize));
    if (!f->input || !f->output || outputSize > kMaxCompressedBlock) {
        ReleaseCompressor(f);
        SetError(f, kFciErrNoMemory, 0);
        return false;
    }
    f->outputSize = outputSize;
    f->compressionType = type;
    return true;
}

// Compresses the input buffer and appends it, as a block with checksum 0, to
// the folder's data file.
bool CompressAndStage(FciContext* f, StatusFn status) {
    if (f->inputFill == 0) {
        return true;
    }
    uint16_t compressed = 0;
    if (f->compressionType == kCabCompressMszip) {
        if (mszipCompress(f->mszip, f->input, f->inputFill, f->output, f->outputSize,
                          &compressed) != mszipCompressOk) {
            SetError(f, kFciErrCompress, 0);
            return false;
        }
    } else {
        std::memcpy(f->output, f->input, f->inputFill);
        compressed = uint16_t(f->inputFill);
    }
    uint8_t header[kMaxDataHeader] = {};
    CabEncodeDataHeader({0, compressed, uint16_t(f->inputFill)}, header);
    if (!WriteTemp(f, &f->folderData, header, f->dataHeaderSize) ||
        !WriteTemp(f, &f->folderData, f->output, compressed)) {
        return false;
    }
    uint32_t uncompressed = f->inputFill;
    f->inputFill = 0;
    return Status(f, status, kFciStatusBlock, compressed, uncompressed);
}

// ---- Writing a cabinet --------------------------------------------------------------

// Writes to the open cabinet file; false (code 6) when the write falls short.
bool WriteCabinetBytes(FciContext* f, int32_t handle, const void* data, uint32_t size) {
    int32_t err = 0;
    if (size != 0 && f->write(handle, data, size, &err, f->context) != int32_t(size)) {
        SetError(f, kFciErrCabinetFile, err);
        return false;
    }
    return true;
}

bool WriteCabinetBody(FciContext* f, int32_t h, StatusFn status, uint32_t* actualSize) {
    const uint32_t prevNames = f->hasPrev ? NamePairSize(f->prevCabinet, f->prevDisk) : 0;
    const uint32_t nextNames = f->hasNext ? NamePairSize(f->nextCabinet, f->nextDisk) : 0;
    const uint32_t filesOffset = CabFirstFileOffset(f->headerSize, prevNames + nextNames,
                                                    f->folderCount, f->params.folderReserve);
    const uint32_t dataOffset = filesOffset + f->cabFiles.size;

    CabHeader header = CabMakeHeader();
    std::memcpy(header.signature, "!CAB", 4);  // "MSCF" is written last
    header.cabinetSize = dataOffset + f->cabData.size;
    header.filesOffset = filesOffset;
    header.folderCount = f->folderCount;
    header.fileCount = f->fileCount;
    header.flags =
        uint16_t((f->hasPrev ? kCabFlagPrevCabinet : 0) | (f->hasNext ? kCabFlagNextCabinet : 0) |
                 (f->reserves ? kCabFlagReserve : 0));
    header.setId = f->params.setId;
    header.cabinetIndex = f->cabinetCounter++;
    uint8_t* buf = f->work;
    CabEncodeHeader(header, buf);
    if (!WriteCabinetBytes(f, h, buf, kCabHeaderSize)) {
        return false;
    }
    if (f->reserves) {
        CabEncodeReserveSizes({uint16_t(f->params.headerReserve), uint8_t(f->params.folderReserve),
                               uint8_t(f->params.dataReserve)},
                              buf);
        if (!WriteCabinetBytes(f, h, buf, kCabReserveFieldsSize)) {
            return false;
        }
        std::memset(buf, 0, 256);
        for (uint32_t left = f->params.headerReserve; left > 0;) {
            uint32_t piece = left < 256 ? left : 256;
            if (!WriteCabinetBytes(f, h, buf, piece)) {
                return false;
            }
            left -= piece;
        }
    }
    const char* names[4] = {f->prevCabinet, f->prevDisk, f->nextCabinet, f->nextDisk};
    for (int i = 0; i < 4; ++i) {
        if ((i < 2 && !f->hasPrev) || (i >= 2 && !f->hasNext)) {
            continue;
        }
        if (!WriteCabinetBytes(f, h, names[i], uint32_t(std::strlen(names[i]) + 1))) {
            return false;
        }
    }

    // The names of this cabinet are the previous ones for the next header.
    f->hasNext = false;
    f->nextCabinet[0] = f->nextDisk[0] = 0;
    f->hasPrev = f->hasThis;
    std::memcpy(f->prevCabinet, f->thisCabinet, kNameBufferSize);
    std::memcpy(f->prevDisk, f->thisDisk, kNameBufferSize);
    f->hasThis = false;
    f->thisCabinet[0] = f->thisDisk[0] = 0;

    if (f->cabFolders.size > 0 && !RewindTemp(f, &f->cabFolders)) {
        return false;
    }
    for (uint16_t i = 0; i < f->folderCount; ++i) {
        if (!ReadTemp(f, &f->cabFolders, buf, f->folderEntrySize)) {
            return false;
        }
        CabPut32(buf, CabGet32(buf) + dataOffset);
        if (!WriteCabinetBytes(f, h, buf, f->folderEntrySize)) {
            return false;
        }
    }

    const uint32_t total = f->cabFiles.size + f->cabData.size;
    uint32_t copied = 0;
    TempFile* parts[2] = {&f->cabFiles, &f->cabData};
    for (TempFile* t : parts) {
        if (t->size > 0 && !RewindTemp(f, t)) {
            return false;
        }
        for (uint32_t left = t->size; left > 0;) {
            uint32_t piece = left < kCopyPiece ? left : kCopyPiece;
            if (!ReadTemp(f, t, buf, piece) || !WriteCabinetBytes(f, h, buf, piece)) {
                return false;
            }
            left -= piece;
            copied += piece;
            if (!Status(f, status, kFciStatusFolder, copied, total)) {
                return false;
            }
        }
    }

    int32_t err = 0;
    int32_t end = f->seek(h, 0, 2, &err, f->context);
    if (end == -1 || f->seek(h, 0, 0, &err, f->context) != 0) {
        SetError(f, kFciErrCabinetFile, err);
        return false;
    }
    *actualSize = uint32_t(end);
    return WriteCabinetBytes(f, h, "MSCF", 4);
}

bool WriteCabinet(FciContext* f, StatusFn status) {
    char path[2 * kNameBufferSize];
    size_t pathLength = strnlen(f->params.cabinetPath, sizeof f->params.cabinetPath - 1);
    std::memcpy(path, f->params.cabinetPath, pathLength);
    CopyName(path + pathLength, f->params.cabinetName);

    int32_t err = 0;
    int32_t h = f->open(path, kFciOpenCabinetFlags, kFciOpenMode, &err, f->context);
    if (h == -1) {
        SetError(f, kFciErrCabinetFile, err);
        return false;
    }
    uint32_t actual = 0;
    bool ok = WriteCabinetBody(f, h, status, &actual);
    if (f->close(h, &err, f->context) != 0 && ok) {
        SetError(f, kFciErrCabinetFile, err);
        ok = false;
    }
    if (!ok) {
        // A cabinet that was not finished never stays behind.
        f->remove(path, &err, f->context);
        return false;
    }

    // From here the cabinet is complete and stays in place whatever happens.
    ResetHeader(f);
    if (!DestroyTemp(f, &f->cabData) || !DestroyTemp(f, &f->cabFiles) ||
        !DestroyTemp(f, &f->cabFolders)) {
        return false;
    }
    TempFile* fresh[3] = {&f->cabData, &f->cabFiles, &f->cabFolders};
    if (!CreateTemps(f, fresh, 3)) {
        return false;
    }
    int32_t result = 0;
    if (!Status(f, status, kFciStatusCabinet, f->estimate, actual, &result)) {
        return false;
    }
    if (result > 0) {
        uint32_t used = uint32_t(result);
        f->params.maxCabinetSize =
            used < f->params.maxCabinetSize ? f->params.maxCabinetSize - used : 0;
    }
    return true;
}

// ---- Flushing a folder ----------------------------------------------------------------

// Projected size of the cabinet with the current folder in it.
uint64_t Projection(const FciContext* f) {
    uint64_t p = f->headerSize;
    if (f->hasPrev) {
        p += NamePairSize(f->prevCabinet, f->prevDisk);
    }
    if (f->hasNext) {
        p += NamePairSize(f->nextCabinet, f->nextDisk);
    }
    p += uint64_t(f->folderCount + 1) * f->folderEntrySize;
    p += uint64_t(f->cabFiles.size) + f->folderFiles.size + f->cabData.size + f->folderData.size;
    return p;
}

bool AskNextCabinet(FciContext* f, NextCabinetFn nextCabinet, uint64_t projection) {
    if (!f->hasThis) {
        CopyName(f->thisCabinet, f->params.cabinetName);
        CopyName(f->thisDisk, f->params.diskName);
        f->hasThis = true;
    }
    f->nextParams = f->params;
    f->nextParams.cabinetNumber += 1;
    f->estimate = projection > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(projection);
    if (nextCabinet && nextCabinet(&f->nextParams, f->estimate, f->context) == -1) {
        SetError(f, kFciErrUserAbort, 0);
        return false;
    }
    f->nextParams.cabinetName[sizeof f->nextParams.cabinetName - 1] = 0;
    f->nextParams.diskName[sizeof f->nextParams.diskName - 1] = 0;
    if (f->nextParams.maxCabinetSize == 0) {
        f->nextParams.maxCabinetSize = kDefaultMaxCabinetSize;
    }
    CopyName(f->nextCabinet, f->nextParams.cabinetName);
    CopyName(f->nextDisk, f->nextParams.diskName);
    f->hasNext = true;
    return true;
}

// Moves the staged blocks of the folder into the cabinet's data file, as far as
// room allows; the rest goes to carryData. *placedBytes is what went into this
// cabinet (headers and data); *placedUncompressed grows by the uncompressed
// bytes of the blocks placed whole.
bool PlaceBlocks(FciContext* f, StatusFn status, int64_t room, uint64_t projection,
                 TempFile* carryData, CabFolderEntry* entry, uint64_t* placedUncompressed,
                 uint32_t* placedBytes) {
    const int64_t limit = int64_t(f->folderData.size) + room;
    const uint32_t hs = f->dataHeaderSize;
    uint8_t* header = f->work;
    uint8_t* data = f->work + hs;
    int64_t placed = 0;
    // Once a block has gone to the next cabinet, every later one follows it:
    // blocks never change order.
    bool carrying = false;
    uint32_t read = 0;
    while (read < f->folderData.size) {
        if (!ReadTemp(f, &f->folderData, header, hs)) {
            return false;
        }
        CabDataHeader block;
        CabDecodeDataHeader(header, hs, 0, &block);
        if (block.compressedSize > kMaxCompressedBlock ||
            uint64_t(read) + hs + block.compressedSize > f->folderData.size) {
            SetError(f, kFciErrTempFile, 0);
            return false;
        }
        if (!ReadTemp(f, &f->folderData, data, block.compressedSize)) {
            return false;
        }
        read += hs + block.compressedSize;

        const int64_t used = placed + hs + block.compressedSize;
        if (!carrying && used <= limit) {
            CabPut32(header, CabDataBlockChecksum(header, hs, data, block.compressedSize));
            if (!WriteTemp(f, &f->cabData, header, hs + block.compressedSize)) {
                return false;
            }
            entry->blockCount++;
            *placedUncompressed += block.uncompressedSize;
            placed = used;
        } else if (!carrying && placed + hs < limit) {
            // Split: the first piece fills the cabinet exactly and counts no
            // uncompressed bytes; the rest carries the block's real size.
            const uint16_t piece = uint16_t(limit - placed - hs);
            uint8_t pieceHeader[kMaxDataHeader] = {};
            CabEncodeDataHeader({0, piece, 0}, pieceHeader);
            CabPut32(pieceHeader, CabDataBlockChecksum(pieceHeader, hs, data, piece));
            if (!WriteTemp(f, &f->cabData, pieceHeader, hs) ||
                !WriteTemp(f, &f->cabData, data, piece)) {
                return false;
            }
            entry->blockCount++;
            placed += hs + piece;
            uint8_t restHeader[kMaxDataHeader] = {};
            CabEncodeDataHeader({0, uint16_t(block.compressedSize - piece), block.uncompressedSize},
                                restHeader);
            if (!WriteTemp(f, carryData, restHeader, hs) ||
                !WriteTemp(f, carryData, data + piece, block.compressedSize - piece)) {
                return false;
            }
            carrying = true;
        } else {
            if (!WriteTemp(f, carryData, header, hs) ||
                !WriteTemp(f, carryData, data, block.compressedSize)) {
                return false;
            }
            carrying = true;
        }
        uint32_t projection32 = projection > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(projection);
        if (!Status(f, status, kFciStatusFolder, uint32_t(placed), projection32)) {
            return false;
        }
    }
    *placedBytes = uint32_t(placed);
    return true;
}

// Lists the folder's file entries in the cabinet; those that continue into the
// next cabinet also go to carryFiles, marked as begun earlier.
bool PlaceFiles(FciContext* f, uint64_t placedUncompressed, TempFile* carryFiles,
                uint32_t* carried) {
    uint8_t record[kCabFileEntrySize + kCabMaxNameLength + 1];
    uint32_t read = 0;
    while (read < f->folderFiles.size) {
        if (!ReadTemp(f, &f->folderFiles, record, kCabFileEntrySize)) {
            return false;
        }
        uint32_t length = 0;
        for (;;) {
            if (length > kCabMaxNameLength ||
                !ReadTemp(f, &f->folderFiles, record + kCabFileEntrySize + length, 1)) {
                if (length > kCabMaxNameLength) {
                    SetError(f, kFciErrTempFile, 0);
                }
                return false;
            }
            if (record[kCabFileEntrySize + length] == 0) {
                break;
            }
            ++length;
        }
        const uint32_t recordSize = CabFileRecordSize(length);
        read += recordSize;
        CabFileEntry e;
        CabDecodeFileEntry(record, recordSize, 0, &e);
        const bool began = CabBeganInPrevious(e.folderIndex);
        const char* name = reinterpret_cast<const char*>(record + kCabFileEntrySize);
        if (f->filePlaced && f->filePlaced(&f->params, name, e.size, began, f->context) == -1) {
            SetError(f, kFciErrUserAbort, 0);
            return false;
        }
        if (!began) {
            e.folderIndex = f->folderCount - 1;  // this folder, just counted
        }
        if (uint64_t(e.folderOffset) + e.size > placedUncompressed) {
            e.folderIndex = began ? kCabFolderContinuedPrevAndNext : kCabFolderContinuedToNext;
        }
        CabEncodeFileEntry(e, record);
        if (f->fileCount >= kCabMaxFiles) {
            SetError(f, kFciErrTooManyEntries, 0);
            return false;
        }
        if (!WriteTemp(f, &f->cabFiles, record, recordSize)) {
            return false;
        }
        f->fileCount++;
        if (CabContinuesToNext(e.folderIndex)) {
            e.folderIndex = kCabFolderContinuedFromPrev;
            CabEncodeFileEntry(e, record);
            if (!WriteTemp(f, carryFiles, record, recordSize)) {
                return false;
            }
            ++*carried;
        }
    }
    return true;
}

bool FlushFolder(FciContext* f, NextCabinetFn nextCabinet, StatusFn status, bool forceBreak) {
    if (!CompressAndStage(f, status)) {
        return false;
    }
    if (f->mszip && mszipCompressReset(f->mszip) != mszipCompressOk) {
        SetError(f, kFciErrCompress, 0);
        return false;
    }
    f->folderOffset = 0;
    f->hasThis = false;
    f->thisCabinet[0] = f->thisDisk[0] = 0;
    if (f->folderData.size == 0 && f->folderFiles.size == 0) {
        return true;
    }

    uint64_t placedUncompressed = 0;  // of this folder, over all cabinets
    for (bool first = true;; first = false) {
        uint64_t projection = Projection(f);
        if (!Status(f, status, kFciStatusFolder, 0,
                    projection > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(projection))) {
            return false;
        }
        TempFile carryData, carryFiles;
        TempFile* carry[2] = {&carryData, &carryFiles};
        if (!CreateTemps(f, carry, 2)) {
            return false;
        }
        bool ok = true;
        int64_t room = int64_t(f->params.maxCabinetSize) - int64_t(projection);
        // A folder without data cannot be split; it stays in this cabinet, so a
        // run of empty files never asks for a next cabinet.
        const bool breakHere = (forceBreak && first) || (room < 0 && f->folderData.size > 0);
        if (breakHere) {
            const uint32_t oldNames = f->hasNext ? NamePairSize(f->nextCabinet, f->nextDisk) : 0;
            ok = AskNextCabinet(f, nextCabinet, projection);
            if (ok) {
                room += int64_t(oldNames) - NamePairSize(f->nextCabinet, f->nextDisk);
            }
        }

        CabFolderEntry entry = {f->cabData.size, 0, f->compressionType};
        uint32_t placedBytes = 0;
        uint32_t carried = 0;
        if (ok && f->folderData.size > 0) {
            ok = RewindTemp(f, &f->folderData) &&
                 PlaceBlocks(f, status, room, projection, &carryData, &entry, &placedUncompressed,
                             &placedBytes);
        }
        if (ok && !first && placedBytes == 0 && carryData.size > 0) {
            // A fresh cabinet that cannot take even one piece of a block: asking
            // for more cabinets would never end.
            SetError(f, kFciErrCabinetFile, 0);
            ok = false;
        }
        if (ok && f->folderCount >= kCabMaxFolders) {
            // The count would wrap, or the index reach the continuation marks.
            SetError(f, kFciErrTooManyEntries, 0);
            ok = false;
        }
        if (ok) {
            uint8_t folderRecord[kCabFolderEntrySize + kCabMaxFolderReserve] = {};
            CabEncodeFolderEntry(entry, folderRecord);
            f->folderCount++;
            ok = WriteTemp(f, &f->cabFolders, folderRecord, f->folderEntrySize) &&
                 (f->folderFiles.size == 0 || RewindTemp(f, &f->folderFiles)) &&
                 PlaceFiles(f, placedUncompressed, &carryFiles, &carried);
        }
        if (ok) {
            ok = DestroyTemp(f, &f->folderData) && DestroyTemp(f, &f->folderFiles);
        }
        if (!ok) {
            DestroyTemp(f, &carryData);
            DestroyTemp(f, &carryFiles);
            return false;
        }
        f->folderData = carryData;
        f->folderFiles = carryFiles;
        f->folderFileCount = carried;

        if (!breakHere) {
            return true;
        }
        if (!WriteCabinet(f, status)) {
            return false;
        }
        if (f->params.maxCabinetSize != 0 && f->params.diskNumber == f->nextParams.diskNumber) {
            // Both cabinets share the medium: the next one gets what is left.
            f->nextParams.maxCabinetSize = f->params.maxCabinetSize;
        }
        f->params = f->nextParams;
        if (f->folderData.size == 0 && f->folderFiles.size == 0) {
            return true;
        }
    }
}

bool ValidType(uint16_t type) {
    return type == kCabCompressNone || type == kCabCompressMszip;
}

}  // namespace

const char* FciErrorText(int32_t code) {
    switch (code) {
        case kFciErrNone:
            return "No error";
        case kFciErrOpenSource:
            return "Failure opening file to be stored in cabinet";
        case kFciErrReadSource:
            return "Failure reading file to be stored in cabinet";
        case kFciErrNoMemory:
            return "Insufficient memory in FCI";
        case kFciErrTempFile:
            return "Could not create a temporary file";
        case kFciErrCompressionType:
            return "Unknown compression type";
        case kFciErrCabinetFile:
            return "Could not create cabinet file";
        case kFciErrUserAbort:
            return "Client requested abort";
        case kFciErrCompress:
            return "Failure compressing data";
        case kFciErrTooManyEntries:
            return "Too many files or folders for one cabinet";
        default:
            return "Unknown error";
    }
}

FciContext* FCICreate(CabError* error, FilePlacedFn filePlaced, AllocFn alloc, FreeFn release,
                      OpenFn open, ReadFn read, WriteFn write, CloseFn close, SeekFn seek,
                      DeleteFn remove, TempNameFn tempName, const CabinetParams* params,
                      void* context) {
    if (!error) {
        return nullptr;
    }
    if (!alloc || !release || !open || !read || !write || !close || !seek || !remove || !tempName ||
        !params) {
        error->code = kFciErrNoMemory;  // no context can be made without them
        error->platformError = 0;
        error->errorFlag = true;
        return nullptr;
    }
    void* memory = alloc(sizeof(FciContext));
    if (!memory) {
        error->code = kFciErrNoMemory;
        error->platformError = 0;
        error->errorFlag = true;
        return nullptr;
    }
    FciContext* f = new (memory) FciContext();
    f->error = error;
    f->filePlaced = filePlaced;
    f->alloc = alloc;
    f->release = release;
    f->open = open;
    f->read = read;
    f->write = write;
    f->close = close;
    f->seek = seek;
    f->remove = remove;
    f->tempName = tempName;
    f->context = context;
    ClearTemp(&f->cabData);
    ClearTemp(&f->cabFiles);
    ClearTemp(&f->cabFolders);
    ClearTemp(&f->folderData);
    ClearTemp(&f->folderFiles);
    f->compressionType = kNoCompressor;

    f->params = *params;
    f->params.diskName[sizeof f->params.diskName - 1] = 0;
    f->params.cabinetName[sizeof f->params.cabinetName - 1] = 0;
    f->params.cabinetPath[sizeof f->params.cabinetPath - 1] = 0;
    if (f->params.maxCabinetSize == 0) {
        f->params.maxCabinetSize = kDefaultMaxCabinetSize;
    }
    // Reserve sizes that the format's fields cannot hold would make a cabinet
    // that no reader understands.
    if (params->headerReserve > kCabMaxHeaderReserve ||
        params->folderReserve > kCabMaxFolderReserve || params->dataReserve > kCabMaxDataReserve) {
        SetError(f, kFciErrCabinetFile, 0);
        release(memory);
        return nullptr;
    }
    f->reserves =
        params->headerReserve != 0 || params->folderReserve != 0 || params->dataReserve != 0;
    f->headerSize = CabHeaderSizeWith(f->reserves, params->headerReserve);
    f->folderEntrySize = kCabFolderEntrySize + params->folderReserve;
    f->dataHeaderSize = kCabDataHeaderSize + params->dataReserve;

    f->work = static_cast<uint8_t*>(alloc(kWorkBufferSize));
    if (!f->work) {
        SetError(f, kFciErrNoMemory, 0);
        release(memory);
        return nullptr;
    }
    TempFile* folderTemps[2] = {&f->folderData, &f->folderFiles};
    TempFile* cabinetTemps[3] = {&f->cabData, &f->cabFiles, &f->cabFolders};
    if (!CreateTemps(f, folderTemps, 2)) {
        release(f->work);
        release(memory);
        return nullptr;
    }
    if (!CreateTemps(f, cabinetTemps, 3)) {
        DestroyTemp(f, &f->folderData);
        DestroyTemp(f, &f->folderFiles);
        release(f->work);
        release(memory);
        return nullptr;
    }
    ResetHeader(f);
    return f;
}

bool FCIAddFile(FciContext* f, const char* sourcePath, const char* storedName, bool runAfterExtract,
                NextCabinetFn nextCabinet, StatusFn status, OpenInfoFn openInfo,
                uint16_t compressionType) {
    if (!f) {
        return false;
    }
    if (!ValidType(compressionType)) {
        SetError(f, kFciErrCompressionType, 0);
        return false;
    }
    // A name the format cannot hold is refused before anything changes, like a
    // source that cannot be opened.
    if (!storedName || !sourcePath || !openInfo ||
        strnlen(storedName, kCabMaxNameLength + 1) > kCabMaxNameLength) {
        SetError(f, kFciErrOpenSource, 0);
        return false;
    }
    // Counted against the cabinet being built; the count of a set's later cabinet
    // starts again, so this is the strictest the check ever needs to be.
    const bool folderOpen = f->inputFill > 0 || f->folderData.size > 0 || f->folderFiles.size > 0;
    const bool newFolder = compressionType != f->compressionType;
    const uint32_t folders =
        uint32_t(f->folderCount) + (folderOpen ? 1 : 0) + (newFolder || !folderOpen ? 1 : 0);
    if (uint32_t(f->fileCount) + f->folderFileCount + 1 > kCabMaxFiles ||
        folders > kCabMaxFolders) {
        SetError(f, kFciErrTooManyEntries, 0);
        return false;
    }
    if (compressionType != f->compressionType) {
        if (!FlushFolder(f, nextCabinet, status, false) || !SelectCompressor(f, compressionType)) {
            return false;
        }
    }

    uint16_t date = 0, time = 0, attributes = 0;
    int32_t err = 0;
    int32_t source = openInfo(sourcePath, &date, &time, &attributes, &err, f->context);
    if (source == -1) {
        SetError(f, kFciErrOpenSource, err);
        return false;
    }
    if (runAfterExtract) {
        attributes |= kCabAttrRunAfterExtract;
    }
    const uint32_t start = f->folderOffset;
    for (;;) {
        const uint32_t room = kCabBlockSize - f->inputFill;
        int32_t n = f->read(source, f->input + f->inputFill, room, &err, f->context);
        if (n == -1 || (n > 0 && uint32_t(n) > room)) {
            f->close(source, &err, f->context);
            SetError(f, kFciErrReadSource, err);
            return false;
        }
        if (n == 0) {
            break;
        }
        f->inputFill += uint32_t(n);
        f->folderOffset += uint32_t(n);
        if (f->inputFill == kCabBlockSize && !CompressAndStage(f, status)) {
            f->close(source, &err, f->context);
            return false;
        }
    }
    f->close(source, &err, f->context);

    const uint32_t size = f->folderOffset - start;
    uint8_t record[kCabFileEntrySize + kCabMaxNameLength + 1];
    CabEncodeFileEntry({size, start, 0, date, time, attributes}, record);
    const size_t length = std::strlen(storedName);
    std::memcpy(record + kCabFileEntrySize, storedName, length + 1);
    if (!WriteTemp(f, &f->folderFiles, record, CabFileRecordSize(uint32_t(length)))) {
        return false;
    }
    f->folderFileCount++;

    const uint64_t projection =
        uint64_t(f->headerSize) + uint64_t(f->folderCount + 1) * f->folderEntrySize +
        f->cabFiles.size + f->folderFiles.size + f->cabData.size + f->folderData.size;
    // An empty file adds no data, so it never closes the folder for want of room.
    if (f->folderData.size > f->params.folderThreshold ||
        (size > 0 && projection > f->params.maxCabinetSize)) {
        return FlushFolder(f, nextCabinet, status, false);
    }
    return true;
}

bool FCIFlushFolder(FciContext* f, NextCabinetFn nextCabinet, StatusFn status) {
    if (!f) {
        return false;
    }
    return FlushFolder(f, nextCabinet, status, false);
}

bool FCIFlushCabinet(FciContext* f, bool startNextCabinet, NextCabinetFn nextCabinet,
                     StatusFn status) {
    if (!f) {
        return false;
    }
    if (startNextCabinet) {
        if (f->inputFill == 0 && f->folderData.size == 0 && f->folderFiles.size == 0) {
            return true;
        }
        return FlushFolder(f, nextCabinet, status, true);
    }
    return FlushFolder(f, nextCabinet, status, false) && WriteCabinet(f, status);
}

bool FCIDestroy(FciContext* f) {
    if (!f) {
        return false;
    }
    ReleaseCompressor(f);
    bool ok = true;
    TempFile* temps[5] = {&f->folderData, &f->folderFiles, &f->cabData, &f->cabFiles,
                          &f->cabFolders};
    for (TempFile* t : temps) {
        ok = DestroyTemp(f, t) && ok;
    }
    FreeFn release = f->release;
    release(f->work);
    f->~FciContext();
    release(f);
    return ok;
}
