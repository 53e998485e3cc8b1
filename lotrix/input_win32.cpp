#include <utility>

#include "input.h"
#include "win32.h"

namespace lotrix {
namespace {

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

}  // namespace

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
  const bool regular = path != "-" && GetFileType(file) == FILE_TYPE_DISK;
  Stamp stamp;
  if (regular && !Identity(file, stamp.device, stamp.inode, &stamp.size, &stamp.modified)) {
    const Error error = LastError(path);
    CloseHandle(file);
    return error;
  }
  return InputFile(path, FromHandle(file), regular, stamp);
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)),
      handle_(std::exchange(other.handle_, FromHandle(INVALID_HANDLE_VALUE))),
      regular_(other.regular_),
      stream_(other.stream_),
      stamp_(other.stamp_),
      position_(other.position_) {}

InputFile::~InputFile() {
  if (AsHandle(handle_) != INVALID_HANDLE_VALUE) CloseHandle(AsHandle(handle_));
}

Expected<std::size_t> InputFile::Read(char* buffer, std::size_t size) {
  if (stream_) return ReadFully(AsHandle(handle_), path_, buffer, size, std::nullopt);
  // A positional read moves a Windows file's pointer: a file keeps its own place instead.
  auto got = ReadAt(position_, buffer, size);
  if (got) position_ += *got;
  return got;
}

Expected<std::size_t> InputFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
  return ReadFully(AsHandle(handle_), path_, buffer, size, offset);
}

bool InputFile::IsSameFile(const std::string& path) const {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  return NamedIdentity(path, volume, index) && volume == stamp_.device && index == stamp_.inode;
}

// A named pipe's reader does not wait for its writer when it is opened.
std::optional<Error> InputFile::AwaitWriter() { return std::nullopt; }

bool InputFile::Unchanged() const {
  Stamp now;
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  return NamedIdentity(path_, now.device, now.inode) &&
         Identity(AsHandle(handle_), volume, index, &now.size, &now.modified) && now == stamp_;
}

}  // namespace lotrix
