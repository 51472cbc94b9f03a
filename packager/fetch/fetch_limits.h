// Bounds of one fetch, so that a hostile or broken server costs a bounded
// amount of memory and disk: a page is held whole in memory while it is
// rewritten, a download streams to disk, and redirects are followed only so far.
#pragma once

#include <cstdint>

struct FetchLimits {
    uint64_t nMaxPageBytes;      // a page text larger than this fails the fetch
    uint64_t nMaxDownloadBytes;  // a download larger than this fails and leaves no file
    int nMaxRedirects;           // redirects followed before the request fails
};

// Defaults: 64 MiB pages, 1 GiB downloads, 20 redirects.
FetchLimits GetFetchLimits();
// Process-wide; tests lower the bounds.
void SetFetchLimits(const FetchLimits& limits);
