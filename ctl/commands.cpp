#include "ctl/commands.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <map>
#include <utility>

#include "ctl/module_line.h"
#include "protocol/config_frame.h"
#include "protocol/frame_end.h"
#include "protocol/hart.h"
#include "protocol/hart_answer.h"
#include "protocol/hart_commands.h"
#include "protocol/hart_reply.h"
#include "protocol/hex.h"
#include "protocol/line_decoder.h"
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
constexpr int kHartPreambles = 7;  // the window's default "Preamble Length" of 6, plus one
constexpr unsigned long kBusyPauseMs = 250;  // before a busy instrument is asked again

const char *kHartNeedsTransparent =
    "no HART answer: the module passes HART through only in its transparent working mode "
    "(rq735ctl --port PORT set working_mode=transparent)";

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

// One port's work: the line, what was found, and how it ended.
class Session {
 public:
  Session(const Invocation &inv, PortResult &result, const std::function<void(const std::string &)> &trace)
      : inv_(inv), result_(result) {
    LineOptions options;
    options.port = result.port;
    options.baud = inv.baud;
    options.parity = inv.parity;
    options.timeout = inv.timeout;
    options.rts = inv.rts;
    options.dtr = inv.dtr;
    options.rs485 = inv.rs485;
    line_ = std::make_unique<ModuleLine>(options, trace);
  }

  bool Open() {
    try {
      line_->Open();
      if (line_->Rs485Refused()) Warn("the driver of " + Std(result_.port) + " refuses the RS485 mode; going on without it");
      if (inv_.lineGiven && RawNetworkPort())
        Warn(Std(result_.port) + ": the line settings of a tcp:// port are the device server's own; --baud and --parity "
             "are not sent (rfc2217:// sets them)");
      return true;
    } catch (const ECommsError &e) {
      Fail(kPortFailed, std::string(e.what()) + ". " + e.Advice());
      return false;
    }
  }

  void Fail(int status, const std::string &message) {
    result_.status = std::max(result_.status, status);
    result_.errors.push_back(message);
  }
  static std::string Std(const QString &text) { return text.toLocal8Bit().toStdString(); }
  // A tcp:// port carries bytes only: its line is the device server's.
  bool RawNetworkPort() const { return result_.port.startsWith(QStringLiteral("tcp://")); }
  void Say(const std::string &line) { result_.lines.push_back(line); }
  void Summary(const std::string &line) { result_.summary = line; }
  QJsonObject &Json() { return result_.json; }

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
    const std::string path = FileForPort(inv_.file, result_.port, inv_.ports.size() > 1);
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(document).toJson()) < 0 || !file.commit()) {
      Fail(kModuleFailed, "cannot write " + path + ": " + file.errorString().toStdString());
      return;
    }
    Say("saved " + std::to_string(values.size()) + " settings to " + path);
    Summary(result_.lines.back());
    Json()["file"] = QString::fromStdString(path);
    Json()["settings"] = values;
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

  void Warn(const std::string &line) {
    if (std::find(result_.warnings.begin(), result_.warnings.end(), line) == result_.warnings.end())
      result_.warnings.push_back(line);
  }

  // The device status of a reply that checked out: one warning line for the bits set, and in JSON.
  void TellDeviceStatus(const HartAnswer &answer) {
    if (answer.verdict == HartVerdict::NotAnAnswer) return;
    QJsonArray bits;
    for (int bit = 7; bit >= 0; --bit)
      if (answer.deviceStatus & (1u << bit))
        bits.append(QString::fromUtf8(hart::DeviceStatusBitName(static_cast<uint8_t>(1u << bit))));
    Json()["device_status"] = bits;
    Json()["response_code"] = answer.status;
    if (answer.deviceStatus != 0) Warn("device status: " + hart::DeviceStatusText(answer.deviceStatus));
  }

  // A HART request and its reply, checked against it; asked again while the instrument is busy.
  // Nothing, with the reason told, when no reply came (`silent` says what that means), none checks
  // out, or the instrument did not answer with data. `hartReply_` keeps the last reply's bytes.
  std::optional<HartAnswer> AskHart(const std::vector<uint8_t> &request, const std::string &what, const std::string &silent) {
    hartReply_.clear();
    for (int attempt = 0;; ++attempt) {
      const auto reply = line_->Exchange(request, HartReplyEnd);
      if (!reply) {
        Fail(kModuleFailed, line_->Lost() ? "no answer to " + what + " (the port went away: " + line_->LostReason() + ")" : silent);
        return std::nullopt;
      }
      hartReply_ = *reply;
      HartAnswer answer = CheckHartAnswer(request, reply->data(), reply->size());
      if (answer.verdict == HartVerdict::Busy && attempt < inv_.retries) {
        QThread::msleep(kBusyPauseMs);
        continue;
      }
      TellDeviceStatus(answer);
      switch (answer.verdict) {
        case HartVerdict::Data:
          if (answer.Warning()) Warn(what + ": response code " + answer.Reason());
          return answer;
        case HartVerdict::NotAnAnswer:
          Fail(kModuleFailed, "the reply to " + what + " does not check out: " + answer.problem + ": " + Received(*reply));
          break;
        case HartVerdict::CommunicationError:
          Fail(kModuleFailed, "the instrument did not receive " + what + " right (" + answer.Reason() + ")");
          break;
        case HartVerdict::Busy:
          Fail(kModuleFailed, "the instrument is still busy with " + what + " after " + std::to_string(attempt + 1) +
                                  (attempt == 0 ? " try" : " tries") + ": response code " + answer.Reason());
          break;
        case HartVerdict::Refused:
          Fail(kModuleFailed, "the instrument refused " + what + ": response code " + answer.Reason());
          break;
      }
      return std::nullopt;
    }
  }

  // What came, for a reply that is not one: another program's greeting, a device server's refusal.
  static std::string Received(const std::vector<uint8_t> &reply) {
    constexpr size_t kShown = 48;
    const size_t shown = std::min(reply.size(), kShown);
    return BytesAndText(reply.data(), shown) + (reply.size() > shown ? " ..." : "");
  }

  // The reply frame of a checked answer, without its checksum, for the readers of its fields.
  const uint8_t *Frame(const HartAnswer &answer) const { return hartReply_.data() + answer.start; }
  static int Held(const HartAnswer &answer) { return static_cast<int>(answer.length) - 1; }
  static int Searched(const HartAnswer &answer) { return std::min(Held(answer), kReplyTextMax); }

  static std::string HartCommand(int command) { return "HART command " + std::to_string(command); }

  // Command 0 at the polling address asked; `data`, when given, gets all its reply holds.
  std::optional<IdentityReply> QueryIdentity(std::vector<uint8_t> *data = nullptr) {
    const auto answer = AskHart(HartShortFrame(kHartPreambles, hart::kPrimaryMaster,
                                               static_cast<uint8_t>(inv_.pollingAddress), hart::kReadUniqueIdentifier),
                                HartCommand(hart::kReadUniqueIdentifier), kHartNeedsTransparent);
    if (!answer) return std::nullopt;
    const auto identity = ReadIdentityReply(Frame(*answer), Searched(*answer), Held(*answer));
    if (!identity)
      Fail(kModuleFailed, "the reply to " + HartCommand(hart::kReadUniqueIdentifier) + " holds " +
                              std::to_string(answer->data.size()) + " data bytes, too few for the identity");
    else if (data)
      *data = answer->data;
    return identity;
  }

  // hart info and hart status: one value, printed "name value unit" and kept in JSON by its name.
  void Tell(QJsonObject &json, const std::string &name, const std::string &text, const QJsonValue &value) {
    Say(name + " " + text);
    json[QString::fromStdString(name)] = value;
  }
  void TellNumber(QJsonObject &json, const std::string &name, long long value) {
    Tell(json, name, std::to_string(value), static_cast<qint64>(value));
  }
  void TellText(QJsonObject &json, const std::string &name, const std::string &text) {
    Tell(json, name, text, QString::fromStdString(text));
  }
  // A float in the unit `unit` (none: the name says it, or another value gives it).
  void TellFloat(QJsonObject &json, const std::string &name, float value, std::optional<uint8_t> unit = std::nullopt) {
    const std::string text = FloatText(value);
    const QJsonValue number = FloatJson(value);
    if (!unit) return Tell(json, name, text, number);
    Tell(json, name, text + " " + UnitText(*unit),
         QJsonObject{{"value", number}, {"unit", QString::fromStdString(UnitText(*unit))}, {"unit_code", *unit}});
  }
  void TellUnit(QJsonObject &json, const std::string &name, uint8_t unit) {
    Tell(json, name, UnitText(unit), QString::fromStdString(UnitText(unit)));
    json[QString::fromStdString(name + "_code")] = unit;
  }
  // Seven significant digits, what a single-precision float holds; "none" for HART's not-a-number.
  static std::string FloatText(float value) {
    if (!std::isfinite(value)) return "none";
    return QString::number(static_cast<double>(value), 'g', 7).toStdString();
  }
  static std::string UnitText(uint8_t unit) {
    if (unit == hart::kUnitMilliampere) return "mA";
    const int position = UnitPosition(unit);
    return position == kUnitCount - 1 ? "unit " + std::to_string(unit) : UnitName(position);
  }

  // The data of one read of hart info or status, or nothing with the failure told; `stop` is set
  // when the instrument is gone, so that no further read waits for it.
  std::optional<std::vector<uint8_t>> ReadHart(const IdentityReply &instrument, uint8_t command, bool *stop,
                                               const std::vector<uint8_t> &data = {}) {
    const char *name = hart::CommandName(command);
    const std::string what = HartCommand(command) + (*name ? std::string(" (") + name + ")" : std::string());
    const HartRequest request = BuildHartRequest(instrument, command, data);
    if (!request.problem.empty()) {
      Fail(kModuleFailed, request.problem);
      return std::nullopt;
    }
    const auto answer = AskHart(request.frame, what, "no answer to " + what);
    if (!answer) {
      *stop = hartReply_.empty();
      return std::nullopt;
    }
    lastDeviceStatus_ = answer->deviceStatus;
    return answer->data;
  }
  // What a parser said of a reply it could not read.
  template <typename T>
  std::optional<T> Parsed(std::optional<T> value, uint8_t command, const std::string &problem) {
    if (!value) Fail(kModuleFailed, "the reply to " + HartCommand(command) + ": " + problem);
    return value;
  }

  // Every read the instrument's revision has, each value named with its unit.
  void HartInfo(const IdentityReply &instrument, const std::vector<uint8_t> &identityData) {
    namespace A = hart_answer;
    const HartIdentity &id = instrument.identity;
    const uint8_t revision = instrument.universalRevision;
    auto identityByte = [&](size_t at) -> std::optional<uint8_t> {
      const size_t index = at - A::kStatusBytes;
      if (index < identityData.size()) return identityData[index];
      return std::nullopt;
    };
    QJsonObject json;
    const std::vector<uint8_t> address = {static_cast<uint8_t>(id.manufacturer & hart::kAddressMask), id.deviceType,
                                          id.deviceId[0], id.deviceId[1], id.deviceId[2]};
    TellText(json, "long_address", HexRun(address.data(), address.size()));
    TellNumber(json, "manufacturer", id.manufacturer);
    TellNumber(json, "device_type", id.deviceType);
    TellNumber(json, "device_id", uint32_t{id.deviceId[0]} << 16 | uint32_t{id.deviceId[1]} << 8 | id.deviceId[2]);
    TellNumber(json, "universal_revision", revision);
    if (const auto b = identityByte(A::kDeviceRevision)) TellNumber(json, "device_revision", *b);
    if (const auto b = identityByte(A::kSoftwareRevision)) TellNumber(json, "software_revision", *b);
    TellNumber(json, "request_preambles", instrument.preambleNeed);
    // The polling address it answered command 0 at; from revision 6 on it says its reply preambles.
    TellNumber(json, "polling_address", inv_.pollingAddress);
    if (revision >= 6)
      if (const auto b = identityByte(A::kResponsePreambleNeed)) TellNumber(json, "response_preambles", *b);

    bool stop = false;
    std::string problem;
    if (const auto d = ReadHart(instrument, hart::kReadPrimaryVariable, &stop))
      if (const auto pv = Parsed(ParsePrimaryVariable(*d, &problem), hart::kReadPrimaryVariable, problem))
        TellFloat(json, "primary_variable", pv->value, pv->unit);
    if (!stop)
      if (const auto d = ReadHart(instrument, hart::kReadLoopCurrentAndPercent, &stop))
        if (const auto loop = Parsed(ParseLoopCurrent(*d, &problem), hart::kReadLoopCurrentAndPercent, problem)) {
          TellFloat(json, "loop_current", loop->milliamperes, hart::kUnitMilliampere);
          TellFloat(json, "percent_of_range", loop->percentOfRange, hart::kUnitPercent);
        }
    if (!stop)
      if (const auto d = ReadHart(instrument, hart::kReadMessage, &stop))
        if (const auto message = Parsed(ParseMessage(*d, &problem), hart::kReadMessage, problem))
          TellText(json, "message", *message);
    if (!stop)
      if (const auto d = ReadHart(instrument, hart::kReadTagDescriptorDate, &stop))
        if (const auto tdd = Parsed(ParseTagDescriptorDate(*d, &problem), hart::kReadTagDescriptorDate, problem)) {
          TellText(json, "tag", tdd->tag);
          TellText(json, "descriptor", tdd->descriptor);
          TellText(json, "date", IsoDateText(tdd->date));
          const std::string dateProblem = DateProblem(tdd->date);
          if (!dateProblem.empty()) Warn("the instrument's date is not a day of the calendar: " + dateProblem);
        }
    if (!stop)
      if (const auto d = ReadHart(instrument, hart::kReadTransducerInformation, &stop))
        if (const auto t = Parsed(ParseTransducerInformation(*d, &problem), hart::kReadTransducerInformation, problem)) {
          TellNumber(json, "sensor_serial_number", t->serialNumber);
          TellFloat(json, "upper_sensor_limit", t->upperLimit, t->unit);
          TellFloat(json, "lower_sensor_limit", t->lowerLimit, t->unit);
          TellFloat(json, "minimum_span", t->minimumSpan, t->unit);
        }
    if (!stop)
      if (const auto d = ReadHart(instrument, hart::kReadDeviceInformation, &stop))
        if (const auto info = Parsed(ParseDeviceInformation(*d, &problem), hart::kReadDeviceInformation, problem)) {
          TellNumber(json, "alarm_selection", info->alarmSelection);
          TellNumber(json, "transfer_function", info->transferFunction);
          TellUnit(json, "pv_units", info->rangeUnit);
          // The range values are in the range unit: the text says it, the JSON has it in pv_units.
          const std::string unit = " " + UnitText(info->rangeUnit);
          Tell(json, "lower_range", FloatText(info->lowerRange) + unit, FloatJson(info->lowerRange));
          Tell(json, "upper_range", FloatText(info->upperRange) + unit, FloatJson(info->upperRange));
          Tell(json, "damping", FloatText(info->damping) + " s", FloatJson(info->damping));
          const char *protect = info->writeProtect == hart::kWriteProtected      ? "yes"
                                : info->writeProtect == hart::kNotWriteProtected ? "no"
                                                                                 : nullptr;
          if (protect) TellText(json, "write_protect", protect);
          else TellNumber(json, "write_protect", info->writeProtect);
          TellNumber(json, "private_label_distributor", info->privateLabelDistributor);
          if (info->analogChannelFlags) TellNumber(json, "analog_channel_flags", *info->analogChannelFlags);
        }
    if (!stop)
      if (const auto d = ReadHart(instrument, hart::kReadFinalAssemblyNumber, &stop))
        if (const auto number = Parsed(ParseFinalAssemblyNumber(*d, &problem), hart::kReadFinalAssemblyNumber, problem))
          TellNumber(json, "final_assembly", *number);
    if (!stop && revision >= LeastUniversalRevision(hart::kReadLongTag))
      if (const auto d = ReadHart(instrument, hart::kReadLongTag, &stop))
        if (const auto longTag = Parsed(ParseLongTag(*d, &problem), hart::kReadLongTag, problem))
          TellText(json, "long_tag", *longTag);
    if (!stop && revision >= LeastUniversalRevision(hart::kReadDeviceVariablesWithStatus)) {
      const HartRequestData asked = DeviceVariablesRequest(
          {hart::kPrimaryVariableCode, hart::kSecondaryVariableCode, hart::kTertiaryVariableCode,
           hart::kQuaternaryVariableCode},
          revision);
      if (!asked.problem.empty()) {
        Fail(kModuleFailed, asked.problem);
      } else if (const auto d = ReadHart(instrument, hart::kReadDeviceVariablesWithStatus, &stop, asked.data)) {
        if (const auto vars = Parsed(ParseDeviceVariables(*d, &problem), hart::kReadDeviceVariablesWithStatus, problem)) {
          QJsonArray array;
          for (const HartDeviceVariable &v : vars->variables) {
            const std::string quality = QualityText(v.status);
            Say("device_variable " + std::to_string(v.code) + " " + FloatText(v.value) + " " + UnitText(v.unit) + " " +
                quality);
            array.append(QJsonObject{{"code", v.code},
                                     {"classification", v.classification},
                                     {"value", FloatJson(v.value)},
                                     {"unit", QString::fromStdString(UnitText(v.unit))},
                                     {"unit_code", v.unit},
                                     {"quality", QString::fromStdString(quality)},
                                     {"status", v.status}});
          }
          json["device_variables"] = array;
        }
      }
    }
    if (!stop)
      if (const auto d = ReadHart(instrument, hart::kReadAdditionalDeviceStatus, &stop))
        if (const auto bytes = Parsed(ParseAdditionalDeviceStatus(*d, &problem), hart::kReadAdditionalDeviceStatus, problem))
          TellText(json, "additional_status", HexRun(bytes->data(), bytes->size()));
    Json()["instrument"] = json;
    const QJsonValue tag = json.value("tag");
    Summary((tag.isString() ? "tag " + tag.toString().toStdString() + ", " : std::string()) +
            std::to_string(json.size()) + " values" + (result_.errors.empty() ? "" : ", not all read"));
  }

  static QJsonValue FloatJson(float value) {
    return std::isfinite(value) ? QJsonValue(QString::fromStdString(FloatText(value)).toDouble()) : QJsonValue();
  }
  static std::string QualityText(uint8_t status) {
    switch (status & hart::kVariableQualityMask) {
      case hart::kVariableGood: return "good";
      case hart::kVariableFixed: return "fixed";
      case hart::kVariablePoorAccuracy: return "poor accuracy";
      default: return "bad";
    }
  }

  // The device status of the reply to command 48 bit by bit, and the bytes of command 48: named at
  // their standard places from revision 6 on, as they came otherwise.
  void HartStatus(const IdentityReply &instrument) {
    bool stop = false;
    std::string problem;
    const auto d = ReadHart(instrument, hart::kReadAdditionalDeviceStatus, &stop);
    if (!d) return;
    Say("device_status " + ByteToHex(lastDeviceStatus_));
    QJsonObject bits;
    for (int bit = 7; bit >= 0; --bit) {
      const auto mask = static_cast<uint8_t>(1u << bit);
      const bool set = (lastDeviceStatus_ & mask) != 0;
      const char *name = hart::DeviceStatusBitName(mask);
      Say("  bit " + std::to_string(bit) + " " + name + ": " + (set ? "set" : "clear"));
      bits[QString::fromUtf8(name)] = set;
    }
    Json()["device_status_byte"] = lastDeviceStatus_;
    Json()["device_status_bits"] = bits;
    const auto bytes = Parsed(ParseAdditionalDeviceStatus(*d, &problem), hart::kReadAdditionalDeviceStatus, problem);
    if (!bytes) return;
    Say("additional_status " + HexRun(bytes->data(), bytes->size()));
    QJsonObject additional{{"bytes", QString::fromStdString(HexRun(bytes->data(), bytes->size()))}};
    if (instrument.universalRevision >= 6) {
      namespace F = hart_field;
      static constexpr std::pair<size_t, const char *> kPlaces[] = {
          {F::kExtendedDeviceStatus, "extended_device_status"},
          {F::kDeviceOperatingMode, "device_operating_mode"},
          {F::kStandardizedStatus0, "standardized_status_0"},
          {F::kStandardizedStatus1, "standardized_status_1"},
          {F::kAnalogChannelSaturated, "analog_channel_saturated"},
          {F::kStandardizedStatus2, "standardized_status_2"},
          {F::kStandardizedStatus3, "standardized_status_3"},
          {F::kAnalogChannelFixed, "analog_channel_fixed"},
      };
      const size_t specific = std::min(bytes->size(), F::kExtendedDeviceStatus);
      Say("  device_specific_status " + HexRun(bytes->data(), specific));
      for (const auto &[at, name] : kPlaces) {
        if (at >= bytes->size()) break;
        Say(std::string("  ") + name + " " + ByteToHex((*bytes)[at]));
        additional[QString::fromUtf8(name)] = (*bytes)[at];
      }
    }
    Json()["additional_status"] = additional;
    Summary(lastDeviceStatus_ == 0 ? "device status clear" : "device status: " + hart::DeviceStatusText(lastDeviceStatus_));
  }

  void Hart() {
    if (inv_.action == "raw") {
      const size_t addressLength =
          inv_.body[0] & hart::kLongAddressFrame ? hart::kLongAddressLength : hart::kShortAddressLength;
      const auto answer = AskHart(HartRawFrame(kHartPreambles, inv_.body), HartCommand(inv_.body[1 + addressLength]),
                                  kHartNeedsTransparent);
      if (hartReply_.empty()) return;
      // The reply as it came, checked or not: what the instrument said is worth seeing either way.
      Say(BytesAndText(hartReply_.data(), hartReply_.size()));
      Summary(result_.lines.back());
      Say(DecodeLineText(hartReply_.data(), hartReply_.size(), LineDirection::Received));
      Json()["answer"] = QString::fromStdString(HexRun(hartReply_.data(), hartReply_.size()));
      if (answer) Json()["data"] = QString::fromStdString(HexRun(answer->data.data(), answer->data.size()));
      return;
    }
    std::vector<uint8_t> identityData;
    const auto identity = QueryIdentity(&identityData);
    if (!identity) return;
    if (inv_.action == "info") return HartInfo(*identity, identityData);
    if (inv_.action == "status") return HartStatus(*identity);
    const HartIdentity &id = identity->identity;
    const uint32_t deviceId = uint32_t{id.deviceId[0]} << 16 | uint32_t{id.deviceId[1]} << 8 | id.deviceId[2];
    if (inv_.action == "identity") {
      Say("manufacturer " + std::to_string(id.manufacturer));
      Say("device_type " + std::to_string(id.deviceType));
      Say("request_preambles " + std::to_string(identity->preambleNeed));
      Say("device_id " + std::to_string(deviceId));
      Json()["manufacturer"] = id.manufacturer;
      Json()["device_type"] = id.deviceType;
      Json()["request_preambles"] = identity->preambleNeed;
      Json()["device_id"] = static_cast<qint64>(deviceId);
      Summary("device_id " + std::to_string(deviceId));
    } else if (inv_.action == "vars") {
      const std::string what = HartCommand(hart::kReadDynamicVariables);
      const auto answer = AskHart(HartLongFrame(kHartPreambles, hart::kPrimaryMaster, id, hart::kReadDynamicVariables),
                                  what, "no answer to " + what);
      if (!answer) return;
      const auto variables = ReadDynamicVariables(Frame(*answer), Searched(*answer), Held(*answer));
      if (!variables || variables->empty())
        return Fail(kModuleFailed, "the reply to " + what + " holds " + std::to_string(answer->data.size()) +
                                       " data bytes, too few for a variable");
      QJsonArray array;
      for (size_t v = 0; v < variables->size(); ++v) {
        const DynamicVariable &var = (*variables)[v];
        const std::string value = DynamicValueText(var.value);
        const char *unit = UnitName(UnitPosition(var.unitCode));
        Say("variable" + std::to_string(v + 1) + " " + value + " " + unit);
        array.append(QJsonObject{{"value", QString::fromStdString(value)},
                                 {"unit", QString::fromUtf8(unit)},
                                 {"unit_code", var.unitCode}});
      }
      Json()["variables"] = array;
      Summary(std::to_string(variables->size()) + " variables");
    } else {  // address
      const std::string what = HartCommand(hart::kWritePollingAddress);
      const auto answer = AskHart(
          HartLongFrame(kHartPreambles, hart::kPrimaryMaster, id, hart::kWritePollingAddress, {static_cast<uint8_t>(inv_.number)}),
          what, "no answer to " + what);
      if (!answer) return;
      // Set is what the instrument reports back, not what was asked.
      if (answer->data.empty() || answer->data[0] != inv_.number)
        return Fail(kModuleFailed, "the instrument answers " + what + " with " +
                                       (answer->data.empty() ? std::string("no polling address")
                                                             : "polling address " + std::to_string(answer->data[0])) +
                                       ", not " + std::to_string(inv_.number));
      Say("polling address set to " + std::to_string(inv_.number));
      Summary(result_.lines.back());
      Json()["polling_address"] = inv_.number;
    }
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

 private:
  const Invocation &inv_;
  PortResult &result_;
  std::unique_ptr<ModuleLine> line_;
  std::vector<uint8_t> hartReply_;
  uint8_t lastDeviceStatus_ = 0;  // of the last HART reply with data
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

void TakeHart(Invocation &inv, const std::vector<std::string> &rest, const std::map<std::string, std::string> &options) {
  if (rest.empty()) throw UsageError("hart needs identity, info, status, vars, address N or raw HEX");
  inv.action = rest[0];
  const auto polling = options.find("polling");
  const bool polls = inv.action == "identity" || inv.action == "info" || inv.action == "status";
  if (polling != options.end() && !polls) throw UsageError("--polling goes with hart identity, info and status only");
  if (polls) {
    if (rest.size() != 1) throw UsageError("hart " + inv.action + " takes only --polling N");
    if (polling != options.end()) inv.pollingAddress = NumberArgument("--polling", polling->second, 0, 15);
  } else if (inv.action == "vars") {
    if (rest.size() != 1) throw UsageError("hart vars takes no arguments");
  } else if (inv.action == "address") {
    if (rest.size() != 2) throw UsageError("hart address needs N");
    inv.number = NumberArgument("hart address", rest[1], 0, 15);
  } else if (inv.action == "raw") {
    if (rest.size() != 2) throw UsageError("hart raw needs the frame's body in hexadecimal, as \"02 80 00 00\"");
    // Exactly what was typed goes out, or nothing: every character counts.
    const TypedHex body = ParseTypedHex(rest[1], rest[1].size());  // a text holds fewer bytes than characters
    if (!body.error.empty()) throw UsageError("hart raw: \"" + rest[1] + "\": " + body.error);
    if (body.bytes.size() > kMaxRequestBody)
      throw UsageError("hart raw: " + std::to_string(body.bytes.size()) + " bytes; a HART request holds at most " +
                       std::to_string(kMaxRequestBody) + " before its checksum");
    const std::string problem = TypedRequestProblem(body.bytes);
    if (!problem.empty()) throw UsageError("hart raw: \"" + rest[1] + "\": " + problem);
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

Completion AHartAction(const std::vector<std::string> &args, const std::string &) {
  if (!args.empty()) return {};
  return {{"identity", "info", "status", "vars", "address", "raw"}};
}

Completion AModbusAction(const std::vector<std::string> &args, const std::string &) {
  if (!args.empty()) return {};
  return {{"read"}};
}

std::vector<std::string> FormatNames() { return RegisterFormats(); }

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
       [](Session &s) { s.Info(); }, nullptr},
      {"get", "", "the module's settings (system and MODBUS side of meter 0)", {}, TakeNothing, Nothing,
       [](Session &s) { s.Get(); }, nullptr},
      {"set", "NAME=VALUE ...", "writes settings, reads them back and compares", {}, TakeSet, ASetting,
       [](Session &s) { s.Change(); }, nullptr},
      {"save", "FILE", "all readable settings to a JSON file", {}, TakeSave, AFile, [](Session &s) { s.Save(); },
       nullptr},
      {"apply", "FILE", "what differs from FILE, the RS485 line last; then reads back", {}, TakeApply, AFile,
       [](Session &s) { s.Change(); }, nullptr},
      {"hart", "identity | info | status [--polling N] | vars | address N | raw \"02 80 00 00\"",
       "HART to the instrument behind the module: identity, all it reads (info), status, commands 3 and 6, or any frame",
       {{"polling", "N", "hart identity, info and status: the instrument's polling address (0)"}}, TakeHart, AHartAction,
       [](Session &s) { s.Hart(); }, nullptr},
      {"modbus", "read [--slave N] [--start A] [--count C] [--format F]",
       "holding registers of the module's MODBUS side, the map's pairs decoded",
       {{"slave", "N", "modbus read: the slave address (the module's own)"},
        {"start", "A", "modbus read: the first register (0)"},
        {"count", "C", "modbus read: how many registers (10)"},
        {"format", "F", "modbus read: how the pairs are read (the module's data formats)", FormatNames}},
       TakeModbus, AModbusAction, [](Session &s) { s.ModbusRead(); }, nullptr},
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

PortResult RunOnPort(const Invocation &inv, const QString &port, const std::function<void(const std::string &)> &trace) {
  PortResult result;
  result.port = port;
  Session session(inv, result, trace);
  try {
    const CommandSpec *command = FindCommand(inv.command);
    if (command && command->onPort && session.Open()) command->onPort(session);
  } catch (const std::exception &e) {
    session.Fail(kModuleFailed, std::string("stopped: ") + e.what());
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

std::optional<Settings> ReadSettingsFile(const std::string &path, std::string *error) {
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
  if (root.value("format").toString() != kFileFormat) {
    *error = path + ": not a settings file of rq735ctl (its \"format\" is not \"" + kFileFormat + "\")";
    return std::nullopt;
  }
  if (root.value("version").toInt(-1) != kFileVersion) {
    *error = path + ": format version " + std::to_string(root.value("version").toInt(-1)) + ", this rq735ctl reads " +
             std::to_string(kFileVersion);
    return std::nullopt;
  }
  if (!root.value("settings").isObject()) {
    *error = path + ": no \"settings\" object";
    return std::nullopt;
  }
  Settings out;
  const QJsonObject settings = root.value("settings").toObject();
  for (auto it = settings.begin(); it != settings.end(); ++it) {
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
