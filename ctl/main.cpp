// rq735ctl: the RQ735 converter module from the command line and from scripts. Reads and writes
// the module's settings, saves them to a file and puts them on other modules, talks HART to the
// instrument behind it and reads its MODBUS side; on several ports at once.
#include <QCoreApplication>
#include <QJsonDocument>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ctl/commands.h"
#include "protocol/hart.h"
#include "protocol/int_text.h"

namespace {

void PrintUsage(FILE *out) {
  std::fprintf(out,
               "usage: rq735ctl --port PORT [--port PORT ...] [--baud N] [--parity none|odd|even]\n"
               "                [--timeout MS] [--json] [--trace] COMMAND ...\n"
               "Commands:\n"
               "  info                     the communication query; prints the module's answer\n"
               "  get                      the module's settings (system and MODBUS side of meter 0)\n"
               "  set NAME=VALUE ...       writes settings, reads them back and compares\n"
               "  save FILE                all readable settings to a JSON file\n"
               "  apply FILE               what differs from FILE, the RS485 line last; then reads back\n"
               "  hart identity [--polling N] | hart vars | hart address N | hart raw \"02 80 00 00\"\n"
               "  modbus read [--slave N] [--start A] [--count C]\n"
               "              [--format float-abcd|float-cdab|uint32-abcd|uint32-cdab]\n"
               "With several --port the command runs on every port at once and prints a line per port.\n"
               "Exit status: 0 done, 1 a module refused or did not answer, 2 bad usage or settings file,\n"
               "3 a port could not be opened.\n"
               "Settings:\n");
  for (const SettingSpec &spec : AllSettings()) {
    std::string values;
    if (spec.kind == SettingSpec::Kind::Choice) {
      for (const std::string &c : spec.choices) values += (values.empty() ? "" : "|") + c;
    } else if (spec.kind == SettingSpec::Kind::Number) {
      values = std::to_string(spec.low) + ".." + std::to_string(spec.high);
    } else if (spec.kind == SettingSpec::Kind::Hex) {
      values = "hex pairs";
    } else {
      values = "text";
    }
    std::fprintf(out, "  %-26s %-44s %s\n", spec.name.c_str(), values.c_str(), spec.about.c_str());
  }
}

[[noreturn]] void Usage(const std::string &why) {
  std::fprintf(stderr, "rq735ctl: %s\n", why.c_str());
  std::fprintf(stderr, "Try rq735ctl --help.\n");
  std::exit(kBadUsage);
}

int NumberArgument(const std::string &option, const std::string &text, int low, int high) {
  const auto value = TryTextToInt(text);
  if (!value || *value < low || *value > high)
    Usage(option + ": \"" + text + "\" is not a whole number from " + std::to_string(low) + " to " + std::to_string(high));
  return *value;
}

// Reads the command line; a mistake stops here, before any port is opened.
Invocation Parse(int argc, char **argv) {
  Invocation inv;
  std::vector<std::string> rest;
  auto value = [&](int &i, const std::string &option) -> std::string {
    if (i + 1 >= argc) Usage(option + " needs a value");
    return argv[++i];
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!inv.command.empty()) {
      rest.push_back(arg);
    } else if (arg == "--port") {
      inv.ports.push_back(QString::fromLocal8Bit(value(i, arg).c_str()));
    } else if (arg == "--baud") {
      inv.baud = static_cast<uint32_t>(NumberArgument(arg, value(i, arg), 1, 4000000));
    } else if (arg == "--parity") {
      const std::string p = value(i, arg);
      if (p == "none") inv.parity = TParity::None;
      else if (p == "odd") inv.parity = TParity::Odd;
      else if (p == "even") inv.parity = TParity::Even;
      else Usage("--parity: \"" + p + "\" is not none, odd or even");
    } else if (arg == "--timeout") {
      inv.timeout = std::chrono::milliseconds(NumberArgument(arg, value(i, arg), 1, 600000));
    } else if (arg == "--json") {
      inv.json = true;
    } else if (arg == "--trace") {
      inv.trace = true;
    } else if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      std::exit(kDone);
    } else if (arg == "--version") {
      std::printf("rq735ctl %s\n", RQ735_VERSION);
      std::exit(kDone);
    } else if (arg.rfind("--", 0) == 0) {
      Usage("unknown option " + arg);
    } else {
      inv.command = arg;
    }
  }
  if (inv.command.empty()) Usage("no command");
  if (inv.ports.empty()) Usage("no --port");

  const std::string &c = inv.command;
  if (c == "info" || c == "get") {
    if (!rest.empty()) Usage(c + " takes no arguments");
  } else if (c == "set") {
    if (rest.empty()) Usage("set needs NAME=VALUE");
    for (const std::string &pair : rest) {
      const size_t eq = pair.find('=');
      if (eq == std::string::npos) Usage("set: \"" + pair + "\" is not NAME=VALUE");
      const std::string name = pair.substr(0, eq);
      const SettingSpec *spec = FindSetting(name);
      if (!spec) Usage("set: unknown setting " + name + " (rq735ctl --help lists them)");
      std::string why;
      const auto v = CanonicalValue(*spec, pair.substr(eq + 1), &why);
      if (!v) Usage("set: " + why);
      inv.wanted[name] = *v;
    }
  } else if (c == "save" || c == "apply") {
    if (rest.size() != 1) Usage(c + " needs one FILE");
    inv.file = rest[0];
    if (c == "apply") {
      std::string why;
      const auto wanted = ReadSettingsFile(inv.file, &why);
      if (!wanted) {
        std::fprintf(stderr, "rq735ctl: %s\n", why.c_str());
        std::exit(kBadUsage);
      }
      inv.wanted = *wanted;
    }
  } else if (c == "hart") {
    if (rest.empty()) Usage("hart needs identity, vars, address N or raw HEX");
    inv.action = rest[0];
    if (inv.action == "identity") {
      if (rest.size() == 3 && rest[1] == "--polling") inv.pollingAddress = NumberArgument("--polling", rest[2], 0, 15);
      else if (rest.size() != 1) Usage("hart identity takes only --polling N");
    } else if (inv.action == "vars") {
      if (rest.size() != 1) Usage("hart vars takes no arguments");
    } else if (inv.action == "address") {
      if (rest.size() != 2) Usage("hart address needs N");
      inv.number = NumberArgument("hart address", rest[1], 0, 15);
    } else if (inv.action == "raw") {
      if (rest.size() != 2) Usage("hart raw needs the frame's body in hexadecimal, as \"02 80 00 00\"");
      const HexPairs body = ParseHexPairs(rest[1], 15);
      if (body.error != HexPairsError::None || body.bytes.empty())
        Usage("hart raw: \"" + rest[1] + "\" is not up to 15 hexadecimal pairs (capitals) separated by blanks");
      inv.body = body.bytes;
    } else {
      Usage("hart: unknown " + inv.action);
    }
  } else if (c == "modbus") {
    if (rest.empty() || rest[0] != "read") Usage("modbus needs read");
    for (size_t i = 1; i < rest.size(); ++i) {
      const std::string &o = rest[i];
      if (i + 1 >= rest.size()) Usage(o + " needs a value");
      const std::string v = rest[++i];
      if (o == "--slave") inv.slave = NumberArgument(o, v, 0, 247);
      else if (o == "--start") inv.start = NumberArgument(o, v, 0, 65535);
      else if (o == "--count") inv.count = NumberArgument(o, v, 1, 125);
      else if (o == "--format") {
        const auto &formats = RegisterFormats();
        const auto it = std::find(formats.begin(), formats.end(), v);
        if (it == formats.end()) Usage("--format: \"" + v + "\" is not one of float-abcd, float-cdab, uint32-abcd, uint32-cdab");
        inv.format = static_cast<int>(it - formats.begin());
      } else {
        Usage("modbus read: unknown " + o);
      }
    }
  } else {
    Usage("unknown command " + c);
  }
  return inv;
}

}  // namespace

int main(int argc, char **argv) {
  const Invocation inv = Parse(argc, argv);
  QCoreApplication app(argc, argv);

  std::mutex printing;
  const bool several = inv.ports.size() > 1;
  std::vector<PortResult> results(inv.ports.size());
  std::vector<std::unique_ptr<QThread>> threads;
  for (size_t i = 0; i < inv.ports.size(); ++i) {
    const QString port = inv.ports[i];
    std::function<void(const std::string &)> trace;
    if (inv.trace) {
      trace = [&printing, port, several](const std::string &line) {
        std::lock_guard<std::mutex> lock(printing);
        if (several) std::fprintf(stderr, "%s: ", port.toLocal8Bit().constData());
        std::fprintf(stderr, "%s\n", line.c_str());
      };
    }
    threads.emplace_back(QThread::create([&results, &inv, i, port, trace] { results[i] = RunOnPort(inv, port, trace); }));
    threads.back()->start();
  }
  for (auto &t : threads) t->wait();

  int status = kDone;
  for (const PortResult &r : results) {
    status = std::max(status, r.status);
    const std::string port = r.port.toLocal8Bit().toStdString();
    if (inv.json) {
      std::printf("%s\n", QJsonDocument(r.json).toJson(QJsonDocument::Compact).constData());
    } else if (!several) {
      for (const std::string &line : r.lines) std::printf("%s\n", line.c_str());
    } else {
      const std::string summary = r.summary.empty() ? "" : " " + r.summary;
      std::printf("%s: %s%s\n", port.c_str(), r.status == kDone ? "ok" : "failed", summary.c_str());
    }
    for (const std::string &e : r.errors)
      std::fprintf(stderr, "rq735ctl: %s%s\n", several ? (port + ": ").c_str() : "", e.c_str());
  }
  return status;
}
