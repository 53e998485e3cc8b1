// The sampler against what a correct sample is (sample_oracle.h), on inputs generated at random
// in every shape the sampler has to handle and of sizes around each of its buffers, read from a
// file and from a pipe; then whether every line and every pair of lines is as likely as any
// other; then samples pinned by seed for good.
//
// LOTRIX_PROPERTY_CASES sets how many inputs to try (150 unless set: some seconds of a run);
// LOTRIX_PROPERTY_SEED the first case's seed, which a failure names so that it can be replayed
// alone: LOTRIX_PROPERTY_SEED=<seed> LOTRIX_PROPERTY_CASES=1.
#include "sample.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "arguments.h"
#include "fake_tool.h"
#include "sample_oracle.h"
#include "standard_streams.h"

namespace {

// The sampler reads this much at a time (its scan four times as much) and buffers this much
// output; inputs are sized to put lines across all of them.
constexpr std::size_t kRead = 64 << 10;
constexpr std::size_t kScanRead = 4 * kRead;
constexpr std::size_t kWrite = 1 << 20;

std::uint64_t FromEnvironment(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : fallback;
}

// SplitMix64, not <random>'s distributions, whose results differ between standard libraries: a
// case's seed must give the same case on every platform.
class Dice {
 public:
  explicit Dice(std::uint64_t seed) : state_(seed) {}

  std::uint64_t Next() {
    std::uint64_t z = state_ += 0x9E3779B97F4A7C15u;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  // In [0, bound); bound > 0. The modulo's bias is of no matter here.
  std::uint64_t Below(std::uint64_t bound) { return Next() % bound; }
  std::uint64_t Between(std::uint64_t low, std::uint64_t high) {
    return low + Below(high - low + 1);
  }
  bool OneIn(std::uint64_t n) { return Below(n) == 0; }
  template <class T>
  T Pick(std::initializer_list<T> choices) {
    return choices.begin()[Below(choices.size())];
  }
  // Around `centre`, give or take `spread`.
  std::uint64_t Near(std::uint64_t centre, std::uint64_t spread) {
    return centre - spread + Below(2 * spread + 1);
  }

 private:
  std::uint64_t state_;
};

// What an input is made of, chosen at random; printed with a failure.
struct Shape {
  enum Encoding { kBytes, kUtf8Mark, kUtf16Le, kUtf16Be } encoding = kBytes;
  enum Endings { kLf, kCrlf, kMixed } endings = kLf;
  bool empties = false;      // many empty lines
  bool nul = false;          // NUL bytes and any other byte but a newline
  bool multibyte = false;    // characters beyond ASCII
  bool longLines = false;    // lines longer than a read, or than the output buffer
  bool leadingCrlf = false;  // "\r\n" first
  bool unended = false;      // no ending on the last line
  bool stray = false;        // a byte too few for a whole last UTF-16 unit
  bool misaligned = false;   // UTF-16 units holding a 0x0A byte, two of them the bytes of one
  std::size_t target = 0;    // bytes of text, roughly

  bool Wide() const { return encoding == kUtf16Le || encoding == kUtf16Be; }

  std::string Describe() const {
    static const char* const kEncodings[] = {"bytes", "UTF-8 with mark", "UTF-16LE", "UTF-16BE"};
    static const char* const kEndings[] = {"LF", "CRLF", "mixed endings"};
    std::string text = std::string(kEncodings[encoding]) + ", " + kEndings[endings] + ", ~" +
                       std::to_string(target) + " bytes";
    for (const auto& [on, name] : {std::pair{empties, "empty lines"},
                                   {nul, "NUL and any byte"},
                                   {multibyte, "multibyte"},
                                   {longLines, "long lines"},
                                   {leadingCrlf, "leading CRLF"},
                                   {unended, "unended"},
                                   {stray, "stray byte"},
                                   {misaligned, "misaligned 0A"}}) {
      if (on) text += std::string(", ") + name;
    }
    return text;
  }
};

std::size_t TargetSize(Dice& dice) {
  switch (dice.Below(10)) {
    case 0:
    case 1:
    case 2:
      return dice.Below(200);
    case 3:
      return dice.Near(kRead, 300);
    case 4:
      return dice.Near(2 * kRead, 300);
    case 5:
      return dice.Near(kWrite, 300);
    case 6:
      return dice.Near(kWrite + kRead, 300);
    case 7:
      return dice.Below(2) ? dice.Near(kScanRead, 300) : dice.Below(4 * kRead);
    default:
      return dice.Below(3 * kWrite);
  }
}

Shape RandomShape(Dice& dice) {
  Shape shape;
  shape.encoding =
      dice.Pick({Shape::kBytes, Shape::kBytes, Shape::kUtf8Mark, Shape::kUtf16Le, Shape::kUtf16Be});
  shape.endings = dice.Pick({Shape::kLf, Shape::kCrlf, Shape::kMixed});
  shape.empties = dice.OneIn(4);
  shape.nul = dice.OneIn(5);
  shape.multibyte = dice.OneIn(3);
  shape.target = TargetSize(dice);
  shape.longLines = shape.target > kRead && dice.OneIn(5);
  shape.leadingCrlf = dice.OneIn(6);
  shape.unended = dice.OneIn(2);
  shape.stray = shape.Wide() && dice.OneIn(2);
  shape.misaligned = shape.Wide() && dice.OneIn(2);
  return shape;
}

class Generator {
 public:
  Generator(const Shape& shape, Dice& dice) : shape_(shape), dice_(dice) {}

  std::string Input() {
    std::string text;
    if (shape_.leadingCrlf) text += Unit('\r') + Unit('\n');
    while (text.size() < shape_.target) {
      for (std::size_t units = LineLength(); units > 0; --units) text += Content();
      if (shape_.endings == Shape::kCrlf || (shape_.endings == Shape::kMixed && dice_.OneIn(2))) {
        text += Unit('\r');
      }
      text += Unit('\n');
    }
    // An unended last line keeps the CR of its CRLF half the time, ending in a CR alone.
    if (shape_.unended && !text.empty()) {
      text.resize(text.size() - Unit('\n').size());
      if (dice_.OneIn(2) && text.ends_with(Unit('\r'))) {
        text.resize(text.size() - Unit('\r').size());
      }
    }
    if (shape_.stray) text += dice_.Pick({'\n', '\0', '\r', 'x'});
    return Mark() + text;
  }

 private:
  std::string Mark() const {
    switch (shape_.encoding) {
      case Shape::kUtf8Mark:
        return "\xEF\xBB\xBF";
      case Shape::kUtf16Le:
        return "\xFF\xFE";
      case Shape::kUtf16Be:
        return "\xFE\xFF";
      default:
        return "";
    }
  }

  std::string Unit(char16_t code) const {
    const char low = static_cast<char>(code & 0xFF);
    const char high = static_cast<char>(code >> 8);
    if (!shape_.Wide()) return std::string(1, low);
    return shape_.encoding == Shape::kUtf16Le ? std::string{low, high} : std::string{high, low};
  }

  std::size_t LineLength() {
    if (shape_.empties && dice_.OneIn(2)) return 0;
    if (shape_.longLines && dice_.OneIn(12)) {
      const std::size_t bytes = dice_.Pick(
          {dice_.Near(kRead, 100), dice_.Near(kWrite, 100), dice_.Between(kRead, 2 * kWrite)});
      return bytes / (shape_.Wide() ? 2 : 1);
    }
    return dice_.OneIn(20) ? dice_.Below(3000) : dice_.Below(80);
  }

  // One character, or a few units that belong together.
  std::string Content() {
    const int kind = static_cast<int>(dice_.Below(40));
    if (shape_.Wide()) {
      if (shape_.misaligned && kind < 6) {
        // U+0A2A U+3000 spell 2A 0A 00 30 in UTF-16LE, and U+3000 U+0A2A spell 30 00 0A 2A in
        // UTF-16BE: the bytes of a newline, astride two units.
        return kind < 2   ? Unit(0x0A2A) + Unit(0x3000)
               : kind < 4 ? Unit(0x3000) + Unit(0x0A2A)
                          : Unit(dice_.Pick<char16_t>({0x010A, 0x0A0A, 0x0A00, 0x0D0A}));
      }
      if (shape_.multibyte && kind < 12) {
        return Unit(dice_.Pick<char16_t>({0x4E2D, 0x00E9, 0xFEFF}));
      }
      if (shape_.nul && kind < 14) return Unit(dice_.Pick<char16_t>({0x0000, 0x000D}));
    } else {
      if (shape_.multibyte && kind < 6) {
        return dice_.Pick<std::string>(
            {"\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\xEF\xBB\xBF", "\xFF\xFE"});
      }
      if (shape_.nul && kind < 9) {
        const char byte = static_cast<char>(dice_.Below(256));
        return std::string(1, byte == '\n' ? '\0' : byte);
      }
    }
    if (shape_.endings == Shape::kMixed && kind == 39) return Unit('\r');
    return Unit(static_cast<char16_t>(dice_.Between(' ', '~')));
  }

  const Shape& shape_;
  Dice& dice_;
};

// How many lines to ask for, given that the input has `lines`.
std::uint64_t SampleSize(Dice& dice, std::uint64_t lines) {
  switch (dice.Below(11)) {
    case 0:
      return 0;
    case 1:
      return 1;
    case 2:
      return dice.Between(2, 4);
    case 3:
      return lines > 0 ? lines - 1 : 0;
    case 4:
      return lines;
    case 5:
      return lines + dice.Between(1, 3);
    case 6:
      return dice.Below(lines + 1);
    case 7:
      return dice.Below(100);
    case 8:
      return 32767;
    case 9:
      return dice.Below(lines / 2 + 1);
    default:
      return std::uint64_t{1} << 40;  // every line, however many
  }
}

struct Outcome {
  std::string error;  // empty when the sampler succeeded
  lotrix::SampleReport report;
  std::string sample;
};

// Built by moves: assigning a short literal to a string draws a false -Wrestrict from GCC 12.
lotrix::SampleRequest Request(std::string input, std::string output, std::uint64_t size,
                              std::uint64_t seed) {
  lotrix::SampleRequest request;
  request.inputs = {std::move(input)};
  request.output = std::move(output);
  request.size = size;
  request.seed = seed;
  return request;
}

Outcome SampleTo(const lotrix::SampleRequest& request) {
  auto report = lotrix::Sample(request);
  if (!report) return {report.error().path + ": " + report.error().reason, {}, {}};
  return {{}, *report, fake::ReadFile(request.output)};
}

class Sampler {
 public:
  // The input of the samples from a file that follow.
  void Write(const std::string& input) {
    std::ofstream(dir_ / "input.txt", std::ios::binary) << input;
  }

  // `captureUpTo` 0 reads the file twice, as a large sample of a large file is.
  Outcome FromFile(std::uint64_t size, std::uint64_t seed,
                   std::uint64_t captureUpTo = lotrix::SampleRequest{}.captureUpTo) {
    lotrix::SampleRequest request = Request(dir_ / "input.txt", dir_ / "sample.txt", size, seed);
    request.captureUpTo = captureUpTo;
    return SampleTo(request);
  }

  // The same to standard output: quicker, as no file is made durable and renamed; `shape` makes
  // the request what it is.
  template <class Shape = void (*)(lotrix::SampleRequest&)>
  Outcome ToStandardOutput(
      std::uint64_t size, std::uint64_t seed, Shape shape = [](lotrix::SampleRequest&) {}) {
    lotrix::SampleRequest request = Request(dir_ / "input.txt", "-", size, seed);
    shape(request);
    auto [outcome, sample] =
        standard_streams::CapturingOutput(dir_.path().string(), [&]() -> Outcome {
          auto report = lotrix::Sample(request);
          if (!report) return {report.error().path + ": " + report.error().reason, {}, {}};
          return {{}, *report, {}};
        });
    outcome.sample = std::move(sample);
    return outcome;
  }

  // A request made by `shape` from one for `size` lines of the input file, to a file or (`pipe`)
  // from standard input.
  template <class Shape>
  Outcome With(std::uint64_t size, std::uint64_t seed, Shape shape, bool pipe = false) {
    lotrix::SampleRequest request =
        Request(pipe ? std::string("-") : dir_ / "input.txt", dir_ / "sample.txt", size, seed);
    shape(request);
    if (!pipe) return SampleTo(request);
    std::ifstream file(dir_ / "input.txt", std::ios::binary);
    const std::string input((std::istreambuf_iterator<char>(file)), {});
    return standard_streams::FeedingInput(
        input, [] { return kRead; }, [&] { return SampleTo(request); });
  }
  std::string Path(const std::string& name) const { return dir_ / name; }

  // From standard input, written to it in pieces of 1 to `piece` bytes.
  Outcome FromPipe(const std::string& input, std::uint64_t size, std::uint64_t seed,
                   std::size_t spillAfter, std::size_t piece, std::uint64_t pieceSeed) {
    lotrix::SampleRequest request = Request("-", dir_ / "sample.txt", size, seed);
    request.spillAfter = spillAfter;
    Dice pieces(pieceSeed);
    return standard_streams::FeedingInput(
        input, [&] { return static_cast<std::size_t>(pieces.Between(1, piece)); },
        [&] { return SampleTo(request); });
  }

 private:
  fake::TempDir dir_;
};

// What is wrong with `outcome` as a sample of `size` lines of `input`, by kind (the kinds are
// tallied over all cases) and in detail; nothing when it is right.
std::vector<std::pair<std::string, std::string>> Faults(const std::string& input,
                                                        std::uint64_t size,
                                                        const Outcome& outcome) {
  if (!outcome.error.empty()) return {{"fails", outcome.error}};
  const oracle::Verdict verdict = oracle::Check(input, size, outcome.sample);
  std::vector<std::pair<std::string, std::string>> faults;
  if (!verdict.ok) {
    faults.emplace_back(!verdict.linesOk ? "wrong lines" : "wrong mark", verdict.why);
  }
  const std::uint64_t due = std::min<std::uint64_t>(size, verdict.lines);
  if (outcome.report.lines != verdict.lines || outcome.report.written != due) {
    faults.emplace_back("wrong report", "reports " + std::to_string(outcome.report.written) +
                                            " of " + std::to_string(outcome.report.lines) +
                                            " lines written, not " + std::to_string(due) + " of " +
                                            std::to_string(verdict.lines));
  }
  return faults;
}

#ifdef _WIN32
// Under Wine every write to a pipe is a round trip to its server: fewer, larger pieces.
constexpr std::size_t kMostWrites = 250;
#else
constexpr std::size_t kMostWrites = 2000;
#endif

// The oracle itself, on cases worked out by hand: the properties below are only as good as it.
TEST(SampleOracle, SaysWhatACorrectSampleIs) {
  using namespace std::string_literals;
  const std::string mark8 = "\xEF\xBB\xBF";
  const std::string le = "\xFF\xFE";
  const std::string be = "\xFE\xFF";
  struct Case {
    std::string input;
    std::uint64_t size;
    std::string output;
    bool ok;
  };
  const Case cases[] = {
      {"a\nb\n", 1, "b\n", true},
      {"a\nb\n", 1, "c\n", false},
      {"a\nb\n", 2, "b\na\n", false},  // out of order
      {"a\na\n", 2, "a\na\n", true},   // equal lines, two of them
      {"a\nb\n", 2, "a\na\n", false},  // one line twice
      {"a\nb\n", 2, "a\n", false},     // too few
      {"a\nb\n", 1, "a\nb\n", false},  // too many
      {"a\nb\n", 5, "a\nb\n", true},
      {"a\nb\n", 0, "", true},
      {"a\nb\n", 0, "a\n", false},
      {"", 5, "", true},
      {"a\nb", 1, "b", false},  // an unended last line gets an ending
      {"a\r\nb", 1, "b\r\n", true},
      {"a\r\nb", 1, "b\n", false},      // the first newline's ending, CR LF
      {"a\nb\r\nc", 1, "c\n", true},    // the first newline's, not the last
      {"\r\nx", 1, "x\r\n", true},      // a CR at the very start counts
      {"lone", 1, "lone\n", true},      // no newline at all: LF
      {"a\rb", 1, "a\rb\n", true},      // a CR alone ends nothing
      {"a\n\nb\n", 1, "\n", true},      // an empty line is a line
      {"n\0l\n"s, 1, "n\0l\n"s, true},  // NUL is a byte like any other
      {mark8 + "a\n", 1, mark8 + "a\n", true},
      {mark8 + "a\n", 1, "a\n", false},
      {mark8, 1, "", true},  // a mark and no line: nothing, not even the mark
      {le + "a\0\n\0b\0"s, 1, le + "b\0\r\0\n\0"s, false},
      {le + "a\0\n\0b\0"s, 1, le + "b\0\n\0"s, true},
      {le + "a\0\n\0b\0"s, 1, le + "b\0\n"s, false},
      // 2A 0A 00 30 is U+0A2A U+3000: no newline, although it holds the bytes of one.
      {le + "\x2A\x0A\x00\x30"s, 1, le + "\x2A\x0A\x00\x30\n\0"s, true},
      {le + "\x2A\x0A\x00\x30"s + "\n\0"s, 1, le + "\x2A\x0A\x00\x30\n\0"s, true},
      // U+010A holds a 0x0A byte where a newline's would be, in the wrong unit order.
      {le + "\x0A\x01\n\0"s, 2, le + "\x0A\x01\n\0"s, true},
      // A stray byte after the last whole unit is a last line of its own, left as it is: an
      // ending after it would be out of step.
      {le + "a\0\r\0\n\0z"s, 1, le + "z"s, true},
      {le + "a\0\r\0\n\0z"s, 1, le + "z\r\0\n\0"s, false},
      {be + "\0a\0\r\0\n\0b"s, 1, be + "\0b\0\r\0\n"s, true},
      {be + "\0a\0\r\0\n\0b"s, 1, be + "\0b\r\0\n\0"s, false},  // the other byte order's
      {le + "a\0b\0\n\0c\0z"s, 1, le + "c\0z"s, true},          // a unit and a stray byte
  };
  for (const Case& c : cases) {
    EXPECT_EQ(oracle::Check(c.input, c.size, c.output).ok, c.ok)
        << oracle::Escaped(c.input) << ", N=" << c.size << ": " << oracle::Escaped(c.output);
  }
  const oracle::Verdict verdict = oracle::Check("a\nb\nc\nd", 2, "b\nd\n");
  EXPECT_EQ(verdict.taken, (std::vector<std::size_t>{1, 3}));
  EXPECT_EQ(verdict.lines, 4u);
  EXPECT_FALSE(oracle::Check(le + "a\0\n\0"s, 1, "\xFE\xFF" + "a\0\n\0"s).markOk);
}

TEST(SampleProperty, EveryInputGivesACorrectSampleAndTheSameFromAFileAsFromAPipe) {
  const std::uint64_t cases = FromEnvironment("LOTRIX_PROPERTY_CASES", 150);
  const std::uint64_t first = FromEnvironment("LOTRIX_PROPERTY_SEED", 1);
  constexpr int kShown = 12;
  int failed = 0;
  std::map<std::string, int> tally;
  Sampler sampler;
  for (std::uint64_t caseSeed = first; caseSeed < first + cases; ++caseSeed) {
    Dice dice(caseSeed);
    const Shape shape = RandomShape(dice);
    const std::string input = Generator(shape, dice).Input();
    const std::uint64_t lines = oracle::Split(input).lines.size();
    const std::uint64_t size = SampleSize(dice, lines);
    const std::uint64_t seed = dice.Next();
    // At times a byte at a time, but not so many writes that a large input takes long.
    const std::size_t piece = std::max<std::size_t>(
        dice.Pick<std::size_t>({1, 2, 7, 100, 4096, kRead - 1, kRead + 3, 3 * kRead}),
        input.size() / kMostWrites + 1);
    const std::size_t spillAfter = dice.Pick<std::size_t>({0, 1, 100, dice.Below(5000)});

    std::string details;
    std::set<std::string> kinds;
    const auto note = [&](const std::string& path, const auto& faults) {
      for (const auto& [kind, detail] : faults) {
        kinds.insert(path + ": " + kind);
        details += "\n  " + path + ": " + kind + ": " + detail;
      }
    };
    sampler.Write(input);
    const Outcome file = sampler.FromFile(size, seed);
    note("file", Faults(input, size, file));
    const Outcome twice = sampler.FromFile(size, seed, 0);
    auto twiceFaults = Faults(input, size, twice);
    if (file.error.empty() && twice.error.empty() && twice.sample != file.sample) {
      twiceFaults.emplace_back("not the file's sample read once", "");
    }
    note("file read twice", twiceFaults);
    for (const bool spilled : {false, true}) {
      const Outcome pipe = sampler.FromPipe(input, size, seed, spilled ? spillAfter : 64 * kWrite,
                                            piece, dice.Next());
      const std::string path = spilled ? "spilled pipe" : "pipe";
      auto faults = Faults(input, size, pipe);
      if (file.error.empty() && pipe.error.empty() && pipe.sample != file.sample) {
        faults.emplace_back("not the file's sample", std::to_string(pipe.sample.size()) +
                                                         " bytes against " +
                                                         std::to_string(file.sample.size()));
      }
      note(path, faults);
    }
    if (kinds.empty()) continue;
    for (const std::string& kind : kinds) ++tally[kind];
    if (++failed <= kShown) {
      ADD_FAILURE() << "case LOTRIX_PROPERTY_SEED=" << caseSeed
                    << " (LOTRIX_PROPERTY_CASES=1 alone)"
                    << ": " << shape.Describe() << "; " << input.size() << " bytes, " << lines
                    << " lines, N=" << size << ", seed " << seed
                    << ", pipe written in pieces of up to " << piece << ", spilled after "
                    << spillAfter << " bytes" << details;
    }
  }
  std::string summary;
  for (const auto& [kind, count] : tally) summary += "\n  " + kind + ": " + std::to_string(count);
  EXPECT_EQ(failed, 0) << "cases failed of " << cases << ", by fault:" << summary;
}

// Whether two samples are the same, saying where they part if not: a failure's message stays
// short however large they are.
testing::AssertionResult Same(const std::string& got, const std::string& wanted) {
  if (got == wanted) return testing::AssertionSuccess();
  const auto at = std::mismatch(got.begin(), got.end(), wanted.begin(), wanted.end());
  const auto offset = static_cast<std::size_t>(at.first - got.begin());
  return testing::AssertionFailure()
         << got.size() << " bytes against " << wanted.size() << ", parting at byte " << offset
         << ": " << oracle::Escaped(got.substr(offset)) << " against "
         << oracle::Escaped(wanted.substr(std::min(offset, wanted.size())));
}

// `text` in gzip's format, as a compressed corpus file holds it.
std::string Gzipped(const std::string& text) {
  z_stream stream{};
  deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The lines of a sample of `text`, read as `text` is (a line may start with the bytes of a mark).
std::vector<std::string_view> LinesOf(std::string_view sample, const oracle::Text& text) {
  if (text.unit == 2) return oracle::Split(sample).lines;
  sample.remove_prefix(std::min(sample.size(), text.mark.size()));
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < sample.size();) {
    const std::size_t end = std::min(sample.find('\n', start), sample.size() - 1) + 1;
    lines.push_back(sample.substr(start, end - start));
    start = end;
  }
  return lines;
}

std::vector<std::string_view> SortedLines(std::string_view sample, const oracle::Text& text) {
  std::vector<std::string_view> lines = LinesOf(sample, text);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Each mode against the plain sample of the same input and seed, which the test above holds
// against the oracle: a header is the input's first lines above the sample of the rest; several
// inputs cut from one give its sample, and so does its gzip file and a share that comes to the
// same count; a shuffle holds the same lines; lines drawn with replacement or by chance are the
// input's lines in its order; and a pipe gives what a file gives.
TEST(SampleProperty, EveryModeIsThePlainSampleAsItsOptionSays) {
  const std::uint64_t cases = FromEnvironment("LOTRIX_PROPERTY_CASES", 150) / 2 + 1;
  const std::uint64_t first = FromEnvironment("LOTRIX_PROPERTY_SEED", 1);
  Sampler sampler;
  for (std::uint64_t caseSeed = first; caseSeed < first + cases; ++caseSeed) {
    Dice dice(caseSeed);
    const Shape shape = RandomShape(dice);
    const std::string input = Generator(shape, dice).Input();
    const oracle::Text text = oracle::Split(input);
    const std::uint64_t lines = text.lines.size();
    const std::uint64_t size = SampleSize(dice, lines);
    const std::uint64_t seed = dice.Next();
    SCOPED_TRACE("case LOTRIX_PROPERTY_SEED=" + std::to_string(caseSeed) + ": " + shape.Describe() +
                 ", " + std::to_string(lines) + " lines, N=" + std::to_string(size));
    sampler.Write(input);
    const Outcome plain = sampler.FromFile(size, seed);
    ASSERT_EQ(plain.error, "");
    const auto sample = [&](std::uint64_t n, auto shape, bool pipe = false) {
      const Outcome outcome = sampler.With(n, seed, shape, pipe);
      EXPECT_EQ(outcome.error, "");
      return outcome.sample;
    };

    // A header of K lines.
    const auto k = static_cast<std::size_t>(std::min<std::uint64_t>(dice.Below(4), lines));
    std::string header, body(text.mark);
    for (std::size_t i = 0; i < lines; ++i) (i < k ? header : body) += text.Rendered(i);
    if (text.lastUnended && lines > k) body.resize(body.size() - text.ending.size());
    const auto withHeader = [&](lotrix::SampleRequest& r) { r.header = dice.Below(4) + k; };
    const std::string headed = sample(size, [&](auto& r) { r.header = k; });
    sampler.Write(body);
    std::string rest = sampler.FromFile(size, seed).sample;
    rest.erase(0, rest.starts_with(text.mark) ? text.mark.size() : 0);
    // (Unless what follows the header starts with the bytes of a mark, and is read otherwise.)
    if (oracle::Split(body).mark == text.mark) {
      EXPECT_TRUE(Same(headed, k + rest.size() > 0 ? std::string(text.mark) + header + rest : ""))
          << "--header=" << k;
    }
    sampler.Write(input);
    if (k == lines && lines > 0) {
      EXPECT_TRUE(Same(sample(size, withHeader), std::string(text.mark) + header))
          << "a header past the end";
    }

    // The input cut into files at line boundaries, each with the mark of a UTF-16 text.
    std::vector<std::string> parts{std::string(text.mark)};
    for (std::size_t i = 0; i < lines; ++i) {
      // Not before a line that starts as a mark or compressed data would, which is read so.
      const bool plain =
          oracle::Split(text.lines[i]).mark.empty() && !text.lines[i].starts_with("\x1f\x8b");
      if (i > 0 && plain && dice.OneIn(std::max<std::uint64_t>(2, lines / 2))) {
        parts.push_back(text.unit == 2 || dice.OneIn(2) ? std::string(text.mark) : "");
      }
      parts.back() += text.lines[i];
    }
    std::vector<std::string> names;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      names.push_back(sampler.Path("part" + std::to_string(i)));
      WriteFile(names.back(), parts[i]);
    }
    // (A last line without an ending gets its own part's ending, which is the whole input's
    // where the input ends its lines alike.)
    if (!text.lastUnended || (shape.endings != Shape::kMixed && !shape.leadingCrlf)) {
      EXPECT_TRUE(Same(sample(size, [&](auto& r) { r.inputs = names; }), plain.sample))
          << "cut in " << parts.size();
    }
    WriteFile(sampler.Path("input.gz"), Gzipped(input));
    EXPECT_TRUE(
        Same(sample(size, [&](auto& r) { r.inputs = {sampler.Path("input.gz")}; }), plain.sample))
        << "gzip";

    // A share, which must come to a count.
    lotrix::SampleSize share;
    share.kind = lotrix::SampleSize::Kind::kShare;
    share.share = dice.Pick<std::uint64_t>({0, 100'000'000, dice.Below(100'000'001)});
    const std::string byCount = sampler.FromFile(share.Of(lines), seed).sample;
    for (const bool pipe : {false, true}) {
      const auto asShare = [&](auto& r) { r.size = share; };
      EXPECT_TRUE(Same(sample(0, asShare, pipe), byCount))
          << share.share << " parts of 10^8" << (pipe ? ", from a pipe" : "");
    }

    // The same lines shuffled, from a file and a pipe alike (a last line in a stray byte, which
    // could only stay last, is refused).
    if (!shape.stray) {
      const auto shuffled = [&](auto& r) { r.shuffle = true; };
      const std::string order = sample(size, shuffled);
      EXPECT_TRUE(SortedLines(order, text) == SortedLines(plain.sample, text)) << "--shuffle";
      EXPECT_EQ(order.substr(0, text.mark.size()), plain.sample.substr(0, text.mark.size()));
      EXPECT_TRUE(Same(sample(size, shuffled, true), order)) << "--shuffle, from a pipe";
    }

    // Lines drawn with replacement: as many as asked, each an input line, in input order (a line
    // that ends in half a UTF-16 unit, drawn twice, runs into its copy).
    const std::uint64_t draws = shape.stray ? 0 : dice.Below(3 * lines + 3);
    const auto replaced = [&](auto& r) { r.replace = true; };
    const std::string drawn = sample(draws, replaced);
    const std::vector<std::string_view> got = LinesOf(drawn, text);
    EXPECT_EQ(got.size(), lines > 0 ? draws : 0) << "--replace " << draws;
    std::size_t at = 0;
    for (const std::string_view line : got) {
      while (at < lines && text.Rendered(at) != line) ++at;
      ASSERT_LT(at, lines) << "--replace: " << oracle::Escaped(line) << " out of order";
    }
    EXPECT_TRUE(Same(sample(draws, replaced, true), drawn)) << "--replace, from a pipe";

    // Lines by chance: distinct lines in input order, the file's and the pipe's the same.
    const double chance = dice.Pick({0.0, 1.0, static_cast<double>(dice.Below(1000)) / 1000});
    const auto byChance = [&](auto& r) {
      r.size.kind = lotrix::SampleSize::Kind::kProbability;
      r.size.probability = chance;
    };
    const std::string kept = sample(0, byChance);
    const std::size_t keptLines = LinesOf(kept, text).size();
    EXPECT_TRUE(oracle::Check(input, keptLines, kept).ok) << "--prob " << chance;
    EXPECT_EQ(keptLines, chance == 1.0 ? lines : chance == 0.0 ? 0 : keptLines);
    EXPECT_TRUE(Same(sample(0, byChance, true), kept)) << "--prob, from a pipe";
  }
}

// Lines "line 0000\n" ... each as long as the others, so that no count tells lines apart.
std::string NumberedLines(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    const std::string number = std::to_string(i);
    text += "line " + std::string(4 - number.size(), '0') + number + "\n";
  }
  return text;
}

#ifdef _WIN32
// Under Wine a sample costs milliseconds of its server's time. The draws are the Linux build's
// bit for bit (the golden table below shows it), so a fifth of them will do there; the bounds
// follow the number of draws.
constexpr int kDraws = 600;
#else
constexpr int kDraws = 5000;
#endif

// The sampler drawing `size` of `lines` lines kDraws times, each with a seed of its own; calls
// `tally` with the lines each sample took.
template <class Tally>
void Draw(int lines, std::uint64_t size, Tally tally) {
  const std::string input = NumberedLines(lines);
  Sampler sampler;
  sampler.Write(input);
  Dice seeds(size * 1000 + static_cast<std::uint64_t>(lines));
  for (int draw = 0; draw < kDraws; ++draw) {
    const std::uint64_t seed = seeds.Next();
    const Outcome outcome = sampler.ToStandardOutput(size, seed);
    const oracle::Verdict verdict = oracle::Check(input, size, outcome.sample);
    ASSERT_TRUE(outcome.error.empty() && verdict.ok)
        << "seed " << seed << ": " << outcome.error << verdict.why;
    tally(verdict.taken);
  }
}

// Sums of squared standardised deviations: with `terms` of them, a fair sampler's sum is near
// `terms`, with a standard deviation near sqrt(2 * terms). Seven deviations out, a fair sampler
// passes all but once in millions of runs (and the seeds are fixed, so a run that passes passes
// for good), while a line never or always taken, or a slot chosen with a bias, is far beyond.
double Bound(int terms) { return terms + 7 * std::sqrt(2.0 * terms); }

// Each line taken in its N/L share of the samples; a count more than six deviations off is named.
void ExpectEveryLineEquallyLikely(int lines, std::uint64_t size) {
  std::vector<int> counts(static_cast<std::size_t>(lines));
  Draw(lines, size, [&](const std::vector<std::size_t>& taken) {
    for (const std::size_t line : taken) ++counts[line];
  });
  const double p = static_cast<double>(size) / lines;
  const double mean = kDraws * p;
  const double variance = kDraws * p * (1 - p);
  double statistic = 0;
  for (int line = 0; line < lines; ++line) {
    const int count = counts[static_cast<std::size_t>(line)];
    const double off = count - mean;
    statistic += off * off / variance;
    EXPECT_LT(off * off, 36 * variance)
        << "line " << line << " taken " << count << " times, where " << mean << " were due";
  }
  EXPECT_LT(statistic, Bound(lines)) << size << " of " << lines << " lines";
}

TEST(SampleUniformity, EveryLineIsEquallyLikely) {
  ExpectEveryLineEquallyLikely(40, 5);
  ExpectEveryLineEquallyLikely(40, 38);
  ExpectEveryLineEquallyLikely(40, 1);
}

// Fairness line by line misses lines that go together: every pair must be as likely as any
// other.
TEST(SampleUniformity, EveryPairOfLinesIsEquallyLikely) {
  constexpr int kLines = 10;
  constexpr int kPairs = kLines * (kLines - 1) / 2;
  std::vector<int> pairs(kLines * kLines);
  Draw(kLines, 2,
       [&](const std::vector<std::size_t>& taken) { ++pairs[taken[0] * kLines + taken[1]]; });
  const double mean = static_cast<double>(kDraws) / kPairs;
  double statistic = 0;
  for (int first = 0; first < kLines; ++first) {
    for (int second = first + 1; second < kLines; ++second) {
      const double off = pairs[static_cast<std::size_t>(first * kLines + second)] - mean;
      statistic += off * off / mean;
    }
  }
  EXPECT_LT(statistic, Bound(kPairs - 1));
}

// Far into a long input the reservoir leaps over lines by geometric skips, which must favour no
// stretch of it: lines counted in 20 stretches of 100.
TEST(SampleUniformity, EveryStretchOfALongInputIsEquallyLikely) {
  constexpr int kLines = 2000;
  constexpr int kStretches = 20;
  constexpr std::uint64_t kSize = 3;
  std::vector<int> counts(kStretches);
  Draw(kLines, kSize, [&](const std::vector<std::size_t>& taken) {
    for (const std::size_t line : taken) ++counts[line / (kLines / kStretches)];
  });
  const double p = 1.0 / kStretches;
  const double mean = kDraws * kSize * p;
  // As if the three lines of a sample were drawn independently: a little more spread than
  // drawing them without replacement gives, so the bound errs on the generous side.
  const double variance = kDraws * kSize * p * (1 - p);
  double statistic = 0;
  for (const int count : counts) statistic += (count - mean) * (count - mean) / variance;
  EXPECT_LT(statistic, Bound(kStretches));
}

// The modes that change which lines are drawn, or in which order, over many seeds: by chance,
// each line kept with its probability (and the count kept binomial); in random order, each
// order of three lines as likely as the others; with replacement, each line drawn in its 1/L
// share of the draws. The modes left out are the plain draw's, as the test above shows.
TEST(SampleUniformity, EachModeIsFairOverManySeeds) {
  constexpr int kLines = 20;
  const std::string input = NumberedLines(kLines);
  Sampler sampler;
  sampler.Write(input);
  const std::string three = sampler.Path("three.txt");
  WriteFile(three, NumberedLines(3));
  const auto lineOf = [](std::string_view line) { return std::stoi(std::string(line.substr(5))); };
  Dice seeds(99);
  std::vector<int> kept(kLines), drawn(kLines), orders(27);
  int keptInAll = 0;
  for (int draw = 0; draw < kDraws; ++draw) {
    const std::uint64_t seed = seeds.Next();
    const std::string chance = sampler
                                   .ToStandardOutput(0, seed,
                                                     [](auto& r) {
                                                       r.size.kind =
                                                           lotrix::SampleSize::Kind::kProbability;
                                                       r.size.probability = 0.25;
                                                     })
                                   .sample;
    for (const std::string_view line : oracle::Split(chance).lines) ++kept[lineOf(line)];
    keptInAll += static_cast<int>(oracle::Split(chance).lines.size());
    const std::string shuffled = sampler
                                     .ToStandardOutput(3, seed,
                                                       [&](auto& r) {
                                                         r.shuffle = true;
                                                         r.inputs = {three};
                                                       })
                                     .sample;
    const auto order = oracle::Split(shuffled).lines;
    if (order.size() == 3) ++orders[lineOf(order[0]) * 9 + lineOf(order[1]) * 3 + lineOf(order[2])];
    const std::string replaced =
        sampler.ToStandardOutput(5, seed, [](auto& r) { r.replace = true; }).sample;
    for (const std::string_view line : oracle::Split(replaced).lines) ++drawn[lineOf(line)];
  }
  double keptStatistic = 0, drawnStatistic = 0, orderStatistic = 0;
  const double keep = kDraws * 0.25, keepVariance = kDraws * 0.25 * 0.75;
  const double draws = kDraws * 5.0 / kLines, drawVariance = draws * (1 - 1.0 / kLines);
  for (int line = 0; line < kLines; ++line) {
    keptStatistic += (kept[line] - keep) * (kept[line] - keep) / keepVariance;
    drawnStatistic += (drawn[line] - draws) * (drawn[line] - draws) / drawVariance;
  }
  const double orderMean = kDraws / 6.0;
  for (const int a : {0, 1, 2}) {
    for (const int b : {0, 1, 2}) {
      if (a == b) continue;
      const double off = orders[a * 9 + b * 3 + (3 - a - b)] - orderMean;
      orderStatistic += off * off / orderMean;
    }
  }
  EXPECT_LT(keptStatistic, Bound(kLines)) << "--prob 0.25";
  const double total = kDraws * kLines * 0.25, spread = std::sqrt(total * 0.75);
  EXPECT_LT(std::abs(keptInAll - total), 7 * spread) << "--prob 0.25: lines kept in all";
  EXPECT_LT(drawnStatistic, Bound(kLines)) << "--replace";
  EXPECT_LT(orderStatistic, Bound(5)) << "--shuffle";
}

// Deterministic inputs of distinct lines, each `width` bytes with its ending.
std::string Fixed(int lines, int width, const std::string& ending) {
  std::string text;
  text.reserve(static_cast<std::size_t>(lines) * static_cast<std::size_t>(width));
  const int filler = width - 7 - static_cast<int>(ending.size());
  for (int i = 0; i < lines; ++i) {
    std::string number = std::to_string(i);
    text += std::string(7 - number.size(), '0') + number;
    for (int j = 0; j < filler; ++j) text += static_cast<char>('a' + (i * 7 + j) % 26);
    text += ending;
  }
  return text;
}

// Past 4 MiB a shuffled sample is dealt into piles, and past 2^21 draws with replacement the
// sorted runs of draws are merged: every line still comes, as often as it should, in the order
// it should.
TEST(SampleProperty, LargeShufflesAndDrawsGoThroughTemporaryFilesWhole) {
  Sampler sampler;
  const std::string input = Fixed(60000, 100, "\n");  // 6 MB
  sampler.Write(input);
  const Outcome shuffled = sampler.ToStandardOutput(60000, 3, [](auto& r) { r.shuffle = true; });
  ASSERT_EQ(shuffled.error, "");
  std::vector<std::string_view> lines = oracle::Split(shuffled.sample).lines;
  EXPECT_FALSE(std::is_sorted(lines.begin(), lines.end()));
  std::sort(lines.begin(), lines.end());
  EXPECT_TRUE(lines == oracle::Split(input).lines);
  sampler.Write(NumberedLines(10));
  const std::uint64_t draws = (std::uint64_t{1} << 21) + 1;
  const Outcome drawn = sampler.ToStandardOutput(draws, 1, [](auto& r) { r.replace = true; });
  ASSERT_EQ(drawn.error, "");
  lines = oracle::Split(drawn.sample).lines;
  EXPECT_EQ(lines.size(), draws);
  EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()));
}

struct GoldenInput {
  const char* name;
  std::string bytes;
};

const std::vector<GoldenInput>& GoldenInputs() {
  static const std::vector<GoldenInput> inputs = [] {
    std::string unended = Fixed(7000, 10, "\r\n");
    unended.resize(unended.size() - 2);
    return std::vector<GoldenInput>{
        {"lf100", Fixed(12000, 100, "\n")},      // 1.2 MB
        {"crlf100", Fixed(11000, 100, "\r\n")},  // 1.1 MB
        {"lf10", Fixed(1100000, 10, "\n")},      // 11 MB
        {"crlf10", Fixed(120000, 10, "\r\n")},   // 1.2 MB
        {"crlf10-unended", unended},             // 70 KB
    };
  }();
  return inputs;
}

struct Golden {
  const char* input;
  std::uint64_t size;
  std::uint64_t seed;
  std::uint64_t hash;  // FNV-1a of the sample
};

// Seeds that users have published must draw the same sample for good, on every platform.
// Set LOTRIX_PRINT_GOLDENS=1 to print this table as the sampler draws it now.
const Golden kGoldens[] = {
    {"lf100", 30, 0u, 0x45100ee7b3c21389u},
    {"lf100", 30, 1u, 0xbf998a5357fdb064u},
    {"lf100", 30, 42u, 0x384d81498c6d8653u},
    {"lf100", 1, 7u, 0x549a5ed57ab5fb8bu},
    {"lf100", 11999, 3u, 0xbee2dccf693339c6u},
    {"lf100", 32767, 3u, 0xe30b903dbb264ef3u},
    {"crlf100", 30, 1u, 0x9b179e8f3232699du},
    {"crlf100", 30, 18446744073709551615u, 0xa7b93f831f5b3c6du},
    {"crlf100", 5000, 11u, 0x65c99c5580397b96u},
    {"lf10", 30, 1u, 0x48563990feaa0432u},
    {"lf10", 30, 2024u, 0x7e501651b4af73d6u},
    {"lf10", 32767, 5u, 0x90e6349cf016b7ebu},
    {"lf10", 1000000, 6u, 0xc7fb1c41bcaeb72u},
    {"crlf10", 30, 1u, 0xfffb1462277ccd06u},
    {"crlf10", 32767, 9u, 0x2fa6fcd3e1c2ecb4u},
    {"crlf10", 100000, 12u, 0x566a3186f9798388u},
    {"crlf10-unended", 30, 1u, 0xa647ec2ecb3ea27du},
    {"crlf10-unended", 6999, 4u, 0x3db5fb2b66cfa4b7u},
};

// And each mode's, from the command line as typed, {} standing for the input.
const struct {
  const char* input;
  const char* words;
  std::uint64_t hash;
} kModeGoldens[] = {
    {"lf100", "--seed 1 --shuffle {} 30", 0x4fa4ac3b2cce43bcu},
    {"lf100", "--seed 2 --replace {} 50", 0xa83c3cdd1c305edau},
    {"lf100", "--seed 3 --prob 0.01 {}", 0x12e598d23a868548u},
    {"lf100", "--seed 4 {} 2.5%", 0xbbe60751caa95254u},
    {"crlf10-unended", "--seed 5 --header=2 --shuffle {} 40", 0x9a7d8e5f4b673eb9u},
    {"crlf10-unended", "--seed 6 --with-name --replace -n 10% {} {}", 0x1ce596b3af123828u},
};

TEST(SampleGolden, PublishedSeedsDrawTheSameSamplesInEveryMode) {
  const bool print = FromEnvironment("LOTRIX_PRINT_GOLDENS", 0) != 0;
  Sampler sampler;
  for (const auto& golden : kModeGoldens) {
    for (const GoldenInput& input : GoldenInputs()) {
      if (input.name == std::string(golden.input)) sampler.Write(input.bytes);
    }
    std::vector<std::string> words;
    std::istringstream stream(golden.words);
    for (std::string word; stream >> word;) {
      words.push_back(word == "{}" ? sampler.Path("input.txt") : word);
    }
    const auto arguments = lotrix::ParseArguments(words);
    ASSERT_TRUE(arguments) << golden.words;
    const Outcome outcome = sampler.ToStandardOutput(0, 0, [&](lotrix::SampleRequest& r) {
      r.inputs = arguments->inputs;
      r.size = arguments->size;
      r.seed = *arguments->seed;
      r.header = arguments->header;
      r.withName = arguments->withName;
      r.shuffle = arguments->shuffle;
      r.replace = arguments->replace;
    });
    // The name put before each line is the input's, which differs from run to run.
    std::string sample = outcome.sample;
    for (std::size_t at; (at = sample.find(sampler.Path("input.txt"))) != std::string::npos;) {
      sample.replace(at, sampler.Path("input.txt").size(), "{}");
    }
    const std::uint64_t hash = oracle::Fnv1a(sample);
    if (print) {
      std::cout << "    {\"" << golden.input << "\", \"" << golden.words << "\", 0x" << std::hex
                << hash << std::dec << "u},\n";
      continue;
    }
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(hash, golden.hash) << golden.words << std::hex << ": drew 0x" << hash;
  }
}

TEST(SampleGolden, PublishedSeedsDrawTheSameSamplesForGood) {
  const bool print = FromEnvironment("LOTRIX_PRINT_GOLDENS", 0) != 0;
  Sampler sampler;
  for (const GoldenInput& input : GoldenInputs()) {
    sampler.Write(input.bytes);
    for (const Golden& golden : kGoldens) {
      if (input.name != std::string(golden.input)) continue;
      const Outcome file = sampler.FromFile(golden.size, golden.seed);
      const Outcome pipe =
          sampler.FromPipe(input.bytes, golden.size, golden.seed, kWrite * 64, kRead, golden.seed);
      const std::uint64_t hash = oracle::Fnv1a(file.sample);
      if (print) {
        std::cout << "    {\"" << golden.input << "\", " << golden.size << ", " << golden.seed
                  << "u, 0x" << std::hex << hash << std::dec << "u},\n";
        continue;
      }
      SCOPED_TRACE(std::string(golden.input) + ", N=" + std::to_string(golden.size) + ", seed " +
                   std::to_string(golden.seed));
      EXPECT_TRUE(Faults(input.bytes, golden.size, file).empty()) << "not a correct sample";
      EXPECT_EQ(hash, golden.hash) << std::hex << "drew 0x" << hash;
      EXPECT_EQ(oracle::Fnv1a(pipe.sample), golden.hash) << "from a pipe";
    }
  }
}

}  // namespace
