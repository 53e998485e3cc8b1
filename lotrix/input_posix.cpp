#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "generated_posix.h"
#include "input.h"
#include "posix.h"

namespace lotrix {
namespace {

// Whether `path` names an open descriptor rather than a file in a folder (/dev/stdin,
// /dev/fd/3, /proc/self/fd/0, a shell's <(...)): whatever it opens, there is no folder of the
// user's beside it, and a sample put there would land in /dev or /proc.
bool NamesDescriptor(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    if (path.starts_with("/dev/fd/") ||
        (path.starts_with("/proc/") && path.find("/fd/") != std::string::npos)) {
      return true;
    }
    int code = 0;
    auto next = LinkTarget(path, code);
    if (!next) return false;
    path = std::move(*next);
  }
  return false;
}

// Whether the file's text is made as it is read, to be read once, as a stream's.
bool Generated(int fd) {
  struct statfs system {};
  return fstatfs(fd, &system) == 0 && MakesTextAsRead(static_cast<unsigned long>(system.f_type));
}

}  // namespace

Expected<InputFile> InputFile::Open(const std::string& path) {
  const bool standard = path == "-";
  const int fd = standard ? fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3)
                          : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return SystemError(standard ? "standard input" : path, errno);
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int code = S_ISDIR(info.st_mode) ? EISDIR : errno;
    close(fd);
    return SystemError(path, code);
  }
  // Reads wait as usual; only a FIFO's waits for its writer, in AwaitWriter.
  if (!standard && !S_ISFIFO(info.st_mode)) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const bool regular = !standard && S_ISREG(info.st_mode) && !NamesDescriptor(path);
  if (regular) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  // A size of 0 makes a file a stream.
  const bool sized = regular && !Generated(fd);
  return InputFile(path, fd, regular,
                   {info.st_dev, info.st_ino, sized ? static_cast<std::uint64_t>(info.st_size) : 0,
                    ModifiedNs(info)});
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)),
      handle_(std::exchange(other.handle_, -1)),
      regular_(other.regular_),
      stream_(other.stream_),
      stamp_(other.stamp_),
      position_(other.position_) {}

InputFile::~InputFile() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

Expected<std::size_t> InputFile::Read(char* buffer, std::size_t size) {
  if (stream_) return ReadFully(static_cast<int>(handle_), path_, buffer, size, std::nullopt);
  auto got = ReadAt(position_, buffer, size);
  if (got) position_ += *got;
  return got;
}

Expected<std::size_t> InputFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
  return ReadFully(static_cast<int>(handle_), path_, buffer, size, offset);
}

std::optional<Error> InputFile::AwaitWriter() {
  const int fd = static_cast<int>(handle_);
  const int flags = fcntl(fd, F_GETFL);
  if (path_ == "-" || flags < 0 || !(flags & O_NONBLOCK)) return std::nullopt;
  // Linux reports no hang-up to a reader that opened without waiting until a writer has come
  // and gone: this waits for the first bytes or the end of a writer that sent none.
  pollfd ready{fd, POLLIN, 0};
  while (poll(&ready, 1, -1) < 0) {
    if (errno != EINTR) return SystemError(path_, errno);
  }
  if (fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return SystemError(path_, errno);
  return std::nullopt;
}

bool InputFile::IsSameFile(const std::string& path) const {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && info.st_dev == stamp_.device &&
         info.st_ino == stamp_.inode;
}

bool InputFile::Unchanged() const {
  struct stat named {};
  struct stat opened {};
  if (stat(path_.c_str(), &named) != 0 || fstat(static_cast<int>(handle_), &opened) != 0) {
    return false;
  }
  return Stamp{named.st_dev, named.st_ino, static_cast<std::uint64_t>(opened.st_size),
               ModifiedNs(opened)} == stamp_;
}

}  // namespace lotrix
