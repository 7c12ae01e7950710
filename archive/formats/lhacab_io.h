// What the LHA, cabinet, MS-DOS compress, UUE and ZOO member sources share: the archive file
// read at explicit positions, and the sink a decoder hands its bytes to, with the cancel flag
// looked at between blocks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/common/arvStreams.h"

// An archive file opened for reading at explicit positions; Open() false when it cannot be.
class TSourceFile {
 public:
  explicit TSourceFile(const std::string& hostPath)
      : FStream(
            std::make_unique<TFileStream32>(hostPath, host::fmOpenRead | host::fmShareDenyNone)) {
    if (FStream->Handle() < 0) {
      FStream.reset();
    } else {
      FSize = FStream->GetSize();
    }
  }
  bool Open() const { return FStream != nullptr; }
  int64_t Size() const { return FSize; }
  // Up to `count` bytes at `position`; fewer only at the end of the file or on a failed read.
  size_t ReadAt(int64_t position, void* buffer, size_t count) {
    if (!FStream || position < 0 || position >= FSize) return 0;
    size_t done = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (done < count) {
      const auto piece = static_cast<int32_t>(std::min<size_t>(count - done, 1 << 30));
      const int32_t got = FStream->ReadAt(position + static_cast<int64_t>(done), out + done, piece);
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    return done;
  }

 private:
  std::unique_ptr<TFileStream32> FStream;
  int64_t FSize = 0;
};

inline bool SourceCancelled(const uint8_t* cancel) {
  return cancel != nullptr && *cancel != 0;
}
