#include "frame/file_open.h"

#if defined(_WIN32)
#include <windows.h>

#include <cstring>
#else
#include <sys/stat.h>
#endif

namespace {

enum class PathKind { kMissing, kRegular, kOther };

#if defined(_WIN32)
// A device (NUL, CON, COM1) answers GetFileAttributes as a file does: only the
// type of a handle to it, opened for no access, tells a disk file. Paths in
// the device namespace (\\.\pipe\NAME and the like) are never opened.
PathKind KindOf(const char* path) {
    if (std::strncmp(path, "\\\\.\\", 4) == 0) return PathKind::kOther;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return PathKind::kOther;
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return PathKind::kOther;
    const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
    CloseHandle(handle);
    return disk ? PathKind::kRegular : PathKind::kOther;
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
