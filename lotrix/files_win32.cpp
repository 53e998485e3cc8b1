#include <windows.h>

#include <utility>

#include "files.h"

namespace lotrix {
namespace {

constexpr std::size_t kWriteBuffer = 1 << 20;
constexpr unsigned kMostNames = 1000000;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

Error LastError(const std::string& path) {
  return SystemError(path, static_cast<int>(GetLastError()));
}

// Volume and file index tell one file from another through any name; size and last write
// time, one version of it from another.
bool Identity(HANDLE file, std::uint64_t& volume, std::uint64_t& index, std::uint64_t* size,
              std::int64_t* modified) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return false;
  volume = info.dwVolumeSerialNumber;
  index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  if (size) *size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (modified) {
    *modified = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
        info.ftLastWriteTime.dwLowDateTime);
  }
  return true;
}

// The file's identity as its name gives it now.
bool NamedIdentity(const std::string& path, std::uint64_t& volume, std::uint64_t& index) {
  const HANDLE file = CreateFileW(Widen(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool known = Identity(file, volume, index, nullptr, nullptr);
  CloseHandle(file);
  return known;
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
      // A pipe whose writer has gone has ended.
      if (GetLastError() == ERROR_HANDLE_EOF || GetLastError() == ERROR_BROKEN_PIPE) break;
      return LastError(path);
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

// While set, the file goes when its last handle closes, however the program ends.
bool DeleteOnClose(HANDLE file, bool on) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = on;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// The file that a link (a reparse point) finally names.
Expected<std::string> FollowLinks(const std::string& path) {
  const HANDLE file = CreateFileW(Widen(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError(path);
  std::wstring target(32768, L'\0');
  const DWORD size =
      GetFinalPathNameByHandleW(file, target.data(), static_cast<DWORD>(target.size()), 0);
  CloseHandle(file);
  if (size == 0 || size >= target.size()) return LastError(path);
  target.resize(size);
  return TextOf(std::filesystem::path(target));
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
  HANDLE file = INVALID_HANDLE_VALUE;
  if (path == "-") {
    const HANDLE standard = GetStdHandle(STD_INPUT_HANDLE);
    if (standard == nullptr || standard == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), standard, GetCurrentProcess(), &file, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
      return Error{"standard input", "is closed"};
    }
  } else {
    const std::wstring name = Widen(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return Error{path, "Is a directory"};
    }
    file = CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastError(path);
  }
  const bool stream = path == "-" || GetFileType(file) != FILE_TYPE_DISK;
  Stamp stamp;
  if (!stream && !Identity(file, stamp.device, stamp.inode, &stamp.size, &stamp.modified)) {
    const Error error = LastError(path);
    CloseHandle(file);
    return error;
  }
  return InputFile(path, FromHandle(file), stream, stamp);
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)),
      handle_(std::exchange(other.handle_, FromHandle(INVALID_HANDLE_VALUE))),
      stream_(other.stream_),
      stamp_(other.stamp_) {}

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
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  return NamedIdentity(path, volume, index) && volume == stamp_.device && index == stamp_.inode;
}

bool InputFile::Unchanged() const {
  Stamp now;
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  return NamedIdentity(path_, now.device, now.inode) &&
         Identity(AsHandle(handle_), volume, index, &now.size, &now.modified) && now == stamp_;
}

Expected<OutputFile> OutputFile::Replacing(const std::string& path) {
  if (path == "-") {
    return OutputFile(Kind::kInPlace, path, FromHandle(GetStdHandle(STD_OUTPUT_HANDLE)));
  }
  std::string target = path;
  DWORD attributes = GetFileAttributesW(Widen(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    auto final = FollowLinks(path);
    if (!final) return final.error();
    target = std::move(*final);
    attributes = GetFileAttributesW(Widen(target).c_str());
  }
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Error{path, "Is a directory"};
    // An administrator could replace it, but its owner has said it is not to change.
    if (attributes & FILE_ATTRIBUTE_READONLY) return Error{path, "is write-protected"};
  }
  // A device (NUL, a serial port) or a pipe is written as it is: it cannot be replaced.
  const HANDLE device = CreateFileW(Widen(target).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (device != INVALID_HANDLE_VALUE) {
    if (GetFileType(device) != FILE_TYPE_DISK) {
      return OutputFile(Kind::kInPlace, path, FromHandle(device));
    }
    CloseHandle(device);
  }
  OutputFile output(Kind::kReplace, path, FromHandle(INVALID_HANDLE_VALUE));
  output.target_ = std::move(target);
  if (auto error = output.CreateHidden(FolderOf(output.target_))) return *error;
  return output;
}

Expected<OutputFile> OutputFile::New(std::function<std::string(unsigned)> name) {
  OutputFile output(Kind::kNew, name(1), FromHandle(INVALID_HANDLE_VALUE));
  output.name_ = std::move(name);
  if (auto error = output.CreateHidden(FolderOf(output.path_))) return *error;
  return output;
}

// A hidden file beside the sample's place, which goes by itself should the program end before
// the sample is complete, even by a crash or a kill.
std::optional<Error> OutputFile::CreateHidden(const std::string& folder) {
  const std::string base = folder + "\\.lotrix-" + std::to_string(GetCurrentProcessId()) + "-";
  for (unsigned attempt = 0;; ++attempt) {
    std::string name = base + std::to_string(attempt) + ".tmp";
    const HANDLE file = CreateFileW(Widen(name).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DeleteOnClose(file, true);
      handle_ = FromHandle(file);
      temporary_ = std::make_unique<char[]>(name.size() + 1);
      std::copy(name.c_str(), name.c_str() + name.size() + 1, temporary_.get());
      return std::nullopt;
    }
    if (GetLastError() != ERROR_FILE_EXISTS || attempt == kMostNames)
      return Failed(static_cast<int>(GetLastError()));
  }
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : kind_(other.kind_),
      path_(std::move(other.path_)),
      target_(std::move(other.target_)),
      name_(std::move(other.name_)),
      noHardLinks_(other.noHardLinks_),
      temporary_(std::move(other.temporary_)),
      handle_(std::exchange(other.handle_, FromHandle(INVALID_HANDLE_VALUE))),
      buffer_(std::move(other.buffer_)),
      committed_(std::exchange(other.committed_, true)) {}

OutputFile::~OutputFile() {
  const bool open = AsHandle(handle_) != INVALID_HANDLE_VALUE;
  if (open && !(kind_ == Kind::kInPlace && path_ == "-")) CloseHandle(AsHandle(handle_));
  // Still open, the hidden file went with its handle; closed, it waits for its name.
  if (!committed_ && !open && temporary_) DeleteFileW(Widen(temporary_.get()).c_str());
}

Error OutputFile::Failed(int code) const {
  return SystemError(path_ == "-" ? "standard output" : path_, code);
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
      return Failed(static_cast<int>(GetLastError()));
    }
    done += wrote;
  }
  buffer_.clear();
  return std::nullopt;
}

Expected<std::string> OutputFile::Commit() {
  if (auto error = Flush()) return *error;
  if (kind_ == Kind::kInPlace) {
    committed_ = true;
    return path_;
  }
  // On disk before it takes a name: a crash must not leave a named but empty sample.
  if (!FlushFileBuffers(AsHandle(handle_)) || !DeleteOnClose(AsHandle(handle_), false)) {
    return Failed(static_cast<int>(GetLastError()));
  }
  CloseHandle(AsHandle(std::exchange(handle_, FromHandle(INVALID_HANDLE_VALUE))));
  const std::wstring temporary = Widen(temporary_.get());
  // The sample is visible under its own name, not hidden like its temporary.
  SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (kind_ == Kind::kReplace) {
    if (!MoveFileExW(temporary.c_str(), Widen(target_).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return Failed(static_cast<int>(GetLastError()));
    }
    committed_ = true;
    return path_;
  }
  // Moving without replacing fails where the name is taken, so two runs never share one.
  for (unsigned number = 1;; ++number) {
    const std::string name = name_(number);
    if (MoveFileExW(temporary.c_str(), Widen(name).c_str(), MOVEFILE_WRITE_THROUGH)) {
      committed_ = true;
      return name;
    }
    const DWORD code = GetLastError();
    if ((code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) || number == kMostNames) {
      return SystemError(name, static_cast<int>(code));
    }
  }
}

}  // namespace lotrix
