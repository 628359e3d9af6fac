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

// The place of the k-th of n references of a record in host corner order.
inline int32_t BuildCornerSlot(int32_t k, int32_t n, bool reversed) { return reversed ? n - 1 - k : k; }

// Reads the element record at the walker: its point references into `refs`
// (kBuildScratchEntries entries), in host corner order, and its surface number
// (low 16 bits). Answers the record's corner count; a count above
// kBuildScratchEntries means the record did not fit and only some of its
// references were kept.
inline int32_t BuildReadElement(StreamWalker& walker, uint32_t* refs, uint32_t* surface, bool reversed) {
    const auto n = static_cast<int32_t>(WalkerCount(walker));
    int32_t k = 0;
    const uint32_t word = WalkerElement(walker, [&](uint32_t& ref) {
        const int32_t at = BuildCornerSlot(k++, n, reversed);
        if (at < kBuildScratchEntries) refs[at] = ref;
    });
    *surface = word & 0xFFFFu;
    return n;
}

// Reads the texture record at the walker, of a face of n corners: its first n
// references into `refs` in host corner order, and the corners it has no
// reference for get "none". *first is the record's first reference ("none"
// for an empty record).
inline void BuildReadTextureRefs(StreamWalker& walker, int32_t n, bool reversed, uint32_t* refs, uint32_t* first) {
    n = n < kBuildScratchEntries ? n : kBuildScratchEntries;
    int32_t m = 0;
    *first = kNoTexture;
    WalkerIndices(walker, [&](uint32_t& ref) {
        if (m == 0) *first = ref;
        if (m < n) refs[BuildCornerSlot(m, n, reversed)] = ref;
        ++m;
    });
    for (int32_t k = m; k < n; ++k) refs[BuildCornerSlot(k, n, reversed)] = kNoTexture;
}

// True when `ref` names a host point that BuildPoints made.
inline bool BuildPointMade(const HostGeometry* geometry, uint32_t ref) {
    return geometry->points && ref < static_cast<uint32_t>(geometry->pointCount > 0 ? geometry->pointCount : 0);
}
