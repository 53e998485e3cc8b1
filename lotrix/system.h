#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "error.h"

namespace lotrix {

// Paths travel as UTF-8 on Windows and as the file system's own bytes elsewhere.
std::filesystem::path PathOf(const std::string& text);
std::string TextOf(const std::filesystem::path& path);
// The folder a path names its file in; "." for a bare name.
std::string FolderOf(const std::string& path);

// A file that no one else sees and that goes when it is closed, however the program ends: where
// what does not fit in memory waits. It lives in TMPDIR (on Windows, the user's temporary
// folder).
class TemporaryFile {
 public:
  static Expected<TemporaryFile> Create();
  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  ~TemporaryFile();

  std::uint64_t Size() const { return size_; }
  // Adds `size` bytes at the end.
  std::optional<Error> Append(const char* data, std::size_t size);
  // Writes over `size` bytes from `offset`, all of which it holds.
  std::optional<Error> WriteAt(std::uint64_t offset, const char* data, std::size_t size);
  // Fills `buffer` from `offset`; less only at the end.
  Expected<std::size_t> ReadAt(std::uint64_t offset, char* buffer, std::size_t size);
  // The system's handle (a descriptor, or a Windows handle), for copying it elsewhere.
  std::intptr_t Handle() const { return handle_; }
  // Makes the file that `handle` writes hold what this one holds, from its start, and nothing
  // after; `name` names it in errors. Room for the content is claimed before any byte is
  // written, so that a full disk leaves that file as it was.
  std::optional<Error> CopyInto(std::intptr_t handle, const std::string& name);

 private:
  TemporaryFile(std::string folder, std::intptr_t handle)
      : folder_(std::move(folder)), handle_(handle) {}
  Error Failed(int code) const;

  std::string folder_;  // for messages
  std::intptr_t handle_;
  std::uint64_t size_ = 0;
};

}  // namespace lotrix
