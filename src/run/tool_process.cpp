#include "run/tool_process.h"

#include <string_view>

namespace lotrix {

void ToolProcess::KeepErrorBytes(const char* data, std::size_t size) {
  errorTail_.append(data, size);
  if (errorTail_.size() > kErrorTailBytes) {
    errorTail_.erase(0, errorTail_.size() - kErrorTailBytes);
    errorTruncated_ = true;
  }
}

std::string ToolProcess::TakeErrorTail() {
  std::string_view kept = errorTail_;
  std::string text;
  if (errorTruncated_) {
    // Where the start was cut off, the first line is a fragment: whole lines are kept. A last
    // line longer than all that is kept is shown by its end, after an ellipsis, and not cut
    // inside a character.
    const std::size_t end = kept.find_last_not_of("\r\n");
    const std::size_t firstBreak = kept.find('\n');
    if (end != std::string_view::npos &&
        (firstBreak == std::string_view::npos || firstBreak > end)) {
      while (!kept.empty() && (static_cast<unsigned char>(kept.front()) & 0xC0) == 0x80) {
        kept.remove_prefix(1);
      }
      text = "\u2026";
    } else {
      kept.remove_prefix(firstBreak == std::string_view::npos ? kept.size() : firstBreak + 1);
    }
  }
  // Lines as text: a Windows program's CR LF ends a line like LF.
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (kept[i] != '\r' || i + 1 == kept.size() || kept[i + 1] != '\n') text += kept[i];
  }
  errorTail_.clear();
  return text;
}

}  // namespace lotrix
