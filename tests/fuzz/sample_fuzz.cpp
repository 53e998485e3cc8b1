// The sampler under libFuzzer: its line scanning and its sample, from a file and from a pipe,
// held against sample_oracle.h; any fault aborts, which libFuzzer reports with the input.
//
// An input's first five bytes choose the case, the rest is the text, or compressed data (gzip,
// bzip2, xz, zstd) where it starts as that does: then a file and a pipe must give the same sample
// or fail alike, as no oracle decompresses.
//   0     the sample size: below 128, 0 to 15; above, one of 30, 1000, 32767, 2^40, 2^64 - 1
//         and the input's line count less one, itself and plus one
//   1, 2  the seed
//   3     how long the text is made by repeating it, so that a few bytes reach across the
//         sampler's 64 KiB reads and its 1 MiB output buffer
//   4     how many bytes of a stream's chosen lines stay in memory, and the pieces the pipe is
//         written in
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "decoder.h"
#include "sample.h"
#include "sample_oracle.h"
#include "standard_streams.h"

namespace {

constexpr std::size_t kRead = 64 << 10;
constexpr std::size_t kWrite = 1 << 20;

// Where inputs and samples go: in memory where the system has a place for it, as every run
// writes files and a disk would hold fuzzing to its pace.
// Never destroyed, so that it is still there when the exit handler removes the folder.
const std::string& Folder() {
  static const std::string* const folder = [] {
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    const std::filesystem::path path = base / ("lotrix-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(path);
    std::atexit([] { std::filesystem::remove_all(Folder()); });
    return new std::string(path.string());
  }();
  return *folder;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Case {
  std::string input;
  std::uint64_t size = 0;
  std::uint64_t seed = 0;
  std::size_t spillAfter = 0;
  std::size_t piece = 1;
};

[[noreturn]] void Fail(const Case& c, const std::string& path, const std::string& what) {
  std::filesystem::remove_all(Folder());
  std::fprintf(stderr, "%s, N=%llu, seed %llu, spilled after %zu, pieces of %zu, %zu bytes: %s\n",
               path.c_str(), static_cast<unsigned long long>(c.size),
               static_cast<unsigned long long>(c.seed), c.spillAfter, c.piece, c.input.size(),
               what.c_str());
  std::abort();
}

// Aborts unless `sample`, with its report, is a correct sample for `c`.
void Check(const Case& c, const std::string& path,
           const lotrix::Expected<lotrix::SampleReport>& report, const std::string& sample) {
  if (!report) Fail(c, path, "failed: " + report.error().path + ": " + report.error().reason);
  const oracle::Verdict verdict = oracle::Check(c.input, c.size, sample);
  if (!verdict.ok) Fail(c, path, verdict.why);
  if (report->lines != verdict.lines || report->written != verdict.taken.size()) {
    Fail(c, path,
         "reports " + std::to_string(report->written) + " of " + std::to_string(report->lines) +
             " lines, not " + std::to_string(verdict.taken.size()) + " of " +
             std::to_string(verdict.lines));
  }
}

Case Choose(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 5;
  const std::string_view text(reinterpret_cast<const char*>(data) + kHeader, size - kHeader);
  Case c;
  // Just short of, at and past a read or two, or the output buffer; else (0, the rest of the
  // 32) as it is, which fuzzes quickest.
  static constexpr std::size_t kLengths[32] = {kRead - 1,     kRead,         kRead + 1, kRead + 3,
                                               2 * kRead + 1, 3 * kRead - 2, kWrite + 1};
  const std::size_t length = kLengths[data[3] % std::size(kLengths)];
  c.input = text;
  while (!text.empty() && c.input.size() < length) {
    c.input += text.substr(0, length - c.input.size());
  }

  const std::uint64_t lines = oracle::Split(c.input).lines.size();
  const std::uint64_t sizes[] = {
      30,    1000,     32767, std::uint64_t{1} << 40, UINT64_MAX, lines > 0 ? lines - 1 : 0,
      lines, lines + 1};
  c.size = data[0] < 128 ? data[0] % 16 : sizes[data[0] % std::size(sizes)];
  c.seed = data[1] | data[2] << 8;

  static constexpr std::size_t kSpills[] = {std::size_t{16} << 20, 0, 1, 2, 3, 100, 4096};
  static constexpr std::size_t kPieces[] = {1, 2, 3, 7, 64, 4096, kRead};
  c.spillAfter = kSpills[data[4] % std::size(kSpills)];
  // Pieces no smaller than make a few hundred writes, which is short reads enough.
  c.piece = std::max(kPieces[data[4] / std::size(kSpills) % std::size(kPieces)],
                     c.input.size() / 256 + 1);
  return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const Case c = Choose(data, size);

  const std::string input = Folder() + "/input.txt";
  const std::string output = Folder() + "/sample.txt";
  { std::ofstream(input, std::ios::binary) << c.input; }
  lotrix::SampleRequest request;
  request.inputs = {input};
  request.output = output;
  request.size = c.size;
  request.seed = c.seed;
  const auto fromFile = lotrix::Sample(request);
  const std::string fileSample = ReadFile(output);
  const bool compressed = lotrix::CompressionOf(std::string_view(c.input).substr(
                              0, lotrix::kMagicSize)) != lotrix::Compression::kNone;
  if (compressed) {
    request.inputs = {"-"};
    request.output = std::string("-");
    const auto [fromPipe, pipeSample] = standard_streams::FeedingInput(
        c.input, [&] { return c.piece; },
        [&] {
          return standard_streams::CapturingOutput(Folder(),
                                                   [&] { return lotrix::Sample(request); });
        });
    if (bool(fromFile) != bool(fromPipe) || (fromFile && pipeSample != fileSample)) {
      Fail(c, "compressed", "a file and a pipe disagree");
    }
    return 0;
  }
  Check(c, "file", fromFile, fileSample);
  // Read twice, as a large sample of a large file is: the same sample.
  request.captureUpTo = 0;
  const auto twice = lotrix::Sample(request);
  const std::string twiceSample = ReadFile(output);
  Check(c, "file read twice", twice, twiceSample);
  if (twiceSample != fileSample) Fail(c, "file read twice", "not the file's sample read once");
  request.captureUpTo = lotrix::SampleRequest{}.captureUpTo;

  // The same from a pipe, in pieces so that reads come back short, to standard output.
  request.inputs = {"-"};
  request.output = std::string("-");
  request.spillAfter = c.spillAfter;
  std::size_t pieces = 0;
  const auto [fromPipe, pipeSample] = standard_streams::FeedingInput(
      c.input, [&] { return c.piece - (++pieces % 2) * (c.piece / 2); },
      [&] {
        return standard_streams::CapturingOutput(Folder(), [&] { return lotrix::Sample(request); });
      });
  Check(c, "pipe", fromPipe, pipeSample);
  if (pipeSample != fileSample) Fail(c, "pipe", "not the file's sample");
  return 0;
}
