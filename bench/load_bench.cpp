// tamlorn-load-bench FILE: loads FILE through the module in the stand-in host,
// as the host does (the first import server whose check accepts the file, into
// a new object), and prints "points=P faces=F seconds=S" like the peer readers'
// benchmark programs. Only the load callback is timed; F counts the polygons
// of three or more corners. Exit status: 0 loaded, 1 refused, 2 usage or no module.
#include <chrono>
#include <cstdint>
#include <cstdio>
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

// Loads and reports; the module is loaded by the caller.
int Bench(const std::string& path) {
    const standin::Server* server = AcceptingImportServer(path);
    if (!server) {
        std::fprintf(stderr, "tamlorn-load-bench: no import server accepts %s\n", path.c_str());
        return 1;
    }
    HostObject* object = nullptr;
    const auto start = std::chrono::steady_clock::now();
    const int32_t loaded = standin::LoadFile(*server, &object, path, kLoadNewObject);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!loaded || !object) {
        std::fprintf(stderr, "tamlorn-load-bench: %s refused the load of %s\n", server->initName.c_str(), path.c_str());
        standin::DestroyObject(object);
        return 1;
    }
    std::printf("points=%d faces=%lld seconds=%.4f\n", object->geometry->pointCount,
                static_cast<long long>(FaceCount(*object->geometry)), seconds);
    standin::DestroyObject(object);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    std::string error;
    if (!standin::LoadModule(standin::DefaultModulePath(), &error)) {
        std::fprintf(stderr, "tamlorn-load-bench: %s\n", error.c_str());
        return 2;
    }
    standin::SetCallLogging(false);  // the log would record every host call of millions of polygons
    const int status = Bench(argv[1]);
    standin::UnloadModule();
    return status;
}
