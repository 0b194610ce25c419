// The few operating-system services the picture choice needs. The viewer uses
// the Win32 implementation; Linux builds use a POSIX stand-in that behaves the
// same way where the chooser can tell (patterns match without regard to case).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kAttrDirectory = 0x10;  // FILE_ATTRIBUTE_DIRECTORY

// Looks `path` up as typed (wildcards allowed in its last part). Returns 1 and
// the first match's attributes, or 0 when nothing matches.
int PlatformLookUp(const char* path, uint32_t* attributes);

// Calls `visit` for each entry of the current directory that matches
// `pattern` ("*.vld"), in the order the platform lists them. `visit` returns
// 0 to stop the listing early.
using DirectoryVisitor = int (*)(const char* name, uint32_t attributes, void* context);
void PlatformListDirectory(const char* pattern, DirectoryVisitor visit, void* context);

// Current directory and full-path resolution into kPathSize-byte buffers; each
// returns 1 on success and 0 on failure (including a result that does not fit).
int PlatformGetCurrentDirectory(char* buffer);
int PlatformSetCurrentDirectory(const char* path);
int PlatformFullPath(const char* name, char* buffer);

// Whole seconds since 1970-01-01 UTC, and milliseconds since the system started.
uint32_t PlatformClockSeconds();
uint32_t PlatformMilliseconds();

// Reads the whole of the regular file `name` into memory of its own, which
// the caller releases with std::free. Returns 1, or 0 for a file that cannot
// be opened, is no regular file (a FIFO would block the viewer for ever), is
// `limit` bytes or larger, or changes size while it is read.
int PlatformReadFile(const char* name, uint64_t limit, uint8_t** data, size_t* size);
