// Small helpers shared by the benchmark's parent and child processes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bench {

// CLOCK_MONOTONIC in nanoseconds: one clock for every process on the machine.
int64_t NowNs();

// Resident set size of this process in kB (VmRSS), or -1.
long RssKb();

// User plus system CPU time of this process (all threads) in nanoseconds.
int64_t CpuNs();

// A pseudo-terminal whose master this process holds; the slave is configured raw and a slave
// descriptor is kept open so that the master never sees a hang-up.
class Pty {
 public:
  Pty();
  ~Pty();
  Pty(const Pty &) = delete;
  Pty &operator=(const Pty &) = delete;
  bool Ok() const { return master_ >= 0; }
  int Master() const { return master_; }
  const std::string &SlavePath() const { return slavePath_; }

 private:
  int master_ = -1;
  int keptSlave_ = -1;
  std::string slavePath_;
};


// A child process whose standard output is read through a pipe.
struct Child {
  pid_t pid = -1;
  int out = -1;
  int64_t startedNs = 0;  // taken just before the process was created
};

// Starts `program` with `args` and the current environment changed by `env` ("NAME=value"; an
// empty value removes the variable). pid is -1 on failure.
Child Spawn(const std::string &program, const std::vector<std::string> &args,
            const std::vector<std::string> &env = {});

// Reads the child's output to its end and waits for it.
std::string CollectOutput(Child &child, int *exitStatus);
// The same, with lines "key value" made a map; the exit status is stored under "exit_status".
std::map<std::string, double> Collect(Child &child);

// Reads one line from a descriptor (without the newline), waiting at most timeoutMs.
bool ReadLine(int fd, std::string *line, int timeoutMs);

double Median(std::vector<double> values);

}  // namespace bench
