#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "buffer.h"
#include "error.h"
#include "system.h"

namespace lotrix {

// Where the lines of a sample are written: the output, or a stage on the way to it.
class Sink {
 public:
  virtual std::optional<Error> Write(const char* data, std::size_t size) = 0;

 protected:
  ~Sink() = default;
};

// The sample's file, opened before the input is read so that a bad place fails at once. It is
// written where no one sees it and put in place only when complete, so that a failure never
// leaves half a sample nor destroys an earlier one; a device or pipe is written in place.
class OutputFile final : public Sink {
 public:
  // Standard output ("-"), or a file the user named, which ends up as the shell's > would leave
  // it: one the caller could not open for writing is refused, and so is a write-protected one;
  // an existing file (the one a link points to, the link staying a link) keeps its owner, group
  // and permissions, less setuid and setgid. It is replaced by a new file where a new file can
  // be all that, and is otherwise written over once the sample is complete; a device or pipe is
  // written in place.
  static Expected<OutputFile> Replacing(const std::string& path);
  // A new file under the first of name(1), name(2), ... that is free when the sample is
  // complete: an earlier file is never replaced, however many runs write at once.
  static Expected<OutputFile> New(std::function<std::string(unsigned)> name);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  // Throws the unfinished file away unless Commit() succeeded.
  ~OutputFile();

  std::optional<Error> Write(const char* data, std::size_t size) override;
  // Writes out what is buffered, makes it durable and puts it in place; returns its name.
  Expected<std::string> Commit();

 private:
  // kOverwrite: the sample waits in a temporary file and is copied over the file's content.
  enum class Kind { kInPlace, kReplace, kNew, kOverwrite };
  OutputFile(Kind kind, std::string path, std::intptr_t handle) noexcept
      : kind_(kind), path_(std::move(path)), handle_(handle) {}
  Error Failed(int code) const;
  std::optional<Error> Flush();
#ifdef _WIN32
  // Opens the hidden file, in `folder`, that the sample is written under.
  std::optional<Error> CreateHidden(const std::string& folder);
#else
  std::optional<Error> PutInPlace();
  // Gives the sample `name` unless something has it: 0, or the system's error code.
  int Claim(const std::string& name);
  int Fd() const { return static_cast<int>(handle_); }
#endif

  Kind kind_;
  std::string path_;    // as the user named it ("-" for standard output), or name(1)
  std::string target_;  // the file replaced: path_ with its links followed
  std::function<std::string(unsigned)> name_;
  bool noHardLinks_ = false;  // the file system refused a hard link: claim names by creating
  // The hidden name the file is written under; none where the file has no name until it is
  // put in place. Kept where it cannot move, for a signal handler to remove.
  std::unique_ptr<char[]> temporary_;
  std::intptr_t handle_;                 // a descriptor, or a Windows handle
  std::optional<TemporaryFile> staged_;  // where the sample waits to be copied over the file
  IoBuffer buffer_;
  bool committed_ = false;
};

}  // namespace lotrix
