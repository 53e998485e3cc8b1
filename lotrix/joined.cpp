#include "joined.h"

#include <string>

#include "copier.h"
#include "messages.h"
#include "reader.h"
#include "reservoir.h"

namespace lotrix {
namespace {

// One input's lines, numbered after those of the inputs before it, each taken line behind a
// prefix.
class Shifted final : public LineVisitor {
 public:
  Shifted(LineVisitor& visitor, std::uint64_t before, std::string prefix)
      : visitor_(visitor), before_(before), prefix_(std::move(prefix)) {}

  std::uint64_t Wanted() override {
    const std::uint64_t wanted = visitor_.Wanted();
    return wanted == Reservoir::kNever ? wanted : wanted - before_;
  }
  void Start(std::uint64_t offset) override {
    visitor_.Start(offset);
    if (!prefix_.empty()) visitor_.Bytes(prefix_.data(), prefix_.size());
  }
  void Bytes(const char* data, std::size_t size) override { visitor_.Bytes(data, size); }

 private:
  LineVisitor& visitor_;
  std::uint64_t before_;
  std::string prefix_;
};

bool SameUnits(const TextFormat& a, const TextFormat& b) {
  return a.unit == b.unit && (a.unit == 1 || a.bigEndian == b.bigEndian);
}

}  // namespace

Expected<Joined> FeedJoined(std::vector<std::optional<InputFile>>& inputs,
                            const std::vector<std::string>& paths, const Joining& joining,
                            Head& head, LineVisitor& visitor, const std::optional<Error>& failure) {
  const std::uint64_t total = joining.total;
  Joined joined;
  std::optional<std::string> ending;
  std::uint64_t doneBefore = 0;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (!inputs[i]) {
      auto opened = InputFile::Open(paths[i]);
      if (!opened) return opened.error();
      inputs[i].emplace(std::move(*opened));
    }
    InputFile& input = *inputs[i];
    if (auto error = input.AwaitWriter()) return *error;
    Reader::Progress progress;
    if (joining.progress) {
      progress = [&](std::uint64_t done, std::uint64_t) {
        joining.progress(doneBefore + done, total);
      };
    }
    auto reader = Reader::Start(input, progress);
    if (!reader) return reader.error();
    if (i == 0) {
      joined.format = reader->Format();
    } else if (!SameUnits(reader->Format(), joined.format)) {
      return Error{input.Path(), std::string("is ") + (reader->Format().unit == 2 ? "" : "not ") +
                                     "UTF-16, unlike " + Quoted(paths.front()) +
                                     "; inputs drawn from together must share their encoding"};
    }
    if (auto error = head.Skip(*reader, joining.header, i == 0)) return *error;
    const std::string prefix =
        joining.withName ? joined.format.Spell(Quoted(input.Path()) + "\t") : std::string();
    Shifted shifted(visitor, joined.lines, prefix);
    LineScanner scan(joined.format, reader->Offset(), shifted, true);
    if (auto error = reader->FeedAll(scan, failure)) return *error;
    if (!input.IsStream() && (reader->Used() != input.Size() || !input.Unchanged())) {
      return Changed(input);
    }
    // A last line without an ending gets its input's, or where its input has no newline at all,
    // that of the first input that has one.
    if (!ending && scan.SawNewline()) ending = scan.Ending();
    if (scan.Capturing()) {
      const bool stray = scan.LastLineEnding().empty();
      if (stray && i + 1 < inputs.size()) {
        return Error{input.Path(),
                     "ends in half a UTF-16 character, which no other input's lines can follow"};
      }
      if (!stray) {
        const std::string last =
            scan.SawNewline() ? scan.Ending() : ending.value_or(scan.LastLineEnding());
        visitor.Bytes(last.data(), last.size());
      }
    }
    joined.lines += scan.Lines();
    doneBefore += input.Size();
    if (!input.IsStream()) inputs[i].reset();
  }
  return joined;
}

}  // namespace lotrix
