// Points XDG_RUNTIME_DIR at a fresh directory for one test, so that simulators publish where only
// that test looks; the old value comes back and the directory is removed afterwards.
#pragma once

#include <string>

class RuntimeDirectory {
 public:
  RuntimeDirectory();
  ~RuntimeDirectory();
  RuntimeDirectory(const RuntimeDirectory &) = delete;
  RuntimeDirectory &operator=(const RuntimeDirectory &) = delete;
  const std::string &Path() const { return path_; }

 private:
  std::string path_, old_;
  bool hadOld_ = false;
};
