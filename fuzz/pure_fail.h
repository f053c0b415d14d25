// How the fuzz targets report a finding: a line on standard error, then abort.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {
[[noreturn]] inline void Fail(const std::string &what) {
  std::fprintf(stderr, "FINDING: %s\n", what.c_str());
  std::abort();
}
}  // namespace fuzz
