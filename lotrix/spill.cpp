#include "spill.h"

#include <algorithm>
#include <cstring>

namespace lotrix {
namespace {

// Bytes gathered before each write to the temporary file.
constexpr std::size_t kWriteBack = 1 << 20;
constexpr std::size_t kLeastWrite = 64 << 10;

}  // namespace

std::optional<Error> Spill::Append(const char* data, std::size_t size) {
  size_ += size;
  if (!file_ && memory_.size() + size > limit_) {
    auto file = TemporaryFile::Create();
    if (!file) return file.error();
    file_.emplace(std::move(*file));
    if (auto error = Flush()) return error;
    memory_.release();  // its room goes back, or the bound would not hold
  }
  memory_.append(data, size);
  // A small spill gathers less before each write: many of them may be filling at once.
  if (file_ && memory_.size() >= std::min(kWriteBack, std::max(limit_, kLeastWrite)))
    return Flush();
  return std::nullopt;
}

Expected<std::size_t> Spill::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
  if (file_) {
    if (auto error = Flush()) return *error;
    return file_->ReadAt(offset, buffer, size);
  }
  if (offset >= memory_.size()) return std::size_t{0};
  const std::size_t got = std::min<std::size_t>(size, memory_.size() - offset);
  std::memcpy(buffer, memory_.data() + offset, got);
  return got;
}

std::optional<Error> Spill::WriteAt(std::uint64_t offset, const char* data, std::size_t size) {
  if (file_) {
    if (auto error = Flush()) return error;
    return file_->WriteAt(offset, data, size);
  }
  std::memcpy(memory_.data() + offset, data, size);
  return std::nullopt;
}

std::optional<Error> Spill::Flush() {
  if (auto error = file_->Append(memory_.data(), memory_.size())) return error;
  memory_.clear();
  return std::nullopt;
}

}  // namespace lotrix
