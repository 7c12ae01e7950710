// Fuzz harness for TDecompressStream: arbitrary bytes as a member's compressed data, read in
// pieces of varying size with seeks in between, with or without deciphering and in Deflate64 mode.
// The first byte chooses the options; output is capped so that expanding inputs stay quick. It
// checks the stream's own promises, not the decoded bytes (the inflate tests do that).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/common/arvStreams.h"
#include "archive/messages/Err_Msgs.h"

namespace {

class TMemorySource : public TStream32 {
 public:
  TMemorySource(const uint8_t* data, size_t size)
      : data_(data), size_(static_cast<int64_t>(size)) {}
  int32_t Read(void* buffer, int32_t count) override {
    const auto n = static_cast<int32_t>(std::clamp<int64_t>(size_ - pos_, 0, count));
    if (n > 0) std::memcpy(buffer, data_ + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek64(int64_t offset, int origin) override {
    const int64_t base = origin == host::kSeekBegin     ? 0
                         : origin == host::kSeekCurrent ? pos_
                                                        : size_;
    pos_ = std::clamp<int64_t>(base + offset, 0, size_);
    return pos_;
  }
  int64_t pos_ = 0;

 protected:
  bool HasSeek64() const override { return true; }

 private:
  const uint8_t* data_;
  int64_t size_;
};

constexpr uint64_t kOutputCap = 4 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t options = data[0];
  const bool deflate64 = options & 1;
  const bool decipher = options & 2;
  const bool seeks = options & 4;
  const int32_t chunk = int32_t{1} << (options >> 4);  // 1 .. 32768 bytes per read
  TMemorySource source(data + 1, size - 1);
  TZipCipher cipher;
  cipher.InitKeys("fuzz");
  {
    TDecompressStream stream(source, -15, deflate64, decipher ? &cipher : nullptr);
    std::vector<uint8_t> buffer(static_cast<size_t>(chunk));
    int round = 0;
    while (!stream.EndOfStream() && stream.TotalOut() < kOutputCap) {
      const uint64_t before = stream.TotalOut();
      const int32_t n = stream.Read(buffer.data(), chunk);
      if (n < 0) break;
      if (n != chunk) std::abort();  // a successful Read reports the count asked for
      if (stream.TotalOut() - before > static_cast<uint64_t>(chunk)) std::abort();
      ++round;
      if (seeks && round % 7 == 3) {
        try {
          stream.Seek64(1000, host::kSeekCurrent);
        } catch (const EReadError&) {  // corrupt data while discarding
          break;
        }
      }
      if (seeks && round == 5) {
        stream.Seek(0, host::kSeekBegin);
        if (stream.TotalOut() != 0) std::abort();
      }
    }
  }
  // The source stands inside its data after the stream is gone.
  if (source.pos_ < 0 || source.pos_ > static_cast<int64_t>(size - 1)) std::abort();
  return 0;
}
