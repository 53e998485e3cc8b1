// Preloaded into the sampler to make the system behave as some machines and moments do. What
// it does is set by the environment:
//   LOTRIX_SHIM_NO_TMPFILE=1   the file system has no unnamed temporary files (EOPNOTSUPP)
//   LOTRIX_SHIM_NO_LINKS=1     nor hard links (EPERM), as FAT has not
//   LOTRIX_SHIM_READ_MAX=N     every read returns at most N bytes, as pipes and signals make it
//   LOTRIX_SHIM_LOG=FILE       fsync, rename, link and linkat are written to FILE as they happen
//   LOTRIX_SHIM_BEFORE_PREAD=C the shell command C runs once, before the first positioned read
//                              that goes back in its file (a read of it again)
//   LOTRIX_SHIM_BEFORE_PREAD_PAST=K  ... or, where set, before the first one at or past offset K
//   LOTRIX_SHIM_NO_FALLOCATE=1 the file system claims no room ahead (EOPNOTSUPP), as ext2
//   LOTRIX_SHIM_SIGNAL_AFTER_FALLOCATE=S  signal S is raised once fallocate has claimed room, as
//                              a stop that comes while a file is being written over
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <class Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool Set(const char* name) { return std::getenv(name) != nullptr; }

std::size_t Capped(std::size_t size) {
  const char* most = std::getenv("LOTRIX_SHIM_READ_MAX");
  if (most == nullptr) return size;
  const std::size_t limit = std::strtoul(most, nullptr, 10);
  return size < limit ? size : limit;
}

void Log(const char* event) {
  const char* path = std::getenv("LOTRIX_SHIM_LOG");
  if (path == nullptr) return;
  if (FILE* log = std::fopen(path, "a")) {
    std::fprintf(log, "%s\n", event);
    std::fclose(log);
  }
}

void BeforePread(off_t offset) {
  static bool done = false;
  static off_t furthest = 0;
  const char* command = std::getenv("LOTRIX_SHIM_BEFORE_PREAD");
  const char* past = std::getenv("LOTRIX_SHIM_BEFORE_PREAD_PAST");
  const bool due = past ? offset >= std::strtoll(past, nullptr, 10) : offset < furthest;
  if (offset >= furthest) furthest = offset;
  if (done || command == nullptr || !due) return;
  done = true;
  const std::string saved = std::getenv("LD_PRELOAD") ? std::getenv("LD_PRELOAD") : "";
  unsetenv("LD_PRELOAD");
  if (std::system(command) != 0) std::fprintf(stderr, "shim: '%s' failed\n", command);
  setenv("LD_PRELOAD", saved.c_str(), 1);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list arguments;
    va_start(arguments, flags);
    mode = static_cast<mode_t>(va_arg(arguments, int));
    va_end(arguments);
  }
  if ((flags & O_TMPFILE) == O_TMPFILE && Set("LOTRIX_SHIM_NO_TMPFILE")) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return Next<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

ssize_t read(int fd, void* buffer, size_t size) {
  return Next<ssize_t (*)(int, void*, size_t)>("read")(fd, buffer, Capped(size));
}

ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
  BeforePread(offset);
  return Next<ssize_t (*)(int, void*, size_t, off_t)>("pread")(fd, buffer, Capped(size), offset);
}

ssize_t pread64(int fd, void* buffer, size_t size, off_t offset) {
  return pread(fd, buffer, size, offset);
}

int fallocate(int fd, int mode, off_t offset, off_t size) {
  if (Set("LOTRIX_SHIM_NO_FALLOCATE")) {
    errno = EOPNOTSUPP;
    return -1;
  }
  const int result = Next<int (*)(int, int, off_t, off_t)>("fallocate")(fd, mode, offset, size);
  if (const char* signal = std::getenv("LOTRIX_SHIM_SIGNAL_AFTER_FALLOCATE"))
    raise(std::atoi(signal));
  return result;
}

int fallocate64(int fd, int mode, off_t offset, off_t size) {
  return fallocate(fd, mode, offset, size);
}

int fsync(int fd) {
  Log("fsync");
  return Next<int (*)(int)>("fsync")(fd);
}

int rename(const char* from, const char* to) {
  Log("rename");
  return Next<int (*)(const char*, const char*)>("rename")(from, to);
}

int link(const char* from, const char* to) {
  Log("link");
  if (Set("LOTRIX_SHIM_NO_LINKS")) {
    errno = EPERM;
    return -1;
  }
  return Next<int (*)(const char*, const char*)>("link")(from, to);
}

int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  Log("linkat");
  return Next<int (*)(int, const char*, int, const char*, int)>("linkat")(fromFolder, from,
                                                                          toFolder, to, flags);
}

}  // extern "C"
