#include "cabinet/mszip/mszip_enc_tree.h"

#include <cstring>

namespace {

inline bool smaller(const MszipTreeScratch& s, unsigned n, unsigned m) {
    return s.freq[n] < s.freq[m] || (s.freq[n] == s.freq[m] && s.depth[n] <= s.depth[m]);
}

void siftDown(MszipTreeScratch& s, int heapLen, int k) {
    unsigned v = s.heap[k];
    int j = k << 1;
    while (j <= heapLen) {
        if (j < heapLen && smaller(s, s.heap[j + 1], s.heap[j])) {
            j++;
        }
        if (smaller(s, v, s.heap[j])) {
            break;
        }
        s.heap[k] = s.heap[j];
        k = j;
        j <<= 1;
    }
    s.heap[k] = static_cast<uint16_t>(v);
}

}  // namespace

int mszipBuildCodeLengths(MszipTreeScratch& s, const uint32_t* freq, int count, int maxBits,
                          uint8_t* len) {
    int heapLen = 0;
    int maxCode = -1;
    for (int i = 0; i < count; ++i) {
        s.depth[i] = 0;
        s.freq[i] = freq[i];
        len[i] = 0;
        if (freq[i] != 0) {
            s.heap[++heapLen] = static_cast<uint16_t>(i);
            maxCode = i;
        }
    }
    while (heapLen < 2) {
        int node = maxCode < 2 ? ++maxCode : 0;
        s.freq[node] = 1;
        s.depth[node] = 0;
        s.heap[++heapLen] = static_cast<uint16_t>(node);
    }
    for (int k = heapLen / 2; k >= 1; --k) {
        siftDown(s, heapLen, k);
    }
    int next = count;  // next internal node
    int popped = 0;
    do {
        unsigned n = s.heap[1];
        s.heap[1] = s.heap[heapLen--];
        siftDown(s, heapLen, 1);
        unsigned m = s.heap[1];
        s.order[popped++] = static_cast<uint16_t>(n);
        s.order[popped++] = static_cast<uint16_t>(m);
        s.freq[next] = s.freq[n] + s.freq[m];
        s.depth[next] =
            static_cast<uint8_t>((s.depth[n] >= s.depth[m] ? s.depth[n] : s.depth[m]) + 1);
        s.parent[n] = s.parent[m] = static_cast<uint16_t>(next);
        s.heap[1] = static_cast<uint16_t>(next);
        siftDown(s, heapLen, 1);
        next++;
    } while (heapLen >= 2);
    s.order[popped] = s.heap[1];  // the root

    // Lengths from the root down (parents come after their children in the order),
    // clamping at maxBits and counting the leaves that overflowed.
    std::memset(s.blCount, 0, sizeof s.blCount);
    int overflow = 0;
    s.nodeLen[s.order[popped]] = 0;
    for (int h = popped - 1; h >= 0; --h) {
        unsigned n = s.order[h];
        int bits = s.nodeLen[s.parent[n]] + 1;
        if (bits > maxBits) {
            bits = maxBits;
            overflow++;
        }
        s.nodeLen[n] = static_cast<uint8_t>(bits);
        if (static_cast<int>(n) < count) {
            s.blCount[bits]++;
            len[n] = static_cast<uint8_t>(bits);
        }
    }
    if (overflow == 0) {
        return maxCode;
    }
    // Move overflowing leaves down: take a leaf from the deepest level that still has
    // room, hang it and an overflowed leaf below it as two leaves one level deeper.
    do {
        int bits = maxBits - 1;
        while (s.blCount[bits] == 0) {
            bits--;
        }
        s.blCount[bits]--;
        s.blCount[bits + 1] += 2;
        s.blCount[maxBits]--;
        overflow -= 2;
    } while (overflow > 0);
    // Hand out the lengths again, longest to the least frequent leaves.
    int h = 0;
    for (int bits = maxBits; bits != 0; --bits) {
        int n = s.blCount[bits];
        while (n != 0) {
            unsigned m = s.order[h++];
            if (static_cast<int>(m) >= count) {
                continue;
            }
            len[m] = static_cast<uint8_t>(bits);
            n--;
        }
    }
    return maxCode;
}
