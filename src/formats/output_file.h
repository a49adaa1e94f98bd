// The writers' output files: created (an existing file replaced) and closed on every exit.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>

namespace velorin {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using OutputFile = std::unique_ptr<std::FILE, FileCloser>;

// Flushes and closes; false when any write failed, so a full disk never passes for a finished
// file.
inline bool closeOutputFile(OutputFile& file) {
  const bool ok = std::fflush(file.get()) == 0 && !std::ferror(file.get());
  return std::fclose(file.release()) == 0 && ok;
}

}  // namespace velorin
