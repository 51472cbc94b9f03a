// MSZIP compressor: turns each data block of an MSZIP folder into "CK" followed by one
// complete, separately terminated deflate stream. Matches may reach back into the
// previous block, but only when that block held a full 32768 bytes of the same folder;
// a reset (at every folder boundary) forgets the history.
#pragma once

#include <cstdint>

// Largest block the compressor takes, and what every stream may need beyond its input:
// "CK" plus the overhead of at most two stored deflate blocks.
constexpr uint32_t kMszipCompressMaxBlock = 32768;
constexpr uint32_t kMszipCompressOverhead = 12;

// Results of every mszipCompress* operation.
enum MszipCompressStatus : int {
    mszipCompressOk = 0,           // success
    mszipCompressNoMemory = 1,     // create: an allocation failed
    mszipCompressBadArgument = 2,  // input longer than the block size, output buffer smaller
                                   // than block size + 12, or a handle that is not a compressor
    mszipCompressFailed = 4,       // the output limit was reached
};

// Short lower-case name of a status ("ok", "no memory", ...), for traces.
// Unknown values give "unknown".
const char* mszipCompressStatusName(int status);

// Allocation callbacks (the cabinet writer passes its AllocFn/FreeFn). The allocator
// answers null when it has no memory.
typedef void* (*MszipCompressAllocFn)(uint32_t size);
typedef void (*MszipCompressFreeFn)(void* block);

struct MszipCompressor;

// Creates a compressor. blockSize 0 or above 32768 means 32768. On success stores the
// compressor in *compressor and the output buffer size every compress call must provide
// (block size + 12) in *outputBufferSize, and answers mszipCompressOk. All memory (about
// 400 KiB) is allocated here through alloc; compressing allocates nothing.
// Fails with mszipCompressNoMemory (alloc answered null; whatever was allocated is
// released) or mszipCompressBadArgument (a null callback or out-parameter).
int mszipCompressCreate(uint32_t blockSize, MszipCompressAllocFn alloc, MszipCompressFreeFn release,
                        MszipCompressor** compressor, uint32_t* outputBufferSize);

// Compresses one block of inputLength bytes (0 to the block size) into output, whose size
// outputSize must be at least block size + 12. On success *compressedLength is the number of
// bytes written, "CK" included. The history for the next block is kept if and only if this
// block held exactly 32768 bytes.
// Answers mszipCompressOk; mszipCompressBadArgument (wrong sizes, null pointers, not a
// compressor; nothing is written and the state is unchanged); or mszipCompressFailed when
// the stream would pass outputSize (nothing is written past it; the next block starts
// without history).
int mszipCompress(MszipCompressor* compressor, const uint8_t* input, uint32_t inputLength,
                  uint8_t* output, uint32_t outputSize, uint16_t* compressedLength);

// Forgets the history: the next block starts fresh. Answers mszipCompressOk, or
// mszipCompressBadArgument for a handle that is not a compressor.
int mszipCompressReset(MszipCompressor* compressor);

// Releases all of the compressor's memory through its release callback. Answers
// mszipCompressOk, or mszipCompressBadArgument (then nothing is released).
int mszipCompressDestroy(MszipCompressor* compressor);
