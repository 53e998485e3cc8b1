#include "sample.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "copier.h"
#include "decoder.h"
#include "draw.h"
#include "head.h"
#include "input.h"
#include "joined.h"
#include "line_scanner.h"
#include "output.h"
#include "random.h"
#include "reader.h"
#include "replace.h"
#include "reservoir.h"
#include "shuffle.h"
#include "system.h"

namespace lotrix {
namespace {

// Where a sample goes: its head straight to the output, its lines to the output or, for a sample
// in random order, into a shuffle first.
class Target {
 public:
  Target(const SampleRequest& request, OutputFile& output)
      : request_(request), output_(output), head_(request.spillAfter), order_(~request.seed) {}

  Head& Top() { return head_; }
  Sink& Lines() {
    if (!request_.shuffle) return output_;
    if (!shuffle_) shuffle_.emplace(order_, request_.spillAfter);
    return *shuffle_;
  }
  // Writes the head, but for a sample without lines or header (an empty file stays empty).
  std::optional<Error> WriteHead(bool anyLine) {
    return anyLine || head_.Lines() > 0 ? head_.Write(output_) : std::nullopt;
  }
  std::function<std::optional<Error>()> HeadFirst() {
    return [this] { return WriteHead(true); };
  }
  // Finishes the sample of a text in `format`, its head and lines all written.
  Expected<SampleReport> Done(const TextFormat& format, std::uint64_t lines,
                              std::uint64_t written) {
    if (auto error = WriteHead(written > 0)) return *error;
    if (shuffle_) {
      if (auto error = shuffle_->Finish(format, output_, request_.inputs.back())) return *error;
    }
    SampleReport report;
    report.lines = lines;
    report.written = written;
    report.header = head_.Lines();
    return report;
  }

 private:
  const SampleRequest& request_;
  OutputFile& output_;
  Head head_;
  Random order_;  // a stream of its own, so that the order does not change which lines are drawn
  std::optional<Shuffle> shuffle_;
};

// Writes, of the lines a stream's draw put by, those `chosen`: `written` of the `lines` drawn
// from.
Expected<SampleReport> WriteChosen(StreamDraw& draw, Expected<StreamDraw::Chosen>& chosen,
                                   const TextFormat& format, std::uint64_t lines,
                                   std::uint64_t written, const std::string& lastEnding,
                                   Target& target) {
  if (!chosen) return chosen.error();
  if (auto error = target.WriteHead(written > 0)) return *error;
  if (written > 0) {
    if (auto error = CopyChosen(draw, *chosen, format, lastEnding, target.Lines())) {
      return *error;
    }
  }
  return target.Done(format, lines, written);
}

// A file is read twice: a scan that notes where the chosen lines start, then a copy of them.
// Between the two it must not change.
Expected<SampleReport> SampleFile(InputFile& input, Reader& reader, Reservoir& reservoir,
                                  Target& target) {
  const TextFormat& format = reader.Format();
  const std::uint64_t body = reader.Offset();
  FileDraw draw(input, format, reservoir, body);
  LineScanner scan(format, body, draw, false);
  if (auto error = reader.FeedAll(scan, draw.Failure())) return *error;
  if (scan.Offset() != input.Size()) return Changed(input);

  const std::uint64_t written = std::min(scan.Lines(), reservoir.Size());
  if (auto error = target.WriteHead(written > 0)) return *error;
  if (written > 0) {
    LineCopier copier(input, target.Lines(), format, scan);
    if (written == scan.Lines()) {
      if (auto error = copier.Rest(body)) return *error;
    } else {
      auto starts = draw.Starts();
      if (!starts) return starts.error();
      if (auto error = copier.Lines(*starts)) return *error;
    }
  }
  if (!input.Unchanged()) return Changed(input);
  return target.Done(format, scan.Lines(), written);
}

// A stream is read once; the lines that may be the sample are put by as it goes. So is a file
// (`file`) whose chosen lines take little room: one read of it instead of two. Empty when what
// was put by could not be kept, which a file survives by being read twice instead.
std::optional<Expected<SampleReport>> SampleOnce(Reader& reader, Reservoir& reservoir,
                                                 std::size_t inMemory, InputFile* file,
                                                 Target& target) {
  const TextFormat& format = reader.Format();
  StreamDraw draw(reservoir, inMemory);
  LineScanner scan(format, reader.Offset(), draw, true);
  if (auto error = reader.FeedAll(scan, draw.Failure())) {
    if (draw.Failure() && file) return std::nullopt;
    return *error;
  }
  if (file && scan.Offset() != file->Size()) return Changed(*file);
  auto chosen = draw.Choose();
  if (!chosen && file) return std::nullopt;
  auto report =
      WriteChosen(draw, chosen, format, scan.Lines(), std::min(scan.Lines(), reservoir.Size()),
                  scan.LastLineEnding(), target);
  if (report && file && !file->Unchanged()) return Changed(*file);
  return report;
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

// The lines a file holds from where `reader` is on.
Expected<std::uint64_t> CountLines(InputFile& input, Reader& reader) {
  struct None final : LineVisitor {
    std::uint64_t Wanted() override { return Reservoir::kNever; }
    void Start(std::uint64_t) override {}
    void Bytes(const char*, std::size_t) override {}
  } none;
  const std::optional<Error> never;
  LineScanner scan(reader.Format(), reader.Offset(), none, false);
  if (auto error = reader.FeedAll(scan, never)) return *error;
  if (scan.Offset() != input.Size()) return Changed(input);
  return scan.Lines();
}

// Lines drawn with replacement, `draws` of the `lines` that `feed(visitor)` shows, where
// `lastEnding` is what an unended last line gets.
template <class Feed>
Expected<SampleReport> SampleRepeated(std::uint64_t lines, std::uint64_t draws, Random& random,
                                      const TextFormat& format, Target& target,
                                      std::size_t inMemory, const std::string& input, Feed feed) {
  auto sorted = SortedDraws::Make(random, lines, draws);
  if (!sorted) return sorted.error();
  RepeatDraw draw(*sorted, target.Lines(), target.HeadFirst(), inMemory, format.unit, input);
  if (auto error = feed(draw)) return *error;
  if (auto error = draw.Finish()) return *error;
  return target.Done(format, lines, draw.Written());
}

// One input, drawn from by count or share, with nothing added to its lines: a file is read where
// its chosen lines lie, as that is fastest.
Expected<SampleReport> SampleAlone(const SampleRequest& request, InputFile& input, Target& target) {
  if (auto error = input.AwaitWriter()) return *error;
  // A reader from the start of the input, past the header.
  const auto start = [&](bool keep) -> Expected<Reader> {
    auto reader = Reader::Start(input, request.progress);
    if (!reader) return reader;
    if (auto error = target.Top().Skip(*reader, request.header, keep)) return *error;
    return reader;
  };
  auto reader = start(true);
  if (!reader) return reader.error();
  Random random(request.seed);
  std::uint64_t size = request.size.count;
  if (request.size.kind == SampleSize::Kind::kShare || request.replace) {
    // A share of a file is a count, once the file has been counted; so are draws with
    // replacement, which need to know how many lines there are to draw from.
    auto lines = CountLines(input, *reader);
    if (!lines) return lines.error();
    size = request.size.Of(*lines);
    input.Rewind();
    reader = start(false);
    if (!reader) return reader.error();
    if (request.replace) {
      const TextFormat format = reader->Format();
      return SampleRepeated(*lines, size, random, format, target, request.spillAfter,
                            request.inputs.back(), [&](RepeatDraw& draw) -> std::optional<Error> {
                              LineScanner scan(format, reader->Offset(), draw, true);
                              if (auto error = reader->FeedAll(scan, draw.Failure())) return error;
                              if (!input.Unchanged() || scan.Lines() != *lines) {
                                return Changed(input);
                              }
                              const std::string ending = scan.LastLineEnding();
                              if (scan.Capturing()) draw.Bytes(ending.data(), ending.size());
                              return draw.Failure();
                            });
    }
  }

  Reservoir reservoir(size, random);
  std::optional<Expected<SampleReport>> report;
  if (input.IsStream()) {
    report = SampleOnce(*reader, reservoir, request.spillAfter, nullptr, target);
  } else if (WorthReadingOnce(input, *reader, size, request.captureUpTo)) {
    report = SampleOnce(*reader, reservoir, request.spillAfter, &input, target);
  }
  if (report) return *report;
  // Read twice, from the start, drawing again from the same seed.
  input.Rewind();
  Random again(request.seed);
  Reservoir fresh(size, again);
  auto scan = start(false);
  if (!scan) return scan.error();
  return SampleFile(input, *scan, fresh, target);
}

// Several inputs, or lines with their input's name, or a draw that needs a stream counted first
// or that takes each line by chance: the lines go by once, as one stream.
Expected<SampleReport> SampleJoined(const SampleRequest& request,
                                    std::vector<std::optional<InputFile>>& inputs,
                                    std::uint64_t total, Target& target) {
  Head& head = target.Top();
  const Joining joining{request.header, request.withName, request.progress, total};
  Random random(request.seed);
  if (request.size.kind == SampleSize::Kind::kProbability) {
    ChanceDraw draw(random, request.size.probability, target.Lines(), target.HeadFirst());
    const auto joined = FeedJoined(inputs, request.inputs, joining, head, draw, draw.Failure());
    if (!joined) return joined.error();
    return target.Done(joined->format, joined->lines, draw.Kept());
  }
  if (request.size.kind == SampleSize::Kind::kShare || request.replace) {
    // Put by whole, and counted, before it is drawn from as a stream of its own.
    KeepAll all(request.spillAfter);
    const auto joined = FeedJoined(inputs, request.inputs, joining, head, all, all.Failure());
    if (!joined) return joined.error();
    const std::uint64_t size = request.size.Of(joined->lines);
    if (request.replace) {
      return SampleRepeated(joined->lines, size, random, joined->format, target, request.spillAfter,
                            request.inputs.back(), [&](RepeatDraw& draw) -> std::optional<Error> {
                              LineScanner scan(joined->format, 0, draw, true);
                              return FeedSpill(all.Lines(), scan, draw.Failure());
                            });
    }
    Reservoir reservoir(size, random);
    StreamDraw draw(reservoir, request.spillAfter);
    LineScanner scan(joined->format, 0, draw, true);
    if (auto error = FeedSpill(all.Lines(), scan, draw.Failure())) return *error;
    auto chosen = draw.Choose();
    return WriteChosen(draw, chosen, joined->format, joined->lines,
                       std::min(joined->lines, reservoir.Size()), {}, target);
  }
  Reservoir reservoir(request.size.count, random);
  StreamDraw draw(reservoir, request.spillAfter);
  const auto joined = FeedJoined(inputs, request.inputs, joining, head, draw, draw.Failure());
  if (!joined) return joined.error();
  auto chosen = draw.Choose();
  return WriteChosen(draw, chosen, joined->format, joined->lines,
                     std::min(joined->lines, reservoir.Size()), {}, target);
}

Expected<OutputFile> OpenOutput(const SampleRequest& request, const InputFile& first,
                                bool compressed) {
  // A stream has no place of its own to put a file beside (and /dev/stdin_sample5 would be a
  // file in /dev): its sample goes where its lines came from, the terminal or the pipe. Nor has
  // a sample of several inputs.
  if (request.output.empty() && (request.inputs.size() > 1 || !first.IsRegular())) {
    return OutputFile::Replacing("-");
  }
  if (request.output.empty()) {
    return OutputFile::New(
        [name = DefaultOutputPath(request.inputs.front(), request.size, compressed)](
            unsigned number) { return NumberedPath(name, number); });
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

std::uint64_t SampleSize::Of(std::uint64_t lines) const {
  if (kind != Kind::kShare) return count;
  // lines * share / kWhole, rounded half up, in 64 bits: share is below 2^37 and the remainder
  // below 2^27.
  const std::uint64_t whole = lines / kWhole, rest = lines % kWhole;
  if (share != 0 && whole > (UINT64_MAX - 1) / share) return UINT64_MAX;
  return whole * share + (rest * share + kWhole / 2) / kWhole;
}

std::string SampleSize::Name() const {
  switch (kind) {
    case Kind::kShare:
      return text;
    case Kind::kProbability:
      return "p" + text;
    default:
      return std::to_string(count);
  }
}

std::string DefaultOutputPath(const std::string& input, const SampleSize& size, bool compressed) {
  if (compressed) {
    // hits.txt.gz gives hits_sample30.txt: the sample is text.
    const std::string extension = TextOf(PathOf(input).extension());
    std::string lower = extension;
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const char* known : {".gz", ".bz2", ".xz", ".zst", ".zstd"}) {
      if (lower != known) continue;
      return WithSuffix(input.substr(0, input.size() - extension.size()), "_sample" + size.Name());
    }
  }
  return WithSuffix(input, "_sample" + size.Name());
}

std::string NumberedPath(const std::string& path, unsigned number) {
  if (number <= 1) return path;
  std::string suffix = "-";  // (a string first: GCC 12 warns falsely of "-" + to_string)
  return WithSuffix(path, suffix += std::to_string(number));
}

Expected<SampleReport> Sample(const SampleRequest& request) {
  // Every input is opened, and judged, before any is read. Files that wait for their turn among
  // several wait closed, so that there may be thousands of them; streams stay open, as what
  // they hold would be lost.
  std::vector<std::optional<InputFile>> inputs;
  inputs.reserve(request.inputs.size());
  std::uint64_t total = 0;  // bytes in all, for progress; 0 where a stream is among them
  bool stream = false;
  for (const std::string& path : request.inputs) {
    auto input = InputFile::Open(path);
    if (!input) return input.error();
    total += input->Size();
    stream = stream || input->IsStream();
    if (!request.output.empty() && request.output != "-" && input->IsSameFile(request.output)) {
      return Error{request.output, "is an input file; the sample must go elsewhere"};
    }
    inputs.emplace_back(std::move(*input));
    if (request.inputs.size() > 1 && inputs.size() > 1 && !inputs.back()->IsStream()) {
      inputs.back().reset();
    }
  }
  InputFile& first = *inputs.front();
  if (stream) total = 0;
  // A compressed file is read once, as a stream is, and its sample is not compressed.
  bool compressed = false;
  if (!first.IsStream()) {
    char head[kMagicSize];
    auto got = first.ReadAt(0, head, sizeof head);
    if (!got) return got.error();
    compressed = CompressionOf(std::string_view(head, *got)) != Compression::kNone;
  }
  // Before the input is read: a place the sample cannot go fails at once, not after a scan.
  auto output = OpenOutput(request, first, compressed);
  if (!output && request.output.empty() && first.IsStream()) {
    // A folder under /proc takes no files: the user has to say where the sample goes.
    return Error{output.error().path, output.error().reason + "; name the output with -o"};
  }
  if (!output) return output.error();

  // A file drawn from by count, or once counted, is read where its lines lie; what is compressed,
  // several inputs, and lines with a name go by once, as one stream.
  const SampleSize::Kind kind = request.size.kind;
  const bool counted = kind == SampleSize::Kind::kShare || request.replace;
  const bool alone = inputs.size() == 1 && !request.withName && !compressed &&
                     kind != SampleSize::Kind::kProbability && !(counted && first.IsStream());
  Target target(request, *output);
  auto report =
      alone ? SampleAlone(request, first, target) : SampleJoined(request, inputs, total, target);
  if (!report) return report;
  auto written = output->Commit();
  if (!written) return written.error();
  report->output = std::move(*written);
  if (request.output.empty() && report->output != "-") {
    report->firstChoice = DefaultOutputPath(request.inputs.front(), request.size, compressed);
  }
  return report;
}

}  // namespace lotrix
