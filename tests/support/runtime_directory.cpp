#include "tests/support/runtime_directory.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <gtest/gtest.h>

RuntimeDirectory::RuntimeDirectory() {
  if (const char *old = std::getenv("XDG_RUNTIME_DIR")) {
    old_ = old;
    hadOld_ = true;
  }
  char pattern[] = "/tmp/rq735-test-XXXXXX";
  if (const char *made = mkdtemp(pattern)) path_ = made;
  else ADD_FAILURE() << "cannot make a temporary directory";
  setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
}

RuntimeDirectory::~RuntimeDirectory() {
  if (hadOld_)
    setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  if (ec) ADD_FAILURE() << "cannot remove " << path_ << ": " << ec.message();
}
