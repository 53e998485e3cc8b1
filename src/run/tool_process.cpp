#include "run/tool_process.h"

namespace lotrix {

void ToolProcess::KeepErrorBytes(const char* data, std::size_t size) {
  errorTail_.append(data, size);
  if (errorTail_.size() > kErrorTailBytes) {
    errorTail_.erase(0, errorTail_.size() - kErrorTailBytes);
    errorTruncated_ = true;
  }
}

std::string ToolProcess::TakeErrorTail() {
  // Where the start was cut off, the first line is a fragment: only whole lines are kept.
  if (errorTruncated_) {
    const auto firstBreak = errorTail_.find('\n');
    errorTail_.erase(0, firstBreak == std::string::npos ? 0 : firstBreak + 1);
  }
  // Lines as text: a Windows program's CR LF ends a line like LF.
  std::string tail;
  tail.reserve(errorTail_.size());
  for (std::size_t i = 0; i < errorTail_.size(); ++i) {
    if (errorTail_[i] != '\r' || i + 1 == errorTail_.size() || errorTail_[i + 1] != '\n') {
      tail += errorTail_[i];
    }
  }
  errorTail_.clear();
  return tail;
}

}  // namespace lotrix
