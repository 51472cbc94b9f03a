// Cabinet writer: turns a sequence of files into one or more cabinets.
//
// The writer performs no input or output and no allocation of its own: every
// byte goes through the callbacks that the caller supplies, so the same code
// writes a plain cabinet file, a cabinet behind an executable, or a cabinet in
// memory. Bulk data is staged in five temporary files (opened through OpenFn);
// the memory in use stays bounded whatever the size of the input.
//
// Calling order: FCICreate; any number of FCIAddFile, with FCIFlushFolder
// wherever a folder should end; FCIFlushCabinet(false) to write the last
// cabinet; FCIDestroy, which is also the clean-up after any failure.
#pragma once

#include <cstdint>

#include "cabinet/format/cabinet_format.h"

// Parameters of one cabinet; filled by the caller before FCICreate and updated
// through NextCabinetFn for each following cabinet of a set.
struct CabinetParams {
    uint32_t maxCabinetSize;   // room for this cabinet in bytes; 0 means 134217727
    uint32_t folderThreshold;  // a folder is closed once its staged compressed data exceeds this
    uint32_t headerReserve;    // bytes reserved in the header (0..65535)
    uint32_t folderReserve;    // bytes reserved in every folder entry (0..255)
    uint32_t dataReserve;      // bytes reserved in every data block header (0..255)
    int32_t cabinetNumber;     // caller's sequence number; +1 in the copy given to NextCabinetFn
    int32_t diskNumber;        // caller's number of the medium
    uint16_t setId;            // written into every header of the set
    char diskName[256];        // NUL-terminated
    char cabinetName[256];     // NUL-terminated
    char cabinetPath[256];     // prefix: the cabinet is cabinetPath immediately followed by name
};

// Operation codes stored in CabError::code.
enum FciErrorCode : int32_t {
    kFciErrNone = 0,
    kFciErrOpenSource = 1,       // OpenInfoFn failed; the context stays usable
    kFciErrReadSource = 2,       // ReadFn failed on a source; the context stays usable
    kFciErrNoMemory = 3,         // AllocFn answered none
    kFciErrTempFile = 4,         // a temporary file could not be made, written, read or removed
    kFciErrCompressionType = 5,  // unknown (or unsupported) compression type
    kFciErrCabinetFile = 6,      // the cabinet file could not be created or written
    kFciErrUserAbort = 7,        // a callback answered -1
    kFciErrCompress = 8,         // the compressor failed
    kFciErrTooManyEntries = 9,   // the cabinet would hold more files or folders than it can count
};

// The text shown for a code ("Unknown error" for any other value).
const char* FciErrorText(int32_t code);

// Filled by the writer on every failure; never cleared by it.
struct CabError {
    int32_t code;           // FciErrorCode
    int32_t platformError;  // what the failing callback stored through its error out, else 0
    bool errorFlag;         // set whenever a code is stored
};

// Open flags in the runtime's numbering, as the writer passes them to OpenFn.
constexpr int32_t kFciOpenReadWrite = 0x0002;
constexpr int32_t kFciOpenCreate = 0x0100;
constexpr int32_t kFciOpenTruncate = 0x0200;
constexpr int32_t kFciOpenExclusive = 0x0400;
constexpr int32_t kFciOpenBinary = 0x8000;
// Temporary files are created exclusively; the cabinet file is not, so a caller
// can tell them apart.
constexpr int32_t kFciOpenTempFlags = 0x8502;
constexpr int32_t kFciOpenCabinetFlags = 0x8302;
constexpr int32_t kFciOpenMode = 0x0180;  // owner read and write

// StatusFn kinds.
constexpr int32_t kFciStatusBlock = 0;    // a block was staged: compressed, uncompressed size
constexpr int32_t kFciStatusFolder = 1;   // copying: bytes so far, total expected
constexpr int32_t kFciStatusCabinet = 2;  // a cabinet was written: estimate, actual size

// Callbacks. All but AllocFn and FreeFn receive the caller's context value last.
// Handles are signed 32-bit values; -1 is no handle. "error" out-parameters
// receive the platform's error value on failure.

// Returns a block of size bytes, or null.
typedef void* (*AllocFn)(uint32_t size);
// Releases a block from AllocFn.
typedef void (*FreeFn)(void* block);
// Opens path with runtime-numbered flags and mode; a handle, or -1.
typedef int32_t (*OpenFn)(const char* path, int32_t flags, int32_t mode, int32_t* error,
                          void* context);
// Reads up to count bytes; the count read, 0 at end of file, -1 on error.
typedef int32_t (*ReadFn)(int32_t handle, void* buffer, uint32_t count, int32_t* error,
                          void* context);
// Writes count bytes; anything other than count is a failure.
typedef int32_t (*WriteFn)(int32_t handle, const void* buffer, uint32_t count, int32_t* error,
                           void* context);
// Closes a handle; 0 on success.
typedef int32_t (*CloseFn)(int32_t handle, int32_t* error, void* context);
// Moves the position (origin 0 start, 1 current, 2 end); the new position, or -1.
typedef int32_t (*SeekFn)(int32_t handle, int32_t offset, int32_t origin, int32_t* error,
                          void* context);
// Removes a file; 0 on success, -1 on failure.
typedef int32_t (*DeleteFn)(const char* path, int32_t* error, void* context);
// Puts an unused, NUL-terminated file name into buffer (size is always 256);
// false when it cannot.
typedef bool (*TempNameFn)(char* buffer, int32_t size, void* context);
// Told of each file entry as it is placed in a cabinet; -1 aborts (code 7).
typedef int32_t (*FilePlacedFn)(CabinetParams* params, const char* name, uint32_t size,
                                bool beganInPreviousCabinet, void* context);
// Asked for the parameters of the next cabinet (pre-filled from the current one
// with cabinetNumber + 1); estimatedSize is the projected size of the cabinet
// being closed. -1 aborts (code 7).
typedef int32_t (*NextCabinetFn)(CabinetParams* params, uint32_t estimatedSize, void* context);
// Progress (kinds above); -1 aborts (code 7). For kind 2 any other result is
// subtracted from maxCabinetSize of the parameters in force.
typedef int32_t (*StatusFn)(int32_t kind, uint32_t value1, uint32_t value2, void* context);
// Opens a source file for binary reading and gives its MS-DOS date, time and
// attributes; the handle, or -1.
typedef int32_t (*OpenInfoFn)(const char* path, uint16_t* date, uint16_t* time,
                              uint16_t* attributes, int32_t* error, void* context);

// The writer context (opaque).
struct FciContext;

// Creates a writer. error must stay valid for the context's life; params is
// copied. Creates the five temporary files. Returns null on failure (code in
// *error: 3 no memory, 4 temporary files, 6 reserve sizes out of range).
FciContext* FCICreate(CabError* error, FilePlacedFn filePlaced, AllocFn alloc, FreeFn release,
                      OpenFn open, ReadFn read, WriteFn write, CloseFn close, SeekFn seek,
                      DeleteFn remove, TempNameFn tempName, const CabinetParams* params,
                      void* context);

// Adds the file at sourcePath under storedName (at most 255 bytes) with
// compression type 0 (stored) or 1 (MSZIP). runAfterExtract adds attribute 0x40.
// A file that would take the cabinet past kCabMaxFiles file entries or
// kCabMaxFolders folders is refused with code 9 before anything changes.
// After a false result with code 1, 2 or 9 the context stays usable; after any
// other code it is only good for FCIDestroy.
bool FCIAddFile(FciContext* fci, const char* sourcePath, const char* storedName,
                bool runAfterExtract, NextCabinetFn nextCabinet, StatusFn status,
                OpenInfoFn openInfo, uint16_t compressionType);

// Ends the current folder (nothing happens when it is empty); may write cabinets
// of a set when the folder does not fit.
bool FCIFlushFolder(FciContext* fci, NextCabinetFn nextCabinet, StatusFn status);

// startNextCabinet false: ends the current folder and writes the current cabinet
// (even one without folders). true: ends the current folder with a break, which
// writes the current cabinet and makes the next one current; does nothing when
// the current folder is empty.
bool FCIFlushCabinet(FciContext* fci, bool startNextCabinet, NextCabinetFn nextCabinet,
                     StatusFn status);

// Releases everything and removes the temporary files. False (code 4) if a
// close or delete failed; everything is released even then.
bool FCIDestroy(FciContext* fci);
