#include <algorithm>
#include <atomic>
#include <utility>

#include "buffer.h"
#include "system.h"
#include "win32.h"

namespace lotrix {
namespace {

constexpr std::uint64_t kCopyBuffer = 1 << 20;

}  // namespace

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

Error LastError(const std::string& path) {
  return SystemError(path, static_cast<int>(GetLastError()));
}

namespace {

// Where a positioned read or write of a file starts, `done` bytes into it.
OVERLAPPED At(std::optional<std::uint64_t> offset, std::size_t done) {
  OVERLAPPED at{};
  if (offset) {
    at.Offset = static_cast<DWORD>(*offset + done);
    at.OffsetHigh = static_cast<DWORD>((*offset + done) >> 32);
  }
  return at;
}

}  // namespace

Expected<std::size_t> ReadFully(HANDLE file, const std::string& path, char* buffer,
                                std::size_t size, std::optional<std::uint64_t> offset) {
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at = At(offset, done);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    if (!ReadFile(file, buffer + done, want, &got, offset ? &at : nullptr)) {
      // A pipe whose writer has gone has ended.
      if (GetLastError() == ERROR_HANDLE_EOF || GetLastError() == ERROR_BROKEN_PIPE) break;
      return LastError(path);
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

DWORD WriteFully(HANDLE file, const char* data, std::size_t size,
                 std::optional<std::uint64_t> offset) {
  for (std::size_t done = 0; done < size;) {
    OVERLAPPED at = At(offset, done);
    DWORD wrote = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    if (!WriteFile(file, data + done, want, &wrote, offset ? &at : nullptr)) return GetLastError();
    done += wrote;
  }
  return 0;
}

Error SystemError(std::string path, int code) {
  wchar_t* text = nullptr;
  const DWORD size = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text ? text : L"", size);
  LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L'.' || message.back() == L' ')) {
    message.pop_back();
  }
  if (message.empty()) return {std::move(path), "system error " + std::to_string(code)};
  return {std::move(path), TextOf(std::filesystem::path(message))};
}

std::filesystem::path PathOf(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string TextOf(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string FolderOf(const std::string& path) {
  const std::filesystem::path folder = PathOf(path).parent_path();
  return folder.empty() ? "." : TextOf(folder);
}

Expected<TemporaryFile> TemporaryFile::Create() {
  std::wstring folder(MAX_PATH + 1, L'\0');
  folder.resize(GetTempPathW(static_cast<DWORD>(folder.size()), folder.data()));
  const std::string text = TextOf(std::filesystem::path(folder));
  if (folder.empty()) return LastError("temporary folder");
  static std::atomic<unsigned> made{0};
  for (unsigned attempt = 0;; ++attempt) {
    const std::wstring name = folder + L"lotrix-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(made++) + L".tmp";
    const HANDLE file = CreateFileW(
        name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) return TemporaryFile(text, FromHandle(file));
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS && attempt < 1000) continue;
    // A bare "The system cannot find the path specified" would not say what the folder was for,
    // nor where to name another. GetTempPathW takes TMP, else TEMP, else the user's profile.
    const bool named = GetEnvironmentVariableW(L"TMP", nullptr, 0) > 1 ||
                       GetEnvironmentVariableW(L"TEMP", nullptr, 0) > 1;
    const Error error = SystemError(text, static_cast<int>(code));
    return Error{error.path, std::string("the folder for temporary files (TMP or TEMP ") +
                                 (named ? "names it" : "may name another") + "): " + error.reason};
  }
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : folder_(std::move(other.folder_)),
      handle_(std::exchange(other.handle_, FromHandle(INVALID_HANDLE_VALUE))),
      size_(other.size_) {}

TemporaryFile::~TemporaryFile() {
  if (AsHandle(handle_) != INVALID_HANDLE_VALUE) CloseHandle(AsHandle(handle_));
}

Error TemporaryFile::Failed(int code) const {
  const Error error = SystemError(folder_, code);
  return {error.path, "temporary file: " + error.reason};
}

std::optional<Error> TemporaryFile::Append(const char* data, std::size_t size) {
  if (const DWORD code = WriteFully(AsHandle(handle_), data, size, size_)) {
    return Failed(static_cast<int>(code));
  }
  size_ += size;
  return std::nullopt;
}

std::optional<Error> TemporaryFile::WriteAt(std::uint64_t offset, const char* data,
                                            std::size_t size) {
  if (const DWORD code = WriteFully(AsHandle(handle_), data, size, offset)) {
    return Failed(static_cast<int>(code));
  }
  return std::nullopt;
}

Expected<std::size_t> TemporaryFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
  return ReadFully(AsHandle(handle_), folder_, buffer, size, offset);
}

std::optional<Error> TemporaryFile::CopyInto(std::intptr_t handle, const std::string& name) {
  const HANDLE file = AsHandle(handle);
  LARGE_INTEGER before{};
  if (!GetFileSizeEx(file, &before)) return LastError(name);
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size_);
  // Growing the file claims its room, so that a full disk shows before a byte has changed.
  if (end.EndOfFile.QuadPart > before.QuadPart &&
      !SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end)) {
    return LastError(name);
  }
  IoBuffer buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size_, kCopyBuffer)));
  for (std::uint64_t done = 0; done < size_;) {
    auto got = ReadAt(done, buffer.data(), buffer.size());
    if (!got) return got.error();
    if (*got == 0) return Failed(ERROR_HANDLE_EOF);  // it shrank: nothing else writes to it
    if (const DWORD code = WriteFully(file, buffer.data(), *got, done)) {
      return SystemError(name, static_cast<int>(code));
    }
    done += *got;
  }
  if (!SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end)) {
    return LastError(name);
  }
  return std::nullopt;
}

}  // namespace lotrix
