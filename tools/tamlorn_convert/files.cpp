// Inputs and outputs on disk: what the converter can see of a file before
// the module does, private folders, the standard streams, and the few facts
// of the machine the converter asks for.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <system_error>
#include <thread>

#include <csignal>

#if defined(_WIN32)
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#define unlink _unlink
#define rmdir _rmdir
constexpr int kStopSignals[] = {SIGINT, SIGTERM};
#else
#include <sys/ioctl.h>
#include <unistd.h>
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
#endif

#include "convert.h"

namespace convert {
namespace {

constexpr std::string_view kBinaryDxfSentinel = "AutoCAD Binary DXF";

Outcome Unreadable(const std::string& path, std::string reason) {
    return {kExitUnreadable, path, std::move(reason)};
}

bool CopyStream(std::FILE* from, std::FILE* to) {
    char buffer[1 << 16];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, from)) > 0) {
        if (std::fwrite(buffer, 1, count, to) != count) return false;
    }
    return !std::ferror(from);
}

}  // namespace

// Only regular files are handed on: a directory cannot be read as one, and a
// FIFO or device would block or never end.
Outcome InspectInput(const std::string& path, bool* binaryDxf) {
    *binaryDxf = false;
    std::error_code error;
    const auto status = fs::status(path, error);
    if (error || !fs::exists(status)) {
        return Unreadable(path, error && error != std::errc::no_such_file_or_directory ? error.message()
                                                                                        : "no such file");
    }
    if (fs::is_directory(status)) return Unreadable(path, "is a directory, not a file");
    if (!fs::is_regular_file(status)) return Unreadable(path, "not a regular file");
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return Unreadable(path, std::string("cannot be opened: ") + std::strerror(errno));
    std::array<char, kBinaryDxfSentinel.size()> head{};
    const size_t count = std::fread(head.data(), 1, head.size(), file);
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError) return Unreadable(path, "cannot be read");
    if (count == 0) return {kExitNotRecognised, path, "is empty, not a file of any of the three formats"};
    *binaryDxf = std::string_view(head.data(), count) == kBinaryDxfSentinel;
    return Outcome::Done();
}

bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    const fs::path first = fs::weakly_canonical(a, error);
    if (error) return false;
    const fs::path second = fs::weakly_canonical(b, error);
    return !error && first == second;
}

namespace {

// What an interruption removes: each private folder and the one file the
// converter is writing in it. The handler may only copy and unlink, so the
// paths are kept ready as absolute texts.
constexpr int kLeftovers = 4;
constexpr size_t kLeftoverPathBytes = 4096;

struct Leftover {
    char folder[kLeftoverPathBytes];
    char file[kLeftoverPathBytes];
    volatile std::sig_atomic_t used;
};
Leftover g_leftovers[kLeftovers];

extern "C" void RemoveLeftovers(int signal) {
    for (Leftover& leftover : g_leftovers) {
        if (!leftover.used) continue;
        if (leftover.file[0]) unlink(leftover.file);
        rmdir(leftover.folder);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// The absolute path as text into `to`; empty when it does not fit.
void KeepPath(char* to, const fs::path& path) {
    std::error_code error;
    const std::string text = fs::absolute(path, error).string();
    const bool fits = !error && text.size() < kLeftoverPathBytes;
    std::memcpy(to, fits ? text.c_str() : "", fits ? text.size() + 1 : 1);
}

int KeepLeftover(const fs::path& folder) {
    static const bool handled = [] {
        // A signal ignored from the start (nohup, a background job) stays ignored.
        for (const int signal : kStopSignals) {
            if (std::signal(signal, RemoveLeftovers) == SIG_IGN) std::signal(signal, SIG_IGN);
        }
        return true;
    }();
    (void)handled;
    for (int i = 0; i < kLeftovers; ++i) {
        if (g_leftovers[i].used) continue;
        KeepPath(g_leftovers[i].folder, folder);
        g_leftovers[i].file[0] = '\0';
        g_leftovers[i].used = 1;
        return i;
    }
    return -1;
}

}  // namespace

PrivateFolder::PrivateFolder(const fs::path& parent) {
    constexpr int kAttempts = 100;
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < kAttempts && path_.empty(); ++attempt) {
        const fs::path candidate = parent / (".tamlorn-convert-" + std::to_string(random() % 1000000000u));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate;
            fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace, error);
        } else if (error) {
            error_ = error.message();
            return;
        }
    }
    if (path_.empty()) error_ = "no unused folder name";
    else leftover_ = KeepLeftover(path_);
}

// The folder holds files alone: they go one by one, then the folder. (No
// recursive removal: under Wine, mingw-w64's listing of a folder whose path
// passes 260 characters lists the current folder, and fs::remove_all never ends.)
PrivateFolder::~PrivateFolder() {
    if (leftover_ >= 0) g_leftovers[leftover_].used = 0;
    if (path_.empty()) return;
    std::error_code listing, removal;
    for (fs::directory_iterator it(path_, listing), end; !listing && it != end; it.increment(listing)) {
        fs::remove(it->path(), removal);
    }
    fs::remove(path_, removal);
}

fs::path PrivateFolder::File(const std::string& name) const {
    const fs::path file = path_ / name;
    if (leftover_ >= 0) {
        g_leftovers[leftover_].file[0] = '\0';
        KeepPath(g_leftovers[leftover_].file, file);
    }
    return file;
}

WorkingFolder::WorkingFolder(const fs::path& folder) {
    std::error_code error;
    previous_ = fs::current_path(error);
    if (!error) fs::current_path(folder, error);
    entered_ = !error;
}

WorkingFolder::~WorkingFolder() {
    std::error_code error;
    if (entered_) fs::current_path(previous_, error);
}

void UseBinaryStandardStreams() {
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
}

bool CopyStandardInput(const fs::path& path, std::string* error) {
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (!file) {
        *error = "cannot be staged in " + path.parent_path().string();
        return false;
    }
    const bool copied = CopyStream(stdin, file);
    if (std::fclose(file) != 0 || !copied) {
        *error = "cannot be read to its end";
        return false;
    }
    return true;
}

bool CopyToStandardOutput(const fs::path& path, std::string* error) {
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    if (!file) {
        *error = "the written file cannot be read back";
        return false;
    }
    const bool copied = CopyStream(file, stdout);
    std::fclose(file);
    if (!copied || std::fflush(stdout) != 0) {
        *error = "cannot be written to standard output";
        return false;
    }
    return true;
}

#if defined(_WIN32)

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 80;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

uint64_t DefaultMemoryLimit() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys / 2 : uint64_t{1} << 30;
}

std::string ProgramPath(const char* argv0) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string(argv0);
}

#else

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

int TerminalColumns() {
    winsize size{};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

uint64_t DefaultMemoryLimit() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return uint64_t{1} << 30;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) / 2;
}

std::string ProgramPath(const char* argv0) {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string(argv0) : self.string();
}

#endif

int CoreCount() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int>(cores) : 1;
}

}  // namespace convert
