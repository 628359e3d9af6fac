#include "frame/file_open.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

enum class PathKind { kMissing, kRegular, kOther };

#if defined(_WIN32)
PathKind KindOf(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) ? PathKind::kOther : PathKind::kRegular;
}
#else
PathKind KindOf(const char* path) {
    struct stat status;
    if (stat(path, &status) != 0) return PathKind::kMissing;
    return S_ISREG(status.st_mode) ? PathKind::kRegular : PathKind::kOther;
}
#endif

}  // namespace

FILE* FileOpenToRead(const char* path, const char* mode) {
    return KindOf(path) == PathKind::kRegular ? std::fopen(path, mode) : nullptr;
}

FILE* FileOpenToWrite(const char* path, const char* mode) {
    return KindOf(path) == PathKind::kOther ? nullptr : std::fopen(path, mode);
}
