#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lotrix {

// What the sampler tells of its run through the report pipe the window passes it (its number in
// LOTRIX_REPORT): one record a line, "WORD VALUE", values with "%", control characters and DEL
// sent as %XX. Records the window does not know are skipped; a sampler that sends none (an older
// one) leaves every field empty.
struct ToolReport {
  std::optional<std::uint64_t> seed;
  std::optional<std::uint64_t> done;   // bytes read so far
  std::optional<std::uint64_t> total;  // of so many; 0 for a stream
  std::optional<std::uint64_t> lines;  // in the input
  std::optional<std::uint64_t> written;
  std::string sample;  // the full path of the file written; empty if none was said
};

// `text` with each %XX spelled out as the byte it stands for (as a report's values and file://
// addresses write them); empty where a % is not followed by two hexadecimal digits.
std::optional<std::string> PercentDecoded(std::string_view text);

// Reads the report as it arrives, in pieces of any size.
class ToolReportReader {
 public:
  // A line longer than this is no record of ours, and is skipped.
  static constexpr std::size_t kLongestRecord = 64 << 10;

  void Feed(std::string_view bytes);
  const ToolReport& Report() const { return report_; }

 private:
  void Take(std::string_view record);

  ToolReport report_;
  std::string partial_;    // a record not yet ended
  bool skipping_ = false;  // the rest of an overlong line
};

}  // namespace lotrix
