// ARJ's decoders over one member's pipes: a byte source, a most-significant-bit-first bit reader,
// a 64 KiB ring that is both the window and the output buffer, and the canonical Huffman tables
// of methods 1 to 3. Archive headers and checksums are not here.
#include "archive/codecs/arvArj.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace {

// ---- the format's numbers -----------------------------------------------------------------------
constexpr unsigned kThreshold = 3;     // the shortest match
constexpr unsigned kMaxMatch = 256;    // the longest match
constexpr unsigned kCharCount = 256;   // literals 0..255
// Methods 1-3: the literal/length alphabet is the 256 literals plus lengths 3..256.
constexpr unsigned kNc = (kCharCount - 1) + kMaxMatch + 2 - kThreshold;  // 510
constexpr unsigned kNp = 17;     // position classes 0..16 (distances below 2^16)
constexpr unsigned kNt = 19;     // code-length codes: 0..2 run lengths of zeros, 3..18 lengths 1..16
constexpr unsigned kCBit = 9;    // bits of the literal/length table's count
constexpr unsigned kPBit = 5;    // bits of the position table's count
constexpr unsigned kTBit = 5;    // bits of the code-length table's count
constexpr unsigned kMaxCodeLength = 16;
constexpr unsigned kCTableBits = 12;
constexpr unsigned kPtTableBits = 8;
static_assert(kNc == 510 && (1u << kCBit) > kNc, "the count field holds every literal/length");
static_assert((1u << kPBit) > kNp && (1u << kTBit) > kNt);
// Method 4: lengths take 0 to 7 unary bits, positions 9 to 13 bits behind 0 to 4 unary bits.
constexpr unsigned kFastLengthFirst = 0;
constexpr unsigned kFastLengthStop = 7;
constexpr unsigned kFastPositionFirst = 9;
constexpr unsigned kFastPositionStop = 13;

// The ring holds every distance the codes can express (1 to 2^16), so no valid distance wraps
// the way ARJ's own 26 KiB buffer would; what is not flushed yet is the newest part of it.
constexpr size_t kRingSize = size_t{1} << 16;
constexpr size_t kRingMask = kRingSize - 1;
static_assert(kArjOutputBlock + kMaxMatch < kRingSize, "bytes are flushed before they are lost");

// A canonical Huffman code of up to kNc symbols, codes up to 16 bits: a look-up table for codes of
// up to `bits` bits, a canonical walk for the longer ones. A code of one symbol and no bits (the
// format's "constant" table) has Constant >= 0.
struct THuffman {
  static constexpr uint16_t kLong = 0xFFFF;  // a table slot whose codes are longer than the table
  static constexpr uint16_t kNone = 0xFFFE;  // no code starts so (only in an empty code)
  unsigned Bits = 0;
  int Constant = -1;
  std::array<uint16_t, 1u << kCTableBits> Table{};  // symbol | length << 10
  std::array<uint16_t, kMaxCodeLength + 1> Count{};
  std::array<uint16_t, kNc> Sorted{};  // symbols by code length, then by value
};

}  // namespace

TArjGarble::TArjGarble(const std::string& password, uint8_t modifier)
    : FPassword(password), FModifier(modifier) {}

void TArjGarble::Apply(uint8_t* bytes, size_t count) {
  if (FPassword.empty()) return;
  for (size_t i = 0; i < count; ++i) {
    bytes[i] ^= static_cast<uint8_t>(static_cast<uint8_t>(FPassword[FIndex]) + FModifier);
    if (++FIndex == FPassword.size()) FIndex = 0;
  }
}

namespace {

class TArjDecoder {
 public:
  TArjDecoder(uint64_t originalSize, const TCodecIo& io) : FSize(originalSize), FIo(io) {}

  TCodecStatus Stored() {
    while (FWritten < FSize) {
      if (!FIn.Fill()) return FIn.Cancelled() ? TCodecStatus::Cancelled : TCodecStatus::Truncated;
      const size_t n = static_cast<size_t>(std::min<uint64_t>(FSize - FWritten, FIn.Available()));
      FIo.Write(FIn.Data(), n);
      FIn.Skip(n);
      FWritten += n;
    }
    return TCodecStatus::Ok;
  }

  TCodecStatus Huffman() {
    FRing = std::make_unique<uint8_t[]>(kRingSize);
    auto c = std::make_unique<THuffman>();
    auto pt = std::make_unique<THuffman>();
    auto t = std::make_unique<THuffman>();
    unsigned blockLeft = 0;
    while (FProduced < FSize) {
      if (PastEnd()) return Failure();
      if (blockLeft == 0) {
        blockLeft = GetBits(16);
        if (blockLeft == 0 || !ReadPtLengths(*t, kNt, kTBit, 3) || !ReadCLengths(*c, *t) ||
            !ReadPtLengths(*pt, kNp, kPBit, -1)) {
          return Failure();
        }
      }
      --blockLeft;
      const int symbol = Decode(*c);
      if (symbol < 0) return Failure();
      if (symbol < static_cast<int>(kCharCount)) {
        if (!PutLiteral(static_cast<uint8_t>(symbol))) return Failure();
        continue;
      }
      const unsigned length = static_cast<unsigned>(symbol) - (kCharCount - kThreshold);
      int position = Decode(*pt);
      if (position < 0) return Failure();
      if (position != 0) {
        const unsigned extra = static_cast<unsigned>(position) - 1;
        position = static_cast<int>((1u << extra) + GetBits(extra));
      }
      if (!CopyMatch(static_cast<size_t>(position) + 1, length)) return Failure();
    }
    return Finish();
  }

  TCodecStatus Fastest() {
    FRing = std::make_unique<uint8_t[]>(kRingSize);
    while (FProduced < FSize) {
      if (PastEnd()) return Failure();
      const unsigned code = UnaryThenBits(kFastLengthFirst, kFastLengthStop);
      if (code == 0) {
        if (!PutLiteral(static_cast<uint8_t>(GetBits(8)))) return Failure();
        continue;
      }
      const unsigned length = code - 1 + kThreshold;
      const unsigned position = UnaryThenBits(kFastPositionFirst, kFastPositionStop);
      if (!CopyMatch(size_t{position} + 1, length)) return Failure();
    }
    return Finish();
  }

 private:
  // ---- errors -----------------------------------------------------------------------------------
  // Sticky: the first failure wins; padding bits taken past the input's end make it Truncated.
  bool Fail(TCodecStatus status) {
    if (FStatus == TCodecStatus::Ok) FStatus = status;
    return false;
  }
  TCodecStatus Failure() {
    if (FStatus == TCodecStatus::Ok && PastEnd()) FStatus = TCodecStatus::Truncated;
    if (FStatus == TCodecStatus::Ok) FStatus = TCodecStatus::Corrupt;
    return FStatus;
  }
  TCodecStatus Finish() {
    if (FStatus != TCodecStatus::Ok) return FStatus;
    if (PastEnd()) return TCodecStatus::Truncated;
    Flush();
    return FStatus;
  }
  bool Cancelled() const { return FIo.Cancel != nullptr && *FIo.Cancel != 0; }

  // ---- input and bits ---------------------------------------------------------------------------
  // Bits are taken from the most significant end of FBitBuf; FBitCount bits are valid, the last
  // FPadBits of them zeros put in behind the input's end (the format reads zeros there).
  void Refill() {
    while (FBitCount <= 56) {
      const int byte = FIn.Next();
      if (byte < 0) {
        if (FIn.Cancelled()) Fail(TCodecStatus::Cancelled);
        FBitCount += 8;
        FPadBits += 8;
        continue;
      }
      FBitBuf |= static_cast<uint64_t>(byte) << (56 - FBitCount);
      FBitCount += 8;
    }
  }
  bool PastEnd() const { return FBitCount < FPadBits; }
  // The next 16 bits, the first in bit 15.
  unsigned Peek16() {
    if (FBitCount < 16) Refill();
    return static_cast<unsigned>(FBitBuf >> 48);
  }
  void Drop(unsigned n) {
    FBitBuf <<= n;
    FBitCount -= n;
  }
  unsigned GetBits(unsigned n) {
    if (n == 0) return 0;
    const unsigned value = Peek16() >> (16 - n);
    Drop(n);
    return value;
  }
  unsigned UnaryThenBits(unsigned first, unsigned stop) {
    unsigned plus = 0;
    unsigned power = 1u << first;
    unsigned width = first;
    for (; width < stop; ++width) {
      if (GetBits(1) == 0) break;
      plus += power;
      power <<= 1;
    }
    return plus + GetBits(width);
  }

  // ---- Huffman tables ---------------------------------------------------------------------------
  // Builds `h` from `lengths`; false (Corrupt) for an over-subscribed or incomplete code. A code
  // with no lengths at all is kept and fails only when a symbol is decoded from it.
  bool Build(THuffman& h, const uint8_t* lengths, unsigned count, unsigned bits) {
    h.Bits = bits;
    h.Constant = -1;
    h.Count.fill(0);
    for (unsigned i = 0; i < count; ++i) ++h.Count[lengths[i]];
    h.Count[0] = 0;
    std::array<uint16_t, kMaxCodeLength + 2> offset{};
    int left = 1;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
      left = (left << 1) - h.Count[len];
      if (left < 0) return Fail(TCodecStatus::Corrupt);
      offset[len + 1] = static_cast<uint16_t>(offset[len] + h.Count[len]);
    }
    const size_t tableSize = size_t{1} << bits;
    if (offset[kMaxCodeLength + 1] == 0) {
      std::fill_n(h.Table.begin(), tableSize, THuffman::kNone);
      return true;
    }
    if (left != 0) return Fail(TCodecStatus::Corrupt);
    for (unsigned i = 0; i < count; ++i)
      if (lengths[i] != 0) h.Sorted[offset[lengths[i]]++] = static_cast<uint16_t>(i);
    // Canonical codes in that order; short codes fill their slots, longer ones mark their prefix.
    std::fill_n(h.Table.begin(), tableSize, THuffman::kLong);
    unsigned code = 0;
    unsigned index = 0;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
      for (unsigned k = 0; k < h.Count[len]; ++k, ++index, ++code) {
        if (len > bits) continue;
        const uint16_t entry = static_cast<uint16_t>(h.Sorted[index] | len << 10);
        const size_t first = size_t{code} << (bits - len);
        std::fill_n(h.Table.begin() + static_cast<ptrdiff_t>(first), size_t{1} << (bits - len),
                    entry);
      }
      code <<= 1;
    }
    return true;
  }
  void BuildConstant(THuffman& h, unsigned symbol) {
    h.Constant = static_cast<int>(symbol);
    h.Count.fill(0);
  }

  // The next symbol of `h`, or -1 (Corrupt).
  int Decode(const THuffman& h) {
    if (h.Constant >= 0) return h.Constant;
    const unsigned window = Peek16();
    const uint16_t entry = h.Table[window >> (16 - h.Bits)];
    if (entry == THuffman::kNone) return Fail(TCodecStatus::Corrupt), -1;
    if (entry != THuffman::kLong) {
      Drop(entry >> 10);
      return entry & 0x3FF;
    }
    // Canonical walk over the 16 bits: at each length, codes below first + count are that
    // length's.
    unsigned code = 0;
    unsigned first = 0;
    unsigned index = 0;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
      code |= (window >> (16 - len)) & 1;
      const unsigned count = h.Count[len];
      if (code - first < count) {
        Drop(len);
        return h.Sorted[index + code - first];
      }
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    return Fail(TCodecStatus::Corrupt), -1;
  }

  // The code-length code (special 3: two bits of zero run after the third length) or the position
  // code (special -1: none).
  bool ReadPtLengths(THuffman& h, unsigned symbols, unsigned countBits, int special) {
    const unsigned n = GetBits(countBits);
    if (n == 0) {
      const unsigned symbol = GetBits(countBits);
      if (symbol >= symbols) return Fail(TCodecStatus::Corrupt);
      BuildConstant(h, symbol);
      return true;
    }
    if (n > symbols) return Fail(TCodecStatus::Corrupt);
    std::array<uint8_t, kNt> lengths{};
    unsigned i = 0;
    while (i < n) {
      const unsigned window = Peek16();
      unsigned len = window >> 13;
      if (len == 7) {
        // 7 and more: a one bit for each step above 6, ended by a zero bit.
        unsigned mask = 1u << 12;
        while ((window & mask) != 0 && len <= kMaxCodeLength) {
          mask >>= 1;
          ++len;
        }
        if (len > kMaxCodeLength) return Fail(TCodecStatus::Corrupt);
        Drop(len - 3);
      } else {
        Drop(3);
      }
      lengths[i++] = static_cast<uint8_t>(len);
      if (static_cast<int>(i) == special) {
        unsigned zeros = GetBits(2);
        if (i + zeros > symbols) return Fail(TCodecStatus::Corrupt);
        while (zeros-- > 0) lengths[i++] = 0;
      }
    }
    return Build(h, lengths.data(), symbols, kPtTableBits);
  }

  bool ReadCLengths(THuffman& c, const THuffman& t) {
    const unsigned n = GetBits(kCBit);
    if (n == 0) {
      const unsigned symbol = GetBits(kCBit);
      if (symbol >= kNc) return Fail(TCodecStatus::Corrupt);
      BuildConstant(c, symbol);
      return true;
    }
    if (n > kNc) return Fail(TCodecStatus::Corrupt);
    std::array<uint8_t, kNc> lengths{};
    unsigned i = 0;
    while (i < n) {
      const int symbol = Decode(t);
      if (symbol < 0) return false;
      if (symbol > 2) {
        lengths[i++] = static_cast<uint8_t>(symbol - 2);
        continue;
      }
      // Runs of zero lengths: 1, 3 to 18 (4 bits), or 20 to 531 (9 bits).
      const unsigned zeros = symbol == 0 ? 1 : symbol == 1 ? GetBits(4) + 3 : GetBits(kCBit) + 20;
      if (i + zeros > n) return Fail(TCodecStatus::Corrupt);
      i += zeros;  // already zero
    }
    return Build(c, lengths.data(), kNc, kCTableBits);
  }

  // ---- output -----------------------------------------------------------------------------------
  bool PutLiteral(uint8_t byte) {
    FRing[FProduced & kRingMask] = byte;
    ++FProduced;
    if (FProduced - FFlushed >= kArjOutputBlock) Flush();
    return FStatus == TCodecStatus::Ok;
  }
  // `distance` bytes back (1 = the last byte), `length` bytes; never before the member's start nor
  // past its size.
  bool CopyMatch(size_t distance, unsigned length) {
    if (distance > FProduced) return Fail(TCodecStatus::Corrupt);
    if (length > FSize - FProduced) return Fail(TCodecStatus::Corrupt);
    size_t from = (FProduced - distance) & kRingMask;
    size_t to = FProduced & kRingMask;
    uint8_t* ring = FRing.get();
    if (from + length <= kRingSize && to + length <= kRingSize &&
        (distance >= length)) {
      std::memmove(ring + to, ring + from, length);  // 2^16 back is the same place
    } else {
      for (unsigned k = 0; k < length; ++k) {
        ring[to] = ring[from];
        to = (to + 1) & kRingMask;
        from = (from + 1) & kRingMask;
      }
    }
    FProduced += length;
    if (FProduced - FFlushed >= kArjOutputBlock) Flush();
    return FStatus == TCodecStatus::Ok;
  }
  // Hands out what was produced since the last flush (in two pieces when it wraps the ring).
  void Flush() {
    while (FFlushed < FProduced) {
      const size_t at = FFlushed & kRingMask;
      const size_t n = static_cast<size_t>(
          std::min<uint64_t>(FProduced - FFlushed, std::min(kRingSize - at, kArjOutputBlock)));
      FIo.Write(FRing.get() + at, n);
      FFlushed += n;
    }
    if (Cancelled()) Fail(TCodecStatus::Cancelled);
  }

  uint64_t FSize;
  TCodecIo FIo;
  TCodecStatus FStatus = TCodecStatus::Ok;
  uint64_t FWritten = 0;  // stored: bytes handed out
  TCodecInput FIn{FIo, kArjInputBlock};
  uint64_t FBitBuf = 0;
  unsigned FBitCount = 0;
  unsigned FPadBits = 0;
  std::unique_ptr<uint8_t[]> FRing;
  uint64_t FProduced = 0;
  uint64_t FFlushed = 0;
};

}  // namespace

TCodecStatus DecodeArj(uint8_t method, uint64_t originalSize, const TCodecIo& io) {
  if (method > kArjMethodFastest) return TCodecStatus::Unsupported;
  TArjDecoder decoder(originalSize, io);
  if (method == kArjMethodStored) return decoder.Stored();
  if (originalSize == 0) return TCodecStatus::Ok;
  return method == kArjMethodFastest ? decoder.Fastest() : decoder.Huffman();
}
