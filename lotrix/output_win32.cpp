#include <algorithm>
#include <filesystem>
#include <utility>

#include "output.h"
#include "system.h"
#include "win32.h"

#include <winternl.h>  // after windows.h

namespace lotrix {
namespace {

constexpr unsigned kMostNames = 1000000;

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

// `path` from its drive's root: Wine's ReplaceFileW looks for a bare name's folder in vain.
std::wstring FullPath(const std::wstring& path) {
  std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  const DWORD size =
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (size == 0 || size >= full.size()) return path;
  full.resize(size);
  return full;
}

// Whether `handle` was opened for writing. What stands in for a standard output that was not
// passed (NUL) takes no writes, so that a sample is refused rather than lost; a handle the
// system will not tell of (a console's, before Windows 8) is taken at its word.
bool Writable(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  using Query = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  PUBLIC_OBJECT_BASIC_INFORMATION info{};
  return !query || query(handle, ObjectBasicInformation, &info, sizeof info, nullptr) < 0 ||
         (info.GrantedAccess & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
}

// Signalled but while a sample is copied over a file's own content.
HANDLE NotCopying() {
  static const HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  return event;
}

// Ctrl-C, Ctrl-Break and the console's closing end the program as they otherwise would, but not
// half-way through that copy, which would leave the file part sample, part old bytes or zeros.
BOOL WINAPI AfterCopy(DWORD) {
  WaitForSingleObject(NotCopying(), INFINITE);
  return FALSE;  // on to the default handler, which ends the process
}

}  // namespace

Expected<OutputFile> OutputFile::Replacing(const std::string& path) {
  if (path == "-") {
    const HANDLE standard = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!Writable(standard)) return Error{"standard output", "is closed"};
    return OutputFile(Kind::kInPlace, path, FromHandle(standard));
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
  OutputFile replacing(Kind::kReplace, path, FromHandle(INVALID_HANDLE_VALUE));
  replacing.target_ = target;
  // Opened as > opens it, less the truncation, so that the system says who may write it.
  const HANDLE file = CreateFileW(Widen(target).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return LastError(path);
    if (auto error = replacing.CreateHidden(FolderOf(target))) return *error;
    return replacing;
  }
  OutputFile written(Kind::kInPlace, path, FromHandle(file));
  // A device (NUL, a serial port) or a pipe is written as it is: it cannot be replaced.
  if (GetFileType(file) != FILE_TYPE_DISK) return written;
  // A replacement would leave the other names with the old content, and it moves the old file
  // away, which takes the right to delete it.
  BY_HANDLE_FILE_INFORMATION info{};
  const HANDLE removable =
      CreateFileW(Widen(target).c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  const bool replaceable = removable != INVALID_HANDLE_VALUE &&
                           GetFileInformationByHandle(file, &info) && info.nNumberOfLinks == 1;
  if (removable != INVALID_HANDLE_VALUE) CloseHandle(removable);
  if (replaceable && !replacing.CreateHidden(FolderOf(target))) return replacing;
  auto staged = TemporaryFile::Create();
  if (!staged) return staged.error();
  written.kind_ = Kind::kOverwrite;
  written.staged_.emplace(std::move(*staged));
  return written;
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
      staged_(std::move(other.staged_)),
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

std::optional<Error> OutputFile::Flush() {
  if (staged_) {
    if (auto error = staged_->Append(buffer_.data(), buffer_.size())) return error;
  } else if (const DWORD code = WriteFully(AsHandle(handle_), buffer_.data(), buffer_.size(), {})) {
    return Failed(static_cast<int>(code));
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
  if (kind_ == Kind::kOverwrite) {
    [[maybe_unused]] static const bool handled = SetConsoleCtrlHandler(AfterCopy, TRUE);
    ResetEvent(NotCopying());
    auto error = staged_->CopyInto(handle_, path_);
    SetEvent(NotCopying());
    if (error) return *error;
    if (!FlushFileBuffers(AsHandle(handle_))) return Failed(static_cast<int>(GetLastError()));
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
    const std::wstring target = Widen(target_);
    // ReplaceFileW gives the sample the old file's owner, ACL and attributes.
    if (ReplaceFileW(FullPath(target).c_str(), FullPath(temporary).c_str(), nullptr, 0, nullptr,
                     nullptr)) {
      committed_ = true;
      return path_;
    }
    const DWORD code = GetLastError();
    // No file to replace (a new name, or an old file that went while this one could not take
    // its place): the sample moves there as it is.
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
      return Failed(static_cast<int>(code));
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(),
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
