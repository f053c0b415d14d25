// Handlers of the "System Parameters" page.
#include <QPushButton>

#include <cstring>

#include "app/main_window.h"
#include "protocol/config_frame.h"
#include "ui_main_window.h"

namespace {

// Writes a literal frame into the transmit area and returns its length.
int PutFrame(uint8_t *commBuffer, const char *frame) {
  const size_t n = std::strlen(frame);
  std::memcpy(commBuffer + TForm1::kFrameStart, frame, n);
  return static_cast<int>(n);
}

}  // namespace

void TForm1::ConnectSystemPage() { Bind(ui_->Button6, &QPushButton::clicked, &TForm1::Button6Click); }

void TForm1::Button6Click() {
  ui_->Edit8->clear();
  ui_->Memo10->clear();
  SendFrameAsText(PutFrame(CommBuffer, "QQQ#QV#"));
  Await(201, 1);
}

void TForm1::ParseCommunicationReply() {
  const std::string_view reply(ReplyText.constData(), static_cast<size_t>(ReplyText.size()));
  if (!FindReplyKey(reply, "QV:")) return;
  for (QPushButton *b : {ui_->Button16, ui_->Button21, ui_->Button24, ui_->Button29, ui_->Button15, ui_->Button27,
                         ui_->Button5, ui_->Button9, ui_->Button7, ui_->Button14, ui_->Button10, ui_->Button17,
                         ui_->Button18, ui_->Button12, ui_->Button31, ui_->Button23})
    b->setEnabled(true);
}

void TForm1::ParseSystemParameterReply() {}
