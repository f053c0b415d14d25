// What rq735ctl does: its commands, one row each in one table (what a command takes, what it runs),
// each run on a thread of its own per port.
#pragma once

#include <QJsonObject>
#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ctl/settings.h"
#include "protocol/hart_settings.h"
#include "serial/line_settings.h"

// Gets the frames when tracing.
using Trace = std::function<void(const std::string &)>;

// Exit statuses.
enum Status { kDone = 0, kModuleFailed = 1, kBadUsage = 2, kPortFailed = 3 };

struct Invocation {
  std::vector<QString> ports;
  uint32_t baud = 9600;
  TParity parity = TParity::None;
  std::chrono::milliseconds timeout{1000};
  int retries = 2;  // HART: how often a request is asked again while the instrument is busy
  bool lineGiven = false;  // --baud or --parity was given
  bool rts = false, dtr = false;
  Rs485Direction rs485;
  size_t jobs = 64;  // how many ports run at once
  bool json = false;
  bool trace = false;
  std::string command;            // a name of the command table
  std::vector<std::string> args;  // what follows the command
  Settings wanted;                // set and apply: checked before anything is sent
  std::string file;               // save and apply
  // hart and modbus
  std::string action;
  int number = 0;             // hart address N
  std::vector<uint8_t> body;  // hart raw
  int pollingAddress = 0;
  HartValues hartWanted;              // hart set and hart apply: canonical values
  std::vector<double> currents;       // hart loop-test, in mA
  std::optional<double> holdSeconds;  // hart loop-test: none waits for Enter
  int slave = -1;  // modbus read: -1 for the module's own slave address
  int start = 0;
  int count = 10;
  int format = -1;  // -1: the module's data formats
};

struct PortResult {
  QString port;
  int status = kDone;
  std::vector<std::string> lines;   // for standard output
  size_t printed = 0;               // of them, those printed as they came
  std::string summary;              // the line printed for this port when there are several
  std::vector<std::string> errors;  // for standard error
  std::vector<std::string> warnings;  // for standard error too; they do not fail the run
  QJsonObject json;
};

// A mistake on the command line, found before any port is opened: exit status 2, the message,
// and (unless `hint` is false) a pointer to the help.
struct UsageError : std::runtime_error {
  explicit UsageError(const std::string &message, bool hint = true) : std::runtime_error(message), hint(hint) {}
  bool hint;
};

// A whole number from `low` to `high`; UsageError naming `what` otherwise.
int NumberArgument(const std::string &what, const std::string &text, int low, int high);

// An option: its name without the dashes, the name of its value (empty for a switch), what it
// does, and for shell completion the values it may take.
struct OptionSpec {
  std::string name;
  std::string valueName;
  std::string about;
  std::vector<std::string> (*values)() = nullptr;
};

// What the shell may complete a word with: these words, or file names.
struct Completion {
  std::vector<std::string> words;
  bool files = false;
};

struct CommandSpec {
  std::string name;
  std::string synopsis;  // what follows the name, for the help
  std::string about;
  std::vector<OptionSpec> options;  // its own options, beside the global ones
  // Checks what follows the command and the values of its own options that were given, into the
  // invocation; throws UsageError.
  void (*take)(Invocation &inv, const std::vector<std::string> &args, const std::map<std::string, std::string> &options);
  // What may follow `args`, given the `word` typed so far; the shell keeps what begins with it.
  Completion (*complete)(const std::vector<std::string> &args, const std::string &word);
  void (*onPort)(const Invocation &inv, PortResult &result, const Trace &trace);  // runs on every --port at once
  int (*alone)(const Invocation &inv);  // or, for a command that opens no port, this; its exit status
};

// The commands, in the order the help lists them.
const std::vector<CommandSpec> &Commands();
const CommandSpec *FindCommand(std::string_view name);

// Runs the invocation's command on one port. `trace` gets the frames when tracing.
PortResult RunOnPort(const Invocation &invocation, const QString &port, const Trace &trace);

// Reads a settings file; nothing, with the reason in `error`, when it is not one of ours or holds
// a setting that is unknown or does not fit.
std::optional<Settings> ReadSettingsFile(const std::string &path, std::string *error);
// The "settings" object of a file of ours of `format` and `version`; nothing, with the reason in
// `error`, for any other file.
std::optional<QJsonObject> ReadFileSettings(const std::string &path, const char *format, int version,
                                            std::string *error);
// `document` as the file `path`, whole or not at all.
bool WriteJsonFile(const std::string &path, const QJsonObject &document, std::string *error);
// The file name `save` uses for a port when several are given: the port's name goes before the
// extension, its slashes as dashes.
std::string FileForPort(const std::string &file, const QString &port, bool severalPorts);
