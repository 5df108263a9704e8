// POSIX parts of the shared helpers.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "phonesim/common.h"

namespace phonesim {

bool AppendToFile(const fs::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
    return written == static_cast<ssize_t>(bytes.size());
}

std::optional<std::string> GetEnvNative(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

FilePtr OpenFile(const fs::path& path, const char* mode) { return FilePtr(std::fopen(path.c_str(), mode)); }

}  // namespace phonesim
