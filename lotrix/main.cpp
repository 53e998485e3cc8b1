// lotrix: draws a fair random sample of lines from text files. The command line is read in
// arguments.cpp; the platform's entry point is in console_posix.cpp and console_win32.cpp.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "console.h"
#include "messages.h"
#include "random.h"
#include "report.h"
#include "sample.h"

namespace lotrix {
namespace {

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

std::string Lines(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " line" : " lines");
}

// What the inputs are called in a message.
std::string Inputs(const std::vector<std::string>& inputs) {
  if (inputs.size() > 1) return "the inputs";
  return inputs.front() == "-" ? "standard input" : Quoted(inputs.front());
}

// Says what a user would want to know of a sample that was written: that it holds fewer lines
// than asked, and where it went when that was not plain; at a terminal, also how to draw it
// again.
void Tell(const SampleRequest& request, const SampleReport& report,
          std::optional<std::uint64_t> fresh, ErrorStream& errors) {
  const std::string inputs = Inputs(request.inputs);
  const bool several = request.inputs.size() > 1;
  if (request.header > 0 && report.lines == 0 && report.header > 0) {
    errors.Say(inputs + (several ? ": have only " : ": has only ") + Lines(report.header) +
               ", all of them header; the sample is the header alone");
  } else if (request.size.kind == SampleSize::Kind::kCount && report.lines < request.size.count &&
             !request.replace) {
    errors.Say(inputs + (several ? ": have only " : ": has only ") + Lines(report.lines) +
               (several ? " together" : "") + "; the sample holds all of them");
  }
  // (A stream's sample, which went to standard output, took no name.)
  bool told = !request.output.empty() || report.output == "-";
  if (!told && report.output != report.firstChoice) {
    errors.Say(Quoted(report.firstChoice) + " exists; the sample is in " + Quoted(report.output));
    told = true;
  }
  // Someone at a terminal learns where the sample is and how to draw it again; a script that
  // wants either asks for them.
  if (errors.IsTerminal()) {
    std::string text = told ? "" : "the sample is in " + Quoted(report.output);
    if (fresh) {
      text += (text.empty() ? "" : "; ") + std::string("--seed ") + std::to_string(*fresh) +
              " draws it again";
    }
    if (!text.empty()) errors.Say(text);
  }
}

// Draws one sample: 0 once it is written, else kFailed. `fresh` is the seed drawn for the run
// where none was given.
int Draw(SampleRequest request, std::optional<std::uint64_t> fresh, Report& channel,
         ErrorStream& errors) {
  const std::string name = request.inputs.size() > 1 ? "" : Quoted(request.inputs.front());
  channel.Seed(request.seed);
  if (errors.IsTerminal() || channel.Open()) {
    request.progress = [&](std::uint64_t done, std::uint64_t total) {
      if (errors.IsTerminal() && !name.empty()) errors.Progress(name, done, total);
      channel.Progress(done, total);
    };
  }
  const auto report = Sample(request);
  if (!report) {
    errors.Say(Quoted(report.error().path) + ": " + report.error().reason);
    return kFailed;
  }
  channel.Lines(report->lines, report->written);
  if (report->output != "-") channel.Sample(report->output);
  Tell(request, *report, fresh, errors);
  return 0;
}

}  // namespace

int Main(const std::vector<std::string>& words) {
  ErrorStream errors;
  const auto arguments = ParseArguments(words);
  if (!arguments) {
    errors.Say(arguments.error().reason + "\nTry 'lotrix --help' for more information.");
    return kUsageError;
  }
  if (arguments->action == Arguments::Action::kHelp) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (arguments->action == Arguments::Action::kVersion) {
    std::puts("lotrix " LOTRIX_VERSION);
    return 0;
  }
  SampleRequest request;
  request.inputs = arguments->inputs;
  request.output = arguments->output;
  request.size = arguments->size;
  request.seed = arguments->seed.value_or(FreshSeed());
  std::optional<std::uint64_t> fresh;  // the seed drawn here, which a user may want again
  if (!arguments->seed) fresh = request.seed;
  request.header = arguments->header;
  request.withName = arguments->withName;
  request.shuffle = arguments->shuffle;
  request.replace = arguments->replace;
  Report channel = Report::FromEnvironment();
  if (!arguments->each) return Draw(request, fresh, channel, errors);
  // A batch: each input is sampled as if alone, with a seed of its own, and a failure stops
  // none of the others.
  int status = 0;
  for (std::size_t i = 0; i < arguments->inputs.size(); ++i) {
    SampleRequest one = request;
    one.inputs = {arguments->inputs[i]};
    one.seed = request.seed + i;
    status = std::max(status, Draw(one, fresh, channel, errors));
  }
  return status;
}

}  // namespace lotrix
