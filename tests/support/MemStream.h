// A read-only TStream32 over bytes in memory, for tests and fuzz harnesses. It counts every byte
// read and remembers the highest position read, so a test can prove what a reader touched. It
// does not write.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "archive/common/arvStreams.h"

class TMemReadStream : public TStream32 {
 public:
  explicit TMemReadStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  TMemReadStream(const uint8_t* data, size_t size) : bytes_(data, data + size) {}

  int64_t GetSize() override { return static_cast<int64_t>(bytes_.size()); }
  int32_t Read(void* buffer, int32_t count) override {
    if (count <= 0 || position_ < 0 || position_ >= GetSize()) return 0;
    const int64_t n = std::min<int64_t>(count, GetSize() - position_);
    std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(n));
    ++reads_;
    bytesRead_ += n;
    readEnd_ = std::max(readEnd_, position_ + n);
    ranges_.emplace_back(position_, position_ + n);
    position_ += n;
    return static_cast<int32_t>(n);
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int32_t Seek(int32_t offset, int origin) override {
    return static_cast<int32_t>(Seek64(offset, origin));
  }
  int64_t Seek64(int64_t offset, int origin) override {
    int64_t target = offset;
    if (origin == host::kSeekCurrent) target = position_ + offset;
    if (origin == host::kSeekEnd) target = GetSize() + offset;
    if (target < 0) return -1;  // the position stays where it was, as a file's would
    position_ = target;
    return position_;
  }

  int64_t BytesRead() const { return bytesRead_; }
  int64_t ReadCalls() const { return reads_; }
  int64_t ReadEnd() const { return readEnd_; }  // one past the highest byte read
  // Every read as [from, to).
  const std::vector<std::pair<int64_t, int64_t>>& Ranges() const { return ranges_; }
  void ResetCounters() {
    bytesRead_ = reads_ = readEnd_ = 0;
    ranges_.clear();
  }

 protected:
  bool HasSeek64() const override { return true; }

 private:
  std::vector<uint8_t> bytes_;
  int64_t position_ = 0;
  int64_t bytesRead_ = 0, reads_ = 0, readEnd_ = 0;
  std::vector<std::pair<int64_t, int64_t>> ranges_;
};
