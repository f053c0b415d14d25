// rq735-bench: start-up time, memory, idle cost, reply latency and serial throughput of the
// configuration program. Every figure is the median over several runs, each run a fresh process,
// and is printed on standard output as one line "name value unit". Progress goes to standard error.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "bench/children.h"
#include "ctl/settings.h"
#include "protocol/frame_end.h"
#include "protocol/hart.h"
#include "sim/hart_instrument.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>

#include <chrono>

namespace {

using Values = std::map<std::string, double>;

struct Options {
  bench::ChildOptions child;
  int runs = 5;
  std::set<std::string> only;  // empty: every measurement
};

void Usage(FILE *out) {
  std::fprintf(out,
               "usage: rq735-bench [--runs N] [--cycles N] [--idle-seconds N] [--samples N]\n"
               "                   [--baud N] [--bytes N] [--sim PATH] [--only LIST]\n"
               "Measures the configuration program and prints one line per figure: name value unit.\n"
               "  --runs N          fresh processes per figure, the median is printed (5)\n"
               "  --cycles N        request-reply cycles against rq735-sim for memory (1000)\n"
               "  --idle-seconds N  idle time with the port open (30)\n"
               "  --samples N       timed exchanges per latency process (3)\n"
               "  --baud N          baud rate whose wire rate the throughput is set against (57600)\n"
               "  --bytes N         bytes sent each way in the throughput test (1048576)\n"
               "  --sim PATH        the simulator (the one built beside this program)\n"
               "  --only LIST       comma-separated: startup,throughput,latency,idle,memory,ring,ctl,net\n"
               "Start-up is measured with the offscreen platform and, when DISPLAY is set (for\n"
               "example under xvfb-run), with the X11 platform as well.\n");
}

bool ParseInt(const char *text, long long min, long long *out) {
  char *end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (!end || *end || end == text || v < min) return false;
  *out = v;
  return true;
}

// Fills options from argv; returns false on a bad argument. `mode` receives a child's mode.
bool ParseOptions(int argc, char **argv, Options *o, std::string *mode) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
    long long v = 0;
    const char *value = nullptr;
    if (a == "--child" && (value = next())) {
      *mode = value;
    } else if (a == "--runs" && (value = next()) && ParseInt(value, 1, &v)) {
      o->runs = static_cast<int>(v);
    } else if (a == "--cycles" && (value = next()) && ParseInt(value, 100, &v)) {
      o->child.cycles = static_cast<int>(v);
    } else if (a == "--idle-seconds" && (value = next()) && ParseInt(value, 1, &v)) {
      o->child.idleSeconds = static_cast<int>(v);
    } else if (a == "--samples" && (value = next()) && ParseInt(value, 1, &v)) {
      o->child.samples = static_cast<int>(v);
    } else if (a == "--baud" && (value = next()) && ParseInt(value, 50, &v)) {
      o->child.baud = static_cast<int>(v);
    } else if (a == "--bytes" && (value = next()) && ParseInt(value, 1, &v)) {
      o->child.bytes = static_cast<size_t>(v);
    } else if (a == "--sim" && (value = next())) {
      o->child.simPath = value;
    } else if (a == "--only" && (value = next())) {
      std::stringstream list(value);
      std::string item;
      while (std::getline(list, item, ',')) o->only.insert(item);
    } else {
      return false;
    }
  }
  return true;
}

void Figure(const char *name, double value, const char *unit) {
  std::printf("%s %.3f %s\n", name, value, unit);
  std::fflush(stdout);
}

// A program on the PATH, as posix_spawn needs it; empty when there is none.
std::string OnPath(const std::string &name) {
  const char *path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// Whether something takes connections on a loopback TCP port.
bool AcceptsOnLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// The simulator's own answer time for `requests` in turn, talking to its port directly: each
// request written, its reply read until whole. In ms; -1 when a reply did not come whole.
double SimAnswerMs(const std::string &port, const std::vector<std::vector<uint8_t>> &requests) {
  const int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
  const int64_t start = bench::NowNs();
  bool whole = true;
  for (const std::vector<uint8_t> &request : requests) {
    if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) whole = false;
    std::vector<uint8_t> reply;
    while (whole && HartReplyEnd(reply.data(), reply.size()) == 0) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 2000) <= 0) {
        whole = false;
        break;
      }
      uint8_t chunk[512];
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n > 0) reply.insert(reply.end(), chunk, chunk + n);
    }
  }
  const int64_t end = bench::NowNs();
  close(fd);
  return whole ? (end - start) / 1e6 : -1;
}

class Parent {
 public:
  Parent(std::string self, Options options) : self_(std::move(self)), o_(std::move(options)) {}

  bool Wanted(const char *what) const { return o_.only.empty() || o_.only.count(what); }

  // Starts `count` children of a mode, all at once when `together`, and returns their values.
  // A child that failed is reported and left out.
  std::vector<Values> Run(const std::string &mode, int count, bool together,
                          const std::vector<std::string> &env = {"QT_QPA_PLATFORM=offscreen"}) {
    std::vector<std::string> args = {"--child", mode,
                                     "--cycles", std::to_string(o_.child.cycles),
                                     "--idle-seconds", std::to_string(o_.child.idleSeconds),
                                     "--samples", std::to_string(o_.child.samples),
                                     "--baud", std::to_string(o_.child.baud),
                                     "--bytes", std::to_string(o_.child.bytes),
                                     "--sim", o_.child.simPath};
    std::vector<Values> results;
    std::vector<bench::Child> running;
    auto finish = [&](bench::Child &c) {
      Values v = bench::Collect(c);
      v["started_ns"] = static_cast<double>(c.startedNs);
      if (v["exit_status"] != 0)
        std::fprintf(stderr, "rq735-bench: a %s run failed (status %g)\n", mode.c_str(), v["exit_status"]);
      else
        results.push_back(v);
    };
    for (int i = 0; i < count; ++i) {
      bench::Child c = bench::Spawn(self_, args, env);
      if (c.pid < 0) {
        std::fprintf(stderr, "rq735-bench: cannot start %s\n", self_.c_str());
        continue;
      }
      if (together)
        running.push_back(c);
      else
        finish(c);
    }
    for (bench::Child &c : running) finish(c);
    return results;
  }

  static double MedianOf(const std::vector<Values> &runs, const std::function<double(const Values &)> &f) {
    std::vector<double> v;
    for (const Values &r : runs) v.push_back(f(r));
    return bench::Median(v);
  }

  void Startup(const char *platform, const char *figure, bool withMemory) {
    std::fprintf(stderr, "rq735-bench: start-up (%s), %d runs\n", platform, o_.runs);
    Run("startup", 1, false, {std::string("QT_QPA_PLATFORM=") + platform});  // warms the file cache
    const auto runs = Run("startup", o_.runs, false, {std::string("QT_QPA_PLATFORM=") + platform});
    if (runs.empty()) return;
    Figure(figure, MedianOf(runs, [](const Values &v) {
             return (v.at("painted_at_ns") - v.at("started_ns")) / 1e6;
           }), "ms");
    // Where the time goes: loading up to main(), QApplication, TForm1 with its start-up, show
    // to the first painted frame.
    const std::string prefix = std::string(figure).substr(0, std::string(figure).size() - 3);
    const struct {
      const char *part, *from, *to;
    } parts[] = {{"_to_main_ms", "started_ns", "main_at_ns"},
                 {"_qapplication_ms", "main_at_ns", "app_at_ns"},
                 {"_form_ms", "app_at_ns", "form_at_ns"},
                 {"_first_paint_ms", "form_at_ns", "painted_at_ns"}};
    for (const auto &p : parts)
      Figure((prefix + p.part).c_str(),
             MedianOf(runs, [&](const Values &v) { return (v.at(p.to) - v.at(p.from)) / 1e6; }), "ms");
    if (withMemory)
      Figure("rss_after_startup_mb", MedianOf(runs, [](const Values &v) { return v.at("rss_kb") / 1024; }), "MB");
  }

  void Throughput() {
    std::fprintf(stderr, "rq735-bench: TComm throughput, %d runs of %zu bytes each way\n", o_.runs, o_.child.bytes);
    const auto runs = Run("throughput", o_.runs, false);
    if (runs.empty()) return;
    const double wire = o_.child.baud / 10.0;  // 8 data bits with start and stop bit
    const double rx = MedianOf(runs, [](const Values &v) { return v.at("rx_bytes_per_s"); });
    const double tx = MedianOf(runs, [](const Values &v) { return v.at("tx_bytes_per_s"); });
    int damaged = 0;
    for (const Values &v : runs) damaged += (v.at("rx_intact") != 1) + (v.at("tx_intact") != 1);
    Figure("tcomm_rx_bytes_per_s", rx, "B/s");
    Figure("tcomm_tx_bytes_per_s", tx, "B/s");
    Figure("wire_rate_bytes_per_s", wire, "B/s");
    Figure("tcomm_rx_over_wire", rx / wire, "x");
    Figure("tcomm_tx_over_wire", tx / wire, "x");
    Figure("tcomm_transfers_damaged", damaged, "count");
  }

  void Latency() {
    std::fprintf(stderr, "rq735-bench: reply latency, %d runs of %d exchanges\n", o_.runs, o_.child.samples);
    const auto runs = Run("latency", o_.runs, false);
    if (runs.empty()) return;
    Figure("reply_shown_latency_ms", MedianOf(runs, [](const Values &v) { return v.at("shown_ms"); }), "ms");
    Figure("reply_parsed_latency_ms", MedianOf(runs, [](const Values &v) { return v.at("parsed_ms"); }), "ms");
  }

  // Idle and memory processes mostly wait, so they run side by side.
  void IdleAndMemory(bool idle, bool memory) {
    std::fprintf(stderr, "rq735-bench:%s%s, %d runs side by side\n", idle ? " idle cost;" : "",
                 memory ? (" memory over " + std::to_string(o_.child.cycles) + " cycles").c_str() : "", o_.runs);
    std::vector<std::string> args;
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen"};
    // Start both groups before collecting either.
    std::vector<bench::Child> idleChildren, memoryChildren;
    auto start = [&](const char *mode, std::vector<bench::Child> *into) {
      for (int i = 0; i < o_.runs; ++i) {
        bench::Child c = bench::Spawn(self_,
                                      {"--child", mode, "--cycles", std::to_string(o_.child.cycles),
                                       "--idle-seconds", std::to_string(o_.child.idleSeconds), "--sim",
                                       o_.child.simPath},
                                      env);
        if (c.pid > 0) into->push_back(c);
      }
    };
    if (idle) start("idle", &idleChildren);
    if (memory) start("memory", &memoryChildren);
    auto collect = [](std::vector<bench::Child> &children, const char *mode) {
      std::vector<Values> results;
      for (bench::Child &c : children) {
        Values v = bench::Collect(c);
        if (v["exit_status"] != 0)
          std::fprintf(stderr, "rq735-bench: a %s run failed (status %g)\n", mode, v["exit_status"]);
        else
          results.push_back(v);
      }
      return results;
    };
    const auto idleRuns = collect(idleChildren, "idle");
    if (!idleRuns.empty()) {
      Figure("idle_cpu_ms", MedianOf(idleRuns, [](const Values &v) { return v.at("idle_cpu_ms"); }), "ms");
      Figure("idle_seconds", o_.child.idleSeconds, "s");
    }
    const auto memoryRuns = collect(memoryChildren, "memory");
    if (!memoryRuns.empty()) {
      Figure("memory_cycles", o_.child.cycles, "cycles");
      Figure("rss_before_cycles_mb", MedianOf(memoryRuns, [](const Values &v) { return v.at("rss_startup_kb") / 1024; }),
             "MB");
      Figure("rss_after_100_cycles_mb", MedianOf(memoryRuns, [](const Values &v) { return v.at("rss_100_kb") / 1024; }),
             "MB");
      Figure("rss_after_all_cycles_mb", MedianOf(memoryRuns, [](const Values &v) { return v.at("rss_end_kb") / 1024; }),
             "MB");
      Figure("rss_growth_100_to_all_kb",
             MedianOf(memoryRuns, [](const Values &v) { return v.at("rss_end_kb") - v.at("rss_100_kb"); }), "kB");
      Figure("failed_cycles", MedianOf(memoryRuns, [](const Values &v) { return v.at("failed_cycles"); }), "count");
    }
  }

  // The traffic ring: resident size after 100 000 frames with the monitor closed, and after
  // 100 000 more with it open, against the size after start-up.
  void Ring() {
    const std::vector<Values> runs = Run("ring", o_.runs, false);
    if (runs.empty()) return;
    Figure("ring_growth_closed_mb",
           MedianOf(runs, [](const Values &v) { return (v.at("rss_ring_closed_kb") - v.at("rss_ring_start_kb")) / 1024; }),
           "MB");
    Figure("ring_growth_open_mb",
           MedianOf(runs, [](const Values &v) { return (v.at("rss_ring_open_kb") - v.at("rss_ring_start_kb")) / 1024; }),
           "MB");
  }

  // rq735ctl against simulators: save of one module; apply of a file in which every setting
  // differs, on a fresh simulator each time; and that apply on 4 and 8 simulators at once.
  void Ctl() {
    char dir[] = "/tmp/rq735-bench-XXXXXX";
    if (!mkdtemp(dir)) return;
    auto sims = StartSims(1);
    const std::string file = EveryValueChangedFile(sims, dir);
    if (file.empty()) return StopSims(sims);

    std::vector<double> save, apply1, apply4, apply8;
    for (int r = 0; r < o_.runs; ++r) save.push_back(CtlMs(Ports(sims), {"save", std::string(dir) + "/saved.json"}));

    // Ten reads of the ten registers, rq735ctl's and mbpoll's in turn on the same simulator.
    const std::string mbpoll = OnPath("mbpoll");
    const std::string port = sims.empty() ? std::string() : sims[0].second;
    double ctlReads = 0, mbpollReads = 0;
    for (int i = 0; i < 10 && !port.empty(); ++i) {
      const double ours = CtlMs(Ports(sims), {"modbus", "read", "--slave", "1", "--count", "10", "--format", "float-abcd"});
      ctlReads = ours < 0 || ctlReads < 0 ? -1 : ctlReads + ours;
      if (mbpoll.empty()) continue;
      const auto start = std::chrono::steady_clock::now();
      bench::Child c = bench::Spawn(mbpoll, {"-m", "rtu", "-a", "1", "-r", "1", "-c", "10", "-1", port});
      int status = 0;
      bench::CollectOutput(c, &status);
      const double theirs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
      if (status != 0) std::fprintf(stderr, "rq735-bench: mbpoll failed (status %d)\n", status);
      mbpollReads = status != 0 || mbpollReads < 0 ? -1 : mbpollReads + theirs;
    }
    if (mbpoll.empty()) std::fprintf(stderr, "rq735-bench: no mbpoll on the PATH (scripts/bench.sh installs it)\n");

    // hart vars against what the simulator itself takes to answer its two requests.
    std::vector<double> vars, simVars;
    const HartIdentity id{SimHartInstrument::kManufacturer, SimHartInstrument::kDeviceType, SimHartInstrument::kDeviceId};
    for (int r = 0; r < o_.runs && !port.empty(); ++r) {
      vars.push_back(CtlMs(Ports(sims), {"hart", "vars"}));
      simVars.push_back(SimAnswerMs(port, {HartShortFrame(7, hart::kPrimaryMaster, 0, hart::kReadUniqueIdentifier),
                                           HartLongFrame(7, hart::kPrimaryMaster, id, hart::kReadDynamicVariables)}));
    }
    StopSims(sims);
    for (int r = 0; r < o_.runs; ++r) {
      for (auto [n, figures] : {std::pair{1, &apply1}, std::pair{4, &apply4}, std::pair{8, &apply8}}) {
        auto fresh = StartSims(n);
        figures->push_back(CtlMs(Ports(fresh), {"apply", file}));
        StopSims(fresh);
      }
    }
    Figure("ctl_modbus_read_10_runs_ms", ctlReads, "ms");
    if (!mbpoll.empty()) {
      Figure("mbpoll_read_10_runs_ms", mbpollReads, "ms");
      Figure("ctl_modbus_read_over_mbpoll", ctlReads / mbpollReads, "x");
    }
    Figure("ctl_hart_vars_ms", bench::Median(vars), "ms");
    Figure("sim_hart_vars_answer_ms", bench::Median(simVars), "ms");
    Figure("ctl_hart_vars_over_sim_ms", bench::Median(vars) - bench::Median(simVars), "ms");
    Figure("ctl_save_ms", bench::Median(save), "ms");
    Figure("ctl_apply_ms", bench::Median(apply1), "ms");
    Figure("ctl_apply_4_ports_ms", bench::Median(apply4), "ms");
    Figure("ctl_apply_8_ports_ms", bench::Median(apply8), "ms");
    Figure("ctl_apply_8_over_1", bench::Median(apply8) / bench::Median(apply1), "x");
    CtlHart(dir);
    std::remove(file.c_str());
    std::remove((std::string(dir) + "/saved.json").c_str());
    rmdir(dir);
  }

  // rq735ctl as the instrument's communicator, on revision-7 instruments (all settings): hart info
  // on 1 and 8 simulators at once, and hart apply of a file in which every setting differs, on 1
  // and 8 fresh simulators.
  void CtlHart(const std::string &dir) {
    const std::string file = dir + "/instrument.json";
    const QJsonObject changed{{"tag", "BENCH-1"},        {"descriptor", "BENCH DESCRIPTOR"}, {"message", "EVERY SETTING DIFFERS"},
                              {"date", "2026-12-09"},    {"final_assembly", "42"},           {"long_tag", "bench long tag"},
                              {"pv_units", "KPa"},       {"lower_range", "10"},              {"upper_range", "90"},
                              {"damping", "3"},          {"polling_address", "0"},           {"response_preambles", "9"}};
    const QJsonObject document{{"format", "rq735ctl instrument settings"}, {"version", 1}, {"settings", changed}};
    if (FILE *f = std::fopen(file.c_str(), "w")) {
      std::fputs(QJsonDocument(document).toJson().constData(), f);
      std::fclose(f);
    }
    std::vector<double> info1, info8, apply1, apply8;
    {
      auto one = StartSims(1, {"--hart7", "--frozen"}), eight = StartSims(8, {"--hart7", "--frozen"});
      for (int r = 0; r < o_.runs; ++r) {
        info1.push_back(CtlMs(Ports(one), {"hart", "info"}));
        info8.push_back(CtlMs(Ports(eight), {"hart", "info"}));
      }
      StopSims(one);
      StopSims(eight);
    }
    for (int r = 0; r < o_.runs; ++r) {
      for (auto [n, figures] : {std::pair{1, &apply1}, std::pair{8, &apply8}}) {
        auto fresh = StartSims(n, {"--hart7", "--frozen"});
        figures->push_back(CtlMs(Ports(fresh), {"hart", "apply", file}));
        StopSims(fresh);
      }
    }
    Figure("ctl_hart_info_ms", bench::Median(info1), "ms");
    Figure("ctl_hart_info_8_ports_ms", bench::Median(info8), "ms");
    Figure("ctl_hart_apply_ms", bench::Median(apply1), "ms");
    Figure("ctl_hart_apply_8_ports_ms", bench::Median(apply8), "ms");
    std::remove(file.c_str());
  }

  // rq735ctl through one ser2net: apply of every setting on 1 and on 16 fresh modules at once, each
  // behind an RFC 2217 port; and one info through RFC 2217 against the same on the local port.
  void Net() {
    std::string ser2net = OnPath("ser2net");
    if (ser2net.empty() && access("/usr/sbin/ser2net", X_OK) == 0) ser2net = "/usr/sbin/ser2net";
    if (ser2net.empty()) {
      std::fprintf(stderr, "rq735-bench: no ser2net on the PATH (scripts/install-deps.sh installs it)\n");
      return;
    }
    char dir[] = "/tmp/rq735-bench-XXXXXX";
    if (!mkdtemp(dir)) return;
    auto first = StartSims(1);
    const std::string file = EveryValueChangedFile(first, dir);
    std::vector<double> apply1, apply16, infoNet, infoLocal;
    for (int r = 0; r < o_.runs && !file.empty(); ++r) {
      auto sims = StartSims(17);
      std::vector<std::string> urls;
      bench::Child server = StartSer2net(ser2net, sims, dir, &urls);
      if (urls.size() == sims.size()) {
        infoNet.push_back(CtlMs({urls[0]}, {"info"}));
        infoLocal.push_back(CtlMs({sims[0].second}, {"info"}));
        apply1.push_back(CtlMs({urls[0]}, {"apply", file}));
        apply16.push_back(CtlMs(std::vector<std::string>(urls.begin() + 1, urls.end()), {"apply", file}));
      }
      kill(server.pid, SIGTERM);
      int status = 0;
      bench::CollectOutput(server, &status);
      StopSims(sims);
    }
    StopSims(first);
    Figure("net_apply_1_ms", bench::Median(apply1), "ms");
    Figure("net_apply_16_ms", bench::Median(apply16), "ms");
    Figure("net_apply_16_over_1", bench::Median(apply16) / bench::Median(apply1), "x");
    Figure("net_info_rfc2217_ms", bench::Median(infoNet), "ms");
    Figure("net_info_local_ms", bench::Median(infoLocal), "ms");
    std::remove(file.c_str());
    std::remove((std::string(dir) + "/ser2net.yaml").c_str());
    rmdir(dir);
  }

 private:
  using Sims = std::vector<std::pair<bench::Child, std::string>>;

  Sims StartSims(int n, const std::vector<std::string> &extra = {}) {
    Sims sims;
    std::vector<std::string> arguments = {"--no-publish", "--quiet"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    for (int i = 0; i < n; ++i) {
      bench::Child c = bench::Spawn(o_.child.simPath, arguments);
      std::string line;
      if (c.pid > 0 && bench::ReadLine(c.out, &line, 5000)) sims.emplace_back(c, line.substr(line.find(' ') + 1));
    }
    return sims;
  }

  static void StopSims(Sims &sims) {
    for (auto &[c, port] : sims) {
      kill(c.pid, SIGTERM);
      int status = 0;
      bench::CollectOutput(c, &status);
    }
    sims.clear();
  }

  static std::vector<std::string> Ports(const Sims &sims) {
    std::vector<std::string> ports;
    for (const auto &sim : sims) ports.push_back(sim.second);
    return ports;
  }

  // Runs rq735ctl on the ports; its time in ms, or -1 when it failed.
  static double CtlMs(const std::vector<std::string> &ports, const std::vector<std::string> &args, std::string *out = nullptr) {
    std::vector<std::string> all;
    for (const std::string &port : ports) all.insert(all.end(), {"--port", port});
    all.insert(all.end(), args.begin(), args.end());
    const auto start = std::chrono::steady_clock::now();
    bench::Child c = bench::Spawn(RQ735_CTL_PATH, all);
    int status = 0;
    const std::string text = bench::CollectOutput(c, &status);
    if (out) *out = text;
    if (status != 0) std::fprintf(stderr, "rq735-bench: rq735ctl %s failed (status %d)\n", args[0].c_str(), status);
    return status != 0 ? -1.0 : std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  }

  // A settings file in `dir` in which every setting differs from what a fresh module holds; "" when
  // the module could not be read.
  static std::string EveryValueChangedFile(const Sims &sims, const std::string &dir) {
    std::string json;
    if (CtlMs(Ports(sims), {"--json", "get"}, &json) < 0) return {};
    const QJsonObject held = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object().value("settings").toObject();
    QJsonObject changed;
    for (const SettingSpec &spec : AllSettings()) {
      const QJsonValue v = held.value(QString::fromStdString(spec.name));
      const std::string next = AnotherValue(spec, v.isDouble() ? std::to_string(v.toInt()) : v.toString().toStdString());
      changed[QString::fromStdString(spec.name)] =
          spec.kind == SettingSpec::Kind::Number ? QJsonValue(std::stoi(next)) : QJsonValue(QString::fromStdString(next));
    }
    const QJsonObject document{{"format", "rq735ctl settings"}, {"version", 1}, {"settings", changed}};
    const std::string file = dir + "/settings.json";
    FILE *f = std::fopen(file.c_str(), "w");
    if (!f) return {};
    std::fputs(QJsonDocument(document).toJson().constData(), f);
    std::fclose(f);
    return file;
  }

  // ser2net with an RFC 2217 accepter on a loopback port for each simulator; their URLs in `urls`
  // once every accepter takes connections.
  static bench::Child StartSer2net(const std::string &ser2net, const Sims &sims, const std::string &dir,
                                   std::vector<std::string> *urls) {
    std::string yaml;
    std::vector<int> ports;
    for (size_t i = 0; i < sims.size(); ++i) {
      const int port = 24000 + static_cast<int>(getpid() % 1000) * 20 + static_cast<int>(i);
      ports.push_back(port);
      yaml += "connection: &m" + std::to_string(i) + "\n  accepter: telnet(rfc2217),tcp,127.0.0.1," + std::to_string(port) +
              "\n  connector: serialdev," + sims[i].second + ",9600n81,local\n";
    }
    const std::string config = dir + "/ser2net.yaml";
    if (FILE *f = std::fopen(config.c_str(), "w")) {
      std::fputs(yaml.c_str(), f);
      std::fclose(f);
    }
    bench::Child server = bench::Spawn(ser2net, {"-n", "-d", "-c", config});
    for (int tries = 0; tries < 250; ++tries) {
      bool all = true;
      for (int port : ports) all = all && AcceptsOnLoopback(port);
      if (all) {
        for (int port : ports) urls->push_back("rfc2217://127.0.0.1:" + std::to_string(port));
        break;
      }
      usleep(20000);
    }
    return server;
  }

  std::string self_;
  Options o_;
};

std::string SelfPath(const char *argv0) {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n > 0) return std::string(buffer, static_cast<size_t>(n));
  return argv0;
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  options.child.simPath = RQ735_SIM_PATH;
  std::string mode;
  if (!ParseOptions(argc, argv, &options, &mode)) {
    Usage(stderr);
    return 2;
  }
  if (!mode.empty()) {
    // Qt sees only the program name: the benchmark's own options are not its business.
    int qtArgc = 1;
    return bench::RunChild(mode, qtArgc, argv, options.child);
  }
  if (access(options.child.simPath.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "rq735-bench: no simulator at %s (use --sim)\n", options.child.simPath.c_str());
    return 2;
  }

  Parent parent(SelfPath(argv[0]), options);
  Figure("runs", options.runs, "count");
  if (parent.Wanted("startup")) {
    parent.Startup("offscreen", "startup_offscreen_ms", true);
    if (const char *display = std::getenv("DISPLAY"); display && *display)
      parent.Startup("xcb", "startup_x11_ms", false);
    else
      std::fprintf(stderr, "rq735-bench: DISPLAY is not set; no X11 start-up figure (run under xvfb-run)\n");
  }
  if (parent.Wanted("throughput")) parent.Throughput();
  if (parent.Wanted("latency")) parent.Latency();
  if (parent.Wanted("idle") || parent.Wanted("memory")) parent.IdleAndMemory(parent.Wanted("idle"), parent.Wanted("memory"));
  if (parent.Wanted("ring")) parent.Ring();
  if (parent.Wanted("ctl")) parent.Ctl();
  if (parent.Wanted("net")) parent.Net();
  return 0;
}
