// The inflate engine: deflate and Deflate64 decoding, raw or behind a zlib wrapper, resumable at
// any byte of input or output. A fast loop decodes whole symbols straight into the caller's output
// while input and room are plentiful; a byte-at-a-time state machine does everything else and is
// exactly equivalent. It does not compress, and it keeps no state outside the stream record.
#include "archive/codecs/arvInflate.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "archive/codecs/arvBytes.h"
namespace {

// ---- format constants ---------------------------------------------------------------------------

constexpr unsigned kMaxCodeLen = 15;         // longest literal/length or distance codeword
constexpr unsigned kMaxPrecodeLen = 7;       // code-length codes are sent in 3 bits
constexpr unsigned kNumPrecodeSyms = 19;     // 0-15 lengths, 16 repeat, 17 and 18 zero runs
constexpr unsigned kNumLitlenSyms = 288;     // 0-255 literals, 256 end, 257-285 lengths, 2 unused
constexpr unsigned kNumDistSyms = 32;        // 0-29; 30 and 31 are Deflate64's
constexpr unsigned kMaxLitlenDeflate = 286;  // HLIT 29 + 257
constexpr unsigned kMaxDistDeflate = 30;     // HDIST 29 + 1
constexpr unsigned kEndOfBlockSym = 256;
constexpr unsigned kMaxDeflate64Match = 65538;  // code 285: base 3 + 16 extra bits of 65535

// The order in which code-length code lengths are sent.
constexpr uint8_t kPrecodeOrder[kNumPrecodeSyms] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                    11, 4,  12, 3, 13, 2, 14, 1, 15};

// ---- decode table entries -----------------------------------------------------------------------
//
// One entry is 32 bits:
//   bits 0-7    bits to consume: codeword length plus extra bits (a sub-table pointer: root bits)
//   bits 8-12   codeword length (relative to the root inside a sub-table; a pointer: sub-table
//               bits)
//   bit 13      sub-table pointer (with bit 14)
//   bit 14      exceptional: sub-table pointer, end of block or invalid code
//   bit 15      literal
//   bits 16-31  literal byte, length or distance base, sub-table offset, or 1 for end of block
// A length's extra bits sit right above its codeword, so one shift consumes both and
// (saved & mask(consume)) >> codeword length yields the extra value.
constexpr uint32_t kSubtableFlag = 1u << 13;
constexpr uint32_t kExceptionalFlag = 1u << 14;
constexpr uint32_t kLiteralFlag = 1u << 15;
constexpr uint32_t kEndOfBlockEntry = kExceptionalFlag | (1u << 16);
constexpr uint32_t kInvalidEntry = kExceptionalFlag;

constexpr unsigned Consume(uint32_t entry) {
  return entry & 0xFF;
}
constexpr unsigned CodeLen(uint32_t entry) {
  return (entry >> 8) & 0x1F;
}
constexpr unsigned Value(uint32_t entry) {
  return entry >> 16;
}
constexpr uint32_t WithLength(uint32_t symbolTemplate, unsigned len) {
  return symbolTemplate + (len << 8) + len;
}

// Root widths. Wider roots than zlib's 9/6 bits mean almost every symbol resolves in one look-up.
constexpr unsigned kLitlenRootBits = 11;
constexpr unsigned kDistRootBits = 8;
constexpr unsigned kPrecodeRootBits = 7;

// Largest table any complete code (or the single one-bit code) can need with these roots, counted
// over every canonical code by the usual "enough" recursion:
//   enough 288 11 15 = 2342 (Deflate64 allows 288 literal/length codes; Deflate's 286 need 2340)
//   enough 32 8 15 = 402 (Deflate's 30 distance codes need 400)
// A 19-symbol code-length code of at most 7 bits never needs a sub-table with a 7-bit root.
constexpr unsigned kLitlenEnough = 2342;
constexpr unsigned kDistEnough = 402;
constexpr unsigned kPrecodeEnough = 1u << kPrecodeRootBits;
static_assert(kMaxPrecodeLen <= kPrecodeRootBits, "code-length table has no sub-tables");
static_assert(kLitlenEnough < (1u << 16) && kDistEnough < (1u << 16), "offsets fit 16 bits");

// ---- symbol templates per mode (RFC 1951 3.2.5; Deflate64 differs in length 285, distances 30/31)

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[32] = {1,    2,    3,    4,     5,     7,     9,     13,
                                    17,   25,   33,   49,    65,    97,    129,   193,
                                    257,  385,  513,  769,   1025,  1537,  2049,  3073,
                                    4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr unsigned kDeflate64Len285Base = 3;
constexpr unsigned kDeflate64Len285Extra = 16;
static_assert(kDeflate64Len285Base + (1u << kDeflate64Len285Extra) - 1 == kMaxDeflate64Match);
static_assert(kDistBase[31] + (1u << kDistExtra[31]) - 1 == 65536, "Deflate64 reaches 64 KiB back");

struct TSymbolTemplates {
  uint32_t litlen[kNumLitlenSyms];
  uint32_t dist[kNumDistSyms];
};

constexpr TSymbolTemplates MakeTemplates(bool deflate64) {
  TSymbolTemplates t{};
  for (unsigned s = 0; s < 256; ++s) t.litlen[s] = kLiteralFlag | (s << 16);
  t.litlen[kEndOfBlockSym] = kEndOfBlockEntry;
  for (unsigned s = 257; s <= 285; ++s)
    t.litlen[s] = (uint32_t{kLengthBase[s - 257]} << 16) | kLengthExtra[s - 257];
  if (deflate64) t.litlen[285] = (kDeflate64Len285Base << 16) | kDeflate64Len285Extra;
  t.litlen[286] = t.litlen[287] = kInvalidEntry;
  for (unsigned s = 0; s < kNumDistSyms; ++s)
    t.dist[s] = (uint32_t{kDistBase[s]} << 16) | kDistExtra[s];
  if (!deflate64) t.dist[30] = t.dist[31] = kInvalidEntry;
  return t;
}
constexpr TSymbolTemplates kDeflateTemplates = MakeTemplates(false);
constexpr TSymbolTemplates kDeflate64Templates = MakeTemplates(true);

// Code-length code symbols carry only their value.
constexpr auto kPrecodeTemplates = [] {
  struct {
    uint32_t sym[kNumPrecodeSyms];
  } t{};
  for (unsigned s = 0; s < kNumPrecodeSyms; ++s) t.sym[s] = s << 16;
  return t;
}();

// The bits a table entry needs in the bit buffer before it can be trusted.
constexpr unsigned NeededBits(uint32_t entry) {
  return (entry & kSubtableFlag) ? Consume(entry) : CodeLen(entry);
}

// ---- table building -----------------------------------------------------------------------------

enum class TBuild { kOk, kBadCode, kNoRoom };

// Advances a bit-reversed canonical codeword of the given length to the next one.
inline unsigned NextReversedCode(unsigned code, unsigned len) {
  unsigned step = 1u << (len - 1);
  while (code & step) step >>= 1;
  return step ? (code & (step - 1)) + step : 0;
}

// Builds a decode table for a canonical code. Over-subscribed codes are bad; incomplete codes are
// bad except, when allowSingle, one codeword of one bit (its unused half decodes as invalid), and,
// when allowEmpty, no codewords at all (everything decodes as invalid).
TBuild BuildTable(uint32_t* table, unsigned tableSize, unsigned rootBits, const uint8_t* lens,
                  unsigned numSyms, const uint32_t* templates, bool allowSingle, bool allowEmpty) {
  unsigned count[kMaxCodeLen + 1] = {};
  for (unsigned s = 0; s < numSyms; ++s) ++count[lens[s]];
  int left = 1;
  for (unsigned len = 1; len <= kMaxCodeLen; ++len) {
    left = (left << 1) - static_cast<int>(count[len]);
    if (left < 0) return TBuild::kBadCode;
  }
  const unsigned rootSize = 1u << rootBits;
  if (left > 0) {
    const unsigned used = numSyms - count[0];
    const bool single = allowSingle && used == 1 && count[1] == 1;
    const bool empty = allowEmpty && used == 0;
    if (!single && !empty) return TBuild::kBadCode;
    std::fill(table, table + rootSize, WithLength(kInvalidEntry, 1));
    if (empty) return TBuild::kOk;
  }

  unsigned offset[kMaxCodeLen + 2] = {};
  for (unsigned len = 1; len <= kMaxCodeLen; ++len) offset[len + 1] = offset[len] + count[len];
  uint16_t sorted[kNumLitlenSyms];
  for (unsigned s = 0; s < numSyms; ++s)
    if (lens[s]) sorted[offset[lens[s]]++] = static_cast<uint16_t>(s);
  const unsigned numCodes = numSyms - count[0];

  unsigned code = 0;
  unsigned i = 0;
  // Codewords that fit the root: replicate over every root index that ends in them.
  for (; i < numCodes; ++i) {
    const unsigned sym = sorted[i];
    const unsigned len = lens[sym];
    if (len > rootBits) break;
    const uint32_t entry = WithLength(templates[sym], len);
    for (unsigned k = code; k < rootSize; k += 1u << len) table[k] = entry;
    code = NextReversedCode(code, len);
  }
  // Longer codewords: one sub-table per root prefix, as wide as its longest codeword needs.
  unsigned next = rootSize;
  unsigned prefix = ~0u;
  unsigned subStart = 0;
  unsigned subBits = 0;
  for (; i < numCodes; ++i) {
    const unsigned sym = sorted[i];
    const unsigned len = lens[sym];
    if ((code & (rootSize - 1)) != prefix) {
      prefix = code & (rootSize - 1);
      subBits = len - rootBits;
      int room = 1 << subBits;
      while (subBits + rootBits < kMaxCodeLen) {
        room -= static_cast<int>(count[subBits + rootBits]);
        if (room <= 0) break;
        ++subBits;
        room <<= 1;
      }
      if (next + (1u << subBits) > tableSize) return TBuild::kNoRoom;
      table[prefix] = kExceptionalFlag | kSubtableFlag | (next << 16) | (subBits << 8) | rootBits;
      subStart = next;
      next += 1u << subBits;
    }
    const uint32_t entry = WithLength(templates[sym], len - rootBits);
    for (unsigned k = code >> rootBits; k < (1u << subBits); k += 1u << (len - rootBits))
      table[subStart + k] = entry;
    --count[len];
    code = NextReversedCode(code, len);
  }
  return TBuild::kOk;
}

// The fixed codes (RFC 1951 3.2.6) of one mode, built once and never changed. All 288 and 32
// symbols get codewords so that the codes are complete; the templates mark 286/287 (and, in
// Deflate mode, distances 30/31) invalid.
struct TFixedTables {
  uint32_t litlen[1u << kLitlenRootBits];
  uint32_t dist[1u << kDistRootBits];
};

TFixedTables MakeFixedTables(const TSymbolTemplates& templates) {
  TFixedTables t{};
  uint8_t lens[kNumLitlenSyms];
  std::fill(lens, lens + 144, 8);
  std::fill(lens + 144, lens + 256, 9);
  std::fill(lens + 256, lens + 280, 7);
  std::fill(lens + 280, lens + 288, 8);
  BuildTable(t.litlen, 1u << kLitlenRootBits, kLitlenRootBits, lens, kNumLitlenSyms,
             templates.litlen, false, false);
  std::fill(lens, lens + kNumDistSyms, 5);
  BuildTable(t.dist, 1u << kDistRootBits, kDistRootBits, lens, kNumDistSyms, templates.dist, false,
             false);
  return t;
}

const TFixedTables& FixedTables(bool deflate64) {
  static const TFixedTables kDeflate = MakeFixedTables(kDeflateTemplates);
  static const TFixedTables kDeflate64 = MakeFixedTables(kDeflate64Templates);
  return deflate64 ? kDeflate64 : kDeflate;
}

// ---- Adler-32 -----------------------------------------------------------------------------------

// Sums modulo the largest prime below 65536. 5552 is the largest n for which
// 255 n (n + 1) / 2 + (n + 1) (kAdlerBase - 1) still fits in 32 bits, so the sums are reduced
// once per block of that size.
constexpr uint32_t kAdlerBase = 65521;
constexpr size_t kAdlerBlock = 5552;

// ---- word access --------------------------------------------------------------------------------

inline void Copy8(uint8_t* dst, const uint8_t* src) {
  uint64_t v;
  std::memcpy(&v, src, 8);
  std::memcpy(dst, &v, 8);
}
inline void Store8(uint8_t* dst, uint64_t v) {
  std::memcpy(dst, &v, 8);
}
inline uint64_t LowMask(unsigned n) {
  return (uint64_t{1} << n) - 1;
}

// Copies a match of len bytes from dist bytes back, overlap allowed. May write up to kCopySlack
// bytes past out + len (never reads past what it has written).
constexpr size_t kCopySlack = 16;
inline void CopyMatch(uint8_t* out, size_t len, size_t dist) {
  const uint8_t* src = out - dist;
  uint8_t* const end = out + len;
  if (dist >= 8) [[likely]] {
    // Most matches are short: the first 16 bytes without a loop test.
    Copy8(out, src);
    Copy8(out + 8, src + 8);
    if (len > 16) {
      out += 16;
      src += 16;
      do {
        Copy8(out, src);
        Copy8(out + 8, src + 8);
        out += 16;
        src += 16;
      } while (out < end);
    }
  } else if (dist == 1) {
    const uint64_t v = uint64_t{*src} * 0x0101010101010101ull;
    do {
      Store8(out, v);
      Store8(out + 8, v);
      out += 16;
    } while (out < end);
  } else {
    // Each store is right in its first dist bytes; the next one starts there.
    do {
      Copy8(out, src);
      out += dist;
      src += dist;
    } while (out < end);
  }
}

// The same for the 16-bit output of a decode ahead (elements, not bytes; the slack is kCopySlack
// elements too).
inline void CopyMatch(uint16_t* out, size_t len, size_t dist) {
  const uint16_t* src = out - dist;
  uint16_t* const end = out + len;
  auto bytes = [](auto* p) { return reinterpret_cast<uint8_t*>(const_cast<uint16_t*>(p)); };
  if (dist >= 16) [[likely]] {
    do {
      Copy8(bytes(out), bytes(src));
      Copy8(bytes(out) + 8, bytes(src) + 8);
      Copy8(bytes(out) + 16, bytes(src) + 16);
      Copy8(bytes(out) + 24, bytes(src) + 24);
      out += 16;
      src += 16;
    } while (out < end);
  } else if (dist >= 8) {
    do {
      Copy8(bytes(out), bytes(src));
      Copy8(bytes(out) + 8, bytes(src) + 8);
      out += 8;
      src += 8;
    } while (out < end);
  } else if (dist == 1) {
    const uint64_t v = uint64_t{*src} * 0x0001000100010001ull;
    do {
      Store8(bytes(out), v);
      Store8(bytes(out) + 8, v);
      out += 8;
    } while (out < end);
  } else if (dist >= 4) {
    // Four marks a step, each read from what is already written.
    do {
      Copy8(bytes(out), bytes(src));
      out += 4;
      src += 4;
    } while (out < end);
  } else {
    do *out++ = *src++;
    while (out < end);
  }
}

// Copies len bytes between separate buffers in 16-byte steps (writes and reads up to kCopySlack
// bytes beyond len).
inline void CopyChunks(uint8_t* out, const uint8_t* src, size_t len) {
  uint8_t* const end = out + len;
  do {
    Copy8(out, src);
    Copy8(out + 8, src + 8);
    out += 16;
    src += 16;
  } while (out < end);
}

}  // namespace

// ---- the stream state ---------------------------------------------------------------------------
//
// Modes and their order (wrapped data starts at kHead, raw data at kType):
//   kHead -> kFlags -> [kDictId -> kDict] -> kType
//   kType -> kStored -> kCopy -> kType | kType -> kTable -> kLenLens -> kCodeLens -> kLen
//   kType (fixed) -> kLen -> kLit | kLenExt -> kDist -> kDistExt -> kMatch -> kLen
//   kLen (end of block) -> kType; kType after the last block -> kCheck (wrapped) | kDone
// Any data error goes to kBad, which is final.
enum class TMode : uint8_t {
  kHead,      // zlib header: the method byte
  kFlags,     // zlib header: the flag byte, header sum and dictionary bit
  kDictId,    // the four-byte dictionary id, big-endian
  kDict,      // a dictionary was asked for; the engine has none to give
  kType,      // block header: last-block flag and block type
  kStored,    // stored block: skip to a byte boundary, read LEN and NLEN
  kCopy,      // stored block: copy bytes from input to output
  kTable,     // dynamic block: HLIT, HDIST, HCLEN
  kLenLens,   // dynamic block: lengths of the code-length code
  kCodeLens,  // dynamic block: literal/length and distance code lengths
  kLen,       // a literal/length symbol (the fast loop starts here)
  kLenExt,    // extra bits of a length
  kDist,      // a distance symbol
  kDistExt,   // extra bits of a distance
  kMatch,     // copy the match to the output
  kLit,       // write the literal to the output
  kCheck,     // Adler-32 of the output, big-endian (wrapped data)
  kDone,      // the stream is finished
  kBad,       // a data error; every later call says so
};

struct TInflateState {
  TMode mode = TMode::kType;
  bool wrapped = false;
  bool deflate64 = false;
  bool last = false;
  bool headerOnly = false;  // a decode ahead reads a block's header and decodes the rest itself
  unsigned wbits = 0;
  uint32_t wsize = 0;  // history size, 2^wbits

  // History: the last wsize bytes of output before the current call are window[whead - wsize,
  // whead). The buffer is 2 * wsize long (+ slack) so appending rarely moves anything.
  uint8_t* window = nullptr;
  uint32_t whead = 0;

  uint64_t hold = 0;  // bit buffer, least significant bits first; nothing above `bits` is set
  unsigned bits = 0;

  uint32_t length = 0;  // stored bytes left, or match length
  uint32_t offset = 0;  // match distance
  unsigned extra = 0;   // extra bits still to read for the length or distance
  uint8_t literal = 0;
  uint32_t check = 0;  // running Adler-32 (wrapped)
  unsigned nlen = 0, ndist = 0, ncode = 0, have = 0;

  const TSymbolTemplates* templates = nullptr;
  const uint32_t* litlen = nullptr;  // the fixed tables or litlenArea
  const uint32_t* dist = nullptr;    // the fixed tables or distArea

  uint8_t lens[kNumLitlenSyms + kNumDistSyms] = {};
  uint32_t precode[kPrecodeEnough] = {};
  uint32_t litlenArea[kLitlenEnough] = {};
  uint32_t distArea[kDistEnough] = {};
};

namespace {

constexpr size_t kWindowSlack = 32;  // window over-reads by the chunked copies

void* DefaultAlloc(void* /*opaque*/, unsigned items, unsigned size) {
  return std::calloc(items, size);
}
void DefaultFree(void* /*opaque*/, void* address) {
  std::free(address);
}

// Keeps the last wsize bytes of output as history.
void AppendHistory(TInflateState& s, const uint8_t* src, size_t n) {
  if (n == 0) return;
  const uint32_t wsize = s.wsize;
  if (n >= wsize) {
    std::memcpy(s.window, src + n - wsize, wsize);
    s.whead = wsize;
    return;
  }
  if (s.whead + n > 2 * size_t{wsize}) {
    const size_t keep = wsize - n;
    std::memmove(s.window, s.window + s.whead - keep, keep);
    s.whead = static_cast<uint32_t>(keep);
  }
  std::memcpy(s.window + s.whead, src, n);
  s.whead += static_cast<uint32_t>(n);
}

// The fast loop's margins. Input: each iteration refills at most three times, each refill reads
// 8 bytes and advances at most 7, so 7 + 7 + 8 bytes past the iteration's start are read.
// Output: three literals; a match that does not fit with its copy slack leaves the loop.
constexpr size_t kFastInMargin = 32;
constexpr size_t kFastOutMargin = 8;
// The most bits one distance needs (15-bit codeword + 14 extra bits); the bit buffer holds at least
// 56 after a refill, a length takes at most 31 (Deflate64 code 285 with 16 extra bits).
constexpr unsigned kMaxDistConsume = kMaxCodeLen + 14;
constexpr unsigned kRefilledBits = 56;
static_assert(kRefilledBits - 31 < kMaxDistConsume, "Deflate64 needs the refill before distances");
static_assert(kRefilledBits >= 3 * kLitlenRootBits, "three root literals per refill");

template <typename T>
struct TFastIoOf {
  const uint8_t* in;
  const uint8_t* inEnd;
  T* out;
  T* outEnd;
  T* outStart;  // where this call's output began: anything further back is history
};
using TFastIo = TFastIoOf<uint8_t>;

// Decodes whole symbols while at least kFastInMargin input bytes and kFastOutMargin bytes of room
// are left. Entry: mode kLen, no partial symbol. Exit: mode kLen at a symbol start, kType after an
// end of block, kMatch for a match longer than the room, or kBad; whole bytes of the bit buffer go
// back to the input.
//
// The bit count keeps its true value in its low 8 bits only: consuming subtracts a whole table
// entry (whose low byte is the bit count to consume), which saves a masking step per symbol.
//
// T is the output element: bytes, or the 16-bit symbols of a decode ahead (literals, and marks
// for bytes of the unknown history, which matches copy like any other symbol; the whole history
// is marks in the output area, so no match reaches before it).
template <bool kCheckDistance, typename T>
[[gnu::always_inline]] inline void FastLoopBody(TInflateState& s, TFastIoOf<T>& io,
                                                const uint8_t* callIn) {
  const uint8_t* in = io.in;
  T* out = io.out;
  const uint8_t* const inLimit = io.inEnd - kFastInMargin;
  T* const outLimit = io.outEnd - kFastOutMargin;
  T* const outStart = io.outStart;
  const uint32_t* const litlen = s.litlen;
  const uint32_t* const distTable = s.dist;
  uint64_t bitbuf = s.hold;
  uint32_t bitsleft = s.bits;
  constexpr uint64_t kLitlenMask = (1u << kLitlenRootBits) - 1;
  constexpr uint64_t kDistMask = (1u << kDistRootBits) - 1;

  // Fills the bit buffer to 56..63 bits; bits above the count hold the next input bits or zeros.
  auto refill = [&] {
    bitbuf |= GetLe64(in) << static_cast<uint8_t>(bitsleft);
    in += 7 - ((bitsleft >> 3) & 7);
    bitsleft |= kRefilledBits;
  };
  auto consume = [&](uint32_t entry) {
    bitbuf >>= static_cast<uint8_t>(entry);
    bitsleft -= entry;
  };
  // The value of a length or distance entry: its base plus the extra bits above the codeword.
  auto extraValue = [](uint32_t entry, uint64_t saved) -> size_t {
    return Value(entry) + static_cast<size_t>((saved & LowMask(Consume(entry))) >> CodeLen(entry));
  };

  if (in > inLimit || out > outLimit) return;
  refill();
  uint32_t entry = litlen[bitbuf & kLitlenMask];
  for (;;) {
    // Here: at least 56 bits, `entry` is the root entry for them.
    if (entry & kLiteralFlag) {
      // Up to three literals on one refill: root literals are at most 11 bits.
      consume(entry);
      *out++ = static_cast<T>(Value(entry));
      entry = litlen[bitbuf & kLitlenMask];
      if (entry & kLiteralFlag) {
        consume(entry);
        *out++ = static_cast<T>(Value(entry));
        entry = litlen[bitbuf & kLitlenMask];
        if (entry & kLiteralFlag) {
          consume(entry);
          *out++ = static_cast<T>(Value(entry));
          if (in > inLimit || out > outLimit) break;
          refill();
          entry = litlen[bitbuf & kLitlenMask];
          continue;
        }
      }
      if (in > inLimit || out > outLimit) break;
      refill();
    }
    if (entry & kExceptionalFlag) {
      if (entry & kSubtableFlag) {
        consume(entry);
        entry = litlen[Value(entry) + (bitbuf & LowMask(CodeLen(entry)))];
        if (entry & kLiteralFlag) {
          consume(entry);
          *out++ = static_cast<T>(Value(entry));
          if (in > inLimit || out > outLimit) break;
          refill();
          entry = litlen[bitbuf & kLitlenMask];
          continue;
        }
      }
      if (entry & kExceptionalFlag) {
        if (Value(entry) == Value(kEndOfBlockEntry)) {
          consume(entry);
          s.mode = TMode::kType;
        } else {
          s.mode = TMode::kBad;
        }
        break;
      }
    }
    // A length, then its distance.
    uint64_t saved = bitbuf;
    consume(entry);
    const size_t length = extraValue(entry, saved);
    if (static_cast<uint8_t>(bitsleft) < kMaxDistConsume) refill();
    entry = distTable[bitbuf & kDistMask];
    if (entry & kExceptionalFlag) {
      if (entry & kSubtableFlag) {
        consume(entry);
        entry = distTable[Value(entry) + (bitbuf & LowMask(CodeLen(entry)))];
      }
      if (entry & kExceptionalFlag) {
        s.mode = TMode::kBad;
        break;
      }
    }
    saved = bitbuf;
    consume(entry);
    const size_t dist = extraValue(entry, saved);
    if (kCheckDistance && dist > s.wsize) {
      s.mode = TMode::kBad;
      break;
    }
    if constexpr (sizeof(T) != 1) {
      if (dist > static_cast<size_t>(out - outStart)) {
        s.mode = TMode::kBad;
        break;
      }
    }
    if (length + kCopySlack > static_cast<size_t>(outLimit - out) + kFastOutMargin) {
      // Not enough room to copy with slack: the state machine copies it piece by piece.
      s.length = static_cast<uint32_t>(length);
      s.offset = static_cast<uint32_t>(dist);
      s.mode = TMode::kMatch;
      break;
    }
    // Look up the next symbol before copying, so the table load overlaps the copy.
    const bool more = in <= inLimit;
    if (more) {
      refill();
      entry = litlen[bitbuf & kLitlenMask];
    }
    const size_t produced = static_cast<size_t>(out - outStart);
    if (sizeof(T) != 1 || dist <= produced) {
      CopyMatch(out, length, dist);
      out += length;
    } else if constexpr (sizeof(T) == 1) {
      // The match starts in the history of earlier calls.
      const size_t fromHistory = dist - produced;
      const uint8_t* const histEnd = s.window + s.whead;
      if (length <= fromHistory) {
        CopyChunks(out, histEnd - fromHistory, length);
        out += length;
      } else {
        CopyChunks(out, histEnd - fromHistory, fromHistory);
        out += fromHistory;
        CopyMatch(out, length - fromHistory, dist);
        out += length - fromHistory;
      }
    }
    if (!more || out > outLimit) break;
  }

  // Give whole unused bytes back; they were all read during this call.
  uint32_t bitCount = static_cast<uint8_t>(bitsleft);
  const size_t giveBack = std::min<size_t>(bitCount >> 3, static_cast<size_t>(in - callIn));
  in -= giveBack;
  bitCount -= static_cast<uint32_t>(giveBack * 8);
  s.hold = bitbuf & LowMask(bitCount);
  s.bits = bitCount;
  io.in = in;
  io.out = out;
}

// Windows narrower than the format's farthest distance need every distance checked; the usual
// 32 KiB (64 KiB for Deflate64) windows cannot be overreached.
template <bool kCheckDistance, typename T = uint8_t>
void FastLoopBaseline(TInflateState& s, TFastIoOf<T>& io, const uint8_t* callIn) {
  FastLoopBody<kCheckDistance>(s, io, callIn);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// The same loop compiled for processors with BMI2 (shifts and masks without the count register),
// chosen at run time; the plain build stays baseline x86-64.
template <bool kCheckDistance, typename T = uint8_t>
[[gnu::target("bmi2")]] void FastLoopBmi2(TInflateState& s, TFastIoOf<T>& io,
                                          const uint8_t* callIn) {
  FastLoopBody<kCheckDistance>(s, io, callIn);
}
#endif

using TFastLoop = void (*)(TInflateState&, TFastIo&, const uint8_t*);

// Set by tests that exercise the baseline loop on a processor with BMI2.
std::atomic<bool> gBaselineOnly{false};

bool HasBmi2() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  __builtin_cpu_init();
  return __builtin_cpu_supports("bmi2");
#else
  return false;
#endif
}

TFastLoop ChooseFastLoop(bool checkDistance) {
  static const bool kBmi2 = HasBmi2();
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  if (kBmi2 && !gBaselineOnly.load(std::memory_order_relaxed))
    return checkDistance ? FastLoopBmi2<true> : FastLoopBmi2<false>;
#endif
  return checkDistance ? FastLoopBaseline<true> : FastLoopBaseline<false>;
}

void FastLoop(TInflateState& s, TFastIo& io, const uint8_t* callIn) {
  // The farthest distances: 32768 in Deflate, 65536 in Deflate64.
  const bool checkDistance = s.wsize < (s.deflate64 ? 65536u : 32768u);
  ChooseFastLoop(checkDistance)(s, io, callIn);
}

// ---- decoding ahead -----------------------------------------------------------------------------

using TAheadLoop = void (*)(TInflateState&, TFastIoOf<uint16_t>&, const uint8_t*);

TAheadLoop ChooseAheadLoop() {
  static const bool kBmi2 = HasBmi2();
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  if (kBmi2 && !gBaselineOnly.load(std::memory_order_relaxed)) return FastLoopBmi2<false, uint16_t>;
#endif
  return FastLoopBaseline<false, uint16_t>;
}

// A block start worth trying begins with 13 bits that say: not the last block, dynamic codes, at
// most 286 literal/length and 30 distance codes (about one bit position in nine). For each 16-bit
// value: which of the bit positions 0-3 in it begin such 13 bits.
constexpr bool StartWorthTrying(unsigned first13) {
  return (first13 & 7) == 4 && ((first13 >> 3) & 31) <= 29 && ((first13 >> 8) & 31) <= 29;
}
// Made on first use (a constant expression this large is beyond some compilers' limits).
const std::array<uint8_t, 65536>& StartsIn16() {
  static const std::array<uint8_t, 65536> table = [] {
    std::array<uint8_t, 65536> t{};
    for (unsigned v = 0; v < t.size(); ++v)
      for (unsigned k = 0; k < 4; ++k)
        if (StartWorthTrying((v >> k) & 0x1FFF)) t[v] |= static_cast<uint8_t>(1u << k);
    return t;
  }();
  return table;
}
// The Kraft sum (in 1/128) of four 3-bit code lengths.
constexpr auto kKraftOf4 = [] {
  std::array<uint16_t, 4096> t{};
  for (unsigned v = 0; v < t.size(); ++v)
    for (unsigned i = 0; i < 4; ++i)
      if (const unsigned len = (v >> (3 * i)) & 7; len != 0)
        t[v] += static_cast<uint16_t>(128u >> len);
  return t;
}();

// At least 57 bits from `bit` on.
inline uint64_t PeekAt(const uint8_t* data, uint64_t bit) {
  return GetLe64(data + (bit >> 3)) >> (bit & 7);
}

// Whether the code-length code of a dynamic header at `bit` is complete, as the table builder
// demands: most bit positions that pass the first filter fail here, before any table is built.
bool PrecodeComplete(const uint8_t* data, uint64_t bit) {
  const unsigned ncode = static_cast<unsigned>((PeekAt(data, bit) >> 13) & 15) + 4;
  const uint64_t lens = PeekAt(data, bit + 17) & LowMask(3 * ncode);
  const unsigned kraft = kKraftOf4[lens & 0xFFF] + kKraftOf4[(lens >> 12) & 0xFFF] +
                         kKraftOf4[(lens >> 24) & 0xFFF] + kKraftOf4[(lens >> 36) & 0xFFF] +
                         kKraftOf4[(lens >> 48) & 0xFFF];
  return kraft == 128;
}

// Reads the code lengths of a dynamic header at `bit` (whose code-length code is complete) only as
// far as they can still make codes: false as soon as the literal/length or distance lengths
// over-subscribe, a repeat has nothing to repeat or runs past the count, or the end of block has
// no code. Nearly every bit position that gets this far fails within a few dozen lengths; what
// passes goes on to the state machine, which builds the tables.
bool CodeLengthsPlausible(const uint8_t* data, size_t size, uint64_t bit) {
  const uint64_t head = PeekAt(data, bit);
  const unsigned nlen = static_cast<unsigned>((head >> 3) & 31) + 257;
  const unsigned ndist = static_cast<unsigned>((head >> 8) & 31) + 1;
  const unsigned ncode = static_cast<unsigned>((head >> 13) & 15) + 4;
  uint8_t lens[kNumPrecodeSyms] = {};
  const uint64_t lensBits = PeekAt(data, bit + 17);
  for (unsigned i = 0; i < ncode; ++i) lens[kPrecodeOrder[i]] = (lensBits >> (3 * i)) & 7;
  uint32_t table[kPrecodeEnough];
  if (BuildTable(table, kPrecodeEnough, kPrecodeRootBits, lens, kNumPrecodeSyms,
                 kPrecodeTemplates.sym, false, false) != TBuild::kOk)
    return false;
  uint64_t pos = bit + 17 + 3 * ncode;
  const unsigned total = nlen + ndist;
  unsigned have = 0;
  unsigned previous = 0;
  uint32_t litlenSum = 0, distSum = 0;  // Kraft sums in 1/32768
  while (have < total) {
    if ((pos >> 3) + 8 > size) return true;  // the data ends: the state machine decides
    const uint64_t word = PeekAt(data, pos);
    const uint32_t entry = table[word & (kPrecodeEnough - 1)];
    const unsigned len = CodeLen(entry);
    const unsigned sym = Value(entry);
    pos += len;
    unsigned value = sym;
    unsigned repeat = 1;
    if (sym == 16) {
      if (have == 0) return false;
      value = previous;
      repeat = 3 + ((word >> len) & 3);
      pos += 2;
    } else if (sym == 17) {
      value = 0;
      repeat = 3 + ((word >> len) & 7);
      pos += 3;
    } else if (sym == 18) {
      value = 0;
      repeat = 11 + ((word >> len) & 127);
      pos += 7;
    }
    if (have + repeat > total) return false;
    if (value != 0) {
      const unsigned inLitlen = have >= nlen ? 0 : std::min(repeat, nlen - have);
      litlenSum += inLitlen * (32768u >> value);
      distSum += (repeat - inLitlen) * (32768u >> value);
      if (litlenSum > 32768 || distSum > 32768) return false;
    } else if (have <= kEndOfBlockSym && kEndOfBlockSym < have + repeat) {
      return false;
    }
    previous = value;
    have += repeat;
  }
  return true;
}

// Puts the engine at a block start at `bit` of `data`: the input goes on from the pointer
// returned.
const uint8_t* StandAt(TInflateState& s, const uint8_t* data, uint64_t bit) {
  const uint8_t* in = data + (bit >> 3);
  s.mode = TMode::kType;
  s.last = false;
  s.hold = 0;
  s.bits = 0;
  if ((bit & 7) != 0) {
    s.hold = *in++ >> (bit & 7);
    s.bits = 8 - static_cast<unsigned>(bit & 7);
  }
  return in;
}

// Reads the block header at `in` (the engine standing at it) through the state machine; the
// engine then stands at the block's first symbol (kLen) or stored byte (kCopy), or elsewhere when
// the header is broken or the input ends in it.
const uint8_t* ReadHeader(TInflateStream& engine, const uint8_t* in, const uint8_t* inEnd) {
  engine.next_in = in;
  engine.avail_in = static_cast<uint32_t>(inEnd - in);
  engine.next_out = nullptr;
  engine.avail_out = 0;
  engine.state->headerOnly = true;
  Inflate(engine, kInflateNoFlush);
  engine.state->headerOnly = false;
  return engine.next_in;
}

// Decodes whole blocks from the block start at `startBit` (see InflateDecodeAhead). The headers
// go through the state machine, the symbols through the fast loop with 16-bit output. False
// when not one block decodes whole.
bool DecodeBlocksAhead(TInflateStream& engine, const uint8_t* data, size_t size, uint64_t startBit,
                       uint64_t stopBit, size_t maxSymbols, TInflateAhead& ahead) {
  TInflateState& s = *engine.state;
  ahead.StartBit = ahead.EndBit = startBit;
  ahead.Count = 0;
  ahead.Final = false;
  uint16_t* const area = ahead.Area.data();
  uint16_t* const first = area + kInflateAheadHistory;
  uint16_t* const end = first + maxSymbols;
  uint16_t* out = first;
  const uint8_t* const inEnd = data + size;
  const uint8_t* in = StandAt(s, data, startBit);
  while (in < inEnd) {
    in = ReadHeader(engine, in, inEnd);
    if (s.mode == TMode::kCopy) {
      // A stored block: its length is read, and the bit buffer holds whole bytes only.
      size_t n = s.length;
      if (static_cast<size_t>(end - out) < n) break;
      for (; n > 0 && s.bits >= 8; --n) {
        *out++ = static_cast<uint16_t>(s.hold & 0xFF);
        s.hold >>= 8;
        s.bits -= 8;
      }
      if (static_cast<size_t>(inEnd - in) < n) break;
      for (size_t k = 0; k < n; ++k) out[k] = in[k];
      out += n;
      in += n;
      s.length = 0;
      s.mode = TMode::kType;
    } else if (s.mode == TMode::kLen) {
      TFastIoOf<uint16_t> io{in, inEnd, out, end, area};
      ChooseAheadLoop()(s, io, in);
      in = io.in;
      out = io.out;
      // Broken, no room for a match, or the input ran short: the block is not whole.
      if (s.mode != TMode::kType) break;
    } else {
      break;  // a broken header, or one the input does not hold
    }
    ahead.Count = static_cast<size_t>(out - first);
    ahead.EndBit = static_cast<uint64_t>(in - data) * 8 - s.bits;
    ahead.Final = s.last;
    if (s.last || ahead.EndBit >= stopBit) break;
  }
  s.mode = TMode::kType;  // whatever came after the last whole block is dropped
  return ahead.EndBit > startBit;
}

}  // namespace

// ---- interface ----------------------------------------------------------------------------------

void InflateUseBaselineLoop(bool baselineOnly) {
  gBaselineOnly.store(baselineOnly, std::memory_order_relaxed);
}

int InflateReset(TInflateStream& strm) {
  TInflateState* s = strm.state;
  if (s == nullptr) return kInflateStreamError;
  strm.total_in = 0;
  strm.total_out = 0;
  strm.msg = nullptr;
  s->mode = s->wrapped ? TMode::kHead : TMode::kType;
  s->last = false;
  s->hold = 0;
  s->bits = 0;
  s->length = s->offset = 0;
  s->extra = 0;
  s->check = 1;
  if (s->wrapped) strm.adler = 1;
  // Fresh history is zeros: a distance reaching before the first output byte reads zeros.
  std::memset(s->window, 0, s->wsize);
  s->whead = s->wsize;
  s->litlen = nullptr;
  s->dist = nullptr;
  return kInflateOk;
}

int InflateInit(TInflateStream& strm, int windowBits, int recordSize, bool deflate64) {
  if (recordSize != kInflateStreamSize) return kInflateVersionError;
  strm.msg = nullptr;
  strm.state = nullptr;
  if (strm.zalloc == nullptr) strm.zalloc = DefaultAlloc;
  if (strm.zfree == nullptr) strm.zfree = DefaultFree;
  if (windowBits < -15 || windowBits > 15) return kInflateStreamError;  // 16 only through Deflate64
  const bool wrapped = windowBits >= 0;
  int bits = wrapped ? windowBits : -windowBits;
  if (deflate64) ++bits;
  if (bits < 8 || bits > (deflate64 ? 16 : 15)) return kInflateStreamError;

  void* stateMemory = strm.zalloc(strm.opaque, 1, sizeof(TInflateState));
  if (stateMemory == nullptr) return kInflateMemError;
  TInflateState* s = new (stateMemory) TInflateState();
  s->wrapped = wrapped;
  s->deflate64 = deflate64;
  s->templates = deflate64 ? &kDeflate64Templates : &kDeflateTemplates;
  s->wbits = static_cast<unsigned>(bits);
  s->wsize = 1u << bits;
  s->window = static_cast<uint8_t*>(
      strm.zalloc(strm.opaque, 1, static_cast<unsigned>(2 * size_t{s->wsize} + kWindowSlack)));
  if (s->window == nullptr) {
    s->~TInflateState();
    strm.zfree(strm.opaque, stateMemory);
    return kInflateMemError;
  }
  std::memset(s->window, 0, 2 * size_t{s->wsize} + kWindowSlack);
  strm.state = s;
  return InflateReset(strm);
}

int InflateEnd(TInflateStream& strm) {
  TInflateState* s = strm.state;
  if (s == nullptr || strm.zfree == nullptr) return kInflateStreamError;
  strm.zfree(strm.opaque, s->window);
  s->~TInflateState();
  strm.zfree(strm.opaque, s);
  strm.state = nullptr;
  return kInflateOk;
}

int Inflate(TInflateStream& strm, int flush) {
  TInflateState* const sp = strm.state;
  if (sp == nullptr || strm.next_in == nullptr) return kInflateStreamError;
  if (strm.next_out == nullptr && strm.avail_out != 0) return kInflateStreamError;
  TInflateState& s = *sp;
  if (s.mode == TMode::kDict) {
    // Nobody can hand us the dictionary the stream needs.
    s.mode = TMode::kBad;
    return kInflateStreamError;
  }

  const uint8_t* const inStart = strm.next_in;
  const uint8_t* next = strm.next_in;
  uint32_t have = strm.avail_in;
  uint8_t* const outStart = strm.next_out;
  uint8_t* put = strm.next_out;
  uint32_t left = strm.avail_out;
  uint8_t* checked = outStart;  // output before this point is in s.check
  uint64_t hold = s.hold;
  unsigned bits = s.bits;
  int ret = kInflateOk;
  bool blockEnded = false;  // a kInflateBlock call stopped at the end of a block

  // The bit reader of the state machine: one byte at a time, only as many as a step needs.
  auto pullByte = [&]() -> bool {
    if (have == 0) return false;
    --have;
    hold |= uint64_t{*next++} << bits;
    bits += 8;
    return true;
  };
  auto needBits = [&](unsigned n) -> bool {
    while (bits < n)
      if (!pullByte()) return false;
    return true;
  };
  auto peekBits = [&](unsigned n) -> uint32_t { return static_cast<uint32_t>(hold & LowMask(n)); };
  auto dropBits = [&](unsigned n) {
    hold >>= n;
    bits -= n;
  };
  // Decodes one symbol from a table without consuming it: pulls bytes until the entry is certain.
  // Returns false when input ran out; the symbol is then still unread.
  auto peekSymbol = [&](const uint32_t* table, unsigned rootBits, uint32_t& entry,
                        unsigned& len) -> bool {
    for (;;) {
      entry = table[peekBits(rootBits)];
      if (NeededBits(entry) <= bits) break;
      if (!pullByte()) return false;
    }
    len = CodeLen(entry);
    if (entry & kSubtableFlag) {
      const uint32_t pointer = entry;
      for (;;) {
        entry = table[Value(pointer) + ((hold >> rootBits) & LowMask(CodeLen(pointer)))];
        if (rootBits + CodeLen(entry) <= bits) break;
        if (!pullByte()) return false;
      }
      len = rootBits + CodeLen(entry);
    }
    return true;
  };
  auto foldCheck = [&] {
    if (s.wrapped && put != checked) {
      s.check = Adler32(s.check, checked, static_cast<size_t>(put - checked));
      strm.adler = s.check;
    }
    checked = put;
  };
  auto bad = [&] { s.mode = TMode::kBad; };

  for (;;) {
    switch (s.mode) {
      case TMode::kHead: {
        if (!needBits(8)) goto leave;
        const unsigned method = peekBits(8);
        if ((method & 0x0F) != 8 || (method >> 4) + 8 > s.wbits) {
          bad();
          break;
        }
        s.length = method;  // kept for the header sum
        s.mode = TMode::kFlags;
        break;
      }
      case TMode::kFlags: {
        if (!needBits(16)) goto leave;
        const unsigned flags = (peekBits(16) >> 8);
        if ((s.length * 256 + flags) % 31 != 0) {
          bad();
          break;
        }
        dropBits(16);
        s.check = 1;
        strm.adler = 1;
        s.mode = (flags & 0x20) ? TMode::kDictId : TMode::kType;
        break;
      }
      case TMode::kDictId: {
        if (!needBits(32)) goto leave;
        strm.adler = __builtin_bswap32(peekBits(32));
        dropBits(32);
        s.mode = TMode::kDict;
        ret = kInflateNeedDict;
        goto leave;
      }
      case TMode::kDict:  // handled on entry
        goto leave;
      case TMode::kType: {
        if (s.last) {
          // Past the last block: align to a byte; whole held bytes go back to the input.
          dropBits(bits & 7);
          const unsigned back =
              std::min<unsigned>(bits >> 3, static_cast<unsigned>(next - inStart));
          next -= back;
          have += back;
          dropBits(back * 8);
          s.mode = s.wrapped ? TMode::kCheck : TMode::kDone;
          break;
        }
        if (!needBits(3)) goto leave;
        s.last = peekBits(1) != 0;
        const unsigned type = (peekBits(3) >> 1);
        dropBits(3);
        if (type == 0) {
          s.mode = TMode::kStored;
        } else if (type == 1) {
          const TFixedTables& fixed = FixedTables(s.deflate64);
          s.litlen = fixed.litlen;
          s.dist = fixed.dist;
          s.mode = TMode::kLen;
          if (s.headerOnly) goto leave;
        } else if (type == 2) {
          s.mode = TMode::kTable;
        } else {
          bad();
        }
        break;
      }
      case TMode::kStored: {
        dropBits(bits & 7);
        if (!needBits(32)) goto leave;
        const uint32_t word = peekBits(32);
        if ((word & 0xFFFF) != ((word >> 16) ^ 0xFFFF)) {
          bad();
          break;
        }
        s.length = word & 0xFFFF;
        dropBits(32);
        s.mode = TMode::kCopy;
        if (s.headerOnly) goto leave;
        break;
      }
      case TMode::kCopy: {
        if (s.length == 0) {
          s.mode = TMode::kType;
          if (flush == kInflateBlock) {
            blockEnded = true;
            goto leave;
          }
          break;
        }
        const uint32_t copy = std::min({s.length, have, left});
        if (copy == 0) goto leave;
        std::memcpy(put, next, copy);
        put += copy;
        left -= copy;
        next += copy;
        have -= copy;
        s.length -= copy;
        break;
      }
      case TMode::kTable: {
        if (!needBits(14)) goto leave;
        s.nlen = peekBits(5) + 257;
        s.ndist = (peekBits(10) >> 5) + 1;
        s.ncode = (peekBits(14) >> 10) + 4;
        dropBits(14);
        if (!s.deflate64 && (s.nlen > kMaxLitlenDeflate || s.ndist > kMaxDistDeflate)) {
          bad();
          break;
        }
        s.have = 0;
        s.mode = TMode::kLenLens;
        break;
      }
      case TMode::kLenLens: {
        while (s.have < s.ncode) {
          if (!needBits(3)) goto leave;
          s.lens[kPrecodeOrder[s.have++]] = static_cast<uint8_t>(peekBits(3));
          dropBits(3);
        }
        while (s.have < kNumPrecodeSyms) s.lens[kPrecodeOrder[s.have++]] = 0;
        if (BuildTable(s.precode, kPrecodeEnough, kPrecodeRootBits, s.lens, kNumPrecodeSyms,
                       kPrecodeTemplates.sym, false, false) != TBuild::kOk) {
          bad();
          break;
        }
        s.have = 0;
        s.mode = TMode::kCodeLens;
        break;
      }
      case TMode::kCodeLens: {
        const unsigned total = s.nlen + s.ndist;
        while (s.have < total) {
          uint32_t entry;
          unsigned len;
          if (!peekSymbol(s.precode, kPrecodeRootBits, entry, len)) goto leave;
          const unsigned sym = Value(entry);
          if (sym < 16) {
            dropBits(len);
            s.lens[s.have++] = static_cast<uint8_t>(sym);
            continue;
          }
          const unsigned extraBits = sym == 16 ? 2 : sym == 17 ? 3 : 7;
          if (!needBits(len + extraBits)) goto leave;
          dropBits(len);
          uint8_t value = 0;
          unsigned repeat;
          if (sym == 16) {
            if (s.have == 0) {
              bad();
              break;
            }
            value = s.lens[s.have - 1];
            repeat = 3 + peekBits(2);
          } else if (sym == 17) {
            repeat = 3 + peekBits(3);
          } else {
            repeat = 11 + peekBits(7);
          }
          dropBits(extraBits);
          if (s.have + repeat > total) {
            bad();
            break;
          }
          std::memset(s.lens + s.have, value, repeat);
          s.have += repeat;
        }
        if (s.mode == TMode::kBad) break;
        // A block whose end cannot be coded could never end.
        if (s.lens[kEndOfBlockSym] == 0) {
          bad();
          break;
        }
        TBuild built = BuildTable(s.litlenArea, kLitlenEnough, kLitlenRootBits, s.lens, s.nlen,
                                  s.templates->litlen, true, false);
        if (built == TBuild::kOk)
          built = BuildTable(s.distArea, kDistEnough, kDistRootBits, s.lens + s.nlen, s.ndist,
                             s.templates->dist, true, s.nlen <= 257);
        if (built != TBuild::kOk) {
          // Cannot happen with tables of the "enough" sizes, but never write past them.
          if (built == TBuild::kNoRoom) ret = kInflateMemError;
          bad();
          break;
        }
        s.litlen = s.litlenArea;
        s.dist = s.distArea;
        s.mode = TMode::kLen;
        if (s.headerOnly) goto leave;
        break;
      }
      case TMode::kLen: {
        if (have >= kFastInMargin && left >= kFastOutMargin) {
          s.hold = hold;
          s.bits = bits;
          TFastIo io{next, next + have, put, put + left, outStart};
          FastLoop(s, io, inStart);
          hold = s.hold;
          bits = s.bits;
          have -= static_cast<uint32_t>(io.in - next);
          next = io.in;
          left -= static_cast<uint32_t>(io.out - put);
          put = io.out;
          if (s.mode == TMode::kType && flush == kInflateBlock) {
            blockEnded = true;
            goto leave;
          }
          if (s.mode != TMode::kLen) break;
        }
        uint32_t entry;
        unsigned len;
        if (!peekSymbol(s.litlen, kLitlenRootBits, entry, len)) goto leave;
        if (entry & kLiteralFlag) {
          dropBits(len);
          s.literal = static_cast<uint8_t>(Value(entry));
          s.mode = TMode::kLit;
        } else if (!(entry & kExceptionalFlag)) {
          dropBits(len);
          s.length = Value(entry);
          s.extra = Consume(entry) - CodeLen(entry);
          s.mode = TMode::kLenExt;
        } else if (Value(entry) == Value(kEndOfBlockEntry)) {
          dropBits(len);
          s.mode = TMode::kType;
          if (flush == kInflateBlock) {
            blockEnded = true;
            goto leave;
          }
        } else {
          bad();
        }
        break;
      }
      case TMode::kLenExt: {
        if (!needBits(s.extra)) goto leave;
        s.length += peekBits(s.extra);
        dropBits(s.extra);
        s.mode = TMode::kDist;
        break;
      }
      case TMode::kDist: {
        uint32_t entry;
        unsigned len;
        if (!peekSymbol(s.dist, kDistRootBits, entry, len)) goto leave;
        if (entry & kExceptionalFlag) {
          bad();
          break;
        }
        dropBits(len);
        s.offset = Value(entry);
        s.extra = Consume(entry) - CodeLen(entry);
        s.mode = TMode::kDistExt;
        break;
      }
      case TMode::kDistExt: {
        if (!needBits(s.extra)) goto leave;
        s.offset += peekBits(s.extra);
        dropBits(s.extra);
        if (s.offset > s.wsize) {
          bad();  // further back than any history this stream can have
          break;
        }
        s.mode = TMode::kMatch;
        break;
      }
      case TMode::kMatch: {
        if (left == 0) goto leave;
        uint32_t copy = std::min(s.length, left);
        const size_t produced = static_cast<size_t>(put - outStart);
        if (s.offset > produced) {
          const size_t fromHistory = s.offset - produced;
          copy = static_cast<uint32_t>(std::min<size_t>(copy, fromHistory));
          std::memcpy(put, s.window + s.whead - fromHistory, copy);
          put += copy;
        } else {
          const uint8_t* from = put - s.offset;
          for (uint32_t k = 0; k < copy; ++k) *put++ = *from++;
        }
        left -= copy;
        s.length -= copy;
        if (s.length == 0) s.mode = TMode::kLen;
        break;
      }
      case TMode::kLit: {
        if (left == 0) goto leave;
        *put++ = s.literal;
        --left;
        s.mode = TMode::kLen;
        break;
      }
      case TMode::kCheck: {
        if (!needBits(32)) goto leave;
        foldCheck();
        if (__builtin_bswap32(peekBits(32)) != s.check) {
          bad();
          break;
        }
        dropBits(32);
        s.mode = TMode::kDone;
        break;
      }
      case TMode::kDone:
        ret = kInflateStreamEnd;
        goto leave;
      case TMode::kBad:
        if (ret == kInflateOk) ret = kInflateDataError;
        goto leave;
    }
  }

leave:
  s.hold = hold;
  s.bits = bits;
  foldCheck();
  const size_t produced = static_cast<size_t>(put - outStart);
  AppendHistory(s, outStart, produced);
  const size_t consumed = static_cast<size_t>(next - inStart);
  strm.next_in = next;
  strm.avail_in = have;
  strm.total_in += consumed;
  strm.next_out = put;
  strm.avail_out = left;
  strm.total_out += produced;
  if (((consumed == 0 && produced == 0 && !blockEnded) || flush == kInflateFinish) &&
      ret == kInflateOk)
    ret = kInflateBufError;
  return ret;
}

uint64_t InflateBitPosition(const TInflateStream& strm) {
  return strm.total_in * 8 - (strm.state != nullptr ? strm.state->bits : 0);
}

bool InflateAtBlockStart(const TInflateStream& strm) {
  return strm.state != nullptr && strm.state->mode == TMode::kType && !strm.state->last;
}

void InflateHistory(const TInflateStream& strm, uint8_t* history) {
  const TInflateState& s = *strm.state;
  const size_t keep = std::min<size_t>(s.wsize, kInflateAheadHistory);
  std::memset(history, 0, kInflateAheadHistory - keep);
  std::memcpy(history + kInflateAheadHistory - keep, s.window + s.whead - keep, keep);
}

int InflateContinueAt(TInflateStream& strm, const uint8_t* history, size_t historySize,
                      uint64_t skipBits) {
  TInflateState* const s = strm.state;
  if (s == nullptr || s->wrapped) return kInflateStreamError;
  if (skipBits <= s->bits) {
    s->hold = skipBits == s->bits ? 0 : s->hold >> skipBits;
    s->bits -= static_cast<unsigned>(skipBits);
  } else {
    const uint64_t rest = skipBits - s->bits;
    if (rest > 7 || strm.avail_in == 0) return kInflateBufError;
    s->hold = *strm.next_in >> rest;
    s->bits = 8 - static_cast<unsigned>(rest);
    ++strm.next_in;
    --strm.avail_in;
    ++strm.total_in;
  }
  s->mode = TMode::kType;
  s->last = false;
  s->length = s->offset = 0;
  s->extra = 0;
  s->litlen = s->dist = nullptr;
  const size_t keep = std::min<size_t>(historySize, s->wsize);
  std::memset(s->window, 0, s->wsize - keep);
  std::memcpy(s->window + s->wsize - keep, history + historySize - keep, keep);
  s->whead = s->wsize;
  return kInflateOk;
}

namespace {
bool CanDecodeAhead(const TInflateStream& engine) {
  const TInflateState* const s = engine.state;
  return s != nullptr && !s->wrapped && !s->deflate64 && s->wsize == kInflateAheadHistory;
}
}  // namespace

uint64_t InflateFindBlockStart(TInflateStream& engine, const uint8_t* data, size_t size,
                               uint64_t fromBit, uint64_t searchEndBit) {
  if (!CanDecodeAhead(engine)) return kInflateNoBlockStart;
  TInflateState& s = *engine.state;
  const uint64_t limit = std::min<uint64_t>(searchEndBit, uint64_t{size} * 8);
  const std::array<uint8_t, 65536>& startsIn16 = StartsIn16();
  for (uint64_t byte = fromBit >> 3; byte * 8 < limit; ++byte) {
    const uint64_t word = GetLe64(data + byte);
    unsigned starts = startsIn16[word & 0xFFFF] | (startsIn16[(word >> 4) & 0xFFFF] << 4);
    if (byte * 8 < fromBit) starts &= 0xFFu << (fromBit & 7);
    for (; starts != 0; starts &= starts - 1) {
      const uint64_t bit = byte * 8 + static_cast<unsigned>(std::countr_zero(starts));
      if (bit >= limit) return kInflateNoBlockStart;
      if (!PrecodeComplete(data, bit) || !CodeLengthsPlausible(data, size, bit)) continue;
      ReadHeader(engine, StandAt(s, data, bit), data + size);
      const bool read = s.mode == TMode::kLen;
      s.mode = TMode::kType;
      if (read) return bit;
    }
  }
  return kInflateNoBlockStart;
}

bool InflateDecodeAhead(TInflateStream& engine, const uint8_t* data, size_t size, uint64_t startBit,
                        uint64_t stopBit, size_t maxSymbols, TInflateAhead& ahead) {
  if (!CanDecodeAhead(engine) || startBit >= uint64_t{size} * 8) return false;
  // The marks stay where they are from one decode to the next (only symbols are written).
  if (ahead.Area.size() < kInflateAheadHistory + maxSymbols) {
    ahead.Area.resize(kInflateAheadHistory + maxSymbols);
    for (size_t i = 0; i < kInflateAheadHistory; ++i)
      ahead.Area[i] = static_cast<uint16_t>(kInflateAheadMark + i);
  }
  return DecodeBlocksAhead(engine, data, size, startBit, stopBit, maxSymbols, ahead);
}

void InflateResolveAhead(const uint16_t* symbols, size_t count, const uint8_t* history,
                         uint8_t* out) {
  // One look-up per symbol: the bytes themselves, then the history.
  std::array<uint8_t, kInflateAheadMark + kInflateAheadHistory> bytes;
  for (unsigned v = 0; v < kInflateAheadMark; ++v) bytes[v] = static_cast<uint8_t>(v);
  std::memcpy(bytes.data() + kInflateAheadMark, history, kInflateAheadHistory);
  size_t i = 0;
#if defined(__SSE2__)
  // Sixteen symbols without a mark are only narrowed.
  const __m128i highBytes = _mm_set1_epi16(static_cast<short>(0xFF00));
  for (; i + 16 <= count; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(symbols + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(symbols + i + 8));
    const __m128i high = _mm_and_si128(_mm_or_si128(a, b), highBytes);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(high, _mm_setzero_si128())) == 0xFFFF) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
      continue;
    }
    for (size_t k = 0; k < 16; ++k) out[i + k] = bytes[symbols[i + k]];
  }
#endif
  for (; i < count; ++i) out[i] = bytes[symbols[i]];
}

uint32_t Adler32(uint32_t adler, const uint8_t* bytes, size_t count) {
  if (bytes == nullptr) return 1;
  uint32_t s1 = adler & 0xFFFF;
  uint32_t s2 = adler >> 16;
  while (count > 0) {
    size_t n = std::min(count, kAdlerBlock);
    count -= n;
    // Eight bytes a step: s2 gains 8 * s1 plus the bytes weighted 8..1, which keeps the chain
    // between steps to two additions.
    for (; n >= 8; n -= 8, bytes += 8) {
      const uint32_t b0 = bytes[0], b1 = bytes[1], b2 = bytes[2], b3 = bytes[3];
      const uint32_t b4 = bytes[4], b5 = bytes[5], b6 = bytes[6], b7 = bytes[7];
      s2 += 8 * s1 + 8 * b0 + 7 * b1 + 6 * b2 + 5 * b3 + 4 * b4 + 3 * b5 + 2 * b6 + b7;
      s1 += b0 + b1 + b2 + b3 + b4 + b5 + b6 + b7;
    }
    for (; n > 0; --n) {
      s1 += *bytes++;
      s2 += s1;
    }
    s1 %= kAdlerBase;
    s2 %= kAdlerBase;
  }
  return (s2 << 16) | s1;
}
