#include "run/tool_report.h"

#include <charconv>

namespace lotrix {
namespace {

std::optional<std::uint64_t> Number(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> PercentDecoded(std::string_view value) {
  const auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%') {
      text += value[i];
      continue;
    }
    if (i + 2 >= value.size()) return std::nullopt;
    const int high = digit(value[i + 1]);
    const int low = digit(value[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    text += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return text;
}

void ToolReportReader::Feed(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, end);
    if (!skipping_) {
      if (partial_.size() + piece.size() > kLongestRecord) {
        skipping_ = true;
        partial_.clear();
      } else {
        partial_ += piece;
      }
    }
    if (end == std::string_view::npos) return;
    if (!skipping_) Take(partial_);
    partial_.clear();
    skipping_ = false;
    bytes.remove_prefix(end + 1);
  }
}

void ToolReportReader::Take(std::string_view record) {
  const std::size_t space = record.find(' ');
  if (space == std::string_view::npos) return;
  const std::string_view word = record.substr(0, space);
  const std::string_view value = record.substr(space + 1);
  // "progress" and "lines" carry two numbers; both are taken, or neither.
  const std::size_t gap = value.find(' ');
  const auto first = Number(value.substr(0, gap));
  const auto second = gap == std::string_view::npos ? std::nullopt : Number(value.substr(gap + 1));
  const bool pair = first && second;
  if (word == "seed") {
    if (auto seed = Number(value)) report_.seed = seed;
  } else if (word == "progress" && pair) {
    report_.done = first;
    report_.total = second;
  } else if (word == "lines" && pair) {
    report_.lines = first;
    report_.written = second;
  } else if (word == "sample") {
    if (auto path = PercentDecoded(value); path && !path->empty()) {
      report_.sample = std::move(*path);
    }
  }
}

}  // namespace lotrix
