// Huffman code lengths for the MSZIP compressor: the classic heap construction with
// ties broken by subtree depth, then limited to a maximum length.
#pragma once

#include <cstdint>

// Room for the largest alphabet (286 literal/length codes) and its internal nodes.
constexpr int kMszipTreeMaxSymbols = 286;

// Working memory for one construction; lives inside the compressor so that building a
// code allocates nothing.
struct MszipTreeScratch {
    uint32_t freq[2 * kMszipTreeMaxSymbols + 1];
    uint16_t parent[2 * kMszipTreeMaxSymbols + 1];
    uint8_t depth[2 * kMszipTreeMaxSymbols + 1];
    uint8_t nodeLen[2 * kMszipTreeMaxSymbols + 1];
    uint16_t heap[2 * kMszipTreeMaxSymbols + 2];
    uint16_t order[2 * kMszipTreeMaxSymbols + 1];  // nodes as they left the heap, root last
    uint16_t blCount[16];
};

// Fills len[0..count) (count <= 286, maxBits <= 15) with code lengths for the frequencies
// freq[0..count): 0 for unused symbols, at most maxBits otherwise, and always a complete
// code of at least two symbols. When fewer than two symbols are used, a symbol with
// frequency 1 is added: the one after the highest used if that is below 2, else symbol 0.
// Answers the highest symbol that has a length.
int mszipBuildCodeLengths(MszipTreeScratch& s, const uint32_t* freq, int count, int maxBits,
                          uint8_t* len);
