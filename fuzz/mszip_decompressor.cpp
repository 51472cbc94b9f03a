// Arbitrary bytes as a sequence of MSZIP blocks decoded into one shared output buffer
// (so back-references reach into whatever earlier blocks left there). Each block is
// copied into a buffer of exactly its size, so ASan sees any read past it; the output
// buffer is exactly the 32768 bytes the decoder may touch.
//
// Input layout, repeated: one control byte (bit 0: prepend "CK"; bits 1-7: the output
// limit in steps of 258 bytes, 127 meaning the full buffer), a 16-bit little-endian length,
// then that many bytes (fewer at the end of the input).
#include "cabinet/mszip/mszip_decompressor.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void* fuzzAlloc(uint32_t size) {
    return std::malloc(size);
}
void fuzzFree(void* block) {
    std::free(block);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MszipDecompressor* d = nullptr;
    uint32_t bufferSize = 0;
    if (mszipDecompressCreate(0, fuzzAlloc, fuzzFree, &d, &bufferSize) != mszipDecompressOk) {
        std::abort();
    }
    std::vector<uint8_t> window(kMszipDecompressWindow);
    size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t control = data[at];
        size_t length = data[at + 1] | static_cast<size_t>(data[at + 2]) << 8;
        at += 3;
        if (length > size - at) {
            length = size - at;
        }
        const size_t prefix = (control & 1) ? 2 : 0;
        std::vector<uint8_t> block(prefix + length);
        if (prefix != 0) {
            block[0] = 'C';
            block[1] = 'K';
        }
        if (length != 0) {
            std::memcpy(block.data() + prefix, data + at, length);
        }
        at += length;
        const uint32_t steps = control >> 1;
        const uint32_t limit = steps == 127 ? kMszipDecompressWindow : steps * 258;
        uint32_t produced = limit;
        // An empty vector's data() may be null; give the decoder a real zero-length range.
        const uint8_t* bytes = block.empty() ? window.data() : block.data();
        const int status = mszipDecompress(d, bytes, static_cast<uint32_t>(block.size()),
                                           window.data(), &produced);
        if (status == mszipDecompressOk) {
            if (produced > limit) {
                std::abort();
            }
        } else if (status == mszipDecompressBadData) {
            if (produced != 0) {
                std::abort();
            }
        } else if (status != mszipDecompressInputTooLong || block.size() <= bufferSize) {
            std::abort();
        }
    }
    mszipDecompressDestroy(d);
    return 0;
}
