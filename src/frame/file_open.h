// Every file the module opens by path is opened here. Only regular files are
// opened: a FIFO would make fopen wait for a writer (a check or load would
// hang the host), and a directory or a device is no model file. A path that
// names anything else answers as a file that cannot be opened does, at once.
#pragma once

#include <cstdio>

// `path` opened with the fopen `mode` when it names a regular file; else null.
FILE* FileOpenToRead(const char* path, const char* mode);
// `path` created or emptied with the fopen `mode` when it names nothing yet or
// a regular file; else null (nothing is written to, or later removed from, a
// FIFO, a directory or a device).
FILE* FileOpenToWrite(const char* path, const char* mode);
