#include "report.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "system.h"

namespace lotrix {
namespace {

// How often a stream's reading is told, as its size is unknown.
constexpr std::uint64_t kStreamStep = std::uint64_t{16} << 20;

// A reader cannot know the folder the sampler was started in.
std::string FullPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(PathOf(path), error);
  return error ? path : TextOf(full);
}

}  // namespace

std::string ReportValue(std::string_view value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string sent;
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || byte == '%') {
      sent += '%';
      sent += kHex[byte >> 4];
      sent += kHex[byte & 0xF];
    } else {
      sent += c;
    }
  }
  return sent;
}

Report::Report(Report&& other) noexcept : handle_(std::exchange(other.handle_, kClosed)) {}

Report::~Report() { Close(); }

void Report::Seed(std::uint64_t seed) { Put("seed", std::to_string(seed)); }

void Report::Progress(std::uint64_t done, std::uint64_t total) {
  if (!Open() || done < nextProgress_) return;
  nextProgress_ = total > 0 ? done + total / 100 : done + kStreamStep;
  Put("progress", std::to_string(done) + " " + std::to_string(total), true);
}

void Report::Lines(std::uint64_t lines, std::uint64_t written) {
  Put("lines", std::to_string(lines) + " " + std::to_string(written));
}

void Report::Sample(const std::string& path) { Put("sample", ReportValue(FullPath(path))); }

void Report::Put(std::string_view word, std::string_view value, bool mayDrop) {
  if (!Open()) return;
  std::string record(word);
  record += ' ';
  record += value;
  record += '\n';
  Write(record, mayDrop);
}

}  // namespace lotrix
