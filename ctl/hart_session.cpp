#include "ctl/hart_session.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "ctl/port_session.h"
#include "protocol/config_frame.h"
#include "protocol/frame_end.h"
#include "protocol/hart.h"
#include "protocol/hart_answer.h"
#include "protocol/hart_codes.h"
#include "protocol/hart_commands.h"
#include "protocol/hart_reply.h"
#include "protocol/hart_settings.h"
#include "protocol/hex.h"
#include "protocol/line_decoder.h"

namespace {

constexpr int kHartPreambles = 7;  // the window's default "Preamble Length" of 6, plus one
constexpr unsigned long kBusyPauseMs = 250;  // before a busy instrument is asked again

const char *kHartNeedsTransparent =
    "no HART answer: the module passes HART through only in its transparent working mode "
    "(rq735ctl --port PORT set working_mode=transparent)";

constexpr const char *kHartFileFormat = "rq735ctl instrument settings";
constexpr int kHartFileVersion = 1;

std::atomic<int> stopSignal{0};  // the first SIGINT or SIGTERM that came, once they are watched
std::mutex liveOutput;

bool StopRequested() { return stopSignal.load() != 0; }
std::string StopSignalName() { return stopSignal.load() == SIGTERM ? "SIGTERM" : "SIGINT"; }

// Waits for a line on standard input; false when it ended or `stopWaiting` says so. `idle` passes
// the time between looks.
bool WaitForEnter(const std::function<bool()> &stopWaiting, const std::function<void()> &idle) {
  for (;;) {
    if (stopWaiting()) return false;
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&in, 1, 0);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) {
      idle();
      continue;
    }
    char c = 0;
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return false;
    if (n == 1 && c == '\n') return true;
  }
}

class HartSession : public PortSession {
 public:
  using PortSession::PortSession;

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
  // out, or the instrument did not answer with data. `hartReply_` keeps the last reply's bytes and
  // `lastAnswer_` what was made of them; a refusal is left to the caller to tell unless `tellRefusal`.
  std::optional<HartAnswer> AskHart(const std::vector<uint8_t> &request, const std::string &what, const std::string &silent,
                                    bool tellRefusal = true) {
    hartReply_.clear();
    lastAnswer_ = HartAnswer{};
    for (int attempt = 0;; ++attempt) {
      const auto reply = line_->Exchange(request, HartReplyEnd);
      if (!reply) {
        Fail(kModuleFailed, line_->Lost() ? "no answer to " + what + " (the port went away: " + line_->LostReason() + ")" : silent);
        return std::nullopt;
      }
      hartReply_ = *reply;
      HartAnswer answer = CheckHartAnswer(request, reply->data(), reply->size());
      lastAnswer_ = answer;
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
          if (tellRefusal) Fail(kModuleFailed, "the instrument refused " + what + ": response code " + answer.Reason());
          else result_.status = std::max(result_.status, static_cast<int>(kModuleFailed));
          break;
      }
      return std::nullopt;
    }
  }

  // The reply frame of a checked answer, without its checksum, for the readers of its fields.
  const uint8_t *Frame(const HartAnswer &answer) const { return hartReply_.data() + answer.start; }
  static int Held(const HartAnswer &answer) { return static_cast<int>(answer.length) - 1; }
  static int Searched(const HartAnswer &answer) { return std::min(Held(answer), kReplyTextMax); }

  static std::string HartCommand(int command) { return "HART command " + std::to_string(command); }

  // Command 0 at the polling address asked; `data`, when given, gets all its reply holds.
  std::optional<IdentityReply> QueryIdentity(std::vector<uint8_t> *data = nullptr, std::optional<int> polling = std::nullopt) {
    const auto address = static_cast<uint8_t>(polling.value_or(inv_.pollingAddress));
    const auto answer = AskHart(HartShortFrame(kHartPreambles, hart::kPrimaryMaster, address, hart::kReadUniqueIdentifier),
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
    const std::string text = HartFloatText(value);
    const QJsonValue number = FloatJson(value);
    if (!unit) return Tell(json, name, text, number);
    Tell(json, name, text + " " + UnitCodeName(*unit),
         QJsonObject{{"value", number}, {"unit", QString::fromStdString(UnitCodeName(*unit))}, {"unit_code", *unit}});
  }
  void TellUnit(QJsonObject &json, const std::string &name, uint8_t unit) {
    Tell(json, name, UnitCodeName(unit), QString::fromStdString(UnitCodeName(unit)));
    json[QString::fromStdString(name + "_code")] = unit;
  }
  // "HART command 18 (write tag, descriptor, date)"
  static std::string NamedCommand(uint8_t command) {
    const char *name = hart::CommandName(command);
    return HartCommand(command) + (*name ? std::string(" (") + name + ")" : std::string());
  }
  // The data of the reply to `command`, or nothing with the failure told (a refusal only when
  // `tellRefusal`); `stop` is set when the instrument is gone, so that nothing further waits for it.
  std::optional<std::vector<uint8_t>> Ask(const IdentityReply &instrument, uint8_t command, bool *stop,
                                          const std::vector<uint8_t> &data = {}, bool tellRefusal = true) {
    const std::string what = NamedCommand(command);
    const HartRequest request = BuildHartRequest(instrument, command, data);
    if (!request.problem.empty()) {
      Fail(kModuleFailed, request.problem);
      return std::nullopt;
    }
    const auto answer = AskHart(request.frame, what, "no answer to " + what, tellRefusal);
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
    if (const auto d = Ask(instrument, hart::kReadPrimaryVariable, &stop))
      if (const auto pv = Parsed(ParsePrimaryVariable(*d, &problem), hart::kReadPrimaryVariable, problem))
        TellFloat(json, "primary_variable", pv->value, pv->unit);
    if (!stop)
      if (const auto d = Ask(instrument, hart::kReadLoopCurrentAndPercent, &stop))
        if (const auto loop = Parsed(ParseLoopCurrent(*d, &problem), hart::kReadLoopCurrentAndPercent, problem)) {
          TellFloat(json, "loop_current", loop->milliamperes, hart::kUnitMilliampere);
          TellFloat(json, "percent_of_range", loop->percentOfRange, hart::kUnitPercent);
        }
    if (!stop)
      if (const auto d = Ask(instrument, hart::kReadMessage, &stop))
        if (const auto message = Parsed(ParseMessage(*d, &problem), hart::kReadMessage, problem))
          TellText(json, "message", *message);
    if (!stop)
      if (const auto d = Ask(instrument, hart::kReadTagDescriptorDate, &stop))
        if (const auto tdd = Parsed(ParseTagDescriptorDate(*d, &problem), hart::kReadTagDescriptorDate, problem)) {
          TellText(json, "tag", tdd->tag);
          TellText(json, "descriptor", tdd->descriptor);
          TellText(json, "date", IsoDateText(tdd->date));
          const std::string dateProblem = DateProblem(tdd->date);
          if (!dateProblem.empty()) Warn("the instrument's date is not a day of the calendar: " + dateProblem);
        }
    if (!stop)
      if (const auto d = Ask(instrument, hart::kReadTransducerInformation, &stop))
        if (const auto t = Parsed(ParseTransducerInformation(*d, &problem), hart::kReadTransducerInformation, problem)) {
          TellNumber(json, "sensor_serial_number", t->serialNumber);
          TellFloat(json, "upper_sensor_limit", t->upperLimit, t->unit);
          TellFloat(json, "lower_sensor_limit", t->lowerLimit, t->unit);
          TellFloat(json, "minimum_span", t->minimumSpan, t->unit);
        }
    if (!stop)
      if (const auto d = Ask(instrument, hart::kReadDeviceInformation, &stop))
        if (const auto info = Parsed(ParseDeviceInformation(*d, &problem), hart::kReadDeviceInformation, problem)) {
          TellNumber(json, "alarm_selection", info->alarmSelection);
          TellNumber(json, "transfer_function", info->transferFunction);
          TellUnit(json, "pv_units", info->rangeUnit);
          // The range values are in the range unit: the text says it, the JSON has it in pv_units.
          const std::string unit = " " + UnitCodeName(info->rangeUnit);
          Tell(json, "lower_range", HartFloatText(info->lowerRange) + unit, FloatJson(info->lowerRange));
          Tell(json, "upper_range", HartFloatText(info->upperRange) + unit, FloatJson(info->upperRange));
          Tell(json, "damping", HartFloatText(info->damping) + " s", FloatJson(info->damping));
          const char *protect = info->writeProtect == hart::kWriteProtected      ? "yes"
                                : info->writeProtect == hart::kNotWriteProtected ? "no"
                                                                                 : nullptr;
          if (protect) TellText(json, "write_protect", protect);
          else TellNumber(json, "write_protect", info->writeProtect);
          TellNumber(json, "private_label_distributor", info->privateLabelDistributor);
          if (info->analogChannelFlags) TellNumber(json, "analog_channel_flags", *info->analogChannelFlags);
        }
    if (!stop)
      if (const auto d = Ask(instrument, hart::kReadFinalAssemblyNumber, &stop))
        if (const auto number = Parsed(ParseFinalAssemblyNumber(*d, &problem), hart::kReadFinalAssemblyNumber, problem))
          TellNumber(json, "final_assembly", *number);
    if (!stop && revision >= LeastUniversalRevision(hart::kReadLongTag))
      if (const auto d = Ask(instrument, hart::kReadLongTag, &stop))
        if (const auto longTag = Parsed(ParseLongTag(*d, &problem), hart::kReadLongTag, problem))
          TellText(json, "long_tag", *longTag);
    if (!stop && revision >= LeastUniversalRevision(hart::kReadDeviceVariablesWithStatus)) {
      const HartRequestData asked = DeviceVariablesRequest(
          {hart::kPrimaryVariableCode, hart::kSecondaryVariableCode, hart::kTertiaryVariableCode,
           hart::kQuaternaryVariableCode},
          revision);
      if (!asked.problem.empty()) {
        Fail(kModuleFailed, asked.problem);
      } else if (const auto d = Ask(instrument, hart::kReadDeviceVariablesWithStatus, &stop, asked.data)) {
        if (const auto vars = Parsed(ParseDeviceVariables(*d, &problem), hart::kReadDeviceVariablesWithStatus, problem)) {
          QJsonArray array;
          for (const HartDeviceVariable &v : vars->variables) {
            const std::string quality = QualityText(v.status);
            Say("device_variable " + std::to_string(v.code) + " " + HartFloatText(v.value) + " " + UnitCodeName(v.unit) + " " +
                quality);
            array.append(QJsonObject{{"code", v.code},
                                     {"classification", v.classification},
                                     {"value", FloatJson(v.value)},
                                     {"unit", QString::fromStdString(UnitCodeName(v.unit))},
                                     {"unit_code", v.unit},
                                     {"quality", QString::fromStdString(quality)},
                                     {"status", v.status}});
          }
          json["device_variables"] = array;
        }
      }
    }
    if (!stop)
      if (const auto d = Ask(instrument, hart::kReadAdditionalDeviceStatus, &stop))
        if (const auto bytes = Parsed(ParseAdditionalDeviceStatus(*d, &problem), hart::kReadAdditionalDeviceStatus, problem))
          TellText(json, "additional_status", HexRun(bytes->data(), bytes->size()));
    Json()["instrument"] = json;
    const QJsonValue tag = json.value("tag");
    Summary((tag.isString() ? "tag " + tag.toString().toStdString() + ", " : std::string()) +
            std::to_string(json.size()) + " values" + (result_.errors.empty() ? "" : ", not all read"));
  }

  static QJsonValue FloatJson(float value) {
    return std::isfinite(value) ? QJsonValue(QString::fromStdString(HartFloatText(value)).toDouble()) : QJsonValue();
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
    const auto d = Ask(instrument, hart::kReadAdditionalDeviceStatus, &stop);
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

  // Every setting the instrument's revision has, read after command 0 at `polling`; nothing, with
  // the failure told, when a read fails.
  std::optional<HartValues> ReadValues(const IdentityReply &instrument, const std::vector<uint8_t> &identityData,
                                       int polling) {
    HartValues values;
    TakeIdentity(instrument, identityData, static_cast<uint8_t>(polling), &values);
    bool stop = false;
    for (const uint8_t command : HartSettingReads(instrument.universalRevision)) {
      const auto data = Ask(instrument, command, &stop);
      if (!data) return std::nullopt;
      std::string problem;
      if (!TakeHartReply(command, *data, &values, &problem)) {
        Fail(kModuleFailed, "the reply to " + NamedCommand(command) + ": " + problem);
        return std::nullopt;
      }
    }
    return values;
  }

  enum class Written { Written, Equal, Refused, NotWritten };
  static const char *WrittenText(Written w) {
    switch (w) {
      case Written::Written: return "written";
      case Written::Equal: return "already equal";
      case Written::Refused: return "refused";
      case Written::NotWritten: break;
    }
    return "not written";
  }

  // hart set and hart apply: the frames whose values differ, each reply's echo taken, then
  // everything read back and compared. Nothing is called written that was not read back.
  void HartChange(const IdentityReply &instrument, const std::vector<uint8_t> &identityData) {
    const HartValues &wanted = inv_.hartWanted;
    const auto held = ReadValues(instrument, identityData, inv_.pollingAddress);
    if (!held) return;
    const HartWritePlan plan = PlanHartWrites(*held, wanted, instrument.universalRevision);
    // Why a setting was refused: the response code named, or what kept its frame from going.
    std::map<HartSettingId, std::string> refused;
    for (const std::string &problem : plan.problems) {
      const HartSettingSpec *spec = FindHartSetting(problem.substr(0, problem.find(':')));
      if (spec && wanted.count(spec->name))
        refused[spec->id] = "not sent: " + problem.substr(problem.find(':') + 2);
      else
        Fail(kModuleFailed, "not sent: " + problem);
    }
    HartValues echoed;
    bool stop = false;
    for (const HartWrite &write : plan.writes) {
      if (stop) break;
      const auto data = Ask(instrument, write.command, &stop, write.data, false);
      if (!data) {
        if (lastAnswer_.verdict == HartVerdict::Refused)
          for (const HartSettingId id : write.carries) refused[id] = "response code " + lastAnswer_.Reason();
        continue;
      }
      std::string problem;
      if (!TakeHartReply(write.command, *data, &echoed, &problem))
        Fail(kModuleFailed, "the reply to " + NamedCommand(write.command) + ": " + problem);
    }
    std::optional<HartValues> after = *held;
    if (stop) {
      after.reset();
    } else if (!plan.writes.empty()) {
      // The polling address it now answers at, if that was written.
      const auto polling = echoed.find(HartSetting(HartSettingId::PollingAddress).name);
      const int address = polling == echoed.end() ? inv_.pollingAddress : std::stoi(polling->second);
      std::vector<uint8_t> data;
      const auto again = QueryIdentity(&data, address);
      after = again ? ReadValues(*again, data, address) : std::nullopt;
      // What no read gives back (the reply preambles before revision 6): the write's echo.
      if (after)
        for (const auto &[name, value] : echoed) after->emplace(name, value);
    }

    QJsonObject report;
    int written = 0, equal = 0, notWritten = 0;
    for (const HartSettingSpec &spec : HartSettings()) {
      const auto w = wanted.find(spec.name);
      if (w == wanted.end()) continue;
      Written outcome = Written::NotWritten;
      std::string line = spec.name + std::string(" = ") + w->second + ": ";
      const auto now = after ? after->find(spec.name) : HartValues::const_iterator();
      const bool known = after && now != after->end();
      if (std::find(plan.equal.begin(), plan.equal.end(), spec.id) != plan.equal.end()) {
        outcome = Written::Equal;
      } else if (refused.count(spec.id)) {
        outcome = Written::Refused;
      } else if (known && HartValueEqual(spec, w->second, now->second)) {
        outcome = Written::Written;
      }
      line += WrittenText(outcome);
      if (outcome == Written::Refused) line += " (" + refused[spec.id] + ")";
      if (outcome == Written::NotWritten && known) line += " (the instrument holds " + now->second + ")";
      if (outcome == Written::NotWritten && !after) line += " (not read back)";
      Say(line);
      report[QString::fromUtf8(spec.name)] = QString::fromUtf8(WrittenText(outcome));
      (outcome == Written::Written ? written : outcome == Written::Equal ? equal : notWritten)++;
    }
    Say(std::to_string(written) + " written, " + std::to_string(equal) + " already equal, " +
        std::to_string(notWritten) + " not written");
    Summary(result_.lines.back());
    Json()["settings"] = report;
    if (notWritten > 0) result_.status = std::max(result_.status, static_cast<int>(kModuleFailed));
  }

  // hart save: every setting read, in a file of its own kind.
  void HartSave(const IdentityReply &instrument, const std::vector<uint8_t> &identityData) {
    const auto values = ReadValues(instrument, identityData, inv_.pollingAddress);
    if (!values) return;
    QJsonObject settings;
    for (const HartSettingSpec &spec : HartSettings()) {
      const auto it = values->find(spec.name);
      if (it != values->end()) settings[QString::fromUtf8(spec.name)] = QString::fromStdString(it->second);
    }
    const HartIdentity &id = instrument.identity;
    const QJsonObject identity{{"manufacturer", id.manufacturer},
                               {"device_type", id.deviceType},
                               {"device_id", static_cast<qint64>(DeviceId(id))},
                               {"universal_revision", instrument.universalRevision}};
    const QJsonObject document{{"format", kHartFileFormat},
                               {"version", kHartFileVersion},
                               {"port", result_.port},
                               {"identity", identity},
                               {"settings", settings}};
    WriteSettingsFile(document, settings, "instrument settings");
  }

  // A line of a loop test shown as it happens (the results of one port without --json, or each
  // port's lines with its name), and kept for the end.
  void Live(const std::string &line) {
    Say(line);
    if (inv_.json) return;
    std::lock_guard<std::mutex> lock(liveOutput);
    if (inv_.ports.size() > 1) {
      std::printf("%s: %s\n", Std(result_.port).c_str(), line.c_str());
    } else {
      std::printf("%s\n", line.c_str());
      result_.printed = result_.lines.size();
    }
    std::fflush(stdout);
  }
  void Prompt(const std::string &line) {
    std::lock_guard<std::mutex> lock(liveOutput);
    std::fprintf(stderr, "%s\n", line.c_str());
  }

  static uint32_t DeviceId(const HartIdentity &id) {
    return uint32_t{id.deviceId[0]} << 16 | uint32_t{id.deviceId[1]} << 8 | id.deviceId[2];
  }

  // What happened to the loop test's wait: its time passed (or Enter came), the input ended, a
  // stop signal came or the line was lost.
  enum class Waited { Next, InputEnded, Stopped, LineLost };
  Waited WaitStep(size_t step) {
    constexpr std::chrono::milliseconds kLook{20};
    auto stopWaiting = [this] { return StopRequested() || line_->Lost(); };
    auto why = [this] { return StopRequested() ? Waited::Stopped : Waited::LineLost; };
    if (inv_.holdSeconds) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(*inv_.holdSeconds);
      while (std::chrono::steady_clock::now() < until) {
        if (stopWaiting()) return why();
        line_->Idle(kLook);
      }
      return Waited::Next;
    }
    Prompt(step + 1 < inv_.currents.size() ? "press Enter for the next step" : "press Enter to end the test");
    if (WaitForEnter(stopWaiting, [&] { line_->Idle(kLook); })) return Waited::Next;
    return stopWaiting() ? why() : Waited::InputEnded;
  }

  // The loop current the instrument reports, told live and kept for the report.
  std::optional<HartLoopCurrent> ReportedCurrent(const IdentityReply &instrument, bool *stop) {
    const auto data = Ask(instrument, hart::kReadLoopCurrentAndPercent, stop);
    std::string problem;
    const auto loop = data ? ParseLoopCurrent(*data, &problem) : std::nullopt;
    if (data && !loop) Fail(kModuleFailed, "the reply to " + NamedCommand(hart::kReadLoopCurrentAndPercent) + ": " + problem);
    return loop;
  }

  // Fixed current mode left, as the instrument's echo says; asked a few times, since the loop
  // must not stay fixed.
  bool LeaveFixedCurrent(const IdentityReply &instrument) {
    const HartRequestData leave = FixedCurrentRequest(hart::kLeaveFixedCurrent);
    for (int attempt = 0; attempt < 3; ++attempt) {
      bool stop = false;
      const auto data = Ask(instrument, hart::kEnterExitFixedCurrent, &stop, leave.data);
      if (data) {
        const auto echo = ParseFixedCurrent(*data);
        if (echo && *echo == hart::kLeaveFixedCurrent) return true;
        Fail(kModuleFailed, "the instrument answers leaving fixed current mode with " +
                                (echo ? HartFloatText(*echo) + " mA" : std::string("too few data bytes")));
      }
      if (stop && line_->Lost()) return false;  // nothing more can reach it
    }
    return false;
  }

  // hart loop-test: each current fixed in turn and what the instrument reports beside it; fixed
  // current mode is left at the end, on a stop signal and when a step fails.
  void LoopTest(const IdentityReply &instrument) {
    QJsonArray steps;
    std::string ended = "after the last step";
    bool fixed = false;
    float fixedAt = 0;
    for (size_t i = 0; i < inv_.currents.size(); ++i) {
      if (StopRequested()) {
        ended = "on " + StopSignalName();
        break;
      }
      const double current = inv_.currents[i];
      bool stop = false;
      const auto data = Ask(instrument, hart::kEnterExitFixedCurrent, &stop, FixedCurrentRequest(current).data);
      const auto echo = data ? ParseFixedCurrent(*data) : std::nullopt;
      if (data) fixed = true;
      if (!echo) {
        if (data) Fail(kModuleFailed, "the reply to " + NamedCommand(hart::kEnterExitFixedCurrent) + " holds too few data bytes");
        ended = "when step " + std::to_string(i + 1) + " failed";
        break;
      }
      fixedAt = *echo;
      const auto loop = ReportedCurrent(instrument, &stop);
      std::string line = "step " + std::to_string(i + 1) + ": fixed at " + HartFloatText(*echo) + " mA";
      QJsonObject step{{"asked", current}, {"fixed", static_cast<double>(*echo)}};
      if (loop) {
        line += "; the instrument reports " + HartFloatText(loop->milliamperes) + " mA, " +
                HartFloatText(loop->percentOfRange) + " % of range";
        step["reported"] = static_cast<double>(loop->milliamperes);
        step["percent_of_range"] = static_cast<double>(loop->percentOfRange);
      }
      Live(line);
      steps.append(step);
      if (!loop) {
        ended = "when step " + std::to_string(i + 1) + " failed";
        break;
      }
      const Waited waited = WaitStep(i);
      if (waited == Waited::Stopped) {
        ended = "on " + StopSignalName();
        break;
      }
      if (waited == Waited::LineLost) {
        Fail(kModuleFailed, "the port went away during step " + std::to_string(i + 1) + ": " + line_->LostReason());
        ended = "when the line was lost";
        break;
      }
      if (waited == Waited::InputEnded) {
        ended = "at the end of the input, after step " + std::to_string(i + 1);
        break;
      }
    }
    Json()["steps"] = steps;
    if (!fixed) {
      Say("the loop current was never fixed");
      Summary(result_.lines.back());
      return;
    }
    if (!LeaveFixedCurrent(instrument)) {
      Fail(kModuleFailed, "the loop current may still be fixed at " + HartFloatText(fixedAt) +
                              " mA: the instrument did not confirm leaving fixed current mode; check the loop");
      Json()["fixed_mode_left"] = false;
      return;
    }
    std::string line = "left fixed current mode " + ended;
    bool stop = false;
    if (const auto loop = ReportedCurrent(instrument, &stop)) line += "; the instrument reports " + HartFloatText(loop->milliamperes) + " mA";
    Live(line);
    Summary(line);
    Json()["fixed_mode_left"] = true;
    if (ended != "after the last step") Fail(kModuleFailed, "the loop test ended " + ended);
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
    if (inv_.action == "set" || inv_.action == "apply") return HartChange(*identity, identityData);
    if (inv_.action == "save") return HartSave(*identity, identityData);
    if (inv_.action == "loop-test") return LoopTest(*identity);
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

 private:
  std::vector<uint8_t> hartReply_;
  HartAnswer lastAnswer_;
  uint8_t lastDeviceStatus_ = 0;  // of the last HART reply with data
};

}  // namespace

void WatchStopSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Blocked here, before any other thread starts, so that every later thread inherits it and
    // only the watcher takes them.
    sigset_t watched;
    sigemptyset(&watched);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &watched, nullptr);
    std::thread([watched] {
      for (;;) {
        int signal = 0;
        if (sigwait(&watched, &signal) == 0 && stopSignal.load() == 0) stopSignal = signal;
      }
    }).detach();
  });
}

std::optional<HartValues> ReadHartSettingsFile(const std::string &path, std::string *error) {
  const auto settings = ReadFileSettings(path, kHartFileFormat, kHartFileVersion, error);
  if (!settings) return std::nullopt;
  HartValues values;
  for (auto it = settings->begin(); it != settings->end(); ++it) {
    const std::string name = it.key().toStdString();
    const HartSettingSpec *spec = FindHartSetting(name);
    if (!spec || !it.value().isString()) {
      *error = path + ": " + (spec ? "the value of " + name + " is not a text" : "unknown instrument setting " + name);
      return std::nullopt;
    }
    const HartValueCheck check = CheckHartValue(*spec, it.value().toString().toStdString());
    if (!check.value) {
      *error = path + ": " + check.problem;
      return std::nullopt;
    }
    values[name] = *check.value;
  }
  return values;
}

void RunHart(const Invocation &inv, PortResult &result, const Trace &trace) {
  HartSession session(inv, result, trace);
  if (session.Open()) session.Hart();
}
