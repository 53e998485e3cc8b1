#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "run/result.h"
#include "run/tool_process.h"
#include "run/tool_report.h"

namespace lotrix {

// A modal message for the user. `Information` boxes carry no icon. Every line of its texts fits
// a box on any screen.
struct Notice {
  enum class Kind { Information, Failure, Error };
  Kind kind = Kind::Information;
  std::string title;
  std::string text;
  std::string detail{};    // said below the text, smaller where the desktop does so
  std::string openPath{};  // where set, an "Open" button beside OK opens this file
};

// How the user closed a notice.
enum class Answer { Ok, Open };

// How many characters a notice's row holds where the window does not say.
inline constexpr std::size_t kRowWidth = 96;

// "Done!", and where the sampler said it wrote the sample and with what seed, if it said so.
// Each notice's rows hold at most `width` characters.
Notice DoneNotice(const ToolReport& report = {}, std::size_t width = kRowWidth);
Notice ErrorNotice(const RunError& error, std::size_t width = kRowWidth);
// How the sampler failed. An exit that reads as a success stands for a sampler that ended
// before it reported its end: ended from outside (a task manager), not done.
Notice FailureNotice(const ToolExit& exit, std::size_t width = kRowWidth);
// A run the user stopped before the sampler had finished.
Notice StoppedNotice();
Notice OpenFailedNotice(const std::string& path, std::size_t width = kRowWidth);
// A run that would keep nothing: the input is no file (a pipe, a device, a file of /proc), whose
// sample goes to standard output, which the window discards, or is made as it is read, with no
// folder of the user's beside it.
Notice NothingKeptNotice(const std::string& input, std::size_t width = kRowWidth);

// `text` with every line longer than `width` characters broken into rows, after a space or a
// path separator where there is one: a box sizes itself to its longest line, and one unbroken
// line of a thousand characters would leave the screen. A line that would take more than `rows`
// rows loses characters from its middle, marked by an ellipsis, so that both its start and its
// end (a path's file name and the reason after it) still show.
std::string FitToBox(std::string_view text, std::size_t width = kRowWidth, std::size_t rows = 6);

// What the run action needs from the window that hosts it. Texts cross this boundary in the
// system's narrow encoding: file-name bytes on Linux, UTF-8 on Windows.
class RunHost {
 public:
  virtual ~RunHost() = default;

  virtual std::string PathText() = 0;
  virtual std::string SampleSizeText() = 0;
  // The user's locale's decimal separator, for reading the sample size.
  virtual std::string DecimalSeparator() = 0;
  // Blocks until a window event arrives or a handle in `wake` becomes ready (at once when
  // events are already pending), then processes every pending window event. Events may start
  // another run from in here.
  virtual void ProcessPendingEvents(const WakeSet& wake) = 0;
  // Something that the window keeps doing for as long as it exists.
  class Watch {
   public:
    virtual ~Watch() = default;
  };
  // Calls `drain` whenever `handle` may have something to read, from every event loop that
  // runs (a modal box's, a dialog's, a nested run's), until the watch is destroyed or `drain`
  // returns false. `drain` never blocks.
  virtual std::unique_ptr<Watch> WatchHandle(WaitHandle handle, std::function<bool()> drain) = 0;
  // How many characters of the widest kind a notice's row may hold for its box to fit the
  // screen; a box that breaks long lines itself may keep the default.
  virtual std::size_t RowWidth() { return kRowWidth; }
  // Shows `notice` modally and returns once the user has dismissed it, telling how.
  virtual Answer ShowNotice(const Notice& notice) = 0;
  // Opens `path` with the desktop's application for it; false if the desktop would not.
  virtual bool OpenFile(const std::string& path) = 0;
  // Shows that a run is under way (a busy cursor over a window that stays usable, told to
  // screen readers and the taskbar), and then that none is.
  virtual void SetBusy(bool busy) = 0;
  // How far the run is, as a fraction, where the sampler tells.
  virtual void ShowProgress(double fraction) = 0;
  // The window was closed during a run, and the last run has now been announced.
  virtual void EndProgram() = 0;
};

// The Run button's action: start the sampler on the two fields, wait for it to end while the
// window stays live, and say how it went. A click during the wait starts a run nested inside
// this one, whose notice therefore comes first.
class RunAction {
 public:
  explicit RunAction(std::string toolFolder = ApplicationFolder());

  void Run(RunHost& host);

  // Stops the samplers of every run under way; each such run then says that it was stopped.
  // False when no sampler was running.
  bool Stop();

  // The window has been closed: the samplers under way are stopped, and their runs end without
  // a word. True when the program may end now; otherwise it ends once the runs under way have
  // returned (one may be showing a notice), through RunHost::EndProgram().
  bool RequestEnd();

  // Turns of the wait loops so far, summed over all runs; each turn blocks until it is woken.
  unsigned long WaitTurns() const { return waitTurns_; }

 private:
  void Wait(RunHost& host, ToolProcess& tool);

  std::string toolFolder_;
  // The tools of the runs waiting, innermost last, and whether Stop() ended each.
  struct Running {
    ToolProcess* tool;
    bool stopped = false;
  };
  std::vector<Running> running_;
  int underWay_ = 0;  // runs that have not returned yet, nested ones included
  bool endRequested_ = false;
  unsigned long waitTurns_ = 0;
};

}  // namespace lotrix
