// Names of the OBJ reader: the sorted name index behind the group-name table
// and the surface table, the first-pass group counting and the group pick.
#include <cstring>

#include "formats/obj/obj_reader.h"
#include "scene/scene.h"

namespace {

// A token of a "g" line: the run of spaces at `space` and the name after it.
struct GroupToken {
    int32_t spaces;    // how many spaces the run holds: each of them stands for the name
    const char* name;  // first byte after the run
    int32_t length;    // bytes up to the next space or the end (0: only spaces followed)
};

GroupToken NextGroupToken(const char* space) {
    GroupToken token{0, space, 0};
    while (*token.name == ' ') {
        ++token.name;
        ++token.spaces;
    }
    while (token.name[token.length] != ' ' && token.name[token.length] != 0) ++token.length;
    return token;
}

// Copies a group token, cut to the group-name length, into `name`.
void CopyGroupName(const GroupToken& token, char* name) {
    const int32_t length = token.length < kObjGroupNameChars ? token.length : kObjGroupNameChars;
    std::memcpy(name, token.name, static_cast<size_t>(length));
    name[length] = 0;
}

// Counts `times` sightings of `name`; 0 when the table would need one name too many.
int32_t CountGroupName(NameIndex& groups, const char* name, int32_t times) {
    bool added = false;
    const int32_t slot = NameIndexFindOrAdd(groups, g_Scene.SurfaceSlotCount, kObjGroupNameLimit, name, &added);
    if (slot < 0) return 0;
    if (added) {
        g_Scene.GroupUseCount[slot] = 0;
        ++g_Scene.SurfaceSlotCount;
    }
    // A use count is a u16 and wraps: the 65536th sighting brings it back to 0.
    g_Scene.GroupUseCount[slot] = static_cast<uint16_t>(g_Scene.GroupUseCount[slot] + times);
    return 1;
}

// Where `name` stands, or would be filed, in the sorted order.
int32_t LowerBound(const NameIndex& index, int32_t count, const char* name) {
    int32_t low = 0;
    int32_t high = count;
    while (low < high) {
        const int32_t middle = low + (high - low) / 2;
        if (std::strcmp(index.slots + index.order[middle] * index.slotBytes, name) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

int32_t SlotAt(const NameIndex& index, int32_t count, int32_t position, const char* name) {
    if (position == count) return -1;
    const int32_t slot = index.order[position];
    return NamesEqual(index.slots + slot * index.slotBytes, name) ? slot : -1;
}

}  // namespace

int32_t NamesEqual(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

int32_t NameIndexFind(const NameIndex& index, int32_t count, const char* name) {
    return SlotAt(index, count, LowerBound(index, count, name), name);
}

int32_t NameIndexFindOrAdd(NameIndex& index, int32_t count, int32_t limit, const char* name, bool* added) {
    const int32_t position = LowerBound(index, count, name);
    const int32_t found = SlotAt(index, count, position, name);
    *added = found < 0 && count < limit;
    if (found >= 0 || !*added) return found;
    char* slot = index.slots + count * index.slotBytes;
    const size_t length = strnlen(name, static_cast<size_t>(index.slotBytes - 1));
    std::memcpy(slot, name, length);
    slot[length] = 0;
    std::memmove(index.order + position + 1, index.order + position,
                 static_cast<size_t>(count - position) * sizeof *index.order);
    index.order[position] = static_cast<uint16_t>(count);
    return count;
}

// Each space of the line stands for the name after it, so a name behind a run
// of k spaces is counted k times (and a trailing run counts the empty name).
int32_t ObjRegisterGroups(const char* groupLine, NameIndex& groups) {
    for (const char* space = std::strchr(groupLine, ' '); space;) {
        const GroupToken token = NextGroupToken(space);
        char name[kObjGroupNameBytes];
        CopyGroupName(token, name);
        if (!CountGroupName(groups, name, token.spaces)) return 0;
        space = std::strchr(token.name + token.length, ' ');
    }
    return 1;
}

// Every space of the line reads the name after it; a run of spaces repeats the
// same name (or, when only spaces follow, the previous one), which cannot
// change the pick, so each run is looked up once.
int32_t ObjPickGroup(const char* groupLine, char* pick, char* scratch, const NameIndex& groups) {
    scratch[0] = 0;
    bool first = true;
    uint16_t best = 0;
    for (const char* space = std::strchr(groupLine, ' '); space;) {
        const GroupToken token = NextGroupToken(space);
        if (token.length == 0 && !first) break;
        if (token.length > 0) CopyGroupName(token, scratch);
        const int32_t slot = NameIndexFind(groups, g_Scene.SurfaceSlotCount, scratch);
        if (slot < 0) return 0;
        if (first || g_Scene.GroupUseCount[slot] < best) {
            std::memcpy(pick, scratch, kObjGroupNameBytes);
            best = g_Scene.GroupUseCount[slot];
            first = false;
        }
        space = std::strchr(token.name + token.length, ' ');
    }
    return 1;
}
