// The member sources of the old formats whose decoders are our own (archive/codecs/arvArj,
// arvArc, arvAce): ARJ (volume sets and self-extracting forms included), ARC and PAK, ACE (solid,
// volume sets, self-extracting), and BH (walked, its methods refused). OpenMemberSource
// dispatches to them by the archive type.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/common/arvStreams.h"
#include "archive/formats/arvMemberSource.h"

std::unique_ptr<TMemberSource> CreateArjSource(const std::string& hostPath, int64_t start,
                                               const TSourceServices& services);
// `pak`: the archive was found as PAK, whose methods 30 and 31 are no folders.
std::unique_ptr<TMemberSource> CreateArcSource(const std::string& hostPath, int64_t start,
                                               bool pak, const TSourceServices& services);
// ACE 1.0 and 2.0.
std::unique_ptr<TMemberSource> CreateAceSource(const std::string& hostPath, int64_t start,
                                               const TSourceServices& services);
// BH: members walked and named; their methods refused (Unsupported, the method named).
std::unique_ptr<TMemberSource> CreateBhSource(const std::string& hostPath, int64_t start,
                                              const TSourceServices& services);

// A member's packed bytes as TCodecIo::Read hands them to a decoder: `size` bytes from `position`
// in `stream`, never more; 0 at their end or when a read fails.
class TPackedBytes {
 public:
  TPackedBytes() = default;
  TPackedBytes(TStream32& stream, int64_t position, uint64_t size)
      : FStream(&stream), FPosition(position), FLeft(size) {}
  size_t operator()(uint8_t* buffer, size_t count) {
    const auto want = static_cast<int32_t>(std::min<uint64_t>({count, FLeft, kLargestRead}));
    if (want <= 0 || FStream == nullptr) return 0;
    const int32_t got = FStream->ReadAt(FPosition, buffer, want);
    if (got <= 0) return 0;
    FPosition += got;
    FLeft -= static_cast<uint64_t>(got);
    return static_cast<size_t>(got);
  }
  uint64_t Left() const { return FLeft; }

 private:
  static constexpr uint64_t kLargestRead = 1 << 30;
  TStream32* FStream = nullptr;
  int64_t FPosition = 0;
  uint64_t FLeft = 0;
};
