// Cabinet reader: lists and unpacks "MSCF" cabinets (and sets of them) without doing any
// input, output or allocation of its own. Everything goes through the callbacks given to
// FDICreate, and every decision about what to extract and where goes through NotifyFn.
//
// Memory is bounded whatever the cabinet: a few name buffers, the header reserve, one
// compressed-data buffer, the 32768-byte output buffer and the decompressor's state.
#pragma once

#include <cstdint>

#include "cabinet/format/cabinet_format.h"

// ---------------------------------------------------------------------------------------
// Callbacks. None receives a context value; handles are the client's own values (a file
// descriptor, a pointer to a record, ...), -1 meaning none. intptr_t so that a client may
// hand out pointers on 64-bit builds too.
namespace fdi {

// Returns a block of at least size bytes, or null.
using AllocFn = void* (*)(uint32_t size);
// Releases a block from AllocFn (never called with null).
using FreeFn = void (*)(void* block);
// Opens path with the runtime's open flags (0x8000 binary read-only for cabinets) and
// permission mode. Returns a handle, or -1.
using OpenFn = intptr_t (*)(const char* path, int flags, int mode);
// Reads up to count bytes. Returns the number read (0 at the end), or -1 on error.
using ReadFn = int32_t (*)(intptr_t handle, void* buffer, uint32_t count);
// Writes count bytes. Anything but count is a failure.
using WriteFn = int32_t (*)(intptr_t handle, const void* buffer, uint32_t count);
// Closes a handle. Returns 0 on success.
using CloseFn = int (*)(intptr_t handle);
// Moves to offset from origin (0 start, 1 current, 2 end). Returns the new position, or -1.
using SeekFn = int32_t (*)(intptr_t handle, int32_t offset, int origin);

}  // namespace fdi

// CabError, the error record shared with the writer: the operation code of the last
// failure, the platform value that goes with it (0 where none applies), and the flag that
// says a code was stored. The reader stores the codes below and never clears the record.
#include "cabinet/writer/cabinet_writer.h"

// Operation codes of the reader.
enum FdiErrorCode : int32_t {
    fdiErrorNone = 0,
    fdiErrorCabinetNotFound = 1,
    fdiErrorNotACabinet = 2,
    fdiErrorUnknownCabinetVersion = 3,
    fdiErrorCorruptCabinet = 4,
    fdiErrorAllocFail = 5,
    fdiErrorBadCompressionType = 6,
    fdiErrorMdiFail = 7,
    fdiErrorTargetFile = 8,
    fdiErrorReserveMismatch = 9,
    fdiErrorWrongCabinet = 10,
    fdiErrorUserAbort = 11,
};

// The text shown to the user for an operation code ("Corrupt cabinet", ...); "Unknown
// error" for codes outside the table.
const char* FDIErrorText(int32_t code);

// Filled by FDIIsCabinet from a cabinet header.
struct FdiCabinetInfo {
    int32_t cabinetSize;  // the header's total size
    uint16_t folderCount;
    uint16_t fileCount;
    uint16_t setId;
    uint16_t cabinetIndex;
    bool hasReserve;   // header flag 0x0004
    bool hasPrevious;  // header flag 0x0001
    bool hasNext;      // header flag 0x0002
};

// Notification numbers passed to NotifyFn.
enum FdiNotificationType : int {
    fdintCABINET_INFO = 0,
    fdintPARTIAL_FILE = 1,
    fdintCOPY_FILE = 2,
    fdintCLOSE_FILE_INFO = 3,
    fdintNEXT_CABINET = 4,
};

// What a notification carries; which fields are filled depends on the notification:
//   fdintCABINET_INFO:    str1 next cabinet name, str2 next disk name, str3 cabinet
//                         directory, setId, cabinetIndex.
//   fdintPARTIAL_FILE:    str1 file name, str2 name of the cabinet where the file starts,
//                         str3 its disk name.
//   fdintCOPY_FILE:       str1 file name, size, date, time, attributes (as stored).
//   fdintCLOSE_FILE_INFO: str1 file name (the same buffer as in fdintCOPY_FILE, so edits
//                         made there show), handle, date, time, attributes without 0x40,
//                         size 1 when the file is to be run after extraction, else 0.
//   fdintNEXT_CABINET:    str1 next cabinet name, str2 next disk name, str3 the 256-byte
//                         cabinet directory buffer (the client may rewrite it), setId and
//                         cabinetIndex of the wanted cabinet, retryError (0 on the first
//                         request, else the code of the failed attempt).
// Strings are NUL-terminated buffers of 256 bytes owned by the reader.
struct FdiNotification {
    int32_t size;
    char* str1;
    char* str2;
    char* str3;
    void* context;  // the client value given to FDICopy
    intptr_t handle;
    uint16_t date;
    uint16_t time;
    uint16_t attributes;
    uint16_t setId;
    uint16_t cabinetIndex;
    int32_t retryError;
};

// Called for each notification. Returns -1 to abort (code 11). For fdintCOPY_FILE: 0 skips
// the file, any other value is the handle to write it to. For fdintCLOSE_FILE_INFO: 0 fails
// with code 8; any other value continues, and the handle is then the client's to close.
using NotifyFn = intptr_t (*)(int notification, FdiNotification* info);

// Kinds of FdiDecrypt calls.
enum FdiDecryptKind : int {
    DecryptNewCabinet = 0,
    DecryptNewFolder = 1,
    DecryptDataBlock = 2,
};

// What DecryptFn sees before a header reserve, a folder reserve or a data block is used.
// Only the part named by kind is filled. Reserve pointers are null when the area is empty.
struct FdiDecrypt {
    int kind;
    void* context;  // the client value given to FDICopy
    struct {
        void* headerReserve;
        uint16_t headerReserveSize;
        uint16_t setId;
        uint16_t cabinetIndex;
    } cabinet;
    struct {
        void* folderReserve;
        uint16_t folderReserveSize;
        uint16_t folderIndex;
    } folder;
    struct {
        void* dataReserve;
        uint16_t dataReserveSize;
        // The block's compressed bytes from their start: with a block split across
        // cabinets the piece already held comes first and the bytes just read follow it
        // at data + previousSize. dataSize counts both pieces.
        void* data;
        uint16_t dataSize;
        bool split;  // this block was split across cabinets, or is the first piece of one
        uint16_t previousSize;  // bytes of the piece already held
    } dataBlock;
};

// Returns -1 to abort (code 11); any other value continues.
using DecryptFn = int32_t (*)(FdiDecrypt* info);

// The reader context; opaque.
struct FdiContext;

// Creates a reader. processorType is only meaningful to a Quantum decompressor (which this
// reader does not have); the extractor passes 1. error receives the code of every later
// failure (null: the codes are kept inside the context, unseen). Returns null, with code 5
// stored in *error, when the context cannot be allocated.
FdiContext* FDICreate(fdi::AllocFn alloc, fdi::FreeFn release, fdi::OpenFn open, fdi::ReadFn read,
                      fdi::WriteFn write, fdi::CloseFn close, fdi::SeekFn seek, int processorType,
                      CabError* error);

// Reads 36 bytes at the handle's current position. True, with info filled, when they form
// a version 1.3 cabinet header. A short read or another signature answers false and stores
// nothing; another version stores code 3 with the version (major << 8 | minor).
bool FDIIsCabinet(FdiContext* context, intptr_t handle, FdiCabinetInfo* info);

// Walks the file entries of the cabinet cabinetPath + cabinetName (the directory is used as
// it is: empty, or ending with a separator) and extracts the files the client asks for, plus
// the rest of any of them that continues into later cabinets of the set. flags is unused
// (0). decrypt may be null. True when the cabinet was walked to the end; false with a code
// in the CabError otherwise. Both cabinet handles are closed either way.
bool FDICopy(FdiContext* context, const char* cabinetName, const char* cabinetPath, int flags,
             NotifyFn notify, DecryptFn decrypt, void* clientContext);

// Releases the decompressor, every buffer and any handle still open. Always true.
bool FDIDestroy(FdiContext* context);
