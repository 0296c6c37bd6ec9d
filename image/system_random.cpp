#include "image/system_random.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>
#elif defined(__linux__)
#include <sys/random.h>

#include <cerrno>
#elif defined(__APPLE__) || defined(__FreeBSD__) || defined(__OpenBSD__) || defined(__NetBSD__)
#include <stdlib.h>
#else
#include <cstdio>
#endif

#include <limits>

namespace kelvane {

bool systemRandomBytes(void* buffer, std::size_t size) {
    auto* out = static_cast<unsigned char*>(buffer);
#if defined(_WIN32)
    while (size > 0) {
        const ULONG chunk = size > 0x10000 ? 0x10000 : static_cast<ULONG>(size);
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
        out += chunk;
        size -= chunk;
    }
    return true;
#elif defined(__linux__)
    // Short reads happen for large requests and on signals; a kernel without
    // the call (ENOSYS) or any other error is a failure, not a silent fallback.
    while (size > 0) {
        const ssize_t got = ::getrandom(out, size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
#elif defined(__APPLE__) || defined(__FreeBSD__) || defined(__OpenBSD__) || defined(__NetBSD__)
    ::arc4random_buf(out, size);
    return true;
#else
    std::FILE* f = std::fopen("/dev/urandom", "rb");
    if (!f) return false;
    const bool ok = std::fread(out, 1, size, f) == size;
    std::fclose(f);
    return ok;
#endif
}

std::optional<std::uint32_t> systemRandomBelow(std::uint32_t bound) {
    if (bound == 0) return std::nullopt;
    // Draws at or above the largest multiple of `bound` are thrown away, so
    // every value below `bound` is equally likely.
    const std::uint32_t limit =
        std::numeric_limits<std::uint32_t>::max() - std::numeric_limits<std::uint32_t>::max() % bound;
    for (;;) {
        std::uint32_t value = 0;
        if (!systemRandomBytes(&value, sizeof value)) return std::nullopt;
        if (value < limit) return value % bound;
    }
}

}  // namespace kelvane
