#include "ctl/module_line.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

#include "protocol/line_decoder.h"
#include "serial/open_failure.h"
#include "serial/tcomm.h"

ModuleLine::ModuleLine(LineOptions options, std::function<void(const std::string &)> trace)
    : options_(std::move(options)), trace_(std::move(trace)), started_(std::chrono::steady_clock::now()) {}

ModuleLine::~ModuleLine() { Close(); }

void ModuleLine::Open() {
  comm_ = std::make_unique<TComm>();
  comm_->SetCommName(options_.port);
  comm_->SetBaudRate(options_.baud);
  comm_->SetParity(options_.parity);
  comm_->SetOutx_XonXoffFlow(false);
  comm_->SetInx_XonXoffFlow(false);
  comm_->SetDtrControl(options_.dtr ? TDtrControl::DtrEnable : TDtrControl::DtrDisable);
  comm_->SetRtsControl(options_.rts ? TRtsControl::RtsEnable : TRtsControl::RtsDisable);
  comm_->SetRs485(options_.rs485);
  comm_->SetReadIntervalTimeout(TComm::kNoIntervalWait);  // the exchange times the silence itself
  comm_->OnReceiveData = [this](TComm *, const uint8_t *buffer, uint16_t length) {
    arrived_.insert(arrived_.end(), buffer, buffer + length);
    if (waiting_) waiting_->quit();
  };
  comm_->OnRequestHangup = [this](TComm *comm) {
    if (!lost_) lostError_ = comm->HangupError();
    lost_ = true;
    if (waiting_) waiting_->quit();
  };
  lost_ = false;
  comm_->OpenPort();
}

std::string ModuleLine::LostReason() const { return HangupReason(lostError_); }

void ModuleLine::Close() {
  if (comm_) comm_->ClosePort();
  comm_.reset();
}

void ModuleLine::Reopen(uint32_t baud, TParity parity) {
  options_.baud = baud;
  options_.parity = parity;
  // A device server's port is set on the open connection: a new one might find the server still
  // letting go of its port after the old.
  if (comm_ && comm_->IsOpen() && !lost_ && options_.port.startsWith(QStringLiteral("rfc2217://"))) {
    comm_->SetLine(baud, parity);
    return;
  }
  Close();
  Open();
}

void ModuleLine::Trace(LineDirection direction, const uint8_t *bytes, size_t count) {
  if (!trace_) return;
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started_).count();
  char head[96];
  std::snprintf(head, sizeof head, "%10.1f ms %s ", ms, direction == LineDirection::Sent ? "->" : "<-");
  trace_(head + TraceText(bytes, count, direction));
}

void ModuleLine::Dropped(const std::vector<uint8_t> &bytes) {
  if (!trace_ || bytes.empty()) return;
  Trace(LineDirection::Received, bytes.data(), bytes.size());
  trace_("      dropped: " + std::to_string(bytes.size()) + " bytes that belong to no reply");
}

void ModuleLine::DropLateBytes() {
  QCoreApplication::processEvents();  // what the read worker has handed over by now
  Dropped(arrived_);
  arrived_.clear();
}

void ModuleLine::Send(const std::vector<uint8_t> &request) {
  if (!comm_) return;
  DropLateBytes();
  Trace(LineDirection::Sent, request.data(), request.size());
  comm_->WriteData(request.data(), static_cast<uint16_t>(request.size()));
}

std::optional<std::vector<uint8_t>> ModuleLine::Exchange(const std::vector<uint8_t> &request, ReplyEnd end) {
  if (!comm_ || lost_) return std::nullopt;
  Send(request);
  QEventLoop loop;
  QTimer wait;  // for the reply to begin, then for the silence after its last byte
  wait.setSingleShot(true);
  wait.setTimerType(Qt::PreciseTimer);
  QObject::connect(&wait, &QTimer::timeout, &loop, &QEventLoop::quit);
  wait.start(options_.timeout);
  waiting_ = &loop;
  std::vector<uint8_t> reply;
  size_t whole = 0;
  for (;;) {
    if (!arrived_.empty()) {
      reply.insert(reply.end(), arrived_.begin(), arrived_.end());
      arrived_.clear();
      whole = end ? end(reply.data(), reply.size()) : 0;
      // A reply that never falls silent ends where TComm's own delivery would have.
      if (whole > 0 || reply.size() >= static_cast<size_t>(TComm::kReadBufferSize)) break;
      wait.start(kSilence);
    }
    if (lost_ || !wait.isActive()) break;
    loop.exec();
  }
  waiting_ = nullptr;
  if (reply.empty()) return std::nullopt;
  std::vector<uint8_t> after;
  if (whole > 0 && whole < reply.size()) {
    after.assign(reply.begin() + static_cast<std::ptrdiff_t>(whole), reply.end());
    reply.resize(whole);
  }
  Trace(LineDirection::Received, reply.data(), reply.size());
  Dropped(after);
  return reply;
}

void ModuleLine::Idle(std::chrono::milliseconds time) {
  if (!comm_ || lost_) return;
  QEventLoop loop;
  QTimer::singleShot(time, &loop, &QEventLoop::quit);
  waiting_ = &loop;
  loop.exec();
  waiting_ = nullptr;
}

std::optional<std::vector<uint8_t>> ModuleLine::Exchange(const std::string &request, ReplyEnd end) {
  return Exchange(std::vector<uint8_t>(request.begin(), request.end()), end);
}
