#include "formats/input_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velorin {

bool MappedFile::open(const std::filesystem::path& path, bool copyOnWrite) {
  close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
            static_cast<uint64_t>(info.st_size) < kMaxBlockSize;
  if (ok) {
    const int protection = copyOnWrite ? PROT_READ | PROT_WRITE : PROT_READ;
    // A read-only view is read whole, so its pages are mapped in one call instead of a fault
    // every few pages; a copy-on-write view would copy every page up front.
    const int flags = copyOnWrite ? MAP_PRIVATE : MAP_SHARED | MAP_POPULATE;
    void* view = mmap(nullptr, static_cast<size_t>(info.st_size), protection, flags, fd, 0);
    ok = view != MAP_FAILED;
    if (ok) {
      data_ = static_cast<uint8_t*>(view);
      size_ = static_cast<size_t>(info.st_size);
      lastWriteTime_ = fileTimeFromPosix(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
    }
  }
  ::close(fd);
  return ok;
}

void MappedFile::close() {
  if (data_) munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
  lastWriteTime_ = 0;
}

}  // namespace velorin
