#include <windows.h>

#include <utility>

#include "files.h"

namespace lotrix {
namespace {

constexpr std::size_t kWriteBuffer = 1 << 20;

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

// Volume and file index: what tells one file from another through any name.
bool Identity(HANDLE file, std::uint64_t& volume, std::uint64_t& index) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return false;
  volume = info.dwVolumeSerialNumber;
  index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

Expected<std::size_t> ReadFully(HANDLE file, const std::string& path, char* buffer,
                                std::size_t size, std::optional<std::uint64_t> offset) {
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at{};
    if (offset) {
      at.Offset = static_cast<DWORD>(*offset + done);
      at.OffsetHigh = static_cast<DWORD>((*offset + done) >> 32);
    }
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    if (!ReadFile(file, buffer + done, want, &got, offset ? &at : nullptr)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return SystemError(path, static_cast<int>(GetLastError()));
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

std::string FolderOf(const std::string& path) {
  const std::filesystem::path folder = PathOf(path).parent_path();
  return folder.empty() ? "." : TextOf(folder);
}

}  // namespace

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

Expected<InputFile> InputFile::Open(const std::string& path) {
  const std::wstring name = Widen(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Error{path, "Is a directory"};
  }
  const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return SystemError(path, static_cast<int>(GetLastError()));
  LARGE_INTEGER size{};
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  if (!GetFileSizeEx(file, &size) || !Identity(file, volume, index)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    return SystemError(path, static_cast<int>(error));
  }
  return InputFile(path, FromHandle(file), static_cast<std::uint64_t>(size.QuadPart), volume,
                   index);
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)),
      handle_(std::exchange(other.handle_, FromHandle(INVALID_HANDLE_VALUE))),
      size_(other.size_),
      device_(other.device_),
      inode_(other.inode_) {}

InputFile::~InputFile() {
  if (AsHandle(handle_) != INVALID_HANDLE_VALUE) CloseHandle(AsHandle(handle_));
}

Expected<std::size_t> InputFile::Read(char* buffer, std::size_t size) {
  return ReadFully(AsHandle(handle_), path_, buffer, size, std::nullopt);
}

Expected<std::size_t> InputFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
  return ReadFully(AsHandle(handle_), path_, buffer, size, offset);
}

bool InputFile::IsSameFile(const std::string& path) const {
  const HANDLE other =
      CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  const bool same = Identity(other, volume, index) && volume == device_ && index == inode_;
  CloseHandle(other);
  return same;
}

Expected<OutputFile> OutputFile::Create(const std::string& path) {
  const std::string base = FolderOf(path) + "\\." + TextOf(PathOf(path).filename()) + "." +
                           std::to_string(GetCurrentProcessId());
  for (int attempt = 0;; ++attempt) {
    std::string temporary = base + "." + std::to_string(attempt);
    const HANDLE file = CreateFileW(Widen(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      return OutputFile(path, std::move(temporary), FromHandle(file));
    }
    if (GetLastError() != ERROR_FILE_EXISTS || attempt > 100) {
      return SystemError(path, static_cast<int>(GetLastError()));
    }
  }
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)),
      temporary_(std::move(other.temporary_)),
      handle_(std::exchange(other.handle_, FromHandle(INVALID_HANDLE_VALUE))),
      buffer_(std::move(other.buffer_)),
      committed_(std::exchange(other.committed_, true)) {}

OutputFile::~OutputFile() {
  if (AsHandle(handle_) != INVALID_HANDLE_VALUE) CloseHandle(AsHandle(handle_));
  if (!committed_) DeleteFileW(Widen(temporary_).c_str());
}

std::optional<Error> OutputFile::Write(const char* data, std::size_t size) {
  if (buffer_.size() + size > kWriteBuffer) {
    if (auto error = Flush()) return error;
  }
  buffer_.append(data, size);
  if (buffer_.size() >= kWriteBuffer) return Flush();
  return std::nullopt;
}

std::optional<Error> OutputFile::Flush() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    DWORD wrote = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(buffer_.size() - done, 1u << 30));
    if (!WriteFile(AsHandle(handle_), buffer_.data() + done, want, &wrote, nullptr)) {
      return SystemError(path_, static_cast<int>(GetLastError()));
    }
    done += wrote;
  }
  buffer_.clear();
  return std::nullopt;
}

std::optional<Error> OutputFile::Commit() {
  if (auto error = Flush()) return error;
  if (!FlushFileBuffers(AsHandle(handle_))) {
    return SystemError(path_, static_cast<int>(GetLastError()));
  }
  CloseHandle(AsHandle(std::exchange(handle_, FromHandle(INVALID_HANDLE_VALUE))));
  // The sample is visible under its own name, not hidden like its temporary.
  SetFileAttributesW(Widen(temporary_).c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!MoveFileExW(Widen(temporary_).c_str(), Widen(path_).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return SystemError(path_, static_cast<int>(GetLastError()));
  }
  committed_ = true;
  return std::nullopt;
}

}  // namespace lotrix
