// Loaded into the program under test with LD_PRELOAD: every write into one folder sleeps first,
// so a test can signal the process while an output is being written there.
//   VELORIN_SLOW_FOLDER   the folder (absolute, no trailing slash) whose files are slowed
//   VELORIN_SLOW_MICROS   the pause before each write call, in microseconds
//   VELORIN_SLOW_MARKER   a file created at the first slowed call, for the test to wait on
// It can also make one folder behave like a memory card's FAT file system: no unnamed files and no
// hard links, and, as some FUSE drivers, no renaming that refuses to replace.
//   VELORIN_FAT_FOLDER    that folder (absolute, no trailing slash)
//   VELORIN_FAT_RENAME2   "0": renameat2 with flags fails there with EINVAL
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* setting(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

bool inFolder(const char* variable, const char* path, bool itself = false) {
  const char* folder = setting(variable);
  if (!folder || !path) return false;
  const size_t length = std::strlen(folder);
  return std::strncmp(path, folder, length) == 0 && (path[length] == '/' || (itself && path[length] == 0));
}

bool inSlowFolder(const char* path) { return inFolder("VELORIN_SLOW_FOLDER", path); }
bool inFatFolder(const char* path) { return inFolder("VELORIN_FAT_FOLDER", path, true); }

int refuse(int error) {
  errno = error;
  return -1;
}

bool descriptorInSlowFolder(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[4096];
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return false;
  target[n] = 0;
  return inSlowFolder(target);
}

void slowDown() {
  static std::atomic<bool> marked{false};
  if (!marked.exchange(true)) {
    if (const char* marker = setting("VELORIN_SLOW_MARKER")) {
      const int fd = open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      if (fd >= 0) close(fd);
    }
  }
  const char* micros = setting("VELORIN_SLOW_MICROS");
  usleep(micros ? static_cast<useconds_t>(std::atol(micros)) : 10000);
}

void slowDescriptor(int fd) {
  if (descriptorInSlowFolder(fd)) slowDown();
}

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* buffer, size_t count) {
  static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
  slowDescriptor(fd);
  return real(fd, buffer, count);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  static const auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  slowDescriptor(fd);
  return real(fd, buffer, count, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off64_t offset) {
  static const auto real = next<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
  slowDescriptor(fd);
  return real(fd, buffer, count, offset);
}

ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t count, unsigned flags) {
  static const auto real = next<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned)>("copy_file_range");
  slowDescriptor(out);
  return real(in, inOffset, out, outOffset, count, flags);
}

ssize_t sendfile(int out, int in, off_t* offset, size_t count) {
  static const auto real = next<ssize_t (*)(int, int, off_t*, size_t)>("sendfile");
  slowDescriptor(out);
  return real(out, in, offset, count);
}

ssize_t sendfile64(int out, int in, off64_t* offset, size_t count) {
  static const auto real = next<ssize_t (*)(int, int, off64_t*, size_t)>("sendfile64");
  slowDescriptor(out);
  return real(out, in, offset, count);
}

// The step that gives a finished output its name: slowed too, so a signal can land just before it.
int linkat(int oldFolder, const char* oldPath, int newFolder, const char* newPath, int flags) {
  static const auto real = next<int (*)(int, const char*, int, const char*, int)>("linkat");
  if (inSlowFolder(newPath)) slowDown();
  if (inFatFolder(newPath)) return refuse(EPERM);
  return real(oldFolder, oldPath, newFolder, newPath, flags);
}

int link(const char* oldPath, const char* newPath) {
  static const auto real = next<int (*)(const char*, const char*)>("link");
  if (inSlowFolder(newPath)) slowDown();
  if (inFatFolder(newPath)) return refuse(EPERM);
  return real(oldPath, newPath);
}

int open(const char* path, int flags, ...) {
  static const auto real = next<int (*)(const char*, int, ...)>("open");
  va_list arguments;
  va_start(arguments, flags);
  const bool tmpfile = (flags & O_TMPFILE) == O_TMPFILE;
  const mode_t mode = (flags & O_CREAT) || tmpfile ? va_arg(arguments, mode_t) : 0;
  va_end(arguments);
  if (tmpfile && inFatFolder(path)) return refuse(EOPNOTSUPP);
  return real(path, flags, mode);
}

// The other name of open, which callers built for large files reach; one function on 64-bit systems.
int open64(const char* path, int flags, ...) __attribute__((alias("open")));

int renameat2(int oldFolder, const char* oldPath, int newFolder, const char* newPath, unsigned flags) {
  static const auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  const char* rename2 = setting("VELORIN_FAT_RENAME2");
  if (flags && inFatFolder(newPath) && rename2 && rename2[0] == '0') return refuse(EINVAL);
  return real(oldFolder, oldPath, newFolder, newPath, flags);
}

}  // extern "C"
