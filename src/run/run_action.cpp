#include "run/run_action.h"

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
  return {
      Notice::Kind::Error, "Lotrix",
      "Error " + std::to_string(error.number) + ": " + error.description + "\n\n" + error.detail};
}

Notice FailureNotice(const ToolExit& exit) {
  std::string text = exit.signalled
                         ? "The sampler was ended by signal " + std::to_string(exit.code) +
                               SignalName(exit.code) + "."
                         : "The sampler failed with exit status " + std::to_string(exit.code) + ".";
  const std::string lastWords = LastLines(exit.errorTail, kShownErrorLines);
  text += lastWords.empty() ? "\n\nIt wrote no error message." : "\n\nIt said:\n" + lastWords;
  return {Notice::Kind::Failure, "Lotrix", std::move(text)};
}

RunAction::RunAction(std::string toolFolder) : toolFolder_(std::move(toolFolder)) {}

bool RunAction::RequestEnd() {
  endRequested_ = true;
  return waiting_.empty();
}

void RunAction::Run(RunHost& host) {
  // The fields are read once, here: what the user types during the wait belongs to later runs.
  const std::string path = host.PathText();
  const auto size = ConvertSampleSize(host.SampleSizeText(), host.DecimalSeparator());
  if (!size) return host.ShowNotice(ErrorNotice(size.error()));

  auto tool = ToolProcess::Start(toolFolder_, path, *size);
  if (!tool) return host.ShowNotice(ErrorNotice(tool.error()));

  Wait(host, *tool);
  const ToolExit exit = tool->Finish();
  host.ShowNotice(exit.Succeeded() ? DoneNotice() : FailureNotice(exit));
  if (endRequested_ && waiting_.empty()) host.EndProgram();
}

void RunAction::Wait(RunHost& host, ToolProcess& tool) {
  waiting_.push_back(&tool);
  while (IsRunning(tool.Id())) {
    // Only this run's end may wake this loop: an outer run's tool that has already ended stays
    // ready, and would turn the wait into a busy loop.
    WakeSet wake;
    for (const ToolProcess* waiting : waiting_) waiting->AddWakeHandles(wake, waiting == &tool);
    ++waitTurns_;
    host.ProcessPendingEvents(wake);
    for (ToolProcess* waiting : waiting_) waiting->DrainErrors();
  }
  waiting_.pop_back();
}

}  // namespace lotrix
