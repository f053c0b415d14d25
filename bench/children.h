// The measuring processes of rq735-bench, one mode per fresh process.
#pragma once

#include <cstddef>
#include <string>

namespace bench {

struct ChildOptions {
  int samples = 3;        // latency: measured exchanges per process
  int idleSeconds = 30;   // idle: how long the window sits idle
  int cycles = 1000;      // memory: request-reply cycles
  std::string simPath;    // memory: the rq735-sim program
  int baud = 57600;       // throughput: the line's baud rate
  size_t bytes = 1 << 20; // throughput: bytes each way
};

// Runs one measuring mode ("startup", "latency", "idle", "memory", "throughput"); returns the
// process's exit status.
int RunChild(const std::string &mode, int argc, char **argv, const ChildOptions &options);

}  // namespace bench
