/* Peer 3D Studio reader for the benchmark: lib3ds 1.3 (Debian lib3ds-dev).
   Times lib3ds_file_load alone and prints "points=P faces=F seconds=S peak_rss_kb=K". */
#include <lib3ds/file.h>
#include <lib3ds/mesh.h>
#include <stdio.h>
#include <sys/resource.h>
#include <time.h>

static double Now(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE.3ds\n", argv[0]);
        return 2;
    }
    const double start = Now();
    Lib3dsFile* file = lib3ds_file_load(argv[1]);
    const double seconds = Now() - start;
    if (!file) {
        fprintf(stderr, "lib3ds: cannot load %s\n", argv[1]);
        return 1;
    }
    unsigned long points = 0, faces = 0;
    for (Lib3dsMesh* mesh = file->meshes; mesh; mesh = mesh->next) {
        points += mesh->points;
        faces += mesh->faces;
    }
    struct rusage usage = {0};
    getrusage(RUSAGE_SELF, &usage);
    printf("points=%lu faces=%lu seconds=%.4f peak_rss_kb=%ld\n", points, faces, seconds, usage.ru_maxrss);
    lib3ds_file_free(file);
    return 0;
}
