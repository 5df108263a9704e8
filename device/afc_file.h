// Whole-file AFC operations and the listing, create and remove patterns of every phone exchange.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "device/apple_api.h"
#include "device/apple_bindings.h"

enum : uint64_t { AFC_MODE_READ = 1, AFC_MODE_READ_WRITE = 2, AFC_MODE_WRITE_CREATE = 3 };

// Size from the file information, 0 when it cannot be read or has no "st_size". A size that does
// not fit a signed 32-bit number, or is negative, gives -1: such a file is never read whole.
int32_t GetAfcFileSize(AFCConnectionRef connection, const char* path);

// Reads the whole file with one request of its size plus one byte into a zero-filled buffer.
// Returns the bytes read; 0 leaves `buffer` empty, or untouched when the file cannot be opened.
uint32_t ReadAfcFile(AFCConnectionRef connection, const char* path, std::unique_ptr<uint8_t[]>& buffer);

// Creates or replaces the file; 0 when it was opened (and written when there were bytes),
// 1 when the path is none or the file cannot be opened.
int WriteAfcFile(AFCConnectionRef connection, const char* path, const void* data, uint32_t length);

// "." and "..", which the phone lists like any other entry.
bool IsDotEntry(const char* name);

// Calls onName for every entry name, "." and ".." included. False when the directory cannot be
// opened (there is then nothing to close).
template <typename OnName>
bool ListAfcDirectory(AFCConnectionRef connection, const char* path, OnName&& onName) {
    AFCDirectoryRef dir = nullptr;
    if (MobileDevice.AFCDirectoryOpen(connection, path, &dir) != 0) return false;
    for (;;) {
        char* name = nullptr;
        MobileDevice.AFCDirectoryRead(connection, dir, &name);
        if (!name) break;
        onName(static_cast<const char*>(name));
    }
    MobileDevice.AFCDirectoryClose(connection, dir);
    return true;
}

// A directory that cannot be opened is taken to be missing and is created.
void EnsureAfcDirectory(AFCConnectionRef connection, const char* path);

// One remove per path, in order; results are not examined.
void RemoveAfcPaths(AFCConnectionRef connection, std::initializer_list<const char*> paths);

// Directory path (ending in "/") followed by an entry name, or false when the result would not
// fit `capacity` bytes with its terminator: such a name is skipped by its caller.
bool JoinAfcPath(char* out, size_t capacity, const char* directory, const char* name);
