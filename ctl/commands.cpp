#include "ctl/commands.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <map>
#include <utility>

#include "ctl/hart_session.h"
#include "ctl/module_line.h"
#include "ctl/port_session.h"
#include "protocol/config_frame.h"
#include "protocol/frame_end.h"
#include "protocol/hart_answer.h"
#include "protocol/hex.h"
#include "protocol/int_text.h"
#include "protocol/modbus_codes.h"
#include "protocol/modbus_rtu.h"
#include "protocol/module_frames.h"
#include "protocol/number_format.h"
#include "serial/port_list.h"
#include "serial/tcomm.h"

namespace {

constexpr const char *kFileFormat = "rq735ctl settings";
constexpr int kFileVersion = 1;
std::string Text(const std::vector<uint8_t> &bytes) { return std::string(bytes.begin(), bytes.end()); }

QJsonValue JsonValue(const SettingSpec &spec, const std::string &value) {
  if (spec.kind == SettingSpec::Kind::Number) {
    try {
      return std::stoi(value);
    } catch (...) {
    }
  }
  return QString::fromStdString(value);
}

// Numbers as JSON numbers, everything else as strings.
QJsonObject ToJson(const Settings &settings) {
  QJsonObject values;
  for (const auto &[name, value] : settings) {
    const SettingSpec *spec = FindSetting(name);
    values[QString::fromStdString(name)] = spec ? JsonValue(*spec, value) : QString::fromStdString(value);
  }
  return values;
}

// set and apply: what became of each group's frame, and of each wanted setting.
enum class GroupOutcome { NotSent, Sent, Refused };
enum class SettingOutcome { Applied, AlreadyEqual, Refused, SentNotReadBack, EqualNotReadBack, NotApplied };

const char *OutcomeText(SettingOutcome outcome) {
  switch (outcome) {
    case SettingOutcome::Applied: return "applied";
    case SettingOutcome::AlreadyEqual: return "already equal";
    case SettingOutcome::Refused: return "refused";
    case SettingOutcome::SentNotReadBack: return "sent, not read back";
    case SettingOutcome::EqualNotReadBack: return "already equal, not read back";
    case SettingOutcome::NotApplied: return "not applied";
  }
  return "not applied";
}

struct ChangePlan {
  Settings current;  // what the module held
  Settings merged;   // what it is to hold
  std::map<SettingGroup, GroupOutcome> groups;  // the frames to send, in sending order
};

bool HeldAlike(const SettingSpec &spec, const Settings &held, const std::string &value) {
  const auto it = held.find(spec.name);
  return it != held.end() && SameValue(spec, it->second, value);
}

SettingOutcome OutcomeOf(const SettingSpec &spec, const std::string &wanted, const ChangePlan &plan,
                         const std::optional<Settings> &after, std::string *held) {
  const auto group = plan.groups.find(spec.group);
  if (group == plan.groups.end()) return SettingOutcome::AlreadyEqual;
  const bool wasEqual = HeldAlike(spec, plan.current, wanted);
  if (!after) {
    if (wasEqual) return SettingOutcome::EqualNotReadBack;
    return group->second == GroupOutcome::Sent ? SettingOutcome::SentNotReadBack : SettingOutcome::NotApplied;
  }
  const auto it = after->find(spec.name);
  *held = it == after->end() ? "(not reported)" : it->second;
  if (!HeldAlike(spec, *after, wanted)) return SettingOutcome::Refused;
  return wasEqual ? SettingOutcome::AlreadyEqual : SettingOutcome::Applied;
}

// The RS485 line that the values describe.
struct Rs485Line {
  uint32_t baud;
  TParity parity;
  std::string parityName;
};
std::optional<Rs485Line> LineOf(const Settings &values) {
  const auto baud = values.find(std::string(kBaudSetting));
  const auto parity = values.find(std::string(kParitySetting));
  const SettingSpec *paritySpec = FindSetting(kParitySetting);
  if (baud == values.end() || parity == values.end() || !paritySpec) return std::nullopt;
  const auto rate = TryTextToInt(baud->second);
  const TParity parities[] = {TParity::None, TParity::Odd, TParity::Even};  // in the order of the choices
  const auto at = std::find(paritySpec->choices.begin(), paritySpec->choices.end(), parity->second);
  const auto position = static_cast<size_t>(at - paritySpec->choices.begin());
  if (!rate || *rate <= 0 || position >= std::size(parities)) return std::nullopt;
  return Rs485Line{static_cast<uint32_t>(*rate), parities[position], parity->second};
}

}  // namespace

// The module's commands on one port.
class Session : public PortSession {
 public:
  using PortSession::PortSession;

  // A query's reply, when it holds its marker.
  std::optional<std::string> Query(const std::string &frame, const char *marker, const char *what) {
    const auto reply = line_->Exchange(frame);
    if (!reply) {
      Fail(kModuleFailed, std::string("no answer to the ") + what + (line_->Lost() ? " (the port went away: " + line_->LostReason() + ")" : ""));
      return std::nullopt;
    }
    const std::string text = Text(*reply);
    if (!FindReplyKey(text, marker)) {
      Fail(kModuleFailed, std::string("the answer to the ") + what + " is not one: " + BytesAndText(reply->data(), reply->size()));
      return std::nullopt;
    }
    return text.substr(0, static_cast<size_t>(kReplyTextMax));  // what the window's parsers see too
  }

  // The settings the module holds; `system`, an answer to the system parameter query just
  // received, stands for the first of the two queries.
  std::optional<Settings> ReadSettings(std::optional<std::string> system = std::nullopt) {
    if (!system) system = Query(SystemParameterQueryFrame(), "QX", "system parameter query");
    if (!system) return std::nullopt;
    const auto meter = Query(MeterQueryFrame(0).bytes, "QQ", "MODBUS parameter query");
    if (!meter) return std::nullopt;
    return SettingsFromReplies(*system, *meter);
  }

  void Info() {
    const auto reply = Query(CommunicationQueryFrame(), "QV:", "communication query");
    if (!reply) return;
    Say(*reply);
    Summary(*reply);
    Json()["answer"] = QString::fromLatin1(reply->data(), static_cast<qsizetype>(reply->size()));
  }

  void Get() {
    const auto settings = ReadSettings();
    if (!settings) return;
    for (const SettingSpec &spec : AllSettings()) {
      const auto it = settings->find(spec.name);
      if (it == settings->end()) continue;
      char line[160];
      std::snprintf(line, sizeof line, "%-26s %s", spec.name.c_str(), it->second.c_str());
      Say(line);
    }
    Json()["settings"] = ToJson(*settings);
    Summary(std::to_string(settings->size()) + " settings");
  }

  void Save() {
    const auto settings = ReadSettings();
    if (!settings) return;
    const QJsonObject values = ToJson(*settings);
    QJsonObject document{{"format", kFileFormat},
                         {"version", kFileVersion},
                         {"port", result_.port},
                         {"settings", values}};
    WriteSettingsFile(document, values, "settings");
  }

  // set and apply: sends what differs, the RS485 line last, then reads everything back.
  void Change() {
    std::optional<ChangePlan> plan = Difference(inv_.wanted);
    if (!plan) return;
    std::optional<Settings> after;
    std::optional<std::string> system;  // the module's first answer at a new line
    if (SendGroups(*plan) && FollowLine(*plan, &system)) after = ReadSettings(system);
    Report(inv_.wanted, *plan, after);
  }

  // What the module holds, what it is to hold (its values with the wanted ones over them), and
  // the groups whose frames must go because a wanted value differs.
  std::optional<ChangePlan> Difference(const Settings &wanted) {
    std::optional<Settings> current = ReadSettings();
    if (!current) return std::nullopt;
    ChangePlan plan;
    plan.current = std::move(*current);
    plan.merged = plan.current;
    for (const auto &[name, value] : wanted) {
      plan.merged[name] = value;
      const SettingSpec *spec = FindSetting(name);
      if (!spec) continue;  // checked when the command line or the file was read
      if (!HeldAlike(*spec, plan.current, value)) plan.groups[spec->group] = GroupOutcome::NotSent;
    }
    return plan;
  }

  // Each group's frame in turn; false when the module stopped answering (nothing after it is sent).
  bool SendGroups(ChangePlan &plan) {
    for (auto &[group, outcome] : plan.groups) {
      std::string why;
      const auto frame = GroupFrame(group, plan.merged, &why);
      if (!frame) {
        outcome = GroupOutcome::Refused;
        Fail(kModuleFailed, "not sent: " + why);
        continue;
      }
      const auto reply = line_->Exchange(*frame, AcknowledgementEnd);
      if (!reply) {
        Fail(kModuleFailed, line_->Lost() ? "the port went away: " + line_->LostReason() + "; stopped" : "no answer to a setting; stopped");
        return false;
      }
      outcome = Text(*reply).find(kSettingRefused) != std::string::npos ? GroupOutcome::Refused : GroupOutcome::Sent;
    }
    return true;
  }

  // After the RS485 line setting the module talks at its new line: the port follows it, and the
  // module must answer there: its answer to the system parameter query, the first of the reading
  // back, goes to `system`. False when the port cannot follow or the module does not answer.
  bool FollowLine(const ChangePlan &plan, std::optional<std::string> *system) {
    const auto line = plan.groups.find(SettingGroup::Line);
    if (line == plan.groups.end() || line->second != GroupOutcome::Sent) return true;
    const auto target = LineOf(plan.merged);
    if (!target) {
      Fail(kModuleFailed, "the new line settings are not known; stopped");
      return false;
    }
    if (RawNetworkPort()) {
      Fail(kModuleFailed, "the module now talks at " + std::to_string(target->baud) + " baud, parity " + target->parityName +
                              ", which a tcp:// port cannot follow: set the device server's port to it (or use rfc2217://)");
      return false;
    }
    try {
      line_->Reopen(target->baud, target->parity);
    } catch (const ECommsError &e) {
      Fail(kPortFailed, std::string("cannot reopen the port at the new line settings: ") + e.what());
      return false;
    }
    const auto answer = line_->Exchange(SystemParameterQueryFrame());
    if (!answer || !FindReplyKey(Text(*answer), "QX")) {
      Fail(kModuleFailed, "the module does not answer at the new line settings");
      return false;
    }
    Say("the module answers at " + std::to_string(target->baud) + " baud, parity " + target->parityName);
    *system = Text(*answer).substr(0, static_cast<size_t>(kReplyTextMax));
    return true;
  }

  // One line per wanted setting, in table order, then the counts. Nothing is called applied that
  // was not read back (`after` is empty when reading back was not possible).
  void Report(const Settings &wanted, const ChangePlan &plan, const std::optional<Settings> &after) {
    QJsonObject report;
    int applied = 0, equal = 0, notApplied = 0;
    for (const SettingSpec &spec : AllSettings()) {
      const auto w = wanted.find(spec.name);
      if (w == wanted.end()) continue;
      std::string held;
      const SettingOutcome outcome = OutcomeOf(spec, w->second, plan, after, &held);
      switch (outcome) {
        case SettingOutcome::Applied: ++applied; break;
        case SettingOutcome::AlreadyEqual: ++equal; break;
        default: ++notApplied; break;
      }
      std::string line = spec.name + " = " + w->second + ": " + OutcomeText(outcome);
      if (outcome == SettingOutcome::Refused) line += " (the module holds " + held + ")";
      Say(line);
      report[QString::fromStdString(spec.name)] = QString::fromUtf8(OutcomeText(outcome));
    }
    Say(std::to_string(applied) + " applied, " + std::to_string(equal) + " already equal, " +
        std::to_string(notApplied) + " not applied");
    Summary(result_.lines.back());
    Json()["settings"] = report;
    if (notApplied > 0) result_.status = std::max(result_.status, static_cast<int>(kModuleFailed));
  }

  void ModbusRead() {
    int slave = inv_.slave;
    std::array<int, 5> formats{};
    std::optional<Settings> settings;
    if (slave < 0 || inv_.format < 0) {
      settings = ReadSettings();
      if (!settings) return;
    }
    if (slave < 0) {
      const auto held = settings->find(std::string(kSlaveAddressSetting));
      const auto address = held == settings->end() ? std::nullopt : TryTextToInt(held->second);
      if (!address || *address < 0 || *address > modbus::kMaxSlaveAddress)
        return Fail(kModuleFailed, "the module's slave address is not a MODBUS address; give --slave");
      slave = *address;
    }
    // The register pairs of the map, in order: the current, then variables 1 to 4.
    const std::vector<const SettingSpec *> pairs = GroupSettings(SettingGroup::DataFormat);
    std::array<std::string, 5> names;
    for (size_t i = 0; i < formats.size() && i < pairs.size(); ++i) {
      const SettingSpec &spec = *pairs[i];
      names[i] = spec.name.substr(spec.name.find('_') + 1);
      if (inv_.format >= 0) {
        formats[i] = inv_.format;
        continue;
      }
      const auto it = settings->find(spec.name);
      const auto pos = it == settings->end() ? spec.choices.end()
                                             : std::find(spec.choices.begin(), spec.choices.end(), it->second);
      formats[i] = pos == spec.choices.end() ? 0 : static_cast<int>(pos - spec.choices.begin());
    }
    const auto reply = line_->Exchange(ReadHoldingRegistersRequest(static_cast<uint8_t>(slave),
                                                                   static_cast<uint16_t>(inv_.start),
                                                                   static_cast<uint16_t>(inv_.count)),
                                       ModbusAnswerEnd);
    if (!reply) return Fail(kModuleFailed, "no MODBUS answer from slave " + std::to_string(slave));
    const RegistersAnswer answer = ReadRegistersAnswer(*reply);
    Json()["slave"] = answer.slave;
    Json()["crc_ok"] = answer.crcOk;
    // Nothing of an answer is shown before it has checked out.
    if (!answer.crcOk) {
      char crc[64];
      std::snprintf(crc, sizeof crc, "CRC wrong: expected %02X %02X", answer.crcExpected & 0xFF, answer.crcExpected >> 8);
      return Fail(kModuleFailed, std::string("MODBUS answer: ") + crc);
    }
    const std::string mismatch = AnswerMismatch(answer, static_cast<uint8_t>(slave), modbus::kReadHoldingRegisters);
    if (!mismatch.empty()) return Fail(kModuleFailed, "MODBUS answer: " + mismatch);
    if (!answer.problem.empty()) return Fail(kModuleFailed, "MODBUS answer: " + answer.problem);
    if (answer.exception) {
      return Fail(kModuleFailed, "MODBUS exception " + std::to_string(answer.exceptionCode) + " (" +
                                     modbus::ExceptionName(answer.exceptionCode) + ")");
    }
    if (answer.registers.size() != static_cast<size_t>(inv_.count))
      return Fail(kModuleFailed, "MODBUS answer: " + std::to_string(answer.registers.size()) + " registers, " +
                                     std::to_string(inv_.count) + " were asked for");
    QJsonArray registers, values;
    for (size_t i = 0; i < answer.registers.size(); ++i) {
      char line[64];
      std::snprintf(line, sizeof line, "register %d = %u (%04X)", inv_.start + static_cast<int>(i),
                    answer.registers[i], answer.registers[i]);
      Say(line);
      registers.append(answer.registers[i]);
    }
    // Pairs that begin at an even register of the map: the module's 32-bit values.
    for (size_t i = 0; i + 1 < answer.registers.size(); ++i) {
      const int reg = inv_.start + static_cast<int>(i);
      if (reg % 2 != 0 || reg / 2 >= 5) continue;
      const int format = formats[static_cast<size_t>(reg / 2)];
      const double value = RegisterPairValue(answer.registers[i], answer.registers[i + 1], format);
      const std::string text = FormatGeneral(value);
      const std::string &name = names[static_cast<size_t>(reg / 2)];
      Say(name + " = " + text + " (" + RegisterFormats().at(static_cast<size_t>(format)) + ")");
      values.append(QJsonObject{{"name", QString::fromStdString(name)}, {"value", value}});
      ++i;
    }
    Json()["registers"] = registers;
    Json()["values"] = values;
    Summary(std::to_string(answer.registers.size()) + " registers");
  }
};


namespace {

// What follows each command, checked before any port is opened.

void NoArguments(const std::string &command, const std::vector<std::string> &args) {
  if (!args.empty()) throw UsageError(command + " takes no arguments");
}

void TakeNothing(Invocation &inv, const std::vector<std::string> &args, const std::map<std::string, std::string> &) {
  NoArguments(inv.command, args);
}

void TakeSet(Invocation &inv, const std::vector<std::string> &args, const std::map<std::string, std::string> &) {
  if (args.empty()) throw UsageError("set needs NAME=VALUE");
  for (const std::string &pair : args) {
    const size_t eq = pair.find('=');
    if (eq == std::string::npos) throw UsageError("set: \"" + pair + "\" is not NAME=VALUE");
    const std::string name = pair.substr(0, eq);
    const SettingSpec *spec = FindSetting(name);
    if (!spec) throw UsageError("set: unknown setting " + name + " (rq735ctl --help lists them)");
    std::string why;
    const auto v = CanonicalValue(*spec, pair.substr(eq + 1), &why);
    if (!v) throw UsageError("set: " + why);
    inv.wanted[name] = *v;
  }
}

void TakeFile(Invocation &inv, const std::vector<std::string> &args) {
  if (args.size() != 1) throw UsageError(inv.command + " needs one FILE");
  inv.file = args[0];
}

void TakeSave(Invocation &inv, const std::vector<std::string> &args, const std::map<std::string, std::string> &) {
  TakeFile(inv, args);
}

void TakeApply(Invocation &inv, const std::vector<std::string> &args, const std::map<std::string, std::string> &) {
  TakeFile(inv, args);
  std::string why;
  const auto wanted = ReadSettingsFile(inv.file, &why);
  if (!wanted) throw UsageError(why, false);
  inv.wanted = *wanted;
}

// A decimal number of the command line, "." as its point whatever the locale.
std::optional<double> DecimalArgument(const std::string &text) {
  double value = 0;
  const char *end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  if (text.empty() || error != std::errc() || at != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

// hart set: NAME=VALUE, each checked as the instrument takes it. What was changed on the way (lower
// case to upper case) is said before anything is sent.
void TakeHartSet(Invocation &inv, const std::vector<std::string> &pairs) {
  if (pairs.empty()) throw UsageError("hart set needs NAME=VALUE");
  for (const std::string &pair : pairs) {
    const size_t eq = pair.find('=');
    if (eq == std::string::npos) throw UsageError("hart set: \"" + pair + "\" is not NAME=VALUE");
    const std::string name = pair.substr(0, eq);
    const HartSettingSpec *spec = FindHartSetting(name);
    if (!spec) throw UsageError("hart set: unknown instrument setting " + name + " (rq735ctl --help lists them)");
    const HartValueCheck check = CheckHartValue(*spec, pair.substr(eq + 1));
    if (!check.value) throw UsageError("hart set: " + check.problem, false);
    if (!check.note.empty()) std::fprintf(stderr, "rq735ctl: %s\n", check.note.c_str());
    inv.hartWanted[name] = *check.value;
  }
}

// hart loop-test: the currents, how long each is held, and the engineer's word that the loop is in
// manual: asked on a terminal, --yes otherwise.
void TakeLoopTest(Invocation &inv, const std::vector<std::string> &currents, const std::map<std::string, std::string> &options) {
  if (currents.empty()) throw UsageError("hart loop-test needs the currents to fix, in mA, as 4 12 20");
  for (const std::string &c : currents) {
    const auto value = DecimalArgument(c);
    if (!value || *value <= 0 || *value > 24)
      throw UsageError("hart loop-test: \"" + c + "\" is not a loop current in mA (above 0, at most 24)");
    inv.currents.push_back(*value);
  }
  const auto hold = options.find("hold");
  if (hold != options.end()) {
    const auto seconds = DecimalArgument(hold->second);
    if (!seconds || *seconds < 0 || *seconds > 86400)
      throw UsageError("--hold: \"" + hold->second + "\" is not a number of seconds from 0 to 86400");
    inv.holdSeconds = *seconds;
  } else if (inv.ports.size() > 1) {
    throw UsageError("hart loop-test on several ports needs --hold SECONDS: one Enter cannot step them all");
  }
  if (!options.count("yes")) {
    if (!isatty(STDIN_FILENO) || !isatty(STDERR_FILENO))
      throw UsageError("hart loop-test fixes the loop current: put the loop in manual, then give --yes "
                       "(there is no terminal to ask)");
    std::fprintf(stderr,
                 "The loop current will be fixed at each value in turn: whatever reads this loop sees it.\n"
                 "Is the loop in manual? Type yes to go on: ");
    char answer[16] = {};
    if (!std::fgets(answer, sizeof answer, stdin) || std::string(answer).rfind("yes", 0) != 0)
      throw UsageError("loop test not started", false);
  }
  WatchStopSignals();
}

void TakeHart(Invocation &inv, const std::vector<std::string> &rest, const std::map<std::string, std::string> &options) {
  if (rest.empty())
    throw UsageError("hart needs identity, info, status, set, save, apply, loop-test, vars, address N or raw HEX");
  inv.action = rest[0];
  const std::vector<std::string> args(rest.begin() + 1, rest.end());
  const bool polls = inv.action == "identity" || inv.action == "info" || inv.action == "status" || inv.action == "set" ||
                     inv.action == "save" || inv.action == "apply" || inv.action == "loop-test";
  const auto polling = options.find("polling");
  if (polling != options.end() && !polls) throw UsageError("--polling does not go with hart " + inv.action);
  if (polling != options.end()) inv.pollingAddress = NumberArgument("--polling", polling->second, 0, 63);
  if ((options.count("hold") || options.count("yes")) && inv.action != "loop-test")
    throw UsageError("--hold and --yes go with hart loop-test only");
  if (inv.action == "identity" || inv.action == "info" || inv.action == "status" || inv.action == "vars") {
    if (!args.empty()) throw UsageError("hart " + inv.action + " takes no arguments");
  } else if (inv.action == "set") {
    TakeHartSet(inv, args);
  } else if (inv.action == "save" || inv.action == "apply") {
    if (args.size() != 1) throw UsageError("hart " + inv.action + " needs one FILE");
    inv.file = args[0];
    if (inv.action == "apply") {
      std::string why;
      const auto wanted = ReadHartSettingsFile(inv.file, &why);
      if (!wanted) throw UsageError(why, false);
      inv.hartWanted = *wanted;
    }
  } else if (inv.action == "loop-test") {
    TakeLoopTest(inv, args, options);
  } else if (inv.action == "address") {
    if (args.size() != 1) throw UsageError("hart address needs N");
    inv.number = NumberArgument("hart address", args[0], 0, 15);
  } else if (inv.action == "raw") {
    if (args.size() != 1) throw UsageError("hart raw needs the frame's body in hexadecimal, as \"02 80 00 00\"");
    // Exactly what was typed goes out, or nothing: every character counts.
    const TypedHex body = ParseTypedHex(args[0], args[0].size());  // a text holds fewer bytes than characters
    if (!body.error.empty()) throw UsageError("hart raw: \"" + args[0] + "\": " + body.error);
    if (body.bytes.size() > kMaxRequestBody)
      throw UsageError("hart raw: " + std::to_string(body.bytes.size()) + " bytes; a HART request holds at most " +
                       std::to_string(kMaxRequestBody) + " before its checksum");
    const std::string problem = TypedRequestProblem(body.bytes);
    if (!problem.empty()) throw UsageError("hart raw: \"" + args[0] + "\": " + problem);
    inv.body = body.bytes;
  } else {
    throw UsageError("hart: unknown " + inv.action);
  }
}

void TakeModbus(Invocation &inv, const std::vector<std::string> &rest, const std::map<std::string, std::string> &options) {
  if (rest.size() != 1 || rest[0] != "read") throw UsageError("modbus needs read, and nothing after it but its options");
  for (const auto &[name, v] : options) {
    const std::string o = "--" + name;
    if (name == "slave") inv.slave = NumberArgument(o, v, 0, 247);
    else if (name == "start") inv.start = NumberArgument(o, v, 0, 65535);
    else if (name == "count") inv.count = NumberArgument(o, v, 1, 125);
    else if (name == "format") {
      const auto &formats = RegisterFormats();
      const auto it = std::find(formats.begin(), formats.end(), v);
      if (it == formats.end()) throw UsageError("--format: \"" + v + "\" is not one of float-abcd, float-cdab, uint32-abcd, uint32-cdab");
      inv.format = static_cast<int>(it - formats.begin());
    }
  }
}

// What the shell may offer after each command.

Completion Nothing(const std::vector<std::string> &, const std::string &) { return {}; }

Completion AFile(const std::vector<std::string> &args, const std::string &) {
  Completion c;
  c.files = args.empty();
  return c;
}

// A setting's name, followed by "=", or once the "=" is typed the values it takes.
Completion ASetting(const std::vector<std::string> &, const std::string &word) {
  Completion c;
  const size_t eq = word.find('=');
  if (eq == std::string::npos) {
    for (const SettingSpec &spec : AllSettings()) c.words.push_back(spec.name + "=");
    return c;
  }
  const SettingSpec *spec = FindSetting(std::string_view(word).substr(0, eq));
  if (!spec) return c;
  std::vector<std::string> values = spec->choices;
  if (spec->kind == SettingSpec::Kind::Number && spec->high - spec->low < 16)
    for (int v = spec->low; v <= spec->high; ++v) values.push_back(std::to_string(v));
  for (const std::string &v : values) c.words.push_back(spec->name + "=" + v);
  return c;
}

Completion AHartAction(const std::vector<std::string> &args, const std::string &word) {
  if (args.empty())
    return {{"identity", "info", "status", "set", "save", "apply", "loop-test", "vars", "address", "raw"}};
  if (args[0] == "save" || args[0] == "apply") return AFile(std::vector<std::string>(args.begin() + 1, args.end()), word);
  Completion c;
  if (args[0] == "set" && word.find('=') == std::string::npos)
    for (const HartSettingSpec &spec : HartSettings()) c.words.push_back(spec.name + std::string("="));
  return c;
}

Completion AModbusAction(const std::vector<std::string> &args, const std::string &) {
  if (!args.empty()) return {};
  return {{"read"}};
}

std::vector<std::string> FormatNames() { return RegisterFormats(); }

// A module command's run on one port.
template <void (Session::*Action)()>
void OnModule(const Invocation &inv, PortResult &result, const Trace &trace) {
  Session session(inv, result, trace);
  if (session.Open()) (session.*Action)();
}

// rq735ctl ports: what the window's "Serial Port:" list offers beside COM1 to COM12.
int ListPorts(const Invocation &inv) {
  const std::vector<FoundPort> ports = FoundPorts();
  if (inv.json) {
    QJsonArray list;
    for (const FoundPort &p : ports)
      list.append(QJsonObject{{"port", p.name},
                              {"device", p.device},
                              {"kind", p.kind == FoundPort::Kind::Simulator ? "simulator" : "adapter"}});
    std::printf("%s\n", QJsonDocument(QJsonObject{{"ports", list}}).toJson(QJsonDocument::Compact).constData());
    return kDone;
  }
  for (const FoundPort &p : ports) {
    std::string line = p.name.toLocal8Bit().toStdString();
    if (p.device != p.name) line += " -> " + p.device.toLocal8Bit().toStdString();
    if (p.kind == FoundPort::Kind::Simulator) line += " (simulator)";
    std::printf("%s\n", line.c_str());
  }
  if (ports.empty()) std::fprintf(stderr, "rq735ctl: no serial adapter or running simulator found\n");
  return kDone;
}

}  // namespace

const std::vector<CommandSpec> &Commands() {
  static const std::vector<CommandSpec> table = {
      {"info", "", "the communication query; prints the module's answer", {}, TakeNothing, Nothing,
       OnModule<&Session::Info>, nullptr},
      {"get", "", "the module's settings (system and MODBUS side of meter 0)", {}, TakeNothing, Nothing,
       OnModule<&Session::Get>, nullptr},
      {"set", "NAME=VALUE ...", "writes settings, reads them back and compares", {}, TakeSet, ASetting,
       OnModule<&Session::Change>, nullptr},
      {"save", "FILE", "all readable settings to a JSON file", {}, TakeSave, AFile, OnModule<&Session::Save>,
       nullptr},
      {"apply", "FILE", "what differs from FILE, the RS485 line last; then reads back", {}, TakeApply, AFile,
       OnModule<&Session::Change>, nullptr},
      {"hart", "identity | info | status | set NAME=VALUE ... | save FILE | apply FILE | loop-test MA ... | vars | address N | raw HEX",
       "HART to the instrument behind the module: all it reads (info), its settings written and read back (set, "
       "apply), a loop test at fixed currents, status, commands 3 and 6, or any frame",
       {{"polling", "N", "hart: the instrument's polling address (0)"},
        {"hold", "SECONDS", "hart loop-test: how long each current is held (until Enter is pressed)"},
        {"yes", "", "hart loop-test: the loop is in manual; do not ask"}},
       TakeHart, AHartAction, RunHart, nullptr},
      {"modbus", "read [--slave N] [--start A] [--count C] [--format F]",
       "holding registers of the module's MODBUS side, the map's pairs decoded",
       {{"slave", "N", "modbus read: the slave address (the module's own)"},
        {"start", "A", "modbus read: the first register (0)"},
        {"count", "C", "modbus read: how many registers (10)"},
        {"format", "F", "modbus read: how the pairs are read (the module's data formats)", FormatNames}},
       TakeModbus, AModbusAction, OnModule<&Session::ModbusRead>, nullptr},
      {"ports", "", "the serial adapters and running simulators this machine offers", {}, TakeNothing, Nothing,
       nullptr, ListPorts},
  };
  return table;
}

const CommandSpec *FindCommand(std::string_view name) {
  for (const CommandSpec &c : Commands())
    if (c.name == name) return &c;
  return nullptr;
}

int NumberArgument(const std::string &what, const std::string &text, int low, int high) {
  const auto value = TryTextToInt(text);
  if (!value || *value < low || *value > high)
    throw UsageError(what + ": \"" + text + "\" is not a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high));
  return *value;
}

PortResult RunOnPort(const Invocation &inv, const QString &port, const Trace &trace) {
  PortResult result;
  result.port = port;
  try {
    const CommandSpec *command = FindCommand(inv.command);
    if (command && command->onPort) command->onPort(inv, result, trace);
  } catch (const std::exception &e) {
    result.status = std::max(result.status, static_cast<int>(kModuleFailed));
    result.errors.push_back(std::string("stopped: ") + e.what());
  }
  result.json["port"] = port;
  result.json["status"] = result.status;
  if (!result.errors.empty()) {
    QJsonArray errors;
    for (const std::string &e : result.errors) errors.append(QString::fromStdString(e));
    result.json["errors"] = errors;
  }
  if (!result.warnings.empty()) {
    QJsonArray warnings;
    for (const std::string &w : result.warnings) warnings.append(QString::fromStdString(w));
    result.json["warnings"] = warnings;
  }
  return result;
}

std::optional<QJsonObject> ReadFileSettings(const std::string &path, const char *format, int version,
                                            std::string *error) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) {
    *error = path + ": " + file.errorString().toStdString();
    return std::nullopt;
  }
  QJsonParseError parse{};
  const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parse);
  if (parse.error != QJsonParseError::NoError) {
    *error = path + ": not JSON at byte " + std::to_string(parse.offset) + ": " + parse.errorString().toStdString();
    return std::nullopt;
  }
  const QJsonObject root = document.object();
  if (root.value("format").toString() != format) {
    *error = path + ": not a settings file of rq735ctl (its \"format\" is not \"" + format + "\")";
    return std::nullopt;
  }
  if (root.value("version").toInt(-1) != version) {
    *error = path + ": format version " + std::to_string(root.value("version").toInt(-1)) + ", this rq735ctl reads " +
             std::to_string(version);
    return std::nullopt;
  }
  if (!root.value("settings").isObject()) {
    *error = path + ": no \"settings\" object";
    return std::nullopt;
  }
  return root.value("settings").toObject();
}

bool WriteJsonFile(const std::string &path, const QJsonObject &document, std::string *error) {
  QSaveFile file(QString::fromStdString(path));
  if (file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(document).toJson()) >= 0 && file.commit()) return true;
  *error = "cannot write " + path + ": " + file.errorString().toStdString();
  return false;
}

std::optional<Settings> ReadSettingsFile(const std::string &path, std::string *error) {
  const auto settings = ReadFileSettings(path, kFileFormat, kFileVersion, error);
  if (!settings) return std::nullopt;
  Settings out;
  for (auto it = settings->begin(); it != settings->end(); ++it) {
    const std::string name = it.key().toStdString();
    const SettingSpec *spec = FindSetting(name);
    if (!spec) {
      *error = path + ": unknown setting " + name;
      return std::nullopt;
    }
    std::string text;
    if (it.value().isDouble() && spec->kind == SettingSpec::Kind::Number) {
      // Cast only what an int holds; anything else goes on as text, which the check refuses.
      const double d = it.value().toDouble();
      const bool whole = std::isfinite(d) && std::trunc(d) == d && std::fabs(d) < 1e9;
      text = whole ? std::to_string(static_cast<int>(d)) : std::to_string(d);
    } else if (it.value().isString() && spec->kind != SettingSpec::Kind::Number) {
      text = it.value().toString().toStdString();
    } else {
      *error = path + ": " + name + " has a value of the wrong kind";
      return std::nullopt;
    }
    std::string why;
    const auto value = CanonicalValue(*spec, text, &why);
    if (!value) {
      *error = path + ": " + why;
      return std::nullopt;
    }
    out[name] = *value;
  }
  return out;
}

std::string FileForPort(const std::string &file, const QString &port, bool severalPorts) {
  if (!severalPorts) return file;
  std::string name = port.toStdString();
  while (!name.empty() && name.front() == '/') name.erase(name.begin());
  for (char &c : name)
    if (c == '/') c = '-';
  const size_t slash = file.rfind('/');
  const size_t dot = file.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return file + "-" + name;
  return file.substr(0, dot) + "-" + name + file.substr(dot);
}
