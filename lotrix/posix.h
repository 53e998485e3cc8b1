#pragma once
// What the POSIX files of the sampler share, for them alone.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "error.h"

namespace lotrix {

// Reads until `size` bytes or the end of the input; pread when `offset` is given.
Expected<std::size_t> ReadFully(int fd, const std::string& path, char* buffer, std::size_t size,
                                std::optional<std::uint64_t> offset);
// Writes all of `size` bytes, resuming after interruptions, with pwrite when `offset` is given:
// 0, or the system's error code.
int WriteFully(int fd, const char* data, std::size_t size,
               std::optional<std::uint64_t> offset = std::nullopt);

std::int64_t ModifiedNs(const struct stat& info);

// Where the symbolic link `path` leads, as a path from here (a relative target is taken from the
// link's folder); empty where `path` is no link, with `code` set where it could not be read.
std::optional<std::string> LinkTarget(const std::string& path, int& code);

}  // namespace lotrix
