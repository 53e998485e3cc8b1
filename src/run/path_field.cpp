#include "run/path_field.h"

#include <cstdlib>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include "run/wide_text.h"
#else
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "lotrix/generated_posix.h"
#endif

#include "run/tool_report.h"

namespace lotrix {
namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

std::string_view Trimmed(std::string_view text, std::string_view blank = " \t\r\n\v\f") {
  const std::size_t first = text.find_first_not_of(blank);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blank) - first + 1);
}

std::string_view Unquoted(std::string_view text) {
  if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
      text.back() == text.front()) {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

// The local path a file:// address names, %XX decoded; empty for anything else.
std::string FromFileUri(std::string_view uri) {
  static constexpr std::string_view kScheme = "file://";
  if (uri.size() < kScheme.size()) return {};
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    // The scheme in any case: FILE:// is file://.
    if ((uri[i] >= 'A' && uri[i] <= 'Z' ? uri[i] + 32 : uri[i]) != kScheme[i]) return {};
  }
  std::string_view rest = uri.substr(kScheme.size());
  // file:///path and file://localhost/path are this machine's.
  if (rest.starts_with("localhost/")) rest.remove_prefix(9);
  if (!rest.starts_with('/')) return {};
  auto decoded = PercentDecoded(rest);
  if (!decoded) return {};
  std::string path = std::move(*decoded);
  if (kWindows) {
    // file:///C:/corpus/hits.txt is C:\corpus\hits.txt.
    if (path.size() >= 3 && path[2] == ':') path.erase(0, 1);
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
  }
  return path;
}

}  // namespace

bool PathExists(const std::string& path) {
  // The system would look only as far as a NUL, and find another file.
  if (path.empty() || path.find('\0') != std::string::npos) return false;
#ifdef _WIN32
  return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
#else
  return access(path.c_str(), F_OK) == 0;
#endif
}

bool IsFolder(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
#else
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

bool IsDeviceOrMadeAsRead(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return false;
#else
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  struct stat info {};
  struct statfs system {};
  return (stat(path.c_str(), &info) == 0 &&
          (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) || S_ISSOCK(info.st_mode))) ||
         (statfs(path.c_str(), &system) == 0 &&
          MakesTextAsRead(static_cast<unsigned long>(system.f_type)));
#endif
}

std::string HomeFolder() {
  if (kWindows) return {};
  const char* home = std::getenv("HOME");
  return home ? home : "";
}

std::string PathFromField(const std::string& text,
                          const std::function<bool(const std::string&)>& exists,
                          const std::string& home) {
  if (exists(text)) return text;
  // Line breaks go first, alone: "hits.txt \n" is the file "hits.txt " where there is one.
  const std::string_view unbroken = Trimmed(text, "\r\n");
  const std::string_view trimmed = Trimmed(text);
  std::vector<std::string> readings;
  for (const std::string_view bare :
       {unbroken, trimmed, Unquoted(trimmed), Trimmed(Unquoted(trimmed))}) {
    readings.emplace_back(bare);
    if (std::string path = FromFileUri(bare); !path.empty()) readings.push_back(std::move(path));
    if (!home.empty() && bare.starts_with("~/")) {
      readings.push_back(home + std::string(bare.substr(1)));
    }
  }
  for (const std::string& reading : readings) {
    if (reading != text && exists(reading)) return reading;
  }
  // Explorer's "Copy as path" wraps the path in double quotes, which no Windows file name can
  // hold.
  if (kWindows && text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

}  // namespace lotrix
