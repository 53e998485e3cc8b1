#include <windows.h>

#include <cstdio>

#include "console.h"

namespace lotrix {

ErrorStream::ErrorStream() : console_(GetStdHandle(STD_ERROR_HANDLE)) {
  DWORD mode = 0;
  terminal_ = GetConsoleMode(console_, &mode);
}

void ErrorStream::EndProgress() {
  if (shown_ < 0) return;
  shown_ = -1;
  // Blank the console's line without escape sequences, which it takes only in a mode of its own.
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(console_, &info)) return;
  const COORD start{0, info.dwCursorPosition.Y};
  DWORD written = 0;
  FillConsoleOutputCharacterW(console_, L' ', static_cast<DWORD>(info.dwSize.X), start, &written);
  SetConsoleCursorPosition(console_, start);
}

void ErrorStream::Put(const std::string& text) {
  if (terminal_) {
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    DWORD written = 0;
    WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

namespace {

// A program started without a standard handle (by another program that passed none) would find
// "-" closed; NUL stands in, as the null device does on Linux, opened for reading: an input of
// "-" then reads nothing, what is said goes nowhere, and a sample meant for standard output is
// refused rather than lost.
void OpenStandardHandles() {
  for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE handle = GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) continue;
    const HANDLE null = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (null != INVALID_HANDLE_VALUE) SetStdHandle(which, null);
  }
}

// A crash ends the sampler with the exception's status, which whoever started it reports, like
// a signal's end on Linux; without this the system (or Wine's debugger) puts up a dialog of its
// own and keeps the process alive until someone closes it.
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

}  // namespace
}  // namespace lotrix

// Arguments arrive in UTF-16; the sampler works in UTF-8.
int wmain(int argc, wchar_t* argv[]) {
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(lotrix::EndOnCrash);
  lotrix::OpenStandardHandles();
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string word(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, word.data(), size, nullptr, nullptr);
    word.pop_back();  // the terminating NUL
    words.push_back(std::move(word));
  }
  return lotrix::Main(words);
}
