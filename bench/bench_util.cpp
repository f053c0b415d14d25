#include "bench/bench_util.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

extern char **environ;

namespace bench {

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

long RssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

int64_t CpuNs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto ns = [](const timeval &t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_usec * 1000; };
  return ns(u.ru_utime) + ns(u.ru_stime);
}

Pty::Pty() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return;
  const char *name = nullptr;
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || (name = ptsname(master_)) == nullptr) {
    close(master_);
    master_ = -1;
    return;
  }
  slavePath_ = name;
  keptSlave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios raw{};
  if (keptSlave_ >= 0 && tcgetattr(keptSlave_, &raw) == 0) {
    cfmakeraw(&raw);
    tcsetattr(keptSlave_, TCSANOW, &raw);
  }
}

Pty::~Pty() {
  if (keptSlave_ >= 0) close(keptSlave_);
  if (master_ >= 0) close(master_);
}

Child Spawn(const std::string &program, const std::vector<std::string> &args, const std::vector<std::string> &env) {
  Child child;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return child;

  std::vector<std::string> envStrings;
  for (char **e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    const bool replaced = std::any_of(env.begin(), env.end(),
                                      [&](const std::string &v) { return v.substr(0, v.find('=')) == name; });
    if (!replaced) envStrings.push_back(entry);
  }
  for (const std::string &v : env)
    if (v.find('=') + 1 < v.size()) envStrings.push_back(v);

  std::vector<char *> argv{const_cast<char *>(program.c_str())};
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char *> envp;
  for (std::string &e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  child.startedNs = NowNs();
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) {
    close(pipeFds[0]);
    return child;
  }
  child.pid = pid;
  child.out = pipeFds[0];
  return child;
}

std::string CollectOutput(Child &child, int *exitStatus) {
  std::string text;
  char buffer[4096];
  while (child.out >= 0) {
    const ssize_t n = read(child.out, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  if (child.out >= 0) close(child.out);
  child.out = -1;
  int status = 0;
  if (child.pid > 0) waitpid(child.pid, &status, 0);
  *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return text;
}

std::map<std::string, double> Collect(Child &child) {
  std::map<std::string, double> values;
  int status = 0;
  const std::string text = CollectOutput(child, &status);
  values["exit_status"] = status;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string key;
    double value = 0;
    if (fields >> key >> value) values[key] = value;
  }
  return values;
}

bool ReadLine(int fd, std::string *line, int timeoutMs) {
  line->clear();
  const int64_t deadline = NowNs() + static_cast<int64_t>(timeoutMs) * 1000000;
  for (;;) {
    const int64_t left = (deadline - NowNs()) / 1000000;
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char c = 0;
    const ssize_t n = read(fd, &c, 1);
    if (n <= 0) return false;
    if (c == '\n') return true;
    line->push_back(c);
  }
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

}  // namespace bench
