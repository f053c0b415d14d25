#include "pty/sim_ports.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

const char kLinkPrefix[] = "module-";

// The pid in a link name "module-<pid>", or 0 when the name is not one of ours.
pid_t PidFromLinkName(const char *name) {
  const size_t prefixLength = sizeof kLinkPrefix - 1;
  if (std::strncmp(name, kLinkPrefix, prefixLength) != 0) return 0;
  const char *digits = name + prefixLength;
  const size_t count = std::strlen(digits);
  if (count == 0 || count > 10) return 0;
  long long value = 0;
  for (size_t i = 0; i < count; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return 0;
    value = value * 10 + (digits[i] - '0');
  }
  if (value <= 0 || value > INT_MAX) return 0;
  return static_cast<pid_t>(value);
}

bool ProcessAlive(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

// A directory we may trust: a real directory (not a link to one) that belongs to us.
bool OwnDirectory(const std::string &path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == getuid();
}

}  // namespace

std::string SimulatedPortDirectory() {
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    struct stat st {};
    if (stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && access(runtime, W_OK | X_OK) == 0)
      return std::string(runtime) + "/rq735-sim";
  }
  return "/tmp/rq735-sim-" + std::to_string(getuid());
}

std::vector<std::string> ListSimulatedPorts() {
  const std::string dir = SimulatedPortDirectory();
  std::vector<std::pair<pid_t, std::string>> found;
  if (!OwnDirectory(dir)) return {};
  DIR *d = opendir(dir.c_str());
  if (!d) return {};
  while (dirent *entry = readdir(d)) {
    const pid_t pid = PidFromLinkName(entry->d_name);
    if (pid == 0) continue;
    const std::string path = dir + "/" + entry->d_name;
    struct stat linkStat {};
    if (lstat(path.c_str(), &linkStat) != 0 || !S_ISLNK(linkStat.st_mode)) continue;
    struct stat target {};
    const bool targetOk = stat(path.c_str(), &target) == 0 && S_ISCHR(target.st_mode);
    if (!targetOk || !ProcessAlive(pid)) {
      unlink(path.c_str());
      continue;
    }
    found.emplace_back(pid, path);
  }
  closedir(d);
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  paths.reserve(found.size());
  for (auto &f : found) paths.push_back(std::move(f.second));
  return paths;
}

std::string PublishSimulatedPort(const std::string &target, pid_t pid, std::string *error) {
  auto fail = [error](const std::string &why) {
    if (error) *error = why;
    return std::string();
  };
  const std::string dir = SimulatedPortDirectory();
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    const int error = errno;
    return fail("cannot create " + dir + ": " + std::strerror(error));
  }
  if (!OwnDirectory(dir)) return fail(dir + " is not a directory of this user");
  const std::string link = dir + "/" + kLinkPrefix + std::to_string(pid);
  unlink(link.c_str());
  if (symlink(target.c_str(), link.c_str()) != 0) {
    const int error = errno;
    return fail("cannot create " + link + ": " + std::strerror(error));
  }
  return link;
}

void UnpublishSimulatedPort(const std::string &linkPath, const std::string &target) {
  if (linkPath.empty()) return;
  char buffer[PATH_MAX];
  const ssize_t n = readlink(linkPath.c_str(), buffer, sizeof buffer - 1);
  if (n < 0) return;
  if (std::string(buffer, static_cast<size_t>(n)) == target) unlink(linkPath.c_str());
}
