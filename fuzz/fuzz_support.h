// What every fuzz target shares: the module loaded once per process through
// the stand-in host, the one in-memory file each input goes through, and the
// checks that stop the run on a broken rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "standin_host.h"

namespace fuzz {

// Loads the test flavour of the module (its heap can be counted), with the
// host's call log off. Aborts when the module cannot be loaded.
void LoadModuleOnce();

// The import (or export) server of `extension`; aborts when there is none.
const standin::Server& ServerFor(bool import, const char* extension);

// The bytes as the content of the one file of the process: an in-memory file
// (memfd), opened by path through /proc/self/fd. Returns that path.
const std::string& WriteInput(const uint8_t* data, size_t size);
const std::string& InputPath();

// Stops the run with `what` when `holds` is false.
void Require(bool holds, const std::string& what);

// Loads the file at `path` through `server` as a new object, as the host
// does: a load answers 0 with no object left, or 1 with a whole object
// (standin::ObjectProblem), which is then destroyed. No message may show.
// Returns the load's answer; `pointCount` receives the object's points.
int32_t LoadAndCheck(const standin::Server& server, const std::string& path, int32_t* pointCount = nullptr);

// No host block beyond `hostBlocks` and no module block is left.
void RequireNothingLeft(int64_t hostBlocks);

}  // namespace fuzz
