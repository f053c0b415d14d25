#include "ctl/command_line.h"

#include "protocol/hart_settings.h"

#include <QCommandLineParser>
#include <QFile>

#include <algorithm>
#include <cstdio>

#include "serial/port_list.h"

namespace {

std::vector<std::string> PortChoices() {
  std::vector<std::string> names;
  for (const QString &name : PortNames(FoundPorts())) names.push_back(name.toLocal8Bit().toStdString());
  return names;
}

std::vector<std::string> ParityChoices() { return {"none", "odd", "even"}; }
std::vector<std::string> Rs485Choices() { return {"off", "rts-on-send"}; }

const std::vector<OptionSpec> &GlobalOptions() {
  static const std::vector<OptionSpec> options = {
      {"port", "PORT",
       "A port: a device path, a name under /dev, COM1 to COM12, or a device server's rfc2217://HOST:PORT or "
       "tcp://HOST:PORT. Again for more ports.",
       PortChoices},
      {"ports-file", "FILE", "One port a line (blank lines and # comments allowed), besides any --port.", nullptr},
      {"jobs", "N", "How many ports run at once (all, up to 64).", nullptr},
      {"baud", "N", "The line speed (9600).", nullptr},
      {"parity", "none|odd|even", "The parity (none).", ParityChoices},
      {"timeout", "MS", "How long a reply may take to begin (1000).", nullptr},
      {"rts", "", "Hold RTS on (converters powered or steered by it).", nullptr},
      {"dtr", "", "Hold DTR on.", nullptr},
      {"rs485", "MODE",
       "off (the adapter switches the RS485 direction itself), rts-on-send, or rts-on-send:BEFORE:AFTER: the "
       "driver raises RTS while sending, with delays in ms.",
       Rs485Choices},
      {"retries", "N", "How often a HART request is asked again while the instrument is busy (2).", nullptr},
      {"json", "", "One JSON object per port and line.", nullptr},
      {"trace", "", "Every frame sent and received, with its time, on standard error.", nullptr},
      {"help", "", "This help.", nullptr},
      {"version", "", "The version.", nullptr},
  };
  return options;
}

// Asked by the shell's completion: the words after "--" are the command line typed so far.
const char kCompleteOption[] = "complete";

// Every option the parser knows: the global ones, then each command's own.
std::vector<const OptionSpec *> AllOptions() {
  std::vector<const OptionSpec *> all;
  for (const OptionSpec &o : GlobalOptions()) all.push_back(&o);
  for (const CommandSpec &c : Commands())
    for (const OptionSpec &o : c.options)
      if (std::none_of(all.begin(), all.end(), [&](const OptionSpec *a) { return a->name == o.name; })) all.push_back(&o);
  return all;
}

void SetUp(QCommandLineParser &parser) {
  for (const OptionSpec *o : AllOptions()) {
    QStringList names{QString::fromStdString(o->name)};
    if (o->name == "help") names.prepend(QStringLiteral("h"));
    parser.addOption(QCommandLineOption(names, QString::fromStdString(o->about), QString::fromStdString(o->valueName)));
  }
  QCommandLineOption complete(QString::fromLatin1(kCompleteOption), QStringLiteral("Shell completion."));
  complete.setFlags(QCommandLineOption::HiddenFromHelp);
  parser.addOption(complete);
  parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("One of the commands below, and what it takes."),
                               QStringLiteral("COMMAND [ARGUMENTS]"));
}

std::string Std(const QString &text) { return text.toLocal8Bit().toStdString(); }

// The ports of a file, one a line; blank lines and "#" comments are skipped.
std::vector<QString> ReadPortsFile(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
    throw UsageError("--ports-file " + Std(path) + ": " + Std(file.errorString()), false);
  std::vector<QString> ports;
  while (!file.atEnd()) {
    QString line = QString::fromLocal8Bit(file.readLine());
    const qsizetype hash = line.indexOf(QLatin1Char('#'));
    if (hash >= 0) line.truncate(hash);
    line = line.trimmed();
    if (!line.isEmpty()) ports.push_back(line);
  }
  if (ports.empty()) throw UsageError("--ports-file " + Std(path) + " names no port", false);
  return ports;
}

// "off", "rts-on-send" or "rts-on-send:BEFORE:AFTER" (milliseconds).
Rs485Direction Rs485Argument(const std::string &text) {
  if (text == "off") return {};
  const std::string head = "rts-on-send";
  if (text.rfind(head, 0) != 0) throw UsageError("--rs485: \"" + text + "\" is not off or rts-on-send[:BEFORE:AFTER]");
  Rs485Direction d;
  d.rtsOnSend = true;
  if (text.size() == head.size()) return d;
  const size_t second = text.find(':', head.size() + 1);
  if (text[head.size()] != ':' || second == std::string::npos)
    throw UsageError("--rs485: \"" + text + "\" is not rts-on-send:BEFORE:AFTER (milliseconds)");
  d.delayBeforeMs = static_cast<uint32_t>(NumberArgument("--rs485 delay before", text.substr(head.size() + 1, second - head.size() - 1), 0, 1000));
  d.delayAfterMs = static_cast<uint32_t>(NumberArgument("--rs485 delay after", text.substr(second + 1), 0, 1000));
  return d;
}

// Two names of one port would start two runs that fight on one line.
void RefuseOnePortTwice(const std::vector<QString> &ports) {
  std::vector<QString> identities;
  for (const QString &port : ports) identities.push_back(PortIdentity(port));
  for (size_t i = 0; i < ports.size(); ++i)
    for (size_t j = 0; j < i; ++j) {
      if (identities[i] != identities[j]) continue;
      if (ports[i] == ports[j]) throw UsageError("--port " + Std(ports[i]) + " is given twice");
      throw UsageError("--port " + Std(ports[j]) + " and --port " + Std(ports[i]) + " are one port (" +
                       Std(identities[i]) + ")");
    }
}

}  // namespace

CommandLine ReadCommandLine(const QStringList &arguments) {
  QCommandLineParser parser;
  SetUp(parser);
  if (!parser.parse(arguments)) throw UsageError(Std(parser.errorText()));
  CommandLine line;
  const QStringList positional = parser.positionalArguments();
  if (parser.isSet(QString::fromLatin1(kCompleteOption))) {
    line.request = CommandLine::Request::Complete;
    for (const QString &word : positional) line.words.push_back(Std(word));
    return line;
  }
  if (parser.isSet(QStringLiteral("help"))) {
    line.request = CommandLine::Request::Help;
    return line;
  }
  if (parser.isSet(QStringLiteral("version"))) {
    line.request = CommandLine::Request::Version;
    return line;
  }

  Invocation &inv = line.invocation;
  for (const QString &port : parser.values(QStringLiteral("port"))) inv.ports.push_back(port);
  for (const QString &file : parser.values(QStringLiteral("ports-file")))
    for (const QString &port : ReadPortsFile(file)) inv.ports.push_back(port);
  if (parser.isSet(QStringLiteral("jobs")))
    inv.jobs = static_cast<size_t>(NumberArgument("--jobs", Std(parser.value(QStringLiteral("jobs"))), 1, 64));
  inv.rts = parser.isSet(QStringLiteral("rts"));
  inv.dtr = parser.isSet(QStringLiteral("dtr"));
  if (parser.isSet(QStringLiteral("rs485"))) inv.rs485 = Rs485Argument(Std(parser.value(QStringLiteral("rs485"))));
  inv.lineGiven = parser.isSet(QStringLiteral("baud")) || parser.isSet(QStringLiteral("parity"));
  if (parser.isSet(QStringLiteral("baud")))
    inv.baud = static_cast<uint32_t>(NumberArgument("--baud", Std(parser.value(QStringLiteral("baud"))), 1, 4000000));
  if (parser.isSet(QStringLiteral("parity"))) {
    const std::string p = Std(parser.value(QStringLiteral("parity")));
    if (p == "none") inv.parity = TParity::None;
    else if (p == "odd") inv.parity = TParity::Odd;
    else if (p == "even") inv.parity = TParity::Even;
    else throw UsageError("--parity: \"" + p + "\" is not none, odd or even");
  }
  if (parser.isSet(QStringLiteral("timeout")))
    inv.timeout = std::chrono::milliseconds(NumberArgument("--timeout", Std(parser.value(QStringLiteral("timeout"))), 1, 600000));
  if (parser.isSet(QStringLiteral("retries")))
    inv.retries = NumberArgument("--retries", Std(parser.value(QStringLiteral("retries"))), 0, 100);
  inv.json = parser.isSet(QStringLiteral("json"));
  inv.trace = parser.isSet(QStringLiteral("trace"));

  if (positional.isEmpty()) throw UsageError("no command");
  inv.command = Std(positional.first());
  const CommandSpec *command = FindCommand(inv.command);
  if (!command) throw UsageError("unknown command " + inv.command);
  for (qsizetype i = 1; i < positional.size(); ++i) inv.args.push_back(Std(positional[i]));

  // The command's own options; another command's are a mistake.
  std::map<std::string, std::string> own;
  for (const OptionSpec *o : AllOptions()) {
    const QString name = QString::fromStdString(o->name);
    const bool global = std::any_of(GlobalOptions().begin(), GlobalOptions().end(),
                                    [&](const OptionSpec &g) { return g.name == o->name; });
    if (global || !parser.isSet(name)) continue;
    const bool ours = std::any_of(command->options.begin(), command->options.end(),
                                  [&](const OptionSpec &c) { return c.name == o->name; });
    if (!ours) throw UsageError("--" + o->name + " is not an option of " + inv.command);
    if (parser.values(name).size() > 1) throw UsageError("--" + o->name + " is given more than once");
    own[o->name] = Std(parser.value(name));
  }
  command->take(inv, inv.args, own);

  if (command->onPort) {
    if (inv.ports.empty()) throw UsageError("no --port");
    RefuseOnePortTwice(inv.ports);
  } else if (!inv.ports.empty()) {
    throw UsageError(inv.command + " opens no port; it takes no --port");
  }
  return line;
}

std::string HelpText() {
  QCommandLineParser parser;
  SetUp(parser);
  // The parser's own usage line would name the program by the path it was started with.
  QString options = parser.helpText();
  options = options.mid(options.indexOf(QLatin1Char('\n')) + 1);
  std::string text = "Usage: rq735ctl [options] COMMAND [ARGUMENTS]\n"
                     "The RQ735 converter module from the command line: its settings, HART to the instrument\n"
                     "behind it and its MODBUS side, on one or many ports at once.\n" +
                     Std(options) + "\nCommands:\n";
  char line[512];
  for (const CommandSpec &c : Commands()) {
    const std::string head = c.name + (c.synopsis.empty() ? "" : " " + c.synopsis);
    if (head.size() <= 24)
      std::snprintf(line, sizeof line, "  %-24s %s\n", head.c_str(), c.about.c_str());
    else
      std::snprintf(line, sizeof line, "  %s\n  %-24s %s\n", head.c_str(), "", c.about.c_str());
    text += line;
  }
  text +=
      "\nOptions go anywhere on the line; \"--\" ends them. With several --port the command runs on every\n"
      "port at once and prints a line per port.\n"
      "Exit status: 0 done, 1 a module refused or did not answer, 2 bad usage or settings file,\n"
      "3 a port could not be opened.\n"
      "\nSettings:\n";
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
    std::snprintf(line, sizeof line, "  %-26s %-44s %s\n", spec.name.c_str(), values.c_str(), spec.about.c_str());
    text += line;
  }
  text += "\nInstrument settings (hart set, save, apply):\n";
  for (const HartSettingSpec &spec : HartSettings()) {
    std::snprintf(line, sizeof line, "  %-26s %s\n", spec.name, spec.about);
    text += line;
  }
  return text;
}

Completion Complete(const std::vector<std::string> &words) {
  if (words.empty()) return {};
  const std::string &word = words.back();
  auto option = [](const std::string &name) -> const OptionSpec * {
    for (const OptionSpec *o : AllOptions())
      if (o->name == name) return o;
    return nullptr;
  };

  // Where the words before the one typed leave it: after an option that wants its value, past
  // "--", and which command with which arguments.
  const OptionSpec *wanting = nullptr;
  bool optionsEnded = false;
  const CommandSpec *command = nullptr;
  std::vector<std::string> args;
  for (size_t i = 0; i + 1 < words.size(); ++i) {
    const std::string &w = words[i];
    if (wanting) {
      wanting = nullptr;
    } else if (!optionsEnded && w == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && w.rfind("--", 0) == 0) {
      const OptionSpec *o = option(w.substr(2));
      if (o && !o->valueName.empty()) wanting = o;  // "--name=value" finds no option, and wants nothing
    } else if (!optionsEnded && w.size() > 1 && w[0] == '-') {
      // -h and the like
    } else if (!command) {
      command = FindCommand(w);
      if (!command) return {};
    } else {
      args.push_back(w);
    }
  }

  Completion out;
  if (wanting) {
    if (wanting->values) out.words = wanting->values();
    out.files = wanting->valueName == "FILE";
  } else if (!optionsEnded && word.rfind("--", 0) == 0 && word.find('=') != std::string::npos) {
    const size_t eq = word.find('=');
    const OptionSpec *o = option(word.substr(2, eq - 2));
    if (o && o->values)
      for (const std::string &v : o->values()) out.words.push_back(word.substr(0, eq + 1) + v);
  } else if (!optionsEnded && !word.empty() && word[0] == '-') {
    for (const OptionSpec &o : GlobalOptions()) out.words.push_back("--" + o.name);
    if (command)
      for (const OptionSpec &o : command->options) out.words.push_back("--" + o.name);
    out.words.push_back("--");
  } else if (!command) {
    for (const CommandSpec &c : Commands()) out.words.push_back(c.name);
  } else {
    out = command->complete(args, word);
  }
  out.words.erase(std::remove_if(out.words.begin(), out.words.end(),
                                 [&](const std::string &w) { return w.rfind(word, 0) != 0; }),
                  out.words.end());
  return out;
}
