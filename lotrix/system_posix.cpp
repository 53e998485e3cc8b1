#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "buffer.h"
#include "posix.h"
#include "system.h"

namespace lotrix {
namespace {

constexpr std::uint64_t kCopyBuffer = 1 << 20;

}  // namespace

Error SystemError(std::string path, int code) { return {std::move(path), std::strerror(code)}; }

std::filesystem::path PathOf(const std::string& text) { return text; }

std::string TextOf(const std::filesystem::path& path) { return path.string(); }

std::string FolderOf(const std::string& path) {
  const std::string folder = PathOf(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

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

int WriteFully(int fd, const char* data, std::size_t size, std::optional<std::uint64_t> offset) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t wrote =
        offset ? pwrite(fd, data + done, size - done, static_cast<off_t>(*offset + done))
               : write(fd, data + done, size - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return 0;
}

std::int64_t ModifiedNs(const struct stat& info) {
  return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

std::optional<std::string> LinkTarget(const std::string& path, int& code) {
  code = 0;
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return std::nullopt;
  std::string target(static_cast<std::size_t>(info.st_size) + 256, '\0');
  const ssize_t size = readlink(path.c_str(), target.data(), target.size());
  if (size < 0) {
    code = errno;
    return std::nullopt;
  }
  target.resize(static_cast<std::size_t>(size));
  return target.starts_with('/') ? target : FolderOf(path) + "/" + target;
}

Expected<TemporaryFile> TemporaryFile::Create() {
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string folder = tmpdir && *tmpdir ? tmpdir : "/tmp";
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // No unnamed files here: a named one, unnamed at once.
    std::string name = folder + "/.lotrix-XXXXXX";
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) unlink(name.c_str());
  }
  // A bare "No such file or directory" would not say what the folder was for, nor where to
  // name another.
  if (fd < 0) {
    const int code = errno;
    return Error{folder, std::string("the folder for temporary files (TMPDIR ") +
                             (tmpdir && *tmpdir ? "names it" : "may name another") +
                             "): " + std::strerror(code)};
  }
  return TemporaryFile(folder, fd);
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : folder_(std::move(other.folder_)),
      handle_(std::exchange(other.handle_, -1)),
      size_(other.size_) {}

TemporaryFile::~TemporaryFile() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

Error TemporaryFile::Failed(int code) const {
  return {folder_, std::string("temporary file: ") + std::strerror(code)};
}

std::optional<Error> TemporaryFile::Append(const char* data, std::size_t size) {
  if (const int code = WriteFully(static_cast<int>(handle_), data, size)) return Failed(code);
  size_ += size;
  return std::nullopt;
}

std::optional<Error> TemporaryFile::WriteAt(std::uint64_t offset, const char* data,
                                            std::size_t size) {
  if (const int code = WriteFully(static_cast<int>(handle_), data, size, offset)) {
    return Failed(code);
  }
  return std::nullopt;
}

Expected<std::size_t> TemporaryFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
  return ReadFully(static_cast<int>(handle_), folder_, buffer, size, offset);
}

std::optional<Error> TemporaryFile::CopyInto(std::intptr_t handle, const std::string& name) {
  const int fd = static_cast<int>(handle);
  struct stat before {};
  if (fstat(fd, &before) != 0) return SystemError(name, errno);
  const auto size = static_cast<off_t>(size_);
  // The room is claimed whatever the old size, as a file with holes takes more as it is written
  // over (a longer ftruncate would only promise it). Where the file system cannot claim room
  // ahead (ext2, ext3), it is enough that the free room shows it, with some to spare for the
  // file system's own bookkeeping: a disk filled half-way would leave the file part sample.
  if (size > 0 && fallocate(fd, 0, 0, size) != 0) {
    int code = errno;
    if (code == EOPNOTSUPP) {
      const auto held = static_cast<std::uint64_t>(before.st_blocks) * 512;
      const std::uint64_t wanted = size_ > held ? size_ - held : 0;
      struct statvfs system {};
      code = wanted > 0 && fstatvfs(fd, &system) == 0 && system.f_blocks > 0 &&
                     std::uint64_t{system.f_bavail} * system.f_frsize <
                         wanted + wanted / 32 + (std::uint64_t{1} << 20)
                 ? ENOSPC
                 : 0;
    }
    if (code == ENOSPC || code == EDQUOT || code == EFBIG) {
      // A claim cut short may have grown the file by what it got.
      const int undone = ftruncate(fd, before.st_size);
      (void)undone;
      return SystemError(name, code);
    }
  }
  if (lseek(fd, 0, SEEK_SET) != 0) return SystemError(name, errno);
  IoBuffer buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size_, kCopyBuffer)));
  for (std::uint64_t done = 0; done < size_;) {
    auto got = ReadAt(done, buffer.data(), buffer.size());
    if (!got) return got.error();
    if (*got == 0) return Failed(EIO);  // it shrank: nothing else writes to it
    if (const int code = WriteFully(fd, buffer.data(), *got)) return SystemError(name, code);
    done += *got;
  }
  // Only a longer file has an end to cut (and /proc's files, which have none, take no cut).
  if (before.st_size > size && ftruncate(fd, size) != 0) return SystemError(name, errno);
  return std::nullopt;
}

}  // namespace lotrix
