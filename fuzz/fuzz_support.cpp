#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "standin_check.h"

namespace fuzz {
namespace {

struct InputFile {
    int fd = -1;
    std::string path;
};

InputFile& TheInputFile() {
    static InputFile file = [] {
        InputFile made;
        made.fd = memfd_create("tamlorn-fuzz-input", 0);
        Require(made.fd >= 0, "no in-memory file (memfd_create)");
        made.path = "/proc/self/fd/" + std::to_string(made.fd);
        return made;
    }();
    return file;
}

}  // namespace

void Require(bool holds, const std::string& what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
}

void LoadModuleOnce() {
    static const bool loaded = [] {
        standin::SetCallLogging(false);
        std::string error;
        Require(standin::LoadModule(TAMLORN_TESTHOOKS_MODULE_PATH, &error), error);
        return true;
    }();
    (void)loaded;
}

const standin::Server& ServerFor(bool import, const char* extension) {
    const standin::Server* server = standin::FindServer(import, extension);
    Require(server != nullptr, std::string("no server for ") + extension);
    return *server;
}

const std::string& InputPath() { return TheInputFile().path; }

const std::string& WriteInput(const uint8_t* data, size_t size) {
    const InputFile& file = TheInputFile();
    Require(ftruncate(file.fd, 0) == 0, "cannot empty the input file");
    size_t written = 0;
    while (written < size) {
        const ssize_t n = pwrite(file.fd, data + written, size - written, static_cast<off_t>(written));
        Require(n > 0, "cannot write the input file");
        written += static_cast<size_t>(n);
    }
    return file.path;
}

int32_t LoadAndCheck(const standin::Server& server, const std::string& path, int32_t* pointCount) {
    HostObject* object = nullptr;
    const int32_t result = standin::LoadFile(server, &object, path, kLoadNewObject);
    Require(result == 0 || result == 1, "a load answered " + std::to_string(result));
    Require(standin::Messages().empty(), "a load showed a message: " +
                                             (standin::Messages().empty() ? "" : standin::Messages()[0].first));
    if (result == 0) {
        Require(object == nullptr, "a refused load left an object");
    } else {
        Require(object != nullptr, "a load answered 1 without an object");
        const std::string problem = standin::ObjectProblem(*object);
        Require(problem.empty(), "loaded object: " + problem);
        if (pointCount) *pointCount = object->geometry->pointCount;
    }
    standin::DestroyObject(object);
    return result;
}

void RequireNothingLeft(int64_t hostBlocks) {
    Require(standin::LiveBlocks() == hostBlocks,
            "host blocks left: " + std::to_string(standin::LiveBlocks() - hostBlocks));
    Require(standin::ModuleHeapLiveBlocks() == 0,
            "module blocks left: " + std::to_string(standin::ModuleHeapLiveBlocks()));
}

}  // namespace fuzz
