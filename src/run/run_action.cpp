#include "run/run_action.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "run/path_field.h"
#include "run/sample_size.h"

namespace lotrix {
namespace {

// The most lines of the tool's last words that a failure notice shows.
constexpr std::size_t kShownErrorLines = 12;
// And the most rows they take once long lines are broken: with the rest of the box, that fits a
// screen 768 pixels high.
constexpr std::size_t kShownErrorRows = 20;

std::string LastLines(std::string_view text, std::size_t count) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  std::size_t start = text.size();
  for (std::size_t seen = 0; seen < count; ++seen) {
    const auto lineBreak = start == 0 ? std::string_view::npos : text.rfind('\n', start - 1);
    if (lineBreak == std::string_view::npos) return std::string(text);
    start = lineBreak;
  }
  return std::string(text.substr(start + 1));
}

// A Windows exception's status in hexadecimal, with the name of the common ones.
std::string StatusText(std::uint32_t status) {
  static const std::pair<std::uint32_t, const char*> kNames[] = {
      {0xC0000005, "access violation"},     {0xC000001D, "illegal instruction"},
      {0xC0000094, "division by zero"},     {0xC00000FD, "stack overflow"},
      {0xC0000135, "a DLL was not found"},  {0xC0000142, "a DLL failed to start"},
      {0xC000013A, "ended by Ctrl+C"},      {0xC0000374, "heap corruption"},
      {0xC0000409, "stack buffer overrun"},
  };
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(status));
  for (const auto& [code, name] : kNames) {
    if (code == status) return std::string(hex) + " (" + name + ")";
  }
  return hex;
}

std::string SignalName(int number) {
#ifdef _WIN32
  (void)number;
  return {};
#else
  const char* name = sigabbrev_np(number);
  return name ? std::string(" (SIG") + name + ")" : std::string();
#endif
}

}  // namespace

Notice DoneNotice(const ToolReport& report, std::size_t width) {
  Notice notice{Notice::Kind::Information, "information", "Done!"};
  if (!report.sample.empty()) {
    notice.detail = "The sample is in\n" + report.sample;
    notice.openPath = report.sample;
  }
  if (report.seed) {
    const std::string seed = std::to_string(*report.seed);
    notice.detail += (notice.detail.empty() ? "" : "\n\n") + std::string("Seed ") + seed +
                     ": \"lotrix --seed " + seed + "\" draws the same sample again.";
  }
  // A path may take a dozen rows.
  notice.detail = FitToBox(notice.detail, width, 12);
  return notice;
}

Notice ErrorNotice(const RunError& error, std::size_t width) {
  std::string heading = error.system
                            ? "System error " + std::to_string(error.number) +
                                  (error.codeName.empty() ? "" : " (" + error.codeName + ")")
                            : "Error " + std::to_string(error.number);
  return {Notice::Kind::Error, "Lotrix",
          FitToBox(heading + ": " + error.description + "\n\n" + error.detail, width)};
}

Notice OpenFailedNotice(const std::string& path, std::size_t width) {
  return {Notice::Kind::Failure, "Lotrix",
          FitToBox("The sample could not be opened; no application is set to open it:\n" + path,
                   width)};
}

Notice NothingKeptNotice(const std::string& input, std::size_t width) {
  return {Notice::Kind::Failure, "Lotrix",
          FitToBox("Nothing was saved. \"" + input +
                       "\" is not a file of yours but a pipe, a device or a file that the system "
                       "makes as it is read (as in /proc and /sys), and the window keeps no "
                       "sample of such an input. Save its lines to a file in one of your folders "
                       "first, and sample that file.",
                   width)};
}

Notice StoppedNotice() {
  return {Notice::Kind::Information, "Lotrix", "The run was stopped. Nothing was written."};
}

namespace {

// `line` broken into rows of at most `width` characters, after a space or a path's separator
// where it can be; nothing is dropped, so that a path broken over rows still reads as itself.
std::vector<std::string_view> Rows(std::string_view line, std::size_t width) {
  std::vector<std::string_view> rows;
  for (;;) {
    // Characters, not bytes: a UTF-8 sequence is never split, and stray continuation bytes
    // (text that is no UTF-8) count a character for every four.
    std::size_t cut = 0;
    for (std::size_t characters = 0; cut < line.size() && characters < width; ++characters) {
      ++cut;
      for (int more = 0;
           more < 3 && cut < line.size() && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80;
           ++more) {
        ++cut;
      }
    }
    if (cut == line.size()) {
      rows.push_back(line);
      return rows;
    }
    if (line[cut] == ' ') {
      ++cut;
    } else if (const std::size_t at = line.substr(0, cut).find_last_of(" /\\");
               at != std::string_view::npos) {
      cut = at + 1;
    }
    rows.push_back(line.substr(0, cut));
    line.remove_prefix(cut);
  }
}

}  // namespace

std::string FitToBox(std::string_view text, std::size_t width, std::size_t rows) {
  std::string fitted;
  for (;;) {
    const std::size_t end = text.find('\n');
    std::vector<std::string_view> kept = Rows(text.substr(0, end), width);
    if (kept.size() > rows) {
      // The middle rows go, so that the end (a file's name, the reason after it) stays in sight
      // beside the start. The ellipsis takes the place of the space a row may end with.
      const std::size_t head = rows - rows / 2;
      kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(head),
                 kept.end() - static_cast<std::ptrdiff_t>(rows / 2));
      if (kept[head - 1].ends_with(' ')) kept[head - 1].remove_suffix(1);
      kept.insert(kept.begin() + static_cast<std::ptrdiff_t>(head), "\u2026");
    }
    for (std::size_t row = 0; row < kept.size(); ++row) {
      fitted += kept[row];
      if (row + 1 < kept.size() && kept[row + 1] != "\u2026") fitted += '\n';
    }
    if (end == std::string_view::npos) return fitted;
    fitted += '\n';
    text.remove_prefix(end + 1);
  }
}

Notice FailureNotice(const ToolExit& exit, std::size_t width) {
  std::string text;
  if (exit.Succeeded()) {
    text =
        "The sampler ended before it had finished, without saying why: something outside it may "
        "have ended it. Nothing was written.";
  } else if (!exit.known) {
    text = "The sampler ended, but how it ended could not be learnt.";
  } else if (exit.signalled) {
    text = "The sampler was ended by signal " + std::to_string(exit.code) + SignalName(exit.code) +
           ".";
  } else if (exit.crashed) {
    text = "The sampler crashed with status " + StatusText(static_cast<std::uint32_t>(exit.code)) +
           ".";
  } else {
    text = "The sampler failed with exit status " + std::to_string(exit.code) + ".";
  }
  // Its last lines, broken to fit, and of those the last rows: where it ended up matters most.
  const std::string lastWords =
      LastLines(FitToBox(LastLines(exit.errorTail, kShownErrorLines), width, 4), kShownErrorRows);
  text = FitToBox(text, width);
  text += lastWords.empty() ? "\n\nIt wrote no error message." : "\n\nIt said:\n" + lastWords;
  return {Notice::Kind::Failure, "Lotrix", std::move(text)};
}

RunAction::RunAction(std::string toolFolder) : toolFolder_(std::move(toolFolder)) {}

bool RunAction::Stop() {
  for (Running& run : running_) {
    if (!std::exchange(run.stopped, true)) run.tool->Stop();
  }
  return !running_.empty();
}

bool RunAction::RequestEnd() {
  endRequested_ = true;
  Stop();
  return underWay_ == 0;
}

void RunAction::Run(RunHost& host) {
  // Under way until it returns, its notice included: the window may be closed meanwhile, and the
  // program must end only after the last notice.
  ++underWay_;
  struct Done {
    RunAction& action;
    RunHost& host;
    ~Done() {
      if (--action.underWay_ == 0 && action.endRequested_) host.EndProgram();
    }
  } done{*this, host};

  // The fields are read once, here: what the user types during the wait belongs to later runs.
  const std::string path = PathFromField(host.PathText(), PathExists, HomeFolder());
  // A command line ends its words at a NUL: the sampler would be given another name.
  if (path.find('\0') != std::string::npos) {
    host.ShowNotice(ErrorNotice({52, "Bad file name or number",
                                 "The path holds a NUL character, which no file name can hold."},
                                host.RowWidth()));
    return;
  }
  const auto size = ConvertSampleSize(host.SampleSizeText(), host.DecimalSeparator());
  if (!size) {
    host.ShowNotice(ErrorNotice(size.error(), host.RowWidth()));
    return;
  }

  // Its sample would go nowhere the user keeps, or beside it in /proc and fail there; and a
  // device such as /dev/zero would keep the sampler reading, and spilling, until stopped.
  if (IsDeviceOrMadeAsRead(path)) {
    host.ShowNotice(NothingKeptNotice(path, host.RowWidth()));
    return;
  }

  auto tool = ToolProcess::Start(toolFolder_, path, *size);
  if (!tool) {
    host.ShowNotice(ErrorNotice(tool.error(), host.RowWidth()));
    return;
  }

  // Its standard error and its report are read for as long as it runs, whatever loop the window
  // is in, so that it never stalls on a full pipe behind a box that waits for the user.
  auto errors = host.WatchHandle(tool->ErrorHandle(), [&tool] { return tool->DrainErrors(); });
  std::uint64_t shown = 0;  // the progress last shown, in bytes
  auto reports = host.WatchHandle(tool->ReportHandle(), [&tool, &host, &shown] {
    const bool more = tool->DrainReport();
    const ToolReport& report = tool->Report();
    if (report.done && report.total && *report.total > 0 && *report.done != shown) {
      shown = *report.done;
      host.ShowProgress(
          std::min(1.0, static_cast<double>(shown) / static_cast<double>(*report.total)));
    }
    return more;
  });
  running_.push_back({&*tool});
  if (running_.size() == 1) host.SetBusy(true);
  Wait(host, *tool);
  const auto own = std::find_if(running_.begin(), running_.end(),
                                [&tool](const Running& run) { return run.tool == &*tool; });
  const bool stopped = own->stopped;
  running_.erase(own);
  if (running_.empty()) host.SetBusy(false);
  errors.reset();
  reports.reset();
  // Finish closes the tool's handles: none stays open while a notice waits for the user.
  const ToolExit exit = tool->Finish();
  const ToolReport& report = tool->Report();
  // The sampler reports its seed as it starts and its lines once the sample is complete; one
  // that stopped in between was ended before it had written anything, whatever its status says.
  // A sampler that reports nothing at all (an older one) is taken at its status.
  const bool finished = report.written || !report.seed;
  if (stopped && !report.written) {
    if (!endRequested_) host.ShowNotice(StoppedNotice());
    return;
  }
  // A stop that came after the sample was complete finds nothing to undo.
  if (!finished || (!exit.Succeeded() && !stopped)) {
    host.ShowNotice(FailureNotice(exit, host.RowWidth()));
    return;
  }
  // A sampler that reports (not an older one) names the file it wrote; naming none, it kept
  // the sample nowhere the user can find it.
  if (report.written && report.sample.empty()) {
    host.ShowNotice(NothingKeptNotice(path, host.RowWidth()));
    return;
  }
  if (host.ShowNotice(DoneNotice(report, host.RowWidth())) == Answer::Open &&
      !host.OpenFile(report.sample)) {
    host.ShowNotice(OpenFailedNotice(report.sample, host.RowWidth()));
  }
}

void RunAction::Wait(RunHost& host, ToolProcess& tool) {
  // Only this run's end may wake this loop: an outer run's tool that has already ended stays
  // ready, and would turn the wait into a busy loop.
  WakeSet wake;
  tool.AddWakeHandles(wake);
  while (IsRunning(tool.Id())) {
    ++waitTurns_;
    host.ProcessPendingEvents(wake);
  }
}

}  // namespace lotrix
