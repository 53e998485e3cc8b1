#include "draw.h"

#include <algorithm>

#include "reader.h"

namespace lotrix {
namespace {

Error Changed(const InputFile& input) {
  return {input.Path(), "changed while it was being read; nothing written"};
}

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

}  // namespace

void FileDraw::Start(std::uint64_t offset) {
  if (starts_.empty() && !Fill()) return;
  starts_[reservoir_.Offer()] = offset;
}

Expected<std::vector<std::uint64_t>> FileDraw::Starts() {
  if (starts_.empty()) Fill();
  if (error_) return *error_;
  std::sort(starts_.begin(), starts_.end());
  return std::move(starts_);
}

bool FileDraw::Fill() {
  auto starts = FirstStarts(input_, format_, reservoir_.Size());
  if (!starts) {
    error_ = starts.error();
    return false;
  }
  starts_ = std::move(*starts);
  return true;
}

std::uint64_t StreamDraw::Wanted() {
  if (error_) return Reservoir::kNever;
  return filled_ < reservoir_.Size() ? filled_ : reservoir_.Wanted();
}

void StreamDraw::Start(std::uint64_t) {
  if (filled_ < reservoir_.Size()) {
    ++filled_;
    return;
  }
  const std::uint64_t slot = reservoir_.Offer();
  ++replacements_;
  Keep(slots_.Append(reinterpret_cast<const char*>(&slot), sizeof slot));
}

void StreamDraw::Bytes(const char* data, std::size_t size) { Keep(lines_.Append(data, size)); }

Expected<StreamDraw::Chosen> StreamDraw::Choose() {
  if (error_) return *error_;
  Chosen chosen;
  chosen.filled_ = filled_;
  chosen.count_ = filled_ + replacements_;
  if (replacements_ == 0) return chosen;
  chosen.replaced_.assign(filled_, false);
  chosen.stayed_.assign(replacements_, false);
  // From the last line back: a line stayed if no later line took its slot.
  std::vector<std::uint64_t> slots(kChunk / sizeof(std::uint64_t));
  for (std::uint64_t end = replacements_; end > 0;) {
    const std::uint64_t begin = end - std::min<std::uint64_t>(end, slots.size());
    const std::size_t bytes = static_cast<std::size_t>(end - begin) * sizeof(std::uint64_t);
    auto got =
        slots_.ReadAt(begin * sizeof(std::uint64_t), reinterpret_cast<char*>(slots.data()), bytes);
    if (!got) return got.error();
    if (*got != bytes) return Error{"temporary file", "came back shorter than it was written"};
    for (std::uint64_t line = end; line-- > begin;) {
      const std::uint64_t slot = slots[static_cast<std::size_t>(line - begin)];
      if (chosen.replaced_[slot]) continue;
      chosen.replaced_[slot] = true;
      chosen.stayed_[line] = true;
    }
    end = begin;
  }
  return chosen;
}

}  // namespace lotrix
