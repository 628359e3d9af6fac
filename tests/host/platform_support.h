// What the host-level tests need from the operating system, one small function
// per need: text-mode line ends, the null device, the environment, the
// process id, paths as the host writes them, running a program with its
// output in files, and the names a library exports.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;
#endif

namespace host_support {

namespace fs = std::filesystem;

// The programs the build makes, as a path to run.
inline std::string BuiltProgram(const std::string& name) { return TAMLORN_BIN_DIR "/" + name + TAMLORN_EXE_SUFFIX; }

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct RunResult {
    int exitCode = -1;  // -1: did not exit normally
    std::string out;
    std::string err;
};

#if defined(_WIN32)

// A text as a text-mode stream writes it: LF becomes CR LF.
inline std::string TextAsWritten(const std::string& text) {
    std::string written;
    for (const char c : text) written += c == '\n' ? "\r\n" : std::string(1, c);
    return written;
}

inline const fs::path kNullDevice = "NUL";
// Windows programs reach no path past 260 characters unless they declare that they can.
constexpr bool kLongPaths = false;

// Sets (or with an empty value removes) a variable of the environment programs started from here inherit.
inline void SetEnvironment(const std::string& name, const std::string& value) {
    _putenv_s(name.c_str(), value.c_str());
}

inline unsigned long ProcessId() { return GetCurrentProcessId(); }

// `file` in `dir` named as the host names files: drive letter and backslashes.
inline std::string HostStylePath(const fs::path& dir, const std::string& file) {
    return fs::absolute(dir / file).make_preferred().string();
}

// `file` named by its drive and no folder: the file in the drive's current
// folder, `dir` when that is current.
inline std::string DriveRelativePath(const fs::path& dir, const std::string& file) {
    return fs::absolute(dir).root_name().string() + file;
}

// One argument as the C runtime's command-line parser reads it back.
inline std::string QuotedArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

inline HANDLE InheritableFile(const fs::path& path, DWORD access, DWORD creation) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Runs argv[0] (looked up on PATH when it has no folder) with the file `input`
// as its standard input (none by default); its output and error text go
// through files in `dir`. A crash shows as its exception code.
inline RunResult RunProgram(const std::vector<std::string>& argv, const fs::path& dir,
                            const fs::path& input = kNullDevice) {
    const fs::path outPath = dir / "run.out", errPath = dir / "run.err";
    std::string commandLine;
    for (const std::string& arg : argv) commandLine += (commandLine.empty() ? "" : " ") + QuotedArgument(arg);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = InheritableFile(input, GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = InheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = InheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) CloseHandle(handle);
    RunResult result;
    if (!started) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": system error " << GetLastError();
        return result;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) result.exitCode = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

// The names in the library's export directory, read from the loaded image.
inline std::set<std::string> ExportedNames(const std::string& library, const fs::path&) {
    std::set<std::string> names;
    const HMODULE module = LoadLibraryA(library.c_str());
    if (!module) {
        ADD_FAILURE() << "cannot load " << library << ": system error " << GetLastError();
        return names;
    }
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.Size != 0) {
        const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
        const auto* nameOffsets = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
        for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.insert(reinterpret_cast<const char*>(base + nameOffsets[i]));
    }
    FreeLibrary(module);
    return names;
}

#else

// A text as a text-mode stream writes it: as it is.
inline std::string TextAsWritten(const std::string& text) { return text; }

inline const fs::path kNullDevice = "/dev/null";
constexpr bool kLongPaths = true;

// Sets (or with an empty value removes) a variable of the environment programs started from here inherit.
inline void SetEnvironment(const std::string& name, const std::string& value) {
    if (value.empty()) {
        unsetenv(name.c_str());
    } else {
        setenv(name.c_str(), value.c_str(), 1);
    }
}

inline pid_t ProcessId() { return getpid(); }

// `file` named as the host names files: drive letter and backslashes. Here
// that is one file name of its own, in the current folder.
inline std::string HostStylePath(const fs::path&, const std::string& file) { return "C:\\models\\" + file; }

// `file` named by a drive and no folder. Here that is a file name of its own
// whose second character is a colon, in the current folder.
inline std::string DriveRelativePath(const fs::path&, const std::string& file) { return "a:" + file; }

// Runs argv[0] (looked up on PATH when it has no slash) with the file `input`
// as its standard input (none by default); its output and error text go
// through files in `dir`.
inline RunResult RunProgram(const std::vector<std::string>& argv, const fs::path& dir,
                            const fs::path& input = kNullDevice) {
    const fs::path outPath = dir / "run.out", errPath = dir / "run.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    RunResult result;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawned);
        return result;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

// The names a library exports, as its dynamic symbol table lists them.
inline std::set<std::string> ExportedNames(const std::string& library, const fs::path& dir) {
    const RunResult nm = RunProgram({"nm", "-D", "--defined-only", library}, dir);
    EXPECT_EQ(nm.exitCode, 0) << nm.err;
    std::set<std::string> names;
    std::istringstream lines(nm.out);
    for (std::string line; std::getline(lines, line);) names.insert(line.substr(line.rfind(' ') + 1));
    return names;
}

#endif

// An environment variable set for the lifetime of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::string& value) : name_(std::move(name)) {
        SetEnvironment(name_, value);
    }
    ~ScopedEnvironment() { SetEnvironment(name_, ""); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
};

}  // namespace host_support
