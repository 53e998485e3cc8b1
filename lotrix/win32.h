#pragma once
// What the Windows files of the sampler share, for them alone.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "error.h"

namespace lotrix {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring Widen(const std::string& text);
inline HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
inline std::intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }
Error LastError(const std::string& path);

// Reads until `size` bytes or the end of the input: from `offset` when it is given (which moves
// the handle's own file pointer, so files are always read with one), else from the file pointer.
Expected<std::size_t> ReadFully(HANDLE file, const std::string& path, char* buffer,
                                std::size_t size, std::optional<std::uint64_t> offset);
// Writes all of `size` bytes, at `offset` when it is given: 0, or the system's error code.
DWORD WriteFully(HANDLE file, const char* data, std::size_t size,
                 std::optional<std::uint64_t> offset);

}  // namespace lotrix
