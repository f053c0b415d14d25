// Bytes read where they stand, a vector's or a run inside a frame, without a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  ByteView(const std::vector<uint8_t> &bytes) : data_(bytes.data()), size_(bytes.size()) {}  // implicit: callers hand in their vectors

  const uint8_t *data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const uint8_t &operator[](size_t i) const { return data_[i]; }
  const uint8_t *begin() const { return data_; }
  const uint8_t *end() const { return data_ + size_; }

 private:
  const uint8_t *data_ = nullptr;
  size_t size_ = 0;
};
