#include "run/command_line.h"

namespace lotrix {

std::string QuoteArgument(std::string_view argument) {
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them; then each must be doubled.
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  quoted += '"';
  return quoted;
}

std::string BuildCommandLine(std::string_view folder, std::string_view path, std::int16_t size) {
  // The folder is not escaped: Windows folder names cannot hold a quote, and the backslash
  // that may end it is followed by "lotrix", never by the closing quote.
  std::string line = "\"";
  line += folder;
  line += '\\';
  line += kToolName;
  line += "\"  ";
  line += QuoteArgument(path);
  line += ' ';
  line += std::to_string(size);
  return line;
}

std::string ToolPath(std::string_view folder) {
#ifdef _WIN32
  constexpr char kSeparator = '\\';
#else
  constexpr char kSeparator = '/';
#endif
  std::string tool(folder);
  tool += kSeparator;
  tool += kToolName;
  return tool;
}

std::vector<std::string> BuildArgumentVector(std::string_view folder, std::string_view path,
                                             std::int16_t size) {
  return {ToolPath(folder), std::string(path), std::to_string(size)};
}

}  // namespace lotrix
