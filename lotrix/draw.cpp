#include "draw.h"

#include <algorithm>
#include <bit>
#include <cmath>

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
                                                 std::uint64_t body, std::uint64_t count) {
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
  LineScanner scanner(format, body, collect, false);
  IoBuffer buffer(kChunk);
  while (collect.starts.size() < count) {
    auto got = input.ReadAt(scanner.Offset(), buffer.data(), buffer.size());
    if (!got) return got.error();
    scanner.Feed(buffer.data(), *got);
    if (*got < buffer.size()) break;
  }
  if (collect.starts.size() < count) return Changed(input);
  return std::move(collect.starts);
}

// Sets bits of a spill through a window of it, read and written back a piece at a time: cheap
// for bits set in order, either way.
class BitWriter {
 public:
  explicit BitWriter(Spill& bits) : bits_(bits), window_(kChunk) {}

  std::optional<Error> Set(std::uint64_t bit) {
    const std::uint64_t byte = bit / 8;
    if (byte < start_ || byte >= start_ + size_) {
      if (auto error = Flush()) return error;
      start_ = byte - byte % kChunk;
      auto got = bits_.ReadAt(start_, window_.data(), window_.size());
      if (!got) return got.error();
      size_ = *got;
      if (byte >= start_ + size_) return Spill::CameBackShort();
    }
    window_[static_cast<std::size_t>(byte - start_)] |= static_cast<char>(1u << (bit % 8));
    dirty_ = true;
    return std::nullopt;
  }

  std::optional<Error> Flush() {
    if (!dirty_) return std::nullopt;
    dirty_ = false;
    return bits_.WriteAt(start_, window_.data(), size_);
  }

 private:
  Spill& bits_;
  IoBuffer window_;
  std::uint64_t start_ = 0;
  std::size_t size_ = 0;
  bool dirty_ = false;
};

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
  auto starts = FirstStarts(input_, format_, body_, reservoir_.Size());
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
  Chosen chosen(inMemory_);
  chosen.count_ = filled_ + replacements_;
  const IoBuffer zeros(kChunk);
  for (std::uint64_t left = (chosen.count_ + 7) / 8; left > 0;) {
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
    if (auto error = chosen.bits_.Append(zeros.data(), size)) return *error;
    left -= size;
  }
  BitWriter kept(chosen.bits_);
  // A bit for each slot tells whether a later line took it: for a large reservoir, one block of
  // slots at a time, with a pass over the slots taken for each, so that memory stays bounded.
  const std::uint64_t block =
      std::uint64_t{8} * std::clamp<std::uint64_t>(inMemory_, 8, std::uint64_t{1} << 60);
  std::vector<std::uint64_t> slots(kChunk / sizeof(std::uint64_t));
  for (std::uint64_t first = 0; first < filled_; first += block) {
    const std::uint64_t last = std::min(filled_, first + block);
    std::vector<bool> taken(static_cast<std::size_t>(last - first));
    // From the last line back: a line stayed if no later line took its slot.
    for (std::uint64_t end = replacements_; end > 0;) {
      const std::uint64_t begin = end - std::min<std::uint64_t>(end, slots.size());
      const std::size_t bytes = static_cast<std::size_t>(end - begin) * sizeof(std::uint64_t);
      auto got = slots_.ReadAt(begin * sizeof(std::uint64_t), reinterpret_cast<char*>(slots.data()),
                               bytes);
      if (!got) return got.error();
      if (*got != bytes) return Spill::CameBackShort();
      for (std::uint64_t line = end; line-- > begin;) {
        const std::uint64_t slot = slots[static_cast<std::size_t>(line - begin)];
        if (slot < first || slot >= last || taken[static_cast<std::size_t>(slot - first)]) continue;
        taken[static_cast<std::size_t>(slot - first)] = true;
        if (auto error = kept.Set(filled_ + line)) return *error;
      }
      end = begin;
    }
    // The first lines filled the slots in order: each stayed if no later line took its slot.
    for (std::uint64_t slot = first; slot < last; ++slot) {
      if (taken[static_cast<std::size_t>(slot - first)]) continue;
      if (auto error = kept.Set(slot)) return *error;
    }
  }
  if (auto error = kept.Flush()) return *error;
  return chosen;
}

Expected<std::uint64_t> StreamDraw::Chosen::Following(std::uint64_t line) {
  while (line < count_) {
    const std::uint64_t byte = line / 8;
    if (byte < windowStart_ || byte >= windowStart_ + window_.size()) {
      window_.resize(kChunk);
      windowStart_ = byte;
      auto got = bits_.ReadAt(byte, window_.data(), window_.size());
      if (!got) return got.error();
      if (*got == 0) return Spill::CameBackShort();
      window_.resize(*got);
    }
    const auto bits = static_cast<unsigned char>(
        static_cast<unsigned char>(window_[static_cast<std::size_t>(byte - windowStart_)]) >>
        (line % 8));
    if (bits != 0) return line + static_cast<std::uint64_t>(std::countr_zero(bits));
    line = (byte + 1) * 8;
  }
  return Reservoir::kNever;
}

ChanceDraw::ChanceDraw(Random& random, double chance, Sink& output,
                       std::function<std::optional<Error>()> before)
    : random_(random),
      chance_(chance),
      logMiss_(chance > 0.0 && chance < 1.0 ? LogOneMinus(chance) : 0.0),
      output_(output),
      before_(std::move(before)) {
  next_ = After(Reservoir::kNever);
}

std::uint64_t ChanceDraw::After(std::uint64_t line) {
  const std::uint64_t first = line + 1;  // 0 after kNever
  if (chance_ >= 1.0) return first;
  if (chance_ <= 0.0) return Reservoir::kNever;
  // The lines passed over before the next one kept: floor(log U / log(1 - p)).
  const double passed = std::floor(Log(random_.Uniform()) / logMiss_);
  if (!(passed < 9.0e18)) return Reservoir::kNever;
  const auto step = static_cast<std::uint64_t>(passed);
  return first > Reservoir::kNever - 1 - step ? Reservoir::kNever : first + step;
}

void ChanceDraw::Start(std::uint64_t) {
  if (kept_++ == 0 && before_) error_ = before_();
  next_ = After(next_);
}

void ChanceDraw::Bytes(const char* data, std::size_t size) {
  if (!error_) error_ = output_.Write(data, size);
}

}  // namespace lotrix
