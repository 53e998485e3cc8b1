#include "run/run_action.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "run/sample_size.h"

namespace lotrix {
namespace {

// The most lines of the tool's last words that a failure notice shows.
constexpr std::size_t kShownErrorLines = 12;

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

Notice DoneNotice() { return {Notice::Kind::Information, "information", "Done!"}; }

Notice ErrorNotice(const RunError& error) {
  std::string heading = error.system
                            ? "System error " + std::to_string(error.number) +
                                  (error.codeName.empty() ? "" : " (" + error.codeName + ")")
                            : "Error " + std::to_string(error.number);
  return {Notice::Kind::Error, "Lotrix",
          heading + ": " + error.description + "\n\n" + error.detail};
}

Notice FailureNotice(const ToolExit& exit) {
  std::string text;
  if (!exit.known) {
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
  const std::string lastWords = LastLines(exit.errorTail, kShownErrorLines);
  text += lastWords.empty() ? "\n\nIt wrote no error message." : "\n\nIt said:\n" + lastWords;
  return {Notice::Kind::Failure, "Lotrix", std::move(text)};
}

std::string PathFromField(std::string text) {
#ifdef _WIN32
  // Explorer's "Copy as path" wraps the path in double quotes, which no Windows file name can
  // hold.
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return text.substr(1, text.size() - 2);
  }
#endif
  return text;
}

RunAction::RunAction(std::string toolFolder) : toolFolder_(std::move(toolFolder)) {}

bool RunAction::RequestEnd() {
  endRequested_ = true;
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
  const std::string path = PathFromField(host.PathText());
  const auto size = ConvertSampleSize(host.SampleSizeText(), host.DecimalSeparator());
  if (!size) return host.ShowNotice(ErrorNotice(size.error()));

  auto tool = ToolProcess::Start(toolFolder_, path, *size);
  if (!tool) return host.ShowNotice(ErrorNotice(tool.error()));

  // Its standard error is read for as long as it runs, whatever loop the window is in, so that
  // it never stalls on a full pipe behind a box that waits for the user.
  auto watch = host.WatchHandle(tool->ErrorHandle(), [&tool] { return tool->DrainErrors(); });
  Wait(host, *tool);
  watch.reset();
  const ToolExit exit = tool->Finish();
  host.ShowNotice(exit.Succeeded() ? DoneNotice() : FailureNotice(exit));
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
