#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lotrix {

// What the program does with its words, the program's name left out; returns its exit status.
// The platform's entry point (console_posix.cpp, console_win32.cpp) calls it once the standard
// streams are sound and the words are UTF-8 (on Windows) or the system's own bytes.
int Main(const std::vector<std::string>& words);

// Standard error. On a terminal it may hold a progress line, which whatever is said next
// replaces. A Windows console is written in UTF-16, so that any name shows whatever its code
// page, and is left in the mode it was found in.
class ErrorStream {
 public:
  ErrorStream();
  ~ErrorStream() { EndProgress(); }
  ErrorStream(const ErrorStream&) = delete;
  ErrorStream& operator=(const ErrorStream&) = delete;

  bool IsTerminal() const { return terminal_; }
  // "lotrix: " and `text` on a line of its own.
  void Say(const std::string& text);
  // "lotrix: lines.txt: 42%", rewritten in place; `name` as Quoted() gives it. Only for a pass
  // long enough to need one.
  void Progress(const std::string& name, std::uint64_t done, std::uint64_t total);

 private:
  void EndProgress();
  void Put(const std::string& text);

  void* console_ = nullptr;  // the Windows console's handle
  bool terminal_ = false;
  int shown_ = -1;
};

}  // namespace lotrix
