// ARC's decoders over one member's pipes: a byte source, the run expansion that packing,
// squeezing and most crunching put behind their own codes, and an output block. The LZW tables
// are the methods' own sizes (4096 or 8192 strings). Archive headers and the CRC-16 are not here.
#include "archive/codecs/arvArc.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// ---- the format's numbers -----------------------------------------------------------------------
constexpr uint8_t kRunMarker = 0x90;  // DLE: marker, count; a count of 0 is the marker itself

// Squeezing: a tree of at most 256 nodes over 257 values (256 bytes and the end).
constexpr int kSqueezeValues = 257;
constexpr int kSqueezeEnd = 256;

// Old crunching: 4096 strings of 12-bit codes; a string's slot comes from a hash of its prefix's
// code and its last byte, collisions chained and placed 101 slots on.
constexpr unsigned kOldTableSize = 4096;
constexpr uint16_t kNoPrefix = 0xFFFF;
constexpr unsigned kCollisionStep = 101;
constexpr unsigned kNewHashFactor = 15073;

// Dynamic crunching: codes of 9 up to 12 (crunched) or 13 (squashed) bits, 256 clears the table,
// 257 is the first string; codes are read in groups of as many bytes as the code has bits.
constexpr unsigned kLzwInitBits = 9;
constexpr unsigned kCrunchBits = 12;
constexpr unsigned kSquashBits = 13;
constexpr unsigned kLzwClear = 256;
constexpr unsigned kLzwFirst = 257;
constexpr unsigned kLzwMaxCodes = 1u << kSquashBits;
// The longest string: each code adds one byte to a shorter one.
constexpr size_t kStackSize = kLzwMaxCodes;
static_assert(kOldTableSize <= kStackSize);

class TArcDecoder {
 public:
  TArcDecoder(uint64_t size, const TCodecIo& io) : FSize(size), FIo(io) {
    FOutput = std::make_unique<uint8_t[]>(kArcOutputBlock);
  }

  TCodecStatus Run(uint8_t method) {
    switch (method) {
      case kArcMethodOldStored:
      case kArcMethodStored:
        Stored();
        break;
      case kArcMethodPacked:
        FRuns = true;
        Packed();
        break;
      case kArcMethodSqueezed:
        FRuns = true;
        Squeezed();
        break;
      case kArcMethodCrunchedOld:
      case kArcMethodCrunchedOldRle:
      case kArcMethodCrunchedNewHash:
        FRuns = method != kArcMethodCrunchedOld;
        OldCrunched(method == kArcMethodCrunchedNewHash);
        break;
      case kArcMethodCrunched: {
        FRuns = true;
        const int bits = NextByte();
        if (bits < 0) break;
        if (bits != static_cast<int>(kCrunchBits)) {
          Fail(TCodecStatus::Corrupt);
          break;
        }
        Dynamic(kCrunchBits);
        break;
      }
      case kArcMethodSquashed:
        Dynamic(kSquashBits);
        break;
      default:
        return TCodecStatus::Unsupported;
    }
    if (FStatus == TCodecStatus::Ok) Flush();
    if (FStatus == TCodecStatus::Ok && Produced() != FSize) FStatus = TCodecStatus::Truncated;
    return FStatus;
  }

 private:
  // ---- errors -----------------------------------------------------------------------------------
  void Fail(TCodecStatus status) {
    if (FStatus == TCodecStatus::Ok) FStatus = status;
  }
  bool Failed() const { return FStatus != TCodecStatus::Ok; }
  bool Cancelled() const { return FIo.Cancel != nullptr && *FIo.Cancel != 0; }

  // ---- input ------------------------------------------------------------------------------------
  // The next packed byte, or -1 at the end of the member's data (or once cancelled).
  int NextByte() { return More() ? FIn.Next() : -1; }
  // True while packed bytes are left; a cancel seen at a block boundary fails the member.
  bool More() {
    if (FIn.Fill()) return true;
    if (FIn.Cancelled()) Fail(TCodecStatus::Cancelled);
    return false;
  }

  // ---- output -----------------------------------------------------------------------------------
  uint64_t Produced() const { return FFlushed + FOutCount; }
  // One decoded byte; more than the member's size is Corrupt.
  void Emit(uint8_t byte) {
    if (Produced() >= FSize) return Fail(TCodecStatus::Corrupt);
    FOutput[FOutCount++] = byte;
    if (FOutCount == kArcOutputBlock) Flush();
  }
  void EmitRepeat(uint8_t byte, unsigned count) {
    if (count > FSize - Produced()) return Fail(TCodecStatus::Corrupt);
    while (count > 0) {
      const size_t n = std::min<size_t>(count, kArcOutputBlock - FOutCount);
      std::memset(FOutput.get() + FOutCount, byte, n);
      FOutCount += n;
      count -= static_cast<unsigned>(n);
      if (FOutCount == kArcOutputBlock) Flush();
    }
  }
  // A byte of the method's own output: straight out, or through the run expansion.
  void Put(uint8_t byte) {
    if (!FRuns) return Emit(byte);
    if (FInRun) {
      FInRun = false;
      if (byte == 0) return Emit(kRunMarker);  // the marker itself; the repeated byte stays
      return EmitRepeat(FLast, byte - 1u);
    }
    if (byte == kRunMarker) {
      FInRun = true;
      return;
    }
    FLast = byte;
    Emit(byte);
  }
  void Flush() {
    if (FOutCount != 0) {
      FIo.Write(FOutput.get(), FOutCount);
      FFlushed += FOutCount;
      FOutCount = 0;
    }
    if (Cancelled()) Fail(TCodecStatus::Cancelled);
  }

  // ---- 1, 2: stored; 3: packed ------------------------------------------------------------------
  void Stored() {
    while (!Failed() && Produced() < FSize) {
      if (!More()) return;
      const size_t n = static_cast<size_t>(std::min<uint64_t>(FIn.Available(), FSize - Produced()));
      Flush();
      FIo.Write(FIn.Data(), n);
      FIn.Skip(n);
      FFlushed += n;
    }
  }
  void Packed() {
    for (int c; !Failed() && (c = NextByte()) >= 0;) Put(static_cast<uint8_t>(c));
  }

  // ---- 4: squeezed ------------------------------------------------------------------------------
  void Squeezed() {
    const int low = NextByte();
    const int high = NextByte();
    if (high < 0) return;
    const int count = static_cast<int16_t>(low | high << 8);
    if (count < 0 || count >= kSqueezeValues) return Fail(TCodecStatus::Corrupt);
    // Children: 0..count-1 a node, -1..-257 the value -(child + 1); an empty tree is the end.
    std::array<std::array<int16_t, 2>, kSqueezeValues> node{};
    node[0] = {-(kSqueezeEnd + 1), -(kSqueezeEnd + 1)};
    for (int i = 0; i < count; ++i) {
      for (int side = 0; side < 2; ++side) {
        const int b0 = NextByte();
        const int b1 = NextByte();
        if (b1 < 0) return;
        const int child = static_cast<int16_t>(b0 | b1 << 8);
        if (child >= count || child < -kSqueezeValues) return Fail(TCodecStatus::Corrupt);
        node[static_cast<size_t>(i)][static_cast<size_t>(side)] = static_cast<int16_t>(child);
      }
    }
    // Bits are taken from each byte's least significant end.
    int at = 0;
    for (;;) {
      const int byte = NextByte();
      if (byte < 0 || Failed()) return;
      for (int bit = 0; bit < 8; ++bit) {
        at = node[static_cast<size_t>(at)][static_cast<size_t>((byte >> bit) & 1)];
        if (at >= 0) continue;
        const int value = -(at + 1);
        if (value == kSqueezeEnd) return;
        Put(static_cast<uint8_t>(value));
        if (Failed()) return;
        at = 0;
      }
    }
  }

  // ---- 5, 6, 7: crunched the old way ------------------------------------------------------------
  struct TOldEntry {
    bool Used;
    uint16_t Next;  // the next slot of a collision chain; 0 ends it
    uint16_t Prefix;
    uint8_t Last;
  };
  struct TOldTable {
    std::array<TOldEntry, kOldTableSize> Entry;
    std::array<uint8_t, kStackSize> Stack;
  };

  static unsigned OldHash(unsigned prefix, unsigned last) {
    // The middle 12 bits of the square of (prefix + last) with bit 11 set.
    const uint32_t v = ((prefix + last) | 0x0800) & 0xFFFF;
    return ((v * v) >> 6) & 0x0FFF;
  }
  static unsigned NewHash(unsigned prefix, unsigned last) {
    return (((prefix + last) & 0xFFFF) * kNewHashFactor) & 0x0FFF;
  }
  // Enters (prefix, last) where the hash says, or behind the end of the slot's collision chain.
  static unsigned OldInsert(TOldTable& t, bool newHash, uint16_t prefix, uint8_t last) {
    unsigned slot = newHash ? NewHash(prefix, last) : OldHash(prefix, last);
    if (t.Entry[slot].Used) {
      for (unsigned guard = 0; t.Entry[slot].Next != 0 && guard < kOldTableSize; ++guard)
        slot = t.Entry[slot].Next;
      unsigned free = (slot + kCollisionStep) & 0x0FFF;
      while (t.Entry[free].Used) free = (free + 1) % kOldTableSize;
      t.Entry[slot].Next = static_cast<uint16_t>(free);
      slot = free;
    }
    t.Entry[slot] = {true, 0, prefix, last};
    return slot;
  }
  // 12-bit codes, most significant bits first, two to three bytes.
  int OldCode() {
    if (FHalf < 0) {
      const int a = NextByte();
      if (a < 0) return -1;
      const int b = NextByte();
      if (b < 0) return -1;
      FHalf = b & 0x0F;
      return a << 4 | b >> 4;
    }
    const int a = NextByte();
    if (a < 0) return -1;
    const int code = FHalf << 8 | a;
    FHalf = -1;
    return code;
  }

  void OldCrunched(bool newHash) {
    auto t = std::make_unique<TOldTable>();
    std::memset(t->Entry.data(), 0, sizeof t->Entry);
    for (unsigned c = 0; c < 256; ++c) OldInsert(*t, newHash, kNoPrefix, static_cast<uint8_t>(c));
    unsigned left = kOldTableSize - 256;  // strings that can still be entered

    int oldCode = OldCode();
    if (oldCode < 0) return;
    if (!t->Entry[oldCode].Used || t->Entry[oldCode].Prefix != kNoPrefix)
      return Fail(TCodecStatus::Corrupt);
    uint8_t first = t->Entry[oldCode].Last;
    Put(first);
    for (int code; !Failed() && (code = OldCode()) >= 0;) {
      size_t depth = 0;
      unsigned walk = static_cast<unsigned>(code);
      const bool known = t->Entry[walk].Used;
      if (!known) {
        // The string being defined: the previous one and its own first byte.
        t->Stack[depth++] = first;
        walk = static_cast<unsigned>(oldCode);
      }
      while (t->Entry[walk].Prefix != kNoPrefix) {
        if (depth == kOldTableSize) return Fail(TCodecStatus::Corrupt);
        t->Stack[depth++] = t->Entry[walk].Last;
        walk = t->Entry[walk].Prefix;
        if (walk >= kOldTableSize || !t->Entry[walk].Used) return Fail(TCodecStatus::Corrupt);
      }
      first = t->Entry[walk].Last;
      Put(first);
      while (depth > 0 && !Failed()) Put(t->Stack[--depth]);
      if (left > 0) {
        --left;
        const unsigned slot =
            OldInsert(*t, newHash, static_cast<uint16_t>(oldCode), first);
        if (!known && slot != static_cast<unsigned>(code)) return Fail(TCodecStatus::Corrupt);
      } else if (!known) {
        return Fail(TCodecStatus::Corrupt);
      }
      oldCode = code;
    }
  }

  // ---- 8, 9: dynamic LZW ------------------------------------------------------------------------
  struct TLzwTable {
    std::array<uint16_t, kLzwMaxCodes> Prefix;
    std::array<uint8_t, kLzwMaxCodes> Suffix;
    std::array<uint8_t, kStackSize> Stack;
  };

  // The next code, read the way the packer wrote it: a group of `bits` bytes holds 8 codes; a
  // new code size or a clear starts a new group, whatever is left of the old one is skipped.
  int LzwCode() {
    if (FClear || FGroupAt >= FGroupBits || FFree > FMaxCode) {
      if (FFree > FMaxCode) {
        ++FBits;
        FMaxCode = FBits == FMaxBits ? (1u << FMaxBits) : (1u << FBits) - 1;
      }
      if (FClear) {
        FBits = kLzwInitBits;
        FMaxCode = (1u << FBits) - 1;
        FClear = false;
      }
      unsigned got = 0;
      FGroup.fill(0);
      for (; got < FBits; ++got) {
        const int c = NextByte();
        if (c < 0) break;
        FGroup[got] = static_cast<uint8_t>(c);
      }
      if (got == 0) return -1;
      FGroupAt = 0;
      // Only whole codes count: a group cut short holds fewer.
      FGroupBits = static_cast<int>(got * 8) - static_cast<int>(FBits - 1);
      if (FGroupBits <= 0) return -1;
    }
    const unsigned at = static_cast<unsigned>(FGroupAt);
    const uint32_t window = static_cast<uint32_t>(FGroup[at / 8]) |
                            static_cast<uint32_t>(FGroup[at / 8 + 1]) << 8 |
                            static_cast<uint32_t>(FGroup[at / 8 + 2]) << 16;
    FGroupAt += static_cast<int>(FBits);
    return static_cast<int>((window >> (at % 8)) & ((1u << FBits) - 1));
  }

  void Dynamic(unsigned maxBits) {
    auto t = std::make_unique<TLzwTable>();
    for (unsigned c = 0; c < 256; ++c) {
      t->Prefix[c] = 0;
      t->Suffix[c] = static_cast<uint8_t>(c);
    }
    FMaxBits = maxBits;
    FBits = kLzwInitBits;
    FMaxCode = (1u << FBits) - 1;
    const unsigned limit = 1u << maxBits;
    FFree = kLzwFirst;

    int oldCode = LzwCode();
    if (oldCode < 0) return;
    if (oldCode > 255) return Fail(TCodecStatus::Corrupt);
    uint8_t first = static_cast<uint8_t>(oldCode);
    Put(first);
    for (int code; !Failed() && (code = LzwCode()) >= 0;) {
      if (code == static_cast<int>(kLzwClear)) {
        FClear = true;
        FFree = kLzwFirst - 1;
        code = LzwCode();
        if (code < 0) break;
      }
      const int incoming = code;
      size_t depth = 0;
      unsigned walk = static_cast<unsigned>(code);
      if (walk >= FFree) {
        if (walk > FFree) return Fail(TCodecStatus::Corrupt);
        t->Stack[depth++] = first;
        walk = static_cast<unsigned>(oldCode);
      }
      while (walk >= 256) {
        if (depth == kStackSize) return Fail(TCodecStatus::Corrupt);
        t->Stack[depth++] = t->Suffix[walk];
        walk = t->Prefix[walk];
      }
      first = t->Suffix[walk];
      Put(first);
      while (depth > 0 && !Failed()) Put(t->Stack[--depth]);
      if (FFree < limit) {
        t->Prefix[FFree] = static_cast<uint16_t>(oldCode);
        t->Suffix[FFree] = first;
        ++FFree;
      }
      oldCode = incoming;
    }
  }

  uint64_t FSize;
  TCodecIo FIo;
  TCodecStatus FStatus = TCodecStatus::Ok;
  TCodecInput FIn{FIo, kArcInputBlock};
  std::unique_ptr<uint8_t[]> FOutput;
  size_t FOutCount = 0;
  uint64_t FFlushed = 0;
  // Runs.
  bool FRuns = false;
  bool FInRun = false;
  uint8_t FLast = 0;
  // Old crunching's half byte (-1: none).
  int FHalf = -1;
  // Dynamic LZW.
  unsigned FMaxBits = kCrunchBits;
  unsigned FBits = kLzwInitBits;
  unsigned FMaxCode = 0;
  unsigned FFree = kLzwFirst;
  bool FClear = false;
  std::array<uint8_t, kSquashBits + 3> FGroup{};
  int FGroupAt = 0;
  int FGroupBits = 0;
};

}  // namespace

TCodecStatus DecodeArc(uint8_t method, uint64_t originalSize, const TCodecIo& io) {
  if (!IsArcMethodDecoded(method)) return TCodecStatus::Unsupported;
  TArcDecoder decoder(originalSize, io);
  return decoder.Run(method);
}
