// Helpers for the tests of the layers built on Qt: paths as QStrings and environment variables
// set for the length of one test.
#pragma once

#include <QFile>
#include <QString>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/fs_path.h"

namespace velorin::test {

inline QString q(const std::filesystem::path& path) { return fromFsPath(path); }

// Sets an environment variable (or, with a null value, removes it) and puts back what was there
// when the scope ends.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

}  // namespace velorin::test
