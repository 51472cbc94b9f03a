#include "extractor/splash_picture.h"

#include <windows.h>

#include <cstdlib>

#include "cabinet/mszip/mszip_decompressor.h"
#include "extractor/res/resource.h"

namespace spillet {
namespace {

void* Allocate(uint32_t size) {
    return std::malloc(size);
}
void Release(void* block) {
    std::free(block);
}

// Where the picture is unpacked, once taken, for the rest of the program: one MSZIP block
// unpacks to at most kMszipDecompressWindow bytes, which hold the 240 x 166 splash easily.
// From the heap, since a static array would be stored in the program file as zeros.
uint8_t* g_picture = nullptr;

}  // namespace

const void* UnpackSplashPicture(void* module) {
    HMODULE m = module ? static_cast<HMODULE>(module) : GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(m, MAKEINTRESOURCEA(IDB_SPLASH), MAKEINTRESOURCEA(10));
    HGLOBAL loaded = found ? LoadResource(m, found) : nullptr;
    const void* packed = loaded ? LockResource(loaded) : nullptr;
    if (!packed) {
        return nullptr;
    }
    if (!g_picture) {
        g_picture = static_cast<uint8_t*>(std::malloc(kMszipDecompressWindow));
        if (!g_picture) {
            return nullptr;
        }
    }
    MszipDecompressor* decoder = nullptr;
    uint32_t largest = 0;
    if (mszipDecompressCreate(0, Allocate, Release, &decoder, &largest) != mszipDecompressOk) {
        return nullptr;
    }
    const DWORD size = SizeofResource(m, found);
    uint32_t produced = kMszipDecompressWindow;
    bool ok = size <= largest &&
              mszipDecompress(decoder, static_cast<const uint8_t*>(packed), size, g_picture,
                              &produced) == mszipDecompressOk &&
              produced >= sizeof(BITMAPINFOHEADER);
    mszipDecompressDestroy(decoder);
    if (!ok) {
        return nullptr;
    }
    // A picture cut short would be drawn from whatever lies behind it.
    const BITMAPINFOHEADER* h = reinterpret_cast<const BITMAPINFOHEADER*>(g_picture);
    const uint64_t colours =
        h->biClrUsed ? h->biClrUsed : (h->biBitCount <= 8 ? 1u << h->biBitCount : 0);
    const uint64_t needed = uint64_t(h->biSize) + colours * sizeof(RGBQUAD) + h->biSizeImage;
    return needed <= produced ? g_picture : nullptr;
}

}  // namespace spillet
