#include "head.h"

#include "copier.h"

namespace lotrix {

std::optional<Error> Head::Skip(Reader& reader, std::uint64_t lines, bool keep) {
  if (keep) mark_ = reader.Mark();
  std::optional<Error> failure;
  auto head = reader.Skip(lines, [&](const char* data, std::size_t size) {
    if (keep && !failure) failure = header_.Append(data, size);
  });
  if (!head) return head.error();
  if (keep) {
    lines_ = head->lines;
    if (!failure) failure = header_.Append(head->ending.data(), head->ending.size());
  }
  return failure;
}

std::optional<Error> Head::Write(OutputFile& output) {
  if (written_) return std::nullopt;
  written_ = true;
  if (auto error = output.Write(mark_.data(), mark_.size())) return error;
  return CopySpill(header_, output);
}

}  // namespace lotrix
