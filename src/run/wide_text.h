#pragma once

// Windows speaks UTF-16; the core speaks UTF-8. Conversions at the boundary.
#ifdef _WIN32
#include <windows.h>

#include <string>
#include <string_view>

namespace lotrix {

inline std::wstring Widen(std::string_view text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

inline std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                      nullptr, nullptr);
  return narrow;
}

// The system's own description of an error code, in the user's language. Some descriptions
// name the thing that failed by an insert ("%1 is not a valid Win32 application"): `subject`
// takes its place.
inline std::string SystemMessage(DWORD code, std::wstring_view subject = L"it") {
  wchar_t* text = nullptr;
  const DWORD size = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const std::wstring raw(text ? text : L"", size);
  LocalFree(text);
  std::wstring message;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == L'%' && i + 1 < raw.size() && raw[i + 1] >= L'1' && raw[i + 1] <= L'9') {
      message += subject;
      ++i;
    } else {
      message += raw[i];
    }
  }
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L'.' || message.back() == L' ')) {
    message.pop_back();
  }
  return message.empty() ? "System error " + std::to_string(code) : Narrow(message);
}

}  // namespace lotrix
#endif
