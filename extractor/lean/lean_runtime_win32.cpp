// The few pieces of the C++ runtime that the windowed extractor links in its own, small form.
// Every packaged page carries this program, and the library's versions of these throw, which
// brings the exception machinery, the unwinder and the verbose terminate handler along. The
// extractor is built without exceptions: where the library would throw (memory exhausted, a
// string grown past its maximum) nobody could catch it, so the program ends at once, as an
// uncaught exception would have ended it.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

#include <bits/functexcept.h>

// ---- allocation ----------------------------------------------------------------------------

void* operator new(std::size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block) {
        std::abort();
    }
    return block;
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

// ---- the library's throw helpers -----------------------------------------------------------
// The whole set that one object of the library defines: defining all of them keeps that object
// (and everything it throws) out of the link whichever of them the extractor's code calls.

namespace std {
void __throw_bad_exception() {
    std::abort();
}
void __throw_bad_alloc() {
    std::abort();
}
void __throw_bad_array_new_length() {
    std::abort();
}
void __throw_bad_cast() {
    std::abort();
}
void __throw_bad_typeid() {
    std::abort();
}
void __throw_logic_error(const char*) {
    std::abort();
}
void __throw_domain_error(const char*) {
    std::abort();
}
void __throw_invalid_argument(const char*) {
    std::abort();
}
void __throw_length_error(const char*) {
    std::abort();
}
void __throw_out_of_range(const char*) {
    std::abort();
}
void __throw_out_of_range_fmt(const char*, ...) {
    std::abort();
}
void __throw_runtime_error(const char*) {
    std::abort();
}
void __throw_range_error(const char*) {
    std::abort();
}
void __throw_overflow_error(const char*) {
    std::abort();
}
void __throw_underflow_error(const char*) {
    std::abort();
}
}  // namespace std

// ---- formatting ----------------------------------------------------------------------------
// The C++ library makes every printf-family call go to MinGW's own formatter, which carries a
// floating-point converter the extractor never uses (about 26 KB). The extractor formats only
// %s, %d, %ld and %04d, which the system's C runtime formats alike; MinGW's __ms_vsnprintf
// gives it the standard return value (the full length, also when the buffer is too small).
extern "C" int __cdecl __ms_vsnprintf(char* buffer, size_t size, const char* format, va_list args);

extern "C" int __cdecl __mingw_vsnprintf(char* buffer, size_t size, const char* format,
                                         va_list args) {
    return __ms_vsnprintf(buffer, size, format, args);
}
