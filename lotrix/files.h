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

// The input, read once from start to end and then again at the chosen lines.
class InputFile {
 public:
  static Expected<InputFile> Open(const std::string& path);
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&&) = delete;
  ~InputFile();

  std::uint64_t Size() const { return size_; }
  // Fills `buffer` from where the last read ended; less only at the end of the file.
  Expected<std::size_t> Read(char* buffer, std::size_t size);
  // Fills `buffer` from `offset`; less only at the end of the file.
  Expected<std::size_t> ReadAt(std::uint64_t offset, char* buffer, std::size_t size);
  // Whether `path` names this very file (through any link).
  bool IsSameFile(const std::string& path) const;

 private:
  InputFile(std::string path, std::intptr_t handle, std::uint64_t size, std::uint64_t device,
            std::uint64_t inode)
      : path_(std::move(path)), handle_(handle), size_(size), device_(device), inode_(inode) {}
  int Fd() const { return static_cast<int>(handle_); }

  std::string path_;
  std::intptr_t handle_;  // a descriptor, or a Windows handle
  std::uint64_t size_;
  std::uint64_t device_;
  std::uint64_t inode_;
};

// The sample, written beside its final name where no one sees it and put in place only when
// complete, so that a failure never leaves half a sample nor destroys an earlier one.
class OutputFile {
 public:
  static Expected<OutputFile> Create(const std::string& path);
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  // Throws the unfinished file away unless Commit() succeeded.
  ~OutputFile();

  std::optional<Error> Write(const char* data, std::size_t size);
  // Writes out what is buffered, makes it durable and moves it to its name.
  std::optional<Error> Commit();

 private:
  OutputFile(std::string path, std::string temporary, std::intptr_t handle)
      : path_(std::move(path)), temporary_(std::move(temporary)), handle_(handle) {}
  std::optional<Error> Flush();
  int Fd() const { return static_cast<int>(handle_); }

  std::string path_;
  std::string temporary_;  // empty where the file has no name until it is committed
  std::intptr_t handle_;   // a descriptor, or a Windows handle
  std::string buffer_;
  bool committed_ = false;
};

}  // namespace lotrix
