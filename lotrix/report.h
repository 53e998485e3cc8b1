#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lotrix {

// What a program that starts lotrix may learn of the run without reading its messages, which
// are for people: the seed, how far the reading is, and where the sample went. It names a pipe
// it passed down in LOTRIX_REPORT (a descriptor number on Linux, a handle's value on Windows),
// and reads one record a line:
//
//   seed S               the seed the sample is drawn with
//   progress DONE TOTAL  bytes read so far, of TOTAL (0 for a stream, whose size is unknown)
//   lines LINES WRITTEN  lines in the input, and in the sample
//   sample PATH          the full path of the file the sample was written to
//
// A value's bytes are sent as they are, but for "%", control characters and DEL, which are sent
// as % and two hexadecimal digits; a reader skips records it does not know. Anything that is not
// a pipe (a terminal, a file, standard output) is never written to, and a reader that has gone
// away costs the run nothing. Nor does one that does not read: a progress record that does not
// fit at once, with room to spare for the last records, is left out, and the other records wait
// for room kPatienceMs at most, all told, before the channel is given up.
class Report {
 public:
  // The channel LOTRIX_REPORT names, or one that says nothing.
  static Report FromEnvironment();
  Report(Report&& other) noexcept;
  Report& operator=(Report&&) = delete;
  ~Report();

  void Seed(std::uint64_t seed);
  // Called as often as the input is read: a record for each hundredth of a file, and for each
  // 16 MiB of a stream.
  void Progress(std::uint64_t done, std::uint64_t total);
  void Lines(std::uint64_t lines, std::uint64_t written);
  void Sample(const std::string& path);

  bool Open() const { return handle_ != kClosed; }

 private:
  static constexpr std::intptr_t kClosed = -1;
  static constexpr int kPatienceMs = 5000;
  // What a progress record leaves free in the pipe: room for the seed, lines and sample records
  // of a reader that reads only once the run has ended.
  static constexpr std::size_t kKeptFree = 1024;
  explicit Report(std::intptr_t handle) : handle_(handle) {}
  void Put(std::string_view word, std::string_view value, bool mayDrop = false);
  // Writes the whole record, or leaves out one that `mayDrop` and finds no room, or closes the
  // channel once the patience is spent.
  void Write(const std::string& record, bool mayDrop);
  void Close();

  std::intptr_t handle_;
  int patienceMs_ = kPatienceMs;  // what is left of it
#ifdef _WIN32
  // Bytes written that the reader may not have taken yet, as far as can be known: Wine tells
  // nothing of what its pipes hold.
  std::size_t unread_ = 0;
#endif
  std::uint64_t nextProgress_ = 0;  // the least DONE worth a record
};

// A record's value as the channel sends it.
std::string ReportValue(std::string_view value);

}  // namespace lotrix
