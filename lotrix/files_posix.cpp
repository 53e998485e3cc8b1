#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "files.h"

namespace lotrix {
namespace {

constexpr std::size_t kWriteBuffer = 1 << 20;

std::string FolderOf(const std::string& path) {
  const std::string folder = PathOf(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

// Reads until `size` bytes or the end of the file; pread when `offset` is given.
Expected<std::size_t> ReadFully(int fd, const std::string& path, char* buffer, std::size_t size,
                                std::optional<std::uint64_t> offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got =
        offset ? pread(fd, buffer + done, size - done, static_cast<off_t>(*offset + done))
               : read(fd, buffer + done, size - done);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return SystemError(path, errno);
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

mode_t CreationMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

Error SystemError(std::string path, int code) { return {std::move(path), std::strerror(code)}; }

std::filesystem::path PathOf(const std::string& text) { return text; }

std::string TextOf(const std::filesystem::path& path) { return path.string(); }

Expected<InputFile> InputFile::Open(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return SystemError(path, errno);
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int code = S_ISDIR(info.st_mode) ? EISDIR : errno;
    close(fd);
    return SystemError(path, code);
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return InputFile(path, fd, static_cast<std::uint64_t>(info.st_size), info.st_dev, info.st_ino);
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)),
      handle_(std::exchange(other.handle_, -1)),
      size_(other.size_),
      device_(other.device_),
      inode_(other.inode_) {}

InputFile::~InputFile() {
  if (handle_ >= 0) close(Fd());
}

Expected<std::size_t> InputFile::Read(char* buffer, std::size_t size) {
  return ReadFully(Fd(), path_, buffer, size, std::nullopt);
}

Expected<std::size_t> InputFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
  return ReadFully(Fd(), path_, buffer, size, offset);
}

bool InputFile::IsSameFile(const std::string& path) const {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && info.st_dev == device_ && info.st_ino == inode_;
}

Expected<OutputFile> OutputFile::Create(const std::string& path) {
  const std::string folder = FolderOf(path);
  // A file with no name yet vanishes by itself if we die before it is complete.
  int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) return OutputFile(path, std::string(), fd);
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    return SystemError(path, errno);
  }
  // File systems without unnamed files get a hidden name beside the target instead.
  std::string temporary = folder + "/." + PathOf(path).filename().string() + ".XXXXXX";
  fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return SystemError(path, errno);
  fchmod(fd, CreationMode());
  return OutputFile(path, std::move(temporary), fd);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)),
      temporary_(std::move(other.temporary_)),
      handle_(std::exchange(other.handle_, -1)),
      buffer_(std::move(other.buffer_)),
      committed_(std::exchange(other.committed_, true)) {}

OutputFile::~OutputFile() {
  if (handle_ >= 0) close(Fd());
  if (!committed_ && !temporary_.empty()) unlink(temporary_.c_str());
}

std::optional<Error> OutputFile::Write(const char* data, std::size_t size) {
  if (buffer_.size() + size > kWriteBuffer) {
    if (auto error = Flush()) return error;
  }
  if (size >= kWriteBuffer) {
    buffer_.assign(data, size);
    return Flush();
  }
  buffer_.append(data, size);
  return std::nullopt;
}

std::optional<Error> OutputFile::Flush() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t wrote = write(Fd(), buffer_.data() + done, buffer_.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return SystemError(path_, errno);
    }
    done += static_cast<std::size_t>(wrote);
  }
  buffer_.clear();
  return std::nullopt;
}

std::optional<Error> OutputFile::Commit() {
  if (auto error = Flush()) return error;
  if (fsync(Fd()) != 0) return SystemError(path_, errno);
  if (temporary_.empty()) {
    // Give the unnamed file a hidden name, then move that over the target in one step.
    const std::string self = "/proc/self/fd/" + std::to_string(Fd());
    const std::string base =
        FolderOf(path_) + "/." + PathOf(path_).filename().string() + "." + std::to_string(getpid());
    for (int attempt = 0; temporary_.empty(); ++attempt) {
      std::string candidate = base + "." + std::to_string(attempt);
      if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        temporary_ = std::move(candidate);
      } else if (errno != EEXIST || attempt > 100) {
        return SystemError(path_, errno);
      }
    }
  }
  if (rename(temporary_.c_str(), path_.c_str()) != 0) return SystemError(path_, errno);
  committed_ = true;
  return std::nullopt;
}

}  // namespace lotrix
