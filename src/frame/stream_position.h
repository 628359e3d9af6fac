// Positions in a C stream as 64-bit byte offsets on every platform: the
// standard fseek and ftell take a long, which holds 32 bits on Windows.
#pragma once

#include <cstdint>
#include <cstdio>

// 0 on success, as fseek answers.
inline int StreamSeek(FILE* file, int64_t offset, int origin) {
#if defined(_WIN32)
    return _fseeki64(file, offset, origin);
#else
    return fseeko(file, static_cast<off_t>(offset), origin);
#endif
}

// The position, or -1 when it cannot be told.
inline int64_t StreamTell(FILE* file) {
#if defined(_WIN32)
    return _ftelli64(file);
#else
    return ftello(file);
#endif
}
