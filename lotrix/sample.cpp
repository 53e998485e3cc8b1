#include "sample.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "files.h"
#include "line_scanner.h"
#include "random.h"
#include "reservoir.h"
#include "text.h"

namespace lotrix {
namespace {

// Reads of this size cost little in system calls and keep the copy from the page cache inside
// the processor's cache: 128 KiB and more measured three to four times slower here.
constexpr std::size_t kChunk = 64 << 10;

Error Changed(const InputFile& input) {
  return {input.Path(), "changed while it was being read; nothing written"};
}

// Reads an input once from start to end. Its first piece tells how it spells its text.
class Reader {
 public:
  static Expected<Reader> Start(InputFile& input, const SampleRequest& request) {
    Reader reader(input, request);
    if (auto error = reader.Next()) return *error;
    reader.format_ = DetectFormat(std::string_view(reader.buffer_.data(), reader.got_));
    return reader;
  }

  const TextFormat& Format() const { return format_; }
  std::string Mark() const { return std::string(buffer_.data(), format_.markSize); }

  // Feeds all the text, behind the byte-order mark, to `scanner`.
  std::optional<Error> FeedAll(LineScanner& scanner) {
    for (std::size_t begin = format_.markSize;; begin = 0) {
      scanner.Feed(buffer_.data() + begin, got_ - begin);
      if (got_ < buffer_.size()) return std::nullopt;
      if (auto error = Next()) return error;
    }
  }

 private:
  Reader(InputFile& input, const SampleRequest& request)
      : input_(&input), request_(&request), buffer_(kChunk) {}

  std::optional<Error> Next() {
    auto got = input_->Read(buffer_.data(), buffer_.size());
    if (!got) return got.error();
    got_ = *got;
    done_ += got_;
    if (request_->progress) request_->progress(done_, input_->Size());
    return std::nullopt;
  }

  InputFile* input_;
  const SampleRequest* request_;
  std::vector<char> buffer_;
  std::size_t got_ = 0;
  std::uint64_t done_ = 0;
  TextFormat format_;
};

// Where the first `count` lines of a file start. They fill the reservoir without a look, so this
// is read again only once one of them may be replaced: until then nothing is kept per line, and
// a sample of all lines never needs it.
Expected<std::vector<std::uint64_t>> FirstStarts(InputFile& input, const TextFormat& format,
                                                 std::uint64_t count) {
  struct Collect final : LineVisitor {
    std::vector<std::uint64_t> starts;
    std::uint64_t count = 0;
    std::uint64_t Wanted() override {
      return starts.size() < count ? starts.size() : Reservoir::kNever;
    }
    void Start(std::uint64_t offset) override { starts.push_back(offset); }
    void Bytes(const char*, std::size_t) override {}
  } collect;
  collect.count = count;
  collect.starts.reserve(count);
  LineScanner scanner(format, format.markSize, collect, false);
  std::vector<char> buffer(kChunk);
  while (collect.starts.size() < count) {
    auto got = input.ReadAt(scanner.Offset(), buffer.data(), buffer.size());
    if (!got) return got.error();
    scanner.Feed(buffer.data(), *got);
    if (*got < buffer.size()) break;
  }
  if (collect.starts.size() < count) return Changed(input);
  return std::move(collect.starts);
}

// Draws from a file: where each chosen line starts, to be read again afterwards.
class FileDraw final : public LineVisitor {
 public:
  FileDraw(InputFile& input, const TextFormat& format, Reservoir& reservoir)
      : input_(input), format_(format), reservoir_(reservoir) {}

  std::uint64_t Wanted() override { return error_ ? Reservoir::kNever : reservoir_.Wanted(); }
  void Start(std::uint64_t offset) override {
    if (starts_.empty() && !Fill()) return;
    starts_[reservoir_.Offer()] = offset;
  }
  void Bytes(const char*, std::size_t) override {}

  // Where the chosen lines start, in increasing order, once more lines than the reservoir holds
  // have gone by.
  Expected<std::vector<std::uint64_t>> Starts() {
    if (starts_.empty()) Fill();
    if (error_) return *error_;
    std::sort(starts_.begin(), starts_.end());
    return std::move(starts_);
  }

 private:
  bool Fill() {
    auto starts = FirstStarts(input_, format_, reservoir_.Size());
    if (!starts) {
      error_ = starts.error();
      return false;
    }
    starts_ = std::move(*starts);
    return true;
  }

  InputFile& input_;
  const TextFormat& format_;
  Reservoir& reservoir_;
  std::vector<std::uint64_t> starts_;
  std::optional<Error> error_;
};

// Copies lines out of a file in increasing order of position, reading each stretch of it once
// however many chosen lines it holds, up to where the scan ended.
class LineCopier {
 public:
  LineCopier(InputFile& input, OutputFile& output, const TextFormat& format,
             const LineScanner& scan)
      : input_(input), output_(output), format_(format), scan_(scan), window_(kChunk) {}

  // The line that starts at `start`, which must still follow a newline.
  std::optional<Error> Line(std::uint64_t start) {
    const std::size_t unit = format_.unit;
    if (start > format_.markSize) {
      if (auto error = Load(start - unit, unit)) return error;
      const char* before = window_.data() + (start - unit - windowStart_);
      if (std::memcmp(before, format_.Newline().data(), unit) != 0) return Changed(input_);
    }
    return Copy(start, false);
  }

  // Everything from `start` on.
  std::optional<Error> Rest(std::uint64_t start) { return Copy(start, true); }

 private:
  std::optional<Error> Copy(std::uint64_t at, bool rest) {
    const std::size_t unit = format_.unit;
    while (at < scan_.Offset()) {
      if (auto error = Load(at, 1)) return error;
      const std::size_t from = static_cast<std::size_t>(at - windowStart_);
      const std::size_t whole = windowSize_ - (windowSize_ - from) % unit;
      const std::size_t newline = rest ? whole : FindNewline(format_, window_.data(), from, whole);
      if (newline < whole) return output_.Write(window_.data() + from, newline + unit - from);
      if (auto error = output_.Write(window_.data() + from, windowSize_ - from)) return error;
      at = windowStart_ + windowSize_;
    }
    // The last line, without an ending: it gets the file's own.
    if (rest && scan_.EndsWithNewline()) return std::nullopt;
    const std::string ending = scan_.Ending();
    return output_.Write(ending.data(), ending.size());
  }

  // Makes the window hold `size` bytes from `at`.
  std::optional<Error> Load(std::uint64_t at, std::size_t size) {
    if (at >= windowStart_ && at + size <= windowStart_ + windowSize_) return std::nullopt;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(window_.size(), scan_.Offset() - at));
    auto got = input_.ReadAt(at, window_.data(), want);
    if (!got) return got.error();
    if (*got < want) return Changed(input_);  // shorter than when it was scanned
    windowStart_ = at;
    windowSize_ = *got;
    return std::nullopt;
  }

  InputFile& input_;
  OutputFile& output_;
  const TextFormat& format_;
  const LineScanner& scan_;
  std::vector<char> window_;
  std::uint64_t windowStart_ = 0;
  std::size_t windowSize_ = 0;
};

// A file is read twice: a scan that notes where the chosen lines start, then a copy of them.
// Between the two it must not change.
Expected<SampleReport> SampleFile(InputFile& input, OutputFile& output, Reader& reader,
                                  Reservoir& reservoir) {
  const TextFormat& format = reader.Format();
  FileDraw draw(input, format, reservoir);
  LineScanner scan(format, format.markSize, draw, false);
  if (auto error = reader.FeedAll(scan)) return *error;
  if (scan.Offset() != input.Size()) return Changed(input);

  const std::uint64_t written = std::min(scan.Lines(), reservoir.Size());
  if (written > 0) {
    const std::string mark = reader.Mark();
    if (auto error = output.Write(mark.data(), mark.size())) return *error;
    LineCopier copier(input, output, format, scan);
    if (written == scan.Lines()) {
      if (auto error = copier.Rest(format.markSize)) return *error;
    } else {
      auto starts = draw.Starts();
      if (!starts) return starts.error();
      for (const std::uint64_t start : *starts) {
        if (auto error = copier.Line(start)) return *error;
      }
    }
  }
  if (!input.Unchanged()) return Changed(input);
  return SampleReport{scan.Lines(), written, {}};
}

// Draws from a stream, which can be read only once: the chosen lines' bytes are kept.
class StreamDraw final : public LineVisitor {
 public:
  struct Line {
    std::uint64_t offset;
    std::string bytes;
  };

  explicit StreamDraw(Reservoir& reservoir) : reservoir_(reservoir) {}

  std::uint64_t Wanted() override { return Filling() ? held_.size() : reservoir_.Wanted(); }
  void Start(std::uint64_t offset) override {
    if (Filling()) {
      held_.push_back({offset, {}});
      current_ = held_.size() - 1;
    } else {
      current_ = reservoir_.Offer();
      held_[current_] = {offset, {}};
    }
  }
  void Bytes(const char* data, std::size_t size) override {
    held_[current_].bytes.append(data, size);
  }

  // The chosen lines in input order.
  std::vector<Line>& Lines() {
    std::sort(held_.begin(), held_.end(),
              [](const Line& a, const Line& b) { return a.offset < b.offset; });
    return held_;
  }

 private:
  bool Filling() const { return held_.size() < reservoir_.Size(); }

  Reservoir& reservoir_;
  std::vector<Line> held_;
  std::size_t current_ = 0;
};

Expected<SampleReport> SampleStream(OutputFile& output, Reader& reader, Reservoir& reservoir) {
  const TextFormat& format = reader.Format();
  StreamDraw draw(reservoir);
  LineScanner scan(format, format.markSize, draw, true);
  if (auto error = reader.FeedAll(scan)) return *error;

  auto& lines = draw.Lines();
  if (!lines.empty()) {
    const std::string mark = reader.Mark();
    if (auto error = output.Write(mark.data(), mark.size())) return *error;
  }
  const std::string newline = format.Newline();
  for (const auto& line : lines) {
    if (auto error = output.Write(line.bytes.data(), line.bytes.size())) return *error;
    // Only the input's last line can lack an ending: it gets the input's own. A stray byte
    // leaves it a part unit, ended or not.
    if (line.bytes.size() % format.unit != 0 || !line.bytes.ends_with(newline)) {
      const std::string ending = scan.Ending();
      if (auto error = output.Write(ending.data(), ending.size())) return *error;
    }
  }
  return SampleReport{scan.Lines(), lines.size(), {}};
}

Expected<OutputFile> OpenOutput(const SampleRequest& request, const InputFile& input) {
  if (request.output.empty() && request.input == "-") return OutputFile::Replacing("-");
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
    // A pipe's folder (/dev/fd) takes no files: the user has to say where the sample goes.
    return Error{output.error().path, output.error().reason + "; name the output with -o"};
  }
  if (!output) return output.error();

  Random random(request.seed);
  Reservoir reservoir(request.size, random);
  auto reader = Reader::Start(*input, request);
  if (!reader) return reader.error();
  auto report = input->IsStream() ? SampleStream(*output, *reader, reservoir)
                                  : SampleFile(*input, *output, *reader, reservoir);
  if (!report) return report;
  auto written = output->Commit();
  if (!written) return written.error();
  report->output = std::move(*written);
  return report;
}

}  // namespace lotrix
