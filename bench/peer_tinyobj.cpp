// Peer OBJ reader for the benchmark: tinyobjloader (Debian libtinyobjloader-dev).
// Times ParseFromFile alone, without triangulation or vertex colours, and
// prints "points=P faces=F seconds=S peak_rss_kb=K".
#include <sys/resource.h>
#include <tiny_obj_loader.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.obj\n", argv[0]);
        return 2;
    }
    tinyobj::ObjReaderConfig config;
    config.triangulate = false;
    config.vertex_color = false;
    tinyobj::ObjReader reader;
    const auto start = std::chrono::steady_clock::now();
    const bool parsed = reader.ParseFromFile(argv[1], config);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!parsed) {
        std::fprintf(stderr, "tinyobjloader: %s\n", reader.Error().c_str());
        return 1;
    }
    size_t faces = 0;
    for (const tinyobj::shape_t& shape : reader.GetShapes()) faces += shape.mesh.num_face_vertices.size();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("points=%zu faces=%zu seconds=%.4f peak_rss_kb=%ld\n", reader.GetAttrib().vertices.size() / 3, faces,
                seconds, usage.ru_maxrss);
    return 0;
}
