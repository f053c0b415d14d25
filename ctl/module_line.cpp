#include "ctl/module_line.h"

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
  comm_->SetDtrControl(TDtrControl::DtrDisable);
  comm_->SetRtsControl(TRtsControl::RtsDisable);
  comm_->OnReceiveData = [this](TComm *, const uint8_t *buffer, uint16_t length) {
    deliveries_.emplace_back(buffer, buffer + length);
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
  Close();
  options_.baud = baud;
  options_.parity = parity;
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

void ModuleLine::Send(const std::vector<uint8_t> &request) {
  if (!comm_) return;
  deliveries_.clear();
  Trace(LineDirection::Sent, request.data(), request.size());
  comm_->WriteData(request.data(), static_cast<uint16_t>(request.size()));
}

std::optional<std::vector<uint8_t>> ModuleLine::Exchange(const std::vector<uint8_t> &request) {
  if (!comm_ || lost_) return std::nullopt;
  Send(request);
  QEventLoop loop;
  QTimer::singleShot(options_.timeout, &loop, &QEventLoop::quit);
  waiting_ = &loop;
  if (deliveries_.empty() && !lost_) loop.exec();
  waiting_ = nullptr;
  if (deliveries_.empty()) return std::nullopt;
  std::vector<uint8_t> reply = std::move(deliveries_.front());
  deliveries_.clear();
  Trace(LineDirection::Received, reply.data(), reply.size());
  return reply;
}

std::optional<std::vector<uint8_t>> ModuleLine::Exchange(const std::string &request) {
  return Exchange(std::vector<uint8_t>(request.begin(), request.end()));
}
