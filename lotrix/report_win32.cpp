#include <charconv>
#include <cstdint>
#include <string>

#include "report.h"
#include "win32.h"

namespace lotrix {

namespace {

// Whether `handle` is a standard handle, or a copy of one (Windows 10 and later can tell).
bool IsStandard(HANDLE handle) {
  using Compare = BOOL(WINAPI*)(HANDLE, HANDLE);
  static const auto compare = reinterpret_cast<Compare>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CompareObjectHandles")));
  for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE standard = GetStdHandle(which);
    if (handle == standard || (compare && standard && compare(handle, standard))) return true;
  }
  return false;
}

}  // namespace

Report Report::FromEnvironment() {
  char text[32];
  const DWORD size = GetEnvironmentVariableA("LOTRIX_REPORT", text, sizeof text);
  if (size == 0 || size >= sizeof text) return Report(kClosed);
  std::uintptr_t value = 0;
  const auto [stop, error] = std::from_chars(text, text + size, value);
  const auto handle = reinterpret_cast<HANDLE>(value);
  // A standard handle may be the sample itself; only a pipe of its own is written to.
  if (error != std::errc() || stop != text + size || IsStandard(handle) ||
      GetFileType(handle) != FILE_TYPE_PIPE) {
    return Report(kClosed);
  }
  return Report(reinterpret_cast<std::intptr_t>(handle));
}

void Report::Write(const std::string& record) {
  if (WriteFully(AsHandle(handle_), record.data(), record.size(), {}) != 0) {
    Close();
  }
}

void Report::Close() {
  if (handle_ != kClosed) CloseHandle(AsHandle(handle_));
  handle_ = kClosed;
}

}  // namespace lotrix
