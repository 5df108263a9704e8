#include "device/afc_file.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <new>

namespace {

// Decimal reading as atoi does it (leading blanks, a sign, digits up to the first non-digit),
// but without overflow: out-of-range values report false.
bool ParseDecimal(const char* text, int64_t* out) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    bool negative = *text == '-';
    if (*text == '+' || *text == '-') ++text;
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > INT32_MAX) return false;
    }
    *out = negative ? -value : value;
    return true;
}

}  // namespace

int32_t GetAfcFileSize(AFCConnectionRef connection, const char* path) {
    AFCFileInfoRef info = nullptr;
    if (MobileDevice.AFCFileInfoOpen(connection, path, &info) != 0 || !info) return 0;
    int32_t size = 0;
    char* key = nullptr;
    char* value = nullptr;
    // Every pair is read, not only up to "st_size".
    for (int result = MobileDevice.AFCKeyValueRead(info, &key, &value); result == 0 && key && value;
         result = MobileDevice.AFCKeyValueRead(info, &key, &value)) {
        if (std::strcmp(key, "st_size") == 0) {
            int64_t parsed = 0;
            size = ParseDecimal(value, &parsed) && parsed >= 0 ? static_cast<int32_t>(parsed) : -1;
        }
        key = nullptr;
        value = nullptr;
    }
    MobileDevice.AFCKeyValueClose(info);
    return size;
}

uint32_t ReadAfcFile(AFCConnectionRef connection, const char* path, std::unique_ptr<uint8_t[]>& buffer) {
    int32_t size = GetAfcFileSize(connection, path);
    // A size of 2 GiB or more cannot be held whole, so the file is treated as unreadable.
    if (size < 0 || size == INT32_MAX) return 0;
    uint32_t n = static_cast<uint32_t>(size) + 1;
    AFCFileRef file = 0;
    if (MobileDevice.AFCFileRefOpen(connection, path, AFC_MODE_READ_WRITE, &file) != 0) return 0;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[n]());
    if (!bytes) {
        MobileDevice.AFCFileRefClose(connection, file);
        buffer.reset();
        return 0;
    }
    MobileDevice.AFCFileRefRead(connection, file, bytes.get(), &n);
    MobileDevice.AFCFileRefClose(connection, file);
    if (n > static_cast<uint32_t>(size) + 1) n = static_cast<uint32_t>(size) + 1;  // never trust more than asked
    buffer = n ? std::move(bytes) : nullptr;
    return n;
}

int WriteAfcFile(AFCConnectionRef connection, const char* path, const void* data, uint32_t length) {
    if (!path) return 1;
    AFCFileRef file = 0;
    if (MobileDevice.AFCFileRefOpen(connection, path, AFC_MODE_WRITE_CREATE, &file) != 0) return 1;
    if (data && length) MobileDevice.AFCFileRefWrite(connection, file, data, length);
    MobileDevice.AFCFileRefClose(connection, file);
    return 0;
}

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

void EnsureAfcDirectory(AFCConnectionRef connection, const char* path) {
    AFCDirectoryRef dir = nullptr;
    if (MobileDevice.AFCDirectoryOpen(connection, path, &dir) != 0) MobileDevice.AFCDirectoryCreate(connection, path);
    else MobileDevice.AFCDirectoryClose(connection, dir);
}

void RemoveAfcPaths(AFCConnectionRef connection, std::initializer_list<const char*> paths) {
    for (const char* path : paths) MobileDevice.AFCRemovePath(connection, path);
}

bool JoinAfcPath(char* out, size_t capacity, const char* directory, const char* name) {
    size_t dirLength = std::strlen(directory);
    size_t nameLength = std::strlen(name);
    if (capacity == 0 || dirLength + nameLength + 1 > capacity) return false;
    std::memcpy(out, directory, dirLength);
    std::memcpy(out + dirLength, name, nameLength + 1);
    return true;
}
