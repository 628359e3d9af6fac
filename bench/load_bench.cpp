// tamlorn-load-bench [--read] FILE: loads FILE through the module in the
// stand-in host, as the host does (the first import server whose check accepts
// the file), and prints "points=P faces=F seconds=S object_bytes=B
// peak_rss_kb=K" like the peer readers' benchmark programs. Only the load
// callback is timed; F counts the polygons of three or more corners and B the
// bytes of the host blocks the object holds.
//
// A whole load makes a new object; --read times the read stage alone: a load
// whose flags ask for no object, which reads and validates the whole file and
// builds nothing (P, F and B are then 0).
//
// Exit status: 0 loaded, 1 refused, 2 usage or no module.
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Loads and reports; the module is loaded by the caller.
int Bench(const std::string& path, bool readOnly) {
    const standin::Server* server = AcceptingImportServer(path);
    if (!server) {
        std::fprintf(stderr, "tamlorn-load-bench: no import server accepts %s\n", path.c_str());
        return 1;
    }
    HostObject* object = nullptr;
    const auto start = std::chrono::steady_clock::now();
    const int32_t loaded = standin::LoadFile(*server, &object, path, readOnly ? 0 : kLoadNewObject);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!loaded || (!readOnly && !object)) {
        std::fprintf(stderr, "tamlorn-load-bench: %s refused the load of %s\n", server->initName.c_str(), path.c_str());
        standin::DestroyObject(object);
        return 1;
    }
    const HostGeometry* geometry = object ? object->geometry : nullptr;
    std::printf("points=%d faces=%lld seconds=%.4f object_bytes=%lld peak_rss_kb=%ld\n",
                geometry ? geometry->pointCount : 0, static_cast<long long>(geometry ? FaceCount(*geometry) : 0),
                seconds, static_cast<long long>(standin::ObjectBytes(object)), PeakRssKb());
    standin::DestroyObject(object);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool readOnly = argc == 3 && std::strcmp(argv[1], "--read") == 0;
    if (argc != 2 && !readOnly) {
        std::fprintf(stderr, "usage: %s [--read] FILE\n", argv[0]);
        return 2;
    }
    std::string error;
    if (!standin::LoadModule(standin::DefaultModulePath(), &error)) {
        std::fprintf(stderr, "tamlorn-load-bench: %s\n", error.c_str());
        return 2;
    }
    standin::SetCallLogging(false);  // the log would record every host call of millions of polygons
    const int status = Bench(argv[argc - 1], readOnly);
    standin::UnloadModule();
    return status;
}
