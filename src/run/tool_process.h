#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "run/is_running.h"
#include "run/result.h"
#include "run/tool_report.h"

namespace lotrix {

#ifdef _WIN32
using WaitHandle = void*;
#else
using WaitHandle = int;
#endif

// What should end a blocking wait for window events early: the handle that becomes ready when
// the tool waited for ends. `pollSoon` asks for a short timer instead, where the system offers
// no such handle.
struct WakeSet {
  std::vector<WaitHandle> handles;
  bool pollSoon = false;
};

// How a tool ended. `errorTail` holds the last bytes that it wrote to its standard error.
struct ToolExit {
  bool known = true;       // false where its exit status could not be had
  bool signalled = false;  // ended by a signal (POSIX)
  bool crashed = false;    // ended by an exception, `code` being its status (Windows)
  int code = 0;            // exit status, the signal's number, or the exception's status
  std::string errorTail;

  bool Succeeded() const { return known && !signalled && !crashed && code == 0; }
};

// The folder that holds this program's executable, without a trailing separator except at a
// root.
std::string ApplicationFolder();

// One started sampler: hidden, with no input, its output discarded and the tail of its
// standard error kept, and with a pipe of its own for its report (named in LOTRIX_REPORT); in a
// session of its own, so that it outlives the front end.
class ToolProcess {
 public:
  // How much of the tool's standard error is kept.
  static constexpr std::size_t kErrorTailBytes = 4096;

  static Result<ToolProcess> Start(const std::string& folder, const std::string& path,
                                   std::int16_t size);

  ToolProcess(ToolProcess&& other) noexcept;
  ToolProcess& operator=(ToolProcess&&) = delete;
  ~ToolProcess();

  ProcessId Id() const { return id_; }

  // Adds what should wake the wait for the tool: the handle that becomes ready when it ends.
  void AddWakeHandles(WakeSet& wake) const;

  // What becomes ready when the tool has written to its standard error; kept open until
  // Finish, so that a watch on it never outlives it.
  WaitHandle ErrorHandle() const;
  // Reads whatever the tool has written to its standard error, without blocking. False once
  // it has closed it: nothing more will come.
  bool DrainErrors();

  // The same for the tool's report; what it said so far is in Report().
  WaitHandle ReportHandle() const;
  bool DrainReport();
  const ToolReport& Report() const { return report_.Report(); }

  // Ends the tool at once, as a stop signal would on POSIX: it leaves no sample behind, not even
  // a part of one. Nothing happens to a tool that has already ended.
  void Stop();

  // Reaps the ended tool and reports how it ended. Call once, after IsRunning() said false.
  ToolExit Finish();

 private:
  ToolProcess() = default;
  void KeepErrorBytes(const char* data, std::size_t size);
  std::string TakeErrorTail();

  ProcessId id_ = 0;
#ifdef _WIN32
  struct PipeReader;  // overlapped reads from a pipe the tool writes to
  void* process_ = nullptr;
  std::unique_ptr<PipeReader> errors_;
  std::unique_ptr<PipeReader> reports_;
#else
  int endFd_ = -1;    // pidfd: readable once the tool has ended
  int errorFd_ = -1;  // read end of the tool's standard error
  bool errorsOpen_ = true;
  int reportFd_ = -1;  // read end of the tool's report
  bool reportOpen_ = true;
#endif
  std::string errorTail_;
  bool errorTruncated_ = false;
  ToolReportReader report_;
};

}  // namespace lotrix
