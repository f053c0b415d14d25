// rq735ctl: the RQ735 converter module from the command line and from scripts. Reads and writes
// the module's settings, saves them to a file and puts them on other modules, talks HART to the
// instrument behind it and reads its MODBUS side; on several ports at once.
#include <QCoreApplication>
#include <QJsonDocument>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ctl/command_line.h"
#include "ctl/commands.h"
#include "rq735_version.h"

int main(int argc, char **argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  CommandLine line;
  try {
    line = ReadCommandLine(arguments);
  } catch (const UsageError &e) {
    // A mistake stops here, before any port is opened.
    std::fprintf(stderr, "rq735ctl: %s\n", e.what());
    if (e.hint) std::fprintf(stderr, "Try rq735ctl --help.\n");
    return kBadUsage;
  }
  switch (line.request) {
    case CommandLine::Request::Help: std::fputs(HelpText().c_str(), stdout); return kDone;
    case CommandLine::Request::Version: std::printf("rq735ctl %s\n", RQ735_VERSION); return kDone;
    case CommandLine::Request::Complete: {
      const Completion c = Complete(line.words);
      std::printf("%s\n", c.files ? "files" : "words");
      for (const std::string &w : c.words) std::printf("%s\n", w.c_str());
      return kDone;
    }
    case CommandLine::Request::Run: break;
  }
  const Invocation &inv = line.invocation;
  const CommandSpec *command = FindCommand(inv.command);
  if (command && command->alone) return command->alone(inv);

  QCoreApplication app(argc, argv);

  std::mutex printing;
  const bool several = inv.ports.size() > 1;
  std::vector<PortResult> results(inv.ports.size());
  auto run = [&](size_t i) {
    const QString port = inv.ports[i];
    std::function<void(const std::string &)> trace;
    if (inv.trace) {
      trace = [&printing, port, several](const std::string &line) {
        std::lock_guard<std::mutex> lock(printing);
        if (several) std::fprintf(stderr, "%s: ", port.toLocal8Bit().constData());
        std::fprintf(stderr, "%s\n", line.c_str());
      };
    }
    results[i] = RunOnPort(inv, port, trace);
  };
  // One port runs here; several run at once, at most --jobs of them, each on a thread of its own
  // that takes the next port when its own is done.
  if (!several) {
    run(0);
  } else {
    std::atomic<size_t> next{0};
    std::vector<std::unique_ptr<QThread>> threads;
    for (size_t t = 0; t < std::min(inv.jobs, inv.ports.size()); ++t) {
      threads.emplace_back(QThread::create([&] {
        for (size_t i = next++; i < inv.ports.size(); i = next++) run(i);
      }));
      threads.back()->start();
    }
    for (auto &t : threads) t->wait();
  }

  int status = kDone;
  for (const PortResult &r : results) {
    status = std::max(status, r.status);
    const std::string port = r.port.toLocal8Bit().toStdString();
    if (inv.json) {
      std::printf("%s\n", QJsonDocument(r.json).toJson(QJsonDocument::Compact).constData());
    } else if (!several) {
      for (size_t i = r.printed; i < r.lines.size(); ++i) std::printf("%s\n", r.lines[i].c_str());
    } else {
      const std::string summary = r.summary.empty() ? "" : " " + r.summary;
      std::printf("%s: %s%s\n", port.c_str(), r.status == kDone ? "ok" : "failed", summary.c_str());
    }
    for (const std::string &w : r.warnings)
      std::fprintf(stderr, "rq735ctl: %swarning: %s\n", several ? (port + ": ").c_str() : "", w.c_str());
    for (const std::string &e : r.errors)
      std::fprintf(stderr, "rq735ctl: %s%s\n", several ? (port + ": ").c_str() : "", e.c_str());
  }
  return status;
}
