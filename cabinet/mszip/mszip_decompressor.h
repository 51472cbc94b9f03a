// MSZIP decompressor: decodes one MSZIP block ("CK" followed by a complete deflate
// stream) per call into the cabinet reader's 32768-byte output buffer. That buffer is
// also the history: a back-reference reaching before the start of the current block
// reads the previous block's output, which is still in the buffer behind the new one.
#pragma once

#include <cstdint>

// Size of the output buffer every call must receive (and keep from block to block).
constexpr uint32_t kMszipDecompressWindow = 32768;

// Results of every mszipDecompress* operation.
enum MszipDecompressStatus : int {
    mszipDecompressOk = 0,               // success
    mszipDecompressNoMemory = 1,         // create: the allocation callback failed
    mszipDecompressNotDecompressor = 2,  // the handle is null or not a decompressor
    mszipDecompressInputTooLong = 3,     // compressed length above block size + 12
    mszipDecompressBadData = 4,          // the block could not be decoded
};

// Short lower-case name of a status ("ok", "no memory", ...), for traces.
// Unknown values give "unknown".
const char* mszipDecompressStatusName(int status);

// Allocation callbacks (the cabinet reader passes its AllocFn/FreeFn). The allocator
// answers null when it has no memory.
typedef void* (*MszipDecompressAllocFn)(uint32_t size);
typedef void (*MszipDecompressFreeFn)(void* block);

struct MszipDecompressor;

// Creates a decompressor. blockSize 0 or above 32768 means 32768. On success stores the
// decompressor in *decompressor and the size of compressed-data buffer the caller must
// provide (block size + 12) in *compressedBufferSize, and answers mszipDecompressOk.
// All memory is allocated here, in one block through alloc; nothing is allocated later.
// Fails with mszipDecompressNoMemory (alloc answered null) or
// mszipDecompressNotDecompressor (a null callback or out-parameter).
int mszipDecompressCreate(uint32_t blockSize, MszipDecompressAllocFn alloc,
                          MszipDecompressFreeFn release, MszipDecompressor** decompressor,
                          uint32_t* compressedBufferSize);

// Decodes one block. compressed/compressedLength: the block's bytes, "CK" included.
// output: the caller's kMszipDecompressWindow-byte buffer, the same one for every block
// of a folder (it holds the history). *outputSize: in, the output limit (the smaller of it
// and the block size applies); out, the number of bytes produced. Decoding stops after
// the deflate block with the final bit, or when the limit is reached.
// Answers mszipDecompressOk, mszipDecompressNotDecompressor, mszipDecompressInputTooLong,
// or mszipDecompressBadData for a block that cannot be decoded or was cut short (its
// decoding needs bits past its last byte) and for null buffers; then *outputSize is 0 and
// the output buffer may hold partly decoded bytes. Never reads outside
// compressed[0 .. compressedLength) or output[0 .. 32768), never writes outside
// output[0 .. limit).
int mszipDecompress(MszipDecompressor* decompressor, const uint8_t* compressed,
                    uint32_t compressedLength, uint8_t* output, uint32_t* outputSize);

// Nothing to forget: the history lives in the caller's output buffer. Answers
// mszipDecompressOk, or mszipDecompressNotDecompressor.
int mszipDecompressReset(MszipDecompressor* decompressor);

// Releases the decompressor's memory through its release callback. Answers
// mszipDecompressOk, or mszipDecompressNotDecompressor (then nothing is released).
int mszipDecompressDestroy(MszipDecompressor* decompressor);
