// CommBuffer: the one byte buffer every request and reply passes through, in three areas. Bytes
// 0-7 are what the HART page keeps between requests, 8-511 the frame of the request being built,
// 512-915 the copy of the last delivery. Each area is reached through its own view, so that the
// offsets are written here only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The transmit area: a request's frame, its first byte at the area's start.
class TransmitView {
 public:
  static constexpr int kRoom = 504;

  // Writes `count` bytes from `at` on; false, with nothing written, when they would pass the end.
  bool Write(int at, const uint8_t *bytes, size_t count) const {
    if (at < 0 || at > kRoom || count > static_cast<size_t>(kRoom - at)) return false;
    if (count > 0) std::memcpy(area_ + at, bytes, count);
    return true;
  }
  const uint8_t *Data() const { return area_; }

 private:
  friend class CommBuffer;
  explicit TransmitView(uint8_t *area) : area_(area) {}
  uint8_t *area_;
};

// The receive copy: the first bytes of the last delivery, as many as the area holds.
class ReplyView {
 public:
  static constexpr int kRoom = 404;

  const uint8_t *Data() const { return area_; }  // kRoom bytes, the first Held() of them the delivery's
  int Held() const { return held_; }

 private:
  friend class CommBuffer;
  ReplyView(const uint8_t *area, int held) : area_(area), held_(held) {}
  const uint8_t *area_;
  int held_;
};

class CommBuffer {
 public:
  static constexpr size_t kScratchSize = 8;

  uint8_t *Scratch() { return bytes_.data(); }
  TransmitView Transmit() { return TransmitView(bytes_.data() + kFrameStart); }
  ReplyView Reply() const { return ReplyView(bytes_.data() + kReplyStart, replyHeld_); }

  // Keeps what of a delivery fits the receive area; nothing is written past it.
  void HoldReply(const uint8_t *bytes, size_t count) {
    replyHeld_ = static_cast<int>(count < size_t{ReplyView::kRoom} ? count : size_t{ReplyView::kRoom});
    if (replyHeld_ > 0) std::memcpy(bytes_.data() + kReplyStart, bytes, static_cast<size_t>(replyHeld_));
  }

 private:
  static constexpr size_t kFrameStart = kScratchSize;
  static constexpr size_t kReplyStart = kFrameStart + TransmitView::kRoom;  // 512

  std::array<uint8_t, kReplyStart + ReplyView::kRoom> bytes_{};  // 916, zero at start
  int replyHeld_ = 0;
};
