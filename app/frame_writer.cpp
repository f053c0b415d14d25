#include "app/frame_writer.h"

#include <QLineEdit>
#include <QPlainTextEdit>

#include <algorithm>

#include "app/list_positions.h"
#include "app/main_window.h"
#include "protocol/hex.h"
#include "ui_main_window.h"

FrameWriter::FrameWriter(TForm1 &form) : form_(form) {
  form_.ui()->Edit8->clear();
  form_.ui()->Memo10->clear();
}

void FrameWriter::Append(const uint8_t *bytes, size_t count) {
  const int at = length_;
  length_ += static_cast<int>(count);
  if (!form_.Cycle().Transmit().Write(at, bytes, count)) refused_.TooLong(length_);
}

FrameWriter &FrameWriter::Text(std::string_view text) {
  Append(reinterpret_cast<const uint8_t *>(text.data()), text.size());
  return *this;
}

FrameWriter &FrameWriter::Byte(uint8_t byte) {
  Append(&byte, 1);
  return *this;
}

FrameWriter &FrameWriter::Bytes(const std::vector<uint8_t> &bytes) {
  Append(bytes.data(), bytes.size());
  return *this;
}

FrameWriter &FrameWriter::Frame(const ModuleFrame &frame, const std::vector<Field> &fields) {
  for (const FieldProblem &problem : frame.problems) {
    const Field &field = fields.at(std::min(problem.field, fields.size() - 1));
    if (field.list)
      refused_.NoSelection(field.name);
    else
      refused_.OutOfRange(field.name, problem.value, problem.low, problem.high);
  }
  return Text(frame.bytes);
}

int FrameWriter::PositionOf(const QComboBox *list, const QString &field) {
  const int position = ItemIndex(list);
  if (position >= 0) return position;
  refused_.NoSelection(field);
  return 0;
}

const uint8_t *FrameWriter::Data() const { return form_.Cycle().Transmit().Data(); }

void FrameWriter::WriteAsText() {
  refused_.RaiseIfAny();
  form_.ui()->Edit8->setText(QString::fromLatin1(reinterpret_cast<const char *>(Data()), length_));
  form_.WriteToLine(Data(), static_cast<size_t>(length_));
}

void FrameWriter::WriteAsHex() {
  refused_.RaiseIfAny();
  form_.ui()->Edit8->setText(QString::fromStdString(BytesToHexPairs(Data(), static_cast<size_t>(length_))));
  form_.WriteToLine(Data(), static_cast<size_t>(length_));
}

void FrameWriter::SendAsText(Pending::Code awaited, Timeout::Kind report) {
  WriteAsText();
  form_.Cycle().Await(awaited, report);
}

void FrameWriter::SendAsHex(Pending::Code awaited, Timeout::Kind report) {
  WriteAsHex();
  form_.Cycle().Await(awaited, report);
}
