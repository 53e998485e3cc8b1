#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "error.h"

namespace lotrix {

// The input. A regular file is read once from start to end and then again at the chosen lines.
// A stream (standard input as "-", a pipe, a device) can be read only once, and so is a file
// whose size reads 0 (those of /proc and /sys), whose text exists only as it is read.
class InputFile {
 public:
  static Expected<InputFile> Open(const std::string& path);
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&&) = delete;
  ~InputFile();

  const std::string& Path() const { return path_; }
  // Whether it is read in one pass, its chosen lines kept as they go by.
  bool IsStream() const { return stream_; }
  // Whether it is a regular file, beside which a sample may go.
  bool IsRegular() const { return regular_; }
  // The size of a file when it was opened; 0 for a stream.
  std::uint64_t Size() const { return stamp_.size; }
  // Fills `buffer` from where the last Read ended; less only at the end of the input. Positional
  // reads in between do not move that place.
  Expected<std::size_t> Read(char* buffer, std::size_t size);
  // Makes the next Read of a file start again at its beginning.
  void Rewind() { position_ = 0; }
  // Fills `buffer` from `offset` of a file; less only at the end of the file.
  Expected<std::size_t> ReadAt(std::uint64_t offset, char* buffer, std::size_t size);
  // Waits until a FIFO has a writer. It is opened without waiting for one, so that the place
  // the sample goes is judged first, as the shell judges a redirection: a bad place then fails
  // at once rather than after a wait that may never end.
  std::optional<Error> AwaitWriter();
  // Whether `path` names this very file (through any link).
  bool IsSameFile(const std::string& path) const;
  // Whether the file is still the one its name gave when it was opened, with the same size and
  // modification time: a file rewritten between two reads would give a sample of fragments.
  bool Unchanged() const;

 private:
  // What tells a file, and a version of it, from another.
  struct Stamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // in the system's finest unit
    bool operator==(const Stamp&) const = default;
  };
  InputFile(std::string path, std::intptr_t handle, bool regular, Stamp stamp)
      : path_(std::move(path)),
        handle_(handle),
        regular_(regular),
        stream_(!regular || stamp.size == 0),
        stamp_(stamp) {}

  std::string path_;
  std::intptr_t handle_;  // a descriptor, or a Windows handle
  bool regular_;
  bool stream_;
  Stamp stamp_;
  std::uint64_t position_ = 0;  // where the next Read of a file starts
};

}  // namespace lotrix
