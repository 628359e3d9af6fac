// Pieces shared by the builder steps: reading one element record of the scene
// into scratch, the corner order of a format, and the test that a point
// reference names a host point that was made.
#pragma once

#include <cstdint>

#include "frame/host_interface.h"
#include "scene/scene.h"

constexpr int32_t kBuildScratchEntries = 10000;  // references of one element the scratch holds

// OBJ and 3D Studio list face corners the other way round from the host.
inline bool BuildCornersReversed(uint8_t format) { return format == kFormatOBJ || format == kFormat3DS; }

// Reads the element record at the walker: its point references into `refs`
// (kBuildScratchEntries entries) and its surface number (low 16 bits). Answers
// the record's corner count; a count above kBuildScratchEntries means the
// record did not fit and only its first references were kept.
inline int32_t BuildReadElement(StreamWalker& walker, uint32_t* refs, uint32_t* surface) {
    int32_t n = 0;
    const uint32_t word = WalkerElement(walker, [&](uint32_t& ref) {
        if (n < kBuildScratchEntries) refs[n] = ref;
        ++n;
    });
    *surface = word & 0xFFFFu;
    return n;
}

// Reads the texture record at the walker into `refs` like BuildReadElement.
inline int32_t BuildReadTextureRefs(StreamWalker& walker, uint32_t* refs) {
    int32_t m = 0;
    WalkerIndices(walker, [&](uint32_t& ref) {
        if (m < kBuildScratchEntries) refs[m] = ref;
        ++m;
    });
    return m;
}

// True when `ref` names a host point that BuildPoints made.
inline bool BuildPointMade(const HostGeometry* geometry, uint32_t ref) {
    return geometry->points && ref < static_cast<uint32_t>(geometry->pointCount > 0 ? geometry->pointCount : 0);
}
