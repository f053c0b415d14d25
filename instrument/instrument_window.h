// The instrument window: a HART communicator beside the main window, built the first time it is
// opened. "Read" fills the instrument's identity and every setting its revision has; "Write" sends
// the settings changed since, checked first, then reads them back and marks each field; the loop
// test fixes the loop current and always leaves fixed current mode when it ends (its button, the
// window closing, the port closing); eight lamps show the device status of the last reply.
// It talks through the main window's request cycle, one request at a time (HartLink).
#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/hart_reply.h"
#include "protocol/hart_settings.h"

class HartLink;
class QLabel;
class QLineEdit;
class QPushButton;
class TForm1;

class InstrumentWindow : public QWidget {
  Q_OBJECT

 public:
  explicit InstrumentWindow(TForm1 &form);
  ~InstrumentWindow() override;

  // Nothing is being sent or waits to be sent.
  bool Idle() const;
  // The loop current as the panel knows it.
  enum class Loop { Following, Fixed, MayBeFixed };
  Loop LoopState() const { return loop_; }

 protected:
  void closeEvent(QCloseEvent *event) override;

 private:
  struct Row {
    const HartSettingSpec *spec = nullptr;
    QLineEdit *edit = nullptr;
    QLabel *outcome = nullptr;
  };
  enum class Mark { None, Written, Equal, Refused, Other };
  // What became of a setting a write carried.
  struct WriteResult {
    bool taken = false;
    std::string note;   // the refusal, or the warning the instrument gave with its data
    std::string typed;  // kept in the field when refused
  };

  void Read();
  void Write();
  // Command 0 at the polling address, then every read the revision has and the loop current;
  // `after` runs once all are answered.
  void QueueRead(int chain, std::function<void()> after);
  void FinishRead();
  void MarkWrites(const HartValues &wanted, const std::vector<HartSettingId> &equal);
  void FixCurrent(double milliamperes);
  void EndTest();
  void QueueLeave();
  void QueueLoopCurrentRead(int chain);
  // Runs before the port closes: leaves fixed current mode while it can still be sent.
  void PortClosing();

  void ShowIdentity();
  void ShowValues(const HartValues &values);
  void SetMark(Row &row, Mark mark, const QString &text);
  void ShowDeviceStatus(uint8_t status);
  void ShowLoop();
  void UpdateControls();
  void Status(const QString &text, bool trouble = false);
  // The request for `command` to the instrument read last, or nothing with the reason shown.
  std::optional<std::vector<uint8_t>> Request(uint8_t command, const std::vector<uint8_t> &data = {});
  static std::string What(uint8_t command);
  Row *RowOf(HartSettingId id);

  TForm1 &form_;
  HartLink *link_;
  int chain_ = 0;  // the chain whose answers count; a newer one makes older answers stale

  std::optional<IdentityReply> instrument_;
  // Where command 0 is asked: where the instrument last answered it or was moved to; before that,
  // where the main window's identity query went.
  uint8_t PollingAddress() const;
  std::optional<uint8_t> pollingAddress_;
  HartValues held_;             // what was last read
  HartValues reading_;          // the read under way
  std::map<HartSettingId, WriteResult> written_;

  Loop loop_ = Loop::Following;
  float fixedAt_ = 0;  // mA, while fixed
  std::string loopWhy_;  // why it may still be fixed
  std::optional<uint8_t> deviceStatus_;

  QPushButton *read_;
  QPushButton *write_;
  std::array<QLineEdit *, 4> identity_{};
  std::vector<Row> rows_;
  std::vector<QPushButton *> loopButtons_;  // 4, 12, 20 mA and "Fix"
  QLineEdit *loopValue_;
  QPushButton *endTest_;
  QLabel *reported_;
  QLabel *banner_;
  std::array<QLabel *, 8> lamps_{};
  QLabel *status_;
};
