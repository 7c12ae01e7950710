// ZOO's LZW decoder. The dictionary holds for each string code its prefix code and last byte; a
// string is written by walking the prefixes onto a stack and emitting it reversed.
#include "archive/codecs/arvLzd.h"

#include <memory>
#include <vector>

namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEnd = 257;
constexpr uint32_t kFirstFree = 258;
constexpr uint32_t kMinBits = 9;
constexpr uint32_t kMaxBits = 13;
constexpr uint32_t kTableSize = 1u << kMaxBits;
constexpr size_t kInputBlock = 1 << 15;
constexpr size_t kOutputBlock = 1 << 16;

class TLzd {
 public:
  TLzd(const TCodecIo& io, uint64_t limit) : FIo(io), FLimit(limit) {
    FOutput.reserve(kOutputBlock);
    FStack.resize(kTableSize);
  }

  TCodecStatus Run();

 private:
  // The next code of `bits` bits; false when the input ends first.
  bool ReadCode(uint32_t bits, uint32_t& code) {
    while (FBitCount < bits) {
      const int byte = FIn.Next();
      if (byte < 0) {
        FCancelled = FIn.Cancelled();
        return false;
      }
      FBits |= static_cast<uint64_t>(byte) << FBitCount;
      FBitCount += 8;
    }
    code = static_cast<uint32_t>(FBits & ((1u << bits) - 1));
    FBits >>= bits;
    FBitCount -= bits;
    return true;
  }

  // Emits the string of `code` (a valid code); false when it would pass the limit.
  bool Emit(uint32_t code) {
    size_t depth = 0;
    while (code >= kFirstFree) {
      FStack[depth++] = FSuffix[code];
      code = FPrefix[code];
    }
    FStack[depth++] = static_cast<uint8_t>(code);
    FFirstByte = static_cast<uint8_t>(code);
    if (FWritten + depth > FLimit) return false;
    FWritten += depth;
    while (depth > 0) FOutput.push_back(FStack[--depth]);
    if (FOutput.size() >= kOutputBlock) Flush();
    return true;
  }

  void Flush() {
    if (!FOutput.empty()) FIo.Write(FOutput.data(), FOutput.size());
    FOutput.clear();
  }

  const TCodecIo& FIo;
  uint64_t FLimit;
  uint64_t FWritten = 0;
  TCodecInput FIn{FIo, kInputBlock};
  uint64_t FBits = 0;
  uint32_t FBitCount = 0;
  bool FCancelled = false;
  std::vector<uint8_t> FOutput;
  std::vector<uint8_t> FStack;
  uint16_t FPrefix[kTableSize] = {};
  uint8_t FSuffix[kTableSize] = {};
  uint8_t FFirstByte = 0;
};

TCodecStatus TLzd::Run() {
  uint32_t bits = kMinBits;
  uint32_t maxCode = 1u << kMinBits;
  uint32_t freeCode = kFirstFree;
  bool haveOld = false;  // false right after a clear (and at the start): the next code is a byte
  uint32_t oldCode = 0;
  for (;;) {
    uint32_t code = 0;
    if (!ReadCode(bits, code)) {
      Flush();
      return FCancelled ? TCodecStatus::Cancelled : TCodecStatus::Truncated;
    }
    if (code == kEnd) {
      Flush();
      return TCodecStatus::Ok;
    }
    if (code == kClear) {
      bits = kMinBits;
      maxCode = 1u << kMinBits;
      freeCode = kFirstFree;
      haveOld = false;
      continue;
    }
    if (!haveOld) {
      if (code > 0xFF || !Emit(code)) {
        Flush();
        return TCodecStatus::Corrupt;
      }
      oldCode = code;
      haveOld = true;
      continue;
    }
    if (code > freeCode || (code == freeCode && freeCode >= kTableSize)) {
      Flush();
      return TCodecStatus::Corrupt;
    }
    if (code == freeCode) {
      // The string being defined: the previous one and its own first byte.
      if (!Emit(oldCode) || FWritten + 1 > FLimit) {
        Flush();
        return TCodecStatus::Corrupt;
      }
      FOutput.push_back(FFirstByte);
      ++FWritten;
    } else if (!Emit(code)) {
      Flush();
      return TCodecStatus::Corrupt;
    }
    if (freeCode < kTableSize) {
      FPrefix[freeCode] = static_cast<uint16_t>(oldCode);
      FSuffix[freeCode] = FFirstByte;
      ++freeCode;
      if (freeCode >= maxCode && bits < kMaxBits) {
        ++bits;
        maxCode <<= 1;
      }
    }
    oldCode = code;
  }
}

}  // namespace

TCodecStatus LzdDecode(const TCodecIo& io, uint64_t outputLimit) {
  auto decoder = std::make_unique<TLzd>(io, outputLimit);
  return decoder->Run();
}
