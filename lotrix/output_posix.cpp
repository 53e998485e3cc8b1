#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <map>

#include "output.h"
#include "posix.h"
#include "system.h"

namespace lotrix {
namespace {

constexpr unsigned kMostNames = 1000000;
// What stops a program from its terminal or from outside, short of SIGKILL.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kMostLinks = 40;

// Files to remove should a signal stop the program: the hidden file a sample is written under,
// and a name claimed for it. Set and read with atomics, as the handler may run at any moment.
std::atomic<const char*> g_leftovers[2];

extern "C" void RemoveLeftoversAndStop(int signal) {
  for (auto& name : g_leftovers) {
    if (const char* path = name.load()) unlink(path);
  }
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigaction(signal, &standard, nullptr);
  raise(signal);  // delivered, with its usual end, once this handler returns
}

// Catches the signals that stop a program, before any file is made, so that each file the
// handler is to remove is known to it from the moment it exists.
void CatchStopSignals() {
  static const bool caught = [] {
    for (const int signal : kStopSignals) {
      struct sigaction now {};
      sigaction(signal, nullptr, &now);
      if (now.sa_handler == SIG_IGN) continue;  // as under nohup: it stays ignored
      struct sigaction catcher {};
      catcher.sa_handler = RemoveLeftoversAndStop;
      sigemptyset(&catcher.sa_mask);
      sigaction(signal, &catcher, nullptr);
    }
    return true;
  }();
  (void)caught;
}

// Holds the stopping signals back while a file is created and remembered: one that came in
// between would leave the file behind. They are delivered when this goes.
class SignalsHeld {
 public:
  SignalsHeld() {
    CatchStopSignals();
    sigset_t stopping;
    sigemptyset(&stopping);
    for (const int signal : kStopSignals) sigaddset(&stopping, signal);
    sigprocmask(SIG_BLOCK, &stopping, &before_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t before_;
};

// Keeps `path` (which must not move) for removal until Forget.
void Remember(int which, const char* path) { g_leftovers[which].store(path); }
void Forget(int which) { g_leftovers[which].store(nullptr); }

std::unique_ptr<char[]> Copy(const std::string& text) {
  auto copy = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(copy.get(), text.c_str(), text.size() + 1);
  return copy;
}

// The descriptor a path names (/dev/fd/N, /proc/self/fd/N), if any.
std::optional<int> DescriptorOf(const std::string& path) {
  for (const std::string& folder : {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
                                    "/proc/" + std::to_string(getpid()) + "/fd/"}) {
    if (!path.starts_with(folder)) continue;
    int fd = -1;
    const char* end = path.data() + path.size();
    const auto [stop, error] = std::from_chars(path.data() + folder.size(), end, fd);
    if (error == std::errc() && stop == end) return fd;
  }
  return std::nullopt;
}

// The file that `given` finally names, its symbolic links followed; it may not exist. Errors
// name `given`, the name the user knows. A descriptor's link (/dev/stdout leads to one) names
// no path, a pipe's not even in words: it is opened as it is.
Expected<std::string> FollowLinks(const std::string& given) {
  std::string path = given;
  for (int hops = 0; hops <= kMostLinks; ++hops) {
    if (DescriptorOf(path)) return path;
    int code = 0;
    auto next = LinkTarget(path, code);
    if (code != 0) return SystemError(given, code);
    if (!next) return path;
    path = std::move(*next);
  }
  return SystemError(given, ELOOP);
}

// Makes a new name in `folder` durable, so that it survives a crash as the sample's data does.
void SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Where an open file can be named again, through /proc.
std::string SelfPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Gives the unnamed file `fd` the name `name`, which must be free: 0, or the system's error.
int LinkUnnamed(int fd, const char* name) {
  return linkat(AT_FDCWD, SelfPath(fd).c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// A file in `folder` that no one else can see: unnamed where the file system allows it, else
// under a short hidden name (short, so that a target name at the system's limit still works).
// It gets `mode` exactly.
struct Hidden {
  int fd = -1;
  std::unique_ptr<char[]> name;  // none for an unnamed file
  int error = 0;
};
Hidden MakeHidden(const std::string& folder, mode_t mode) {
  Hidden hidden;
  hidden.fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (hidden.fd >= 0) {
    // An unnamed file gets its name through /proc, which a bare chroot may lack.
    if (access(SelfPath(hidden.fd).c_str(), F_OK) == 0) {
      fchmod(hidden.fd, mode);
      return hidden;
    }
    close(hidden.fd);
  } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    hidden.error = errno;
    return hidden;
  }
  hidden.name = Copy(folder + "/.lotrix-XXXXXX");
  SignalsHeld held;
  hidden.fd = mkostemp(hidden.name.get(), O_CLOEXEC);
  if (hidden.fd < 0) {
    hidden.error = errno;
    return hidden;
  }
  Remember(0, hidden.name.get());
  fchmod(hidden.fd, mode);
  return hidden;
}

// Throws away a hidden file that is not to be the sample.
void Discard(Hidden& hidden) {
  close(std::exchange(hidden.fd, -1));
  if (!hidden.name) return;
  unlink(hidden.name.get());
  Forget(0);
  hidden.name.reset();
}

// What a call that fills a buffer of the size it first reports gives; none where it fails.
template <class Fill>
std::optional<std::string> Filled(Fill fill) {
  const ssize_t size = fill(nullptr, 0);
  if (size < 0) return std::nullopt;
  std::string text(static_cast<std::size_t>(size), '\0');
  const ssize_t got = fill(text.data(), text.size());
  if (got < 0) return std::nullopt;  // it grew in between
  text.resize(static_cast<std::size_t>(got));
  return text;
}

// The extended attributes of an open file, its ACL among them; none where some cannot be read
// (user.* ones need the right to read the file, which a writer may lack).
std::optional<std::map<std::string, std::string>> Attributes(int fd) {
  std::map<std::string, std::string> attributes;
  const auto names =
      Filled([fd](char* list, std::size_t size) { return flistxattr(fd, list, size); });
  if (!names) {
    if (errno == ENOTSUP) return attributes;
    return std::nullopt;
  }
  for (std::size_t at = 0; at < names->size();) {
    const std::string name = names->c_str() + at;  // each ends with a NUL, as does the list
    at += name.size() + 1;
    auto value = Filled([fd, &name](char* data, std::size_t size) {
      return fgetxattr(fd, name.c_str(), data, size);
    });
    if (!value) return std::nullopt;
    attributes.emplace(name, std::move(*value));
  }
  return attributes;
}

// A hidden file in the folder of the regular file `target` (open as `fd`, its status `info`)
// that can take its place as the shell's > would leave it: the same owner, group, permissions
// (less setuid and setgid, which > drops too) and extended attributes, under the one name that
// a rename moves. None (fd < 0) where such a file cannot be made or put there.
Hidden StandIn(const std::string& target, int fd, const struct stat& info) {
  // A rename would leave the other names with the old content.
  if (info.st_nlink > 1) return {};
  Hidden hidden = MakeHidden(FolderOf(target), info.st_mode & 01777);
  if (hidden.fd < 0) return {};  // the folder takes no new file
  struct stat made {};
  // Not over a file mounted on its name. Only root may give a file away, and only a member of
  // a group give it to that group; so a sticky folder, which lets only the owner rename over
  // a file, never refuses the rename of a file that gets here.
  bool same = fstat(hidden.fd, &made) == 0 && made.st_dev == info.st_dev &&
              ((made.st_uid == info.st_uid && made.st_gid == info.st_gid) ||
               fchown(hidden.fd, info.st_uid, info.st_gid) == 0);
  if (same) {
    const auto old = Attributes(fd);
    same = old && old == Attributes(hidden.fd);
  }
  if (!same) Discard(hidden);
  return hidden;
}

// Whether standard descriptor `fd` is what stands in for one that was closed: the null device,
// open for reading alone. Opened again for writing, it would take the sample to nowhere.
bool StandsIn(int fd) {
  struct stat info {};
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) == O_RDONLY && fstat(fd, &info) == 0 &&
         S_ISCHR(info.st_mode) && info.st_rdev == makedev(1, 3);
}

// What a new file gets: read and write for all, less what the user's umask takes away.
mode_t CreationMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

Expected<OutputFile> OutputFile::Replacing(const std::string& path) {
  CatchStopSignals();
  if (path == "-") {
    // What stands in for a standard output that was closed takes no writes: the sample would
    // otherwise go nowhere, and the run count as a success.
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return Error{"standard output", "is closed"};
    return OutputFile(Kind::kInPlace, path, STDOUT_FILENO);
  }
  auto target = FollowLinks(path);
  if (!target) return target.error();
  if (const auto fd = DescriptorOf(*target); fd && *fd <= STDERR_FILENO && StandsIn(*fd)) {
    return Error{path, "is closed"};
  }
  struct stat info {};
  Hidden hidden;
  if (stat(target->c_str(), &info) != 0) {
    if (errno != ENOENT) return SystemError(path, errno);
    hidden = MakeHidden(FolderOf(*target), CreationMode());
    if (hidden.fd < 0) return SystemError(path, hidden.error);
  } else {
    if (S_ISDIR(info.st_mode)) return SystemError(path, EISDIR);
    // Root could write it, but no one is to. Who else may is for the open below to say, with
    // the caller's groups and the file's ACL.
    if (S_ISREG(info.st_mode) && !(info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) {
      return Error{path, "is write-protected"};
    }
    // Opened as > opens it, less the truncation, so that the system says who may write it.
    const int fd = open(target->c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return SystemError(path, errno);
    OutputFile written(Kind::kInPlace, path, fd);
    if (fstat(fd, &info) != 0) return SystemError(path, errno);
    // A device or a pipe is written as it is: replacing it by a file would break the system.
    if (!S_ISREG(info.st_mode)) return written;
    hidden = StandIn(*target, fd, info);
    if (hidden.fd < 0) {
      auto staged = TemporaryFile::Create();
      if (!staged) return staged.error();
      written.kind_ = Kind::kOverwrite;
      written.staged_.emplace(std::move(*staged));
      return written;
    }
  }
  OutputFile output(Kind::kReplace, path, hidden.fd);
  output.target_ = std::move(*target);
  output.temporary_ = std::move(hidden.name);
  return output;
}

Expected<OutputFile> OutputFile::New(std::function<std::string(unsigned)> name) {
  CatchStopSignals();
  const std::string first = name(1);
  Hidden hidden = MakeHidden(FolderOf(first), CreationMode());
  if (hidden.fd < 0) return SystemError(first, hidden.error);
  OutputFile output(Kind::kNew, first, hidden.fd);
  output.name_ = std::move(name);
  output.temporary_ = std::move(hidden.name);
  return output;
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : kind_(other.kind_),
      path_(std::move(other.path_)),
      target_(std::move(other.target_)),
      name_(std::move(other.name_)),
      noHardLinks_(other.noHardLinks_),
      temporary_(std::move(other.temporary_)),
      handle_(std::exchange(other.handle_, -1)),
      staged_(std::move(other.staged_)),
      buffer_(std::move(other.buffer_)),
      committed_(std::exchange(other.committed_, true)) {}

OutputFile::~OutputFile() {
  if (handle_ > STDERR_FILENO) close(Fd());
  if (!committed_ && temporary_) unlink(temporary_.get());
  if (temporary_) Forget(0);
}

Error OutputFile::Failed(int code) const {
  return SystemError(path_ == "-" ? "standard output" : path_, code);
}

std::optional<Error> OutputFile::Flush() {
  if (staged_) {
    if (auto error = staged_->Append(buffer_.data(), buffer_.size())) return error;
  } else if (const int code = WriteFully(Fd(), buffer_.data(), buffer_.size())) {
    return Failed(code);
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
    // A stop half-way would leave the file part sample, part old bytes or zeros: it waits until
    // the file holds the whole sample.
    SignalsHeld held;
    if (auto error = staged_->CopyInto(handle_, path_)) return *error;
    // Setuid and setgid go, as > leaves the file: others' writes take them away, root's only
    // on newer systems.
    struct stat info {};
    if (fstat(Fd(), &info) == 0 && (info.st_mode & (S_ISUID | S_ISGID))) {
      fchmod(Fd(), info.st_mode & 01777);
    }
    if (fsync(Fd()) != 0) return Failed(errno);
    committed_ = true;
    return path_;
  }
  // On disk before it takes a name: a crash must not leave a named but empty sample.
  if (fsync(Fd()) != 0) return Failed(errno);
  if (kind_ == Kind::kReplace) {
    if (auto error = PutInPlace()) return *error;
    SyncFolder(FolderOf(target_));
    return path_;
  }
  for (unsigned number = 1;; ++number) {
    const std::string name = name_(number);
    const int code = Claim(name);
    if (code == 0) {
      SyncFolder(FolderOf(name));
      return name;
    }
    if (code != EEXIST || number == kMostNames) return SystemError(name, code);
  }
}

// Moves the sample over the file it replaces, in one step.
std::optional<Error> OutputFile::PutInPlace() {
  if (!temporary_) {
    // An unnamed file can replace nothing: it gets a hidden name first.
    const std::string base = FolderOf(target_) + "/.lotrix-" + std::to_string(getpid()) + "-";
    for (unsigned attempt = 0; !temporary_; ++attempt) {
      auto name = Copy(base + std::to_string(attempt));
      SignalsHeld held;
      const int code = LinkUnnamed(Fd(), name.get());
      if (code == 0) {
        temporary_ = std::move(name);
        Remember(0, temporary_.get());
      } else if (code != EEXIST || attempt == kMostNames) {
        return Failed(code);
      }
    }
  }
  if (rename(temporary_.get(), target_.c_str()) != 0) return Failed(errno);
  committed_ = true;
  return std::nullopt;
}

int OutputFile::Claim(const std::string& name) {
  if (!temporary_) {
    const int code = LinkUnnamed(Fd(), name.c_str());
    committed_ = code == 0;
    return code;
  }
  // A second name, which fails where the name is taken, and then the hidden one goes.
  if (!noHardLinks_) {
    if (link(temporary_.get(), name.c_str()) == 0) {
      committed_ = true;
      unlink(temporary_.get());
      return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP) return errno;
    noHardLinks_ = true;
  }
  // A file system without hard links (FAT on a memory stick): the name is claimed by creating
  // it, and the sample then moved over the empty file.
  const auto claimed = Copy(name);
  {
    SignalsHeld held;
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    close(fd);
    Remember(1, claimed.get());
  }
  const int code = rename(temporary_.get(), name.c_str()) == 0 ? 0 : errno;
  if (code != 0) unlink(name.c_str());
  Forget(1);
  committed_ = code == 0;
  return code;
}

}  // namespace lotrix
