// tamlorn-load-bench [--read | --save OUTPUT] FILE: loads FILE through the module in the
// stand-in host, as the host does (the first import server whose check accepts
// the file), and prints "points=P faces=F seconds=S object_bytes=B
// peak_rss_kb=K" like the peer readers' benchmark programs. Only the load
// callback is timed; F counts the polygons of three or more corners and B the
// bytes of the host blocks the object holds.
//
// A whole load makes a new object; --read times the read stage alone: a load
// whose flags ask for no object, which reads and validates the whole file and
// builds nothing (P, F and B are then 0). --save OUTPUT times instead the save
// of the loaded object through the export server of OUTPUT's extension, and
// adds "out_bytes=N", the size of what it wrote.
//
// Exit status: 0 loaded, 1 refused, 2 usage or no module.
#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "standin_host.h"

namespace {

const standin::Server* AcceptingImportServer(const std::string& path) {
    for (const standin::Server& server : standin::Servers())
        if (server.isImport && standin::CheckFile(server, path)) return &server;
    return nullptr;
}

int64_t FaceCount(const HostGeometry& geometry) {
    int64_t faces = 0;
    for (int32_t i = 0; i < geometry.polygonCount; ++i) faces += geometry.polygons[i]->cornerCount >= 3;
    return faces;
}

#if defined(_WIN32)
long PeakRssKb() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}
#else
long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
#endif

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Saves the loaded object as `output`; the save's seconds, or a negative value when it failed.
double TimedSave(HostObject* object, const std::string& output) {
    const std::string extension = std::filesystem::path(output).extension().string();
    const standin::Server* server = standin::FindServer(false, extension.empty() ? "" : extension.substr(1));
    if (!server) return -1.0;
    const auto start = std::chrono::steady_clock::now();
    const int32_t saved = standin::SaveObject(*server, object, output);
    const double seconds = SecondsSince(start);
    return saved ? seconds : -1.0;
}

// Loads (and saves) and reports; the module is loaded by the caller.
int Bench(const std::string& path, bool readOnly, const std::string& output) {
    const standin::Server* server = AcceptingImportServer(path);
    if (!server) {
        std::fprintf(stderr, "tamlorn-load-bench: no import server accepts %s\n", path.c_str());
        return 1;
    }
    HostObject* object = nullptr;
    const auto start = std::chrono::steady_clock::now();
    const int32_t loaded = standin::LoadFile(*server, &object, path, readOnly ? 0 : kLoadNewObject);
    double seconds = SecondsSince(start);
    if (!loaded || (!readOnly && !object)) {
        std::fprintf(stderr, "tamlorn-load-bench: %s refused the load of %s\n", server->initName.c_str(), path.c_str());
        standin::DestroyObject(object);
        return 1;
    }
    if (!output.empty() && (seconds = TimedSave(object, output)) < 0) {
        std::fprintf(stderr, "tamlorn-load-bench: the save of %s as %s failed\n", path.c_str(), output.c_str());
        standin::DestroyObject(object);
        return 1;
    }
    const HostGeometry* geometry = object ? object->geometry : nullptr;
    std::printf("points=%d faces=%lld seconds=%.4f object_bytes=%lld peak_rss_kb=%ld",
                geometry ? geometry->pointCount : 0, static_cast<long long>(geometry ? FaceCount(*geometry) : 0),
                seconds, static_cast<long long>(standin::ObjectBytes(object)), PeakRssKb());
    if (!output.empty()) {
        std::error_code error;
        std::printf(" out_bytes=%lld", static_cast<long long>(std::filesystem::file_size(output, error)));
    }
    std::printf("\n");
    standin::DestroyObject(object);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool readOnly = argc == 3 && std::strcmp(argv[1], "--read") == 0;
    const bool save = argc == 4 && std::strcmp(argv[1], "--save") == 0;
    if (argc != 2 && !readOnly && !save) {
        std::fprintf(stderr, "usage: %s [--read | --save OUTPUT] FILE\n", argv[0]);
        return 2;
    }
    std::string error;
    if (!standin::LoadModule(standin::DefaultModulePath(), &error)) {
        std::fprintf(stderr, "tamlorn-load-bench: %s\n", error.c_str());
        return 2;
    }
    standin::SetCallLogging(false);  // the log would record every host call of millions of polygons
    const int status = Bench(argv[argc - 1], readOnly, save ? argv[2] : "");
    standin::UnloadModule();
    return status;
}
