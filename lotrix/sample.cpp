#include "sample.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "copier.h"
#include "draw.h"
#include "input.h"
#include "line_scanner.h"
#include "output.h"
#include "random.h"
#include "reader.h"
#include "reservoir.h"
#include "system.h"

namespace lotrix {
namespace {

// A file is read twice: a scan that notes where the chosen lines start, then a copy of them.
// Between the two it must not change.
Expected<SampleReport> SampleFile(InputFile& input, OutputFile& output, Reader& reader,
                                  Reservoir& reservoir) {
  const TextFormat& format = reader.Format();
  FileDraw draw(input, format, reservoir);
  LineScanner scan(format, format.markSize, draw, false);
  if (auto error = reader.FeedAll(scan, draw.Failure())) return *error;
  if (scan.Offset() != input.Size()) return Changed(input);

  const std::uint64_t written = std::min(scan.Lines(), reservoir.Size());
  if (written > 0) {
    if (auto error = output.Write(reader.Mark().data(), reader.Mark().size())) return *error;
    LineCopier copier(input, output, format, scan);
    if (written == scan.Lines()) {
      if (auto error = copier.Rest(format.markSize)) return *error;
    } else {
      auto starts = draw.Starts();
      if (!starts) return starts.error();
      if (auto error = copier.Lines(*starts)) return *error;
    }
  }
  if (!input.Unchanged()) return Changed(input);
  return SampleReport{scan.Lines(), written, {}};
}

// A stream is read once; the lines that may be the sample are put by as it goes. So is a file
// (`file`) whose chosen lines take little room: one read of it instead of two. Empty when what
// was put by could not be kept, which a file survives by being read twice instead.
std::optional<Expected<SampleReport>> SampleOnce(OutputFile& output, Reader& reader,
                                                 Reservoir& reservoir, std::size_t inMemory,
                                                 InputFile* file) {
  const TextFormat& format = reader.Format();
  StreamDraw draw(reservoir, inMemory);
  LineScanner scan(format, format.markSize, draw, true);
  if (auto error = reader.FeedAll(scan, draw.Failure())) {
    if (draw.Failure() && file) return std::nullopt;
    return *error;
  }
  if (file && scan.Offset() != file->Size()) return Changed(*file);
  auto chosen = draw.Choose();
  if (!chosen && file) return std::nullopt;
  if (!chosen) return chosen.error();

  const std::uint64_t written = std::min(scan.Lines(), reservoir.Size());
  if (written > 0) {
    if (auto error = output.Write(reader.Mark().data(), reader.Mark().size())) return *error;
    if (auto error = CopyChosen(draw, *chosen, format, scan, output)) return *error;
  }
  if (file && !file->Unchanged()) return Changed(*file);
  return SampleReport{scan.Lines(), written, {}};
}

// Whether a file's chosen lines are likely to take at most `budget` bytes: about
// N (1 + ln(lines / N)) lines pass through the reservoir, their length judged by the first piece.
bool WorthReadingOnce(const InputFile& input, const Reader& reader, std::uint64_t size,
                      std::uint64_t budget) {
  const double length = reader.LineLengthGuess();
  if (length <= 0.0) return input.Size() <= budget;  // a first line of 64 KiB and more
  const double lines = static_cast<double>(input.Size()) / length;
  const double n = static_cast<double>(size);
  // Where most lines are the sample, the second read is a plain copy, and nothing need be kept.
  if (2.0 * n >= lines) return false;
  return n * (1.0 + std::log(lines / n)) * length <= static_cast<double>(budget);
}

Expected<OutputFile> OpenOutput(const SampleRequest& request, const InputFile& input) {
  // A stream has no place of its own to put a file beside (and /dev/stdin_sample5 would be a
  // file in /dev): its sample goes where its lines came from, the terminal or the pipe.
  if (request.output.empty() && !input.IsRegular()) return OutputFile::Replacing("-");
  if (request.output.empty()) {
    return OutputFile::New([first = DefaultOutputPath(request.input, request.size)](
                               unsigned number) { return NumberedPath(first, number); });
  }
  if (request.output != "-" && input.IsSameFile(request.output)) {
    return Error{request.output, "is the input file; the sample must go elsewhere"};
  }
  return OutputFile::Replacing(request.output);
}

// `path` with `suffix` put before its extension; the folder part stays as the user wrote it,
// separators and all.
std::string WithSuffix(const std::string& path, const std::string& suffix) {
  const std::filesystem::path name = PathOf(path).filename();
  return path.substr(0, path.size() - TextOf(name).size()) + TextOf(name.stem()) + suffix +
         TextOf(name.extension());
}

}  // namespace

std::string DefaultOutputPath(const std::string& input, std::uint64_t size) {
  return WithSuffix(input, "_sample" + std::to_string(size));
}

std::string NumberedPath(const std::string& path, unsigned number) {
  if (number <= 1) return path;
  std::string suffix = "-";  // (a string first: GCC 12 warns falsely of "-" + to_string)
  return WithSuffix(path, suffix += std::to_string(number));
}

Expected<SampleReport> Sample(const SampleRequest& request) {
  auto input = InputFile::Open(request.input);
  if (!input) return input.error();
  // Before the input is read: a place the sample cannot go fails at once, not after a scan.
  auto output = OpenOutput(request, *input);
  if (!output && request.output.empty() && input->IsStream()) {
    // A folder under /proc takes no files: the user has to say where the sample goes.
    return Error{output.error().path, output.error().reason + "; name the output with -o"};
  }
  if (!output) return output.error();
  if (auto error = input->AwaitWriter()) return *error;

  Random random(request.seed);
  Reservoir reservoir(request.size, random);
  auto reader = Reader::Start(*input, request.progress);
  if (!reader) return reader.error();
  std::optional<Expected<SampleReport>> report;
  if (input->IsStream()) {
    report = SampleOnce(*output, *reader, reservoir, request.spillAfter, nullptr);
  } else if (WorthReadingOnce(*input, *reader, request.size, request.captureUpTo)) {
    report = SampleOnce(*output, *reader, reservoir, request.spillAfter, &*input);
  }
  if (!report) {
    // Read twice, from the start, drawing again from the same seed.
    input->Rewind();
    Random again(request.seed);
    Reservoir fresh(request.size, again);
    auto scan = Reader::Start(*input, request.progress);
    if (!scan) return scan.error();
    report = SampleFile(*input, *output, *scan, fresh);
  }
  if (!*report) return *report;
  auto written = output->Commit();
  if (!written) return written.error();
  (*report)->output = std::move(*written);
  return *report;
}

}  // namespace lotrix
