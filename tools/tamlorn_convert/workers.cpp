// Worker processes: each conversion of a batch runs in a converter process of
// its own (the module keeps one set of tables per process), started here and
// waited for by the batch.
#include <chrono>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#include <map>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;
#endif

#include "convert.h"

namespace convert {
namespace {

constexpr int kPollMilliseconds = 10;

}  // namespace

#if defined(_WIN32)

namespace {

// The running workers' process handles, by process id.
std::map<int64_t, HANDLE>& Running() {
    static std::map<int64_t, HANDLE> running;
    return running;
}

// One argument as the C runtime's command-line parser reads it back:
// quoted, with backslashes doubled where a quote follows them.
std::string Quoted(const std::string& argument) {
    std::string text = "\"";
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        text.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, '\\');
    return text + "\"";
}

}  // namespace

bool StartWorker(const std::string& program, const std::vector<std::string>& arguments, const fs::path& errorFile,
                 Worker* worker, std::string* error) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileW(errorFile.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string commandLine = Quoted(program);
    for (const std::string& argument : arguments) commandLine += " " + Quoted(argument);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    const bool started = output != INVALID_HANDLE_VALUE && input != INVALID_HANDLE_VALUE &&
                         CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    if (!started) {
        *error = "cannot start a worker (Windows error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    CloseHandle(process.hThread);
    worker->id = process.dwProcessId;
    Running()[worker->id] = process.hProcess;
    return true;
}

bool WaitForWorker(int milliseconds, Worker* ended, int* exitCode) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    do {
        for (auto it = Running().begin(); it != Running().end(); ++it) {
            if (WaitForSingleObject(it->second, 0) != WAIT_OBJECT_0) continue;
            DWORD code = 0;
            GetExitCodeProcess(it->second, &code);
            CloseHandle(it->second);
            ended->id = it->first;
            // An exception code (0xC0000005 and the like) means the worker crashed.
            *exitCode = code >= 0xC0000000u ? -1 : static_cast<int>(code);
            Running().erase(it);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds));
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

#else

bool StartWorker(const std::string& program, const std::vector<std::string>& arguments, const fs::path& errorFile,
                 Worker* worker, std::string* error) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        *error = std::string("cannot start a worker: ") + std::strerror(spawned);
        return false;
    }
    worker->id = pid;
    return true;
}

bool WaitForWorker(int milliseconds, Worker* ended, int* exitCode) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    do {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid > 0) {
            ended->id = pid;
            *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return true;
        }
        if (pid < 0 && errno != EINTR) return false;  // no worker left
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds));
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

#endif

}  // namespace convert
