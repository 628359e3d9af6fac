// Peer reader of OBJ, 3D Studio and DXF for the benchmark: assimp (Debian
// libassimp-dev). Times Importer::ReadFile alone with no post-processing and
// prints "points=P faces=F seconds=S peak_rss_kb=K" (points as assimp stores
// them: one per face corner for OBJ).
#include <sys/resource.h>

#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    Assimp::Importer importer;
    const auto start = std::chrono::steady_clock::now();
    const aiScene* scene = importer.ReadFile(argv[1], 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!scene) {
        std::fprintf(stderr, "assimp: %s\n", importer.GetErrorString());
        return 1;
    }
    size_t points = 0, faces = 0;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
        points += scene->mMeshes[i]->mNumVertices;
        faces += scene->mMeshes[i]->mNumFaces;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("points=%zu faces=%zu seconds=%.4f peak_rss_kb=%ld\n", points, faces, seconds, usage.ru_maxrss);
    return 0;
}
