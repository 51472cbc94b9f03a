#include "cabinet/mszip/mszip_enc_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <queue>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> lengthsFor(const std::vector<uint32_t>& freq, int maxBits, int* maxCode) {
    static MszipTreeScratch scratch;
    std::vector<uint8_t> len(freq.size(), 0xEE);
    *maxCode = mszipBuildCodeLengths(scratch, freq.data(), static_cast<int>(freq.size()), maxBits,
                                     len.data());
    return len;
}

// Sum of 2^-len over the coded symbols, in units of 2^-15: 32768 means a complete code.
uint32_t kraft(const std::vector<uint8_t>& len) {
    uint32_t sum = 0;
    for (uint8_t l : len) {
        if (l != 0) {
            sum += 1u << (15 - l);
        }
    }
    return sum;
}

// Cost of an optimal (unlimited) Huffman code: the sum of all merged weights.
uint64_t optimalCost(const std::vector<uint32_t>& freq) {
    std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<uint64_t>> q;
    for (uint32_t f : freq) {
        if (f != 0) {
            q.push(f);
        }
    }
    uint64_t cost = 0;
    while (q.size() > 1) {
        uint64_t a = q.top();
        q.pop();
        uint64_t b = q.top();
        q.pop();
        cost += a + b;
        q.push(a + b);
    }
    return cost;
}

std::vector<uint32_t> fibonacci(int n) {
    std::vector<uint32_t> f(n);
    for (int i = 0; i < n; ++i) {
        f[i] = i < 2 ? 1 : f[i - 1] + f[i - 2];
    }
    return f;
}

TEST(MszipCodeLengths, SmallAlphabetsGetTheTextbookLengths) {
    const struct {
        const char* what;
        std::vector<uint32_t> freq;
        std::vector<uint8_t> lengths;
        int maxCode;
    } cases[] = {
        {"skewed", {1, 1, 2, 4}, {3, 3, 2, 1}, 3},
        {"uniform", std::vector<uint32_t>(8, 5), std::vector<uint8_t>(8, 3), 7},
        {"gaps stay zero", {0, 7, 0, 7, 0}, {0, 1, 0, 1, 0}, 3},
        // Fewer than two used symbols: a partner with frequency 1 is added.
        {"nothing used", {0, 0, 0, 0}, {1, 1, 0, 0}, 1},
        {"only symbol 0", {9, 0, 0, 0}, {1, 1, 0, 0}, 1},
        {"only symbol 1", {0, 9, 0, 0}, {0, 1, 1, 0}, 2},
        {"only symbol 3", {0, 0, 0, 9}, {1, 0, 0, 1}, 3},
    };
    for (const auto& k : cases) {
        int maxCode = -1;
        EXPECT_EQ(lengthsFor(k.freq, 15, &maxCode), k.lengths) << k.what;
        EXPECT_EQ(maxCode, k.maxCode) << k.what;
    }
}

TEST(MszipCodeLengths, DeepTreesAreLimitedAndStayComplete) {
    const struct {
        const char* what;
        std::vector<uint32_t> freq;
        int maxBits;
    } cases[] = {
        {"literal alphabet, Fibonacci weights", fibonacci(30), 15},
        {"code-length alphabet, Fibonacci weights", fibonacci(19), 7},
        {"Fibonacci weights over many rare symbols",
         [] {
             std::vector<uint32_t> f(286, 1);
             std::vector<uint32_t> fib = fibonacci(26);
             std::copy(fib.begin(), fib.end(), f.begin() + 200);
             return f;
         }(),
         15},
    };
    for (const auto& k : cases) {
        int maxCode = -1;
        std::vector<uint8_t> len = lengthsFor(k.freq, k.maxBits, &maxCode);
        uint8_t longest = 0;
        for (size_t i = 0; i < len.size(); ++i) {
            EXPECT_GE(len[i], 1) << k.what << " symbol " << i;
            longest = std::max(longest, len[i]);
        }
        EXPECT_EQ(longest, k.maxBits) << k.what;
        EXPECT_EQ(kraft(len), 32768u) << k.what;
        // A more frequent symbol never gets a longer code.
        for (size_t i = 0; i < len.size(); ++i) {
            for (size_t j = 0; j < len.size(); ++j) {
                if (k.freq[i] > k.freq[j]) {
                    EXPECT_LE(len[i], len[j]) << k.what << " symbols " << i << ", " << j;
                }
            }
        }
    }
}

TEST(MszipCodeLengths, UnlimitedCodesAreOptimal) {
    std::mt19937 rng(42);
    for (int round = 0; round < 200; ++round) {
        int count = 2 + static_cast<int>(rng() % 285);
        std::vector<uint32_t> freq(count);
        for (auto& f : freq) {
            f = rng() % 3 == 0 ? 0 : 1 + rng() % 5000;
        }
        freq[rng() % count] = 1 + rng() % 5000;
        freq[rng() % count] = 1 + rng() % 5000;
        int maxCode = -1;
        std::vector<uint8_t> len = lengthsFor(freq, 15, &maxCode);
        uint64_t cost = 0;
        int highest = -1;
        uint8_t longest = 0;
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(len[i] != 0, freq[i] != 0) << "round " << round << " symbol " << i;
            cost += static_cast<uint64_t>(freq[i]) * len[i];
            if (len[i] != 0) {
                highest = i;
            }
            longest = std::max(longest, len[i]);
        }
        EXPECT_EQ(maxCode, highest);
        EXPECT_EQ(kraft(len), 32768u) << "round " << round;
        if (longest < 15) {  // the limit did not change the tree
            EXPECT_EQ(cost, optimalCost(freq)) << "round " << round;
        }
    }
}

}  // namespace
