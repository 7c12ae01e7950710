// The ACE decoders over a member's byte pipes. The packed data is a run of 32-bit little-endian
// words read from their most significant bit down. A block starts with two code tables (main
// symbols and lengths), each sent as code widths that are themselves Huffman-coded, then a 15-bit
// count of the block's symbols. Main symbols 0..255 are literals, 256..259 repeat one of the last
// four distances, 260..282 start a new distance by its bit count, and in the blocked mode of ACE
// 2.0 symbol 283 switches the mode (plain, delta, executable). Reading archives is not here.
#include "archive/codecs/arvAce.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "archive/codecs/arvCrcTables.h"

namespace {

constexpr size_t kInputBlock = 1 << 16;
constexpr size_t kOutputBlock = 1 << 16;

constexpr unsigned kMainWidth = 11;    // longest main code
constexpr unsigned kLengthWidth = 11;  // longest length code
constexpr unsigned kWidthWidth = 7;    // longest code of the width codes
constexpr unsigned kMaxWidths = kMainWidth > kLengthWidth ? kMainWidth : kLengthWidth;

constexpr int kLiterals = 256;
constexpr int kRepeatCodes = 4;
constexpr int kFirstDistanceCode = kLiterals + kRepeatCodes;                        // 260
constexpr int kModeCode = kFirstDistanceCode + static_cast<int>(kAceMaxDictionaryBits) + 1;  // 283
constexpr int kMainSymbols = kModeCode + 1;  // 284
constexpr int kLengthSymbols = 256;
constexpr uint32_t kLongDistance = 255;       // distances past this add one to the length
constexpr uint32_t kVeryLongDistance = 8191;  // and past this one more
constexpr unsigned kMaxMatch = 255 + 4;
constexpr unsigned kBlockCountBits = 15;

// The modes of the blocked stream.
constexpr unsigned kModePlain = 0;
constexpr unsigned kModeDelta = 1;
constexpr unsigned kModeExe = 2;
constexpr size_t kMaxDeltaLength = (1 << 17) - 1;
// The smallest window: a delta chunk waiting for its last byte stays in it, with room for a match.
constexpr unsigned kMinWindowBits = 18;
static_assert((size_t{1} << kMinWindowBits) > kMaxDeltaLength + (1 << 16) + 260);

// A decode table: for the next `width` bits of the stream, the symbol and its code width. A slot
// no code reaches holds width 0 (the data cannot be valid there).
struct THuffman {
  struct TSlot {
    uint16_t Symbol;
    uint8_t Width;
  };
  std::vector<TSlot> Slots;
  unsigned Width = 0;
};

// The order codes are handed out in: the symbols sorted by width, widest first, by a quicksort
// that partitions around the last element of each range and is not stable. Encoder and decoder
// must break ties between equal widths the same way, so this sort is part of the format.
void SortRange(uint8_t* widths, uint16_t* symbols, int left, int right) {
  int low = left;
  int high = right;
  const uint8_t pivot = widths[right];
  do {
    while (widths[low] > pivot) ++low;
    while (widths[high] < pivot) --high;
    if (low <= high) {
      std::swap(widths[low], widths[high]);
      std::swap(symbols[low], symbols[high]);
      ++low;
      --high;
    }
  } while (low < high);
  if (left < high) {
    if (left < high - 1) {
      SortRange(widths, symbols, left, high);
    } else if (widths[left] < widths[high]) {
      std::swap(widths[left], widths[high]);
      std::swap(symbols[left], symbols[high]);
    }
  }
  if (right > low) {
    if (low < right - 1) {
      SortRange(widths, symbols, low, right);
    } else if (widths[low] < widths[right]) {
      std::swap(widths[low], widths[right]);
      std::swap(symbols[low], symbols[right]);
    }
  }
}

// Builds the table of `widths` (0: the symbol is unused). Codes are handed out from the end of the
// sorted order (the narrowest) to its front. With fewer than two symbols in use, the first of the
// sorted order gets a 1-bit code that every bit pattern decodes to. False when the widths
// over-fill the table.
bool BuildTable(THuffman& table, unsigned maxWidth, uint8_t* widths, int count) {
  constexpr int kMaxSymbols = 1 << 9;
  uint8_t sorted[kMaxSymbols + 1];
  uint16_t symbols[kMaxSymbols + 1];
  table.Width = maxWidth;
  table.Slots.assign(size_t{1} << maxWidth, THuffman::TSlot{0, 0});
  std::memcpy(sorted, widths, static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) symbols[i] = static_cast<uint16_t>(i);
  if (count > 1) SortRange(sorted, symbols, 0, count - 1);
  int used = 0;
  while (used < count && sorted[used] != 0) ++used;
  if (used < 2) {
    widths[symbols[0]] = 1;
    std::fill(table.Slots.begin(), table.Slots.end(), THuffman::TSlot{symbols[0], 1});
    return true;
  }
  size_t next = 0;
  const size_t end = size_t{1} << maxWidth;
  for (int i = used - 1; i >= 0 && next < end; --i) {
    const size_t span = size_t{1} << (maxWidth - sorted[i]);
    if (next + span > end) return false;
    std::fill(table.Slots.begin() + static_cast<std::ptrdiff_t>(next),
              table.Slots.begin() + static_cast<std::ptrdiff_t>(next + span),
              THuffman::TSlot{symbols[i], sorted[i]});
    next += span;
  }
  return true;
}

}  // namespace

uint32_t AceCrc32(uint32_t crc, const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) crc = kCrc32Table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

std::string AceTypeName(uint8_t type) {
  switch (type) {
    case kAceTypeStored:
      return "stored";
    case kAceTypeLz77:
      return "LZ77";
    case kAceTypeBlocked:
      return "blocked";
    default:
      return "type " + std::to_string(type);
  }
}

struct TAceDecoder::TState {
  // ---- the dictionary and what carries over between members of a solid archive
  std::vector<uint8_t> Window;
  uint64_t Mask = 0;
  uint64_t Position = 0;  // bytes decoded since Reset
  std::array<uint32_t, 4> Distances{};
  unsigned DistanceIndex = 0;  // the newest entry of Distances

  // ---- one member
  const TCodecIo* Io = nullptr;
  uint64_t MemberStart = 0;
  uint64_t MemberEnd = 0;
  uint64_t Flushed = 0;  // window bytes handed on (filtered) so far
  std::string Detail;

  // The bit reader: Bits holds Avail bits at its top; Padding bits past the data were fed in.
  TCodecInput In{kInputBlock};
  uint64_t Bits = 0;
  int Avail = 0;
  int64_t Padding = 0;

  // The code tables of the current block.
  THuffman Main;
  THuffman Lengths;
  THuffman WidthCodes;
  uint32_t BlockLeft = 0;
  int MainSymbols = kMainSymbols;  // ACE 1.0 has no mode switch

  // The blocked mode's filter over the output.
  unsigned Mode = kModePlain;
  size_t DeltaDistance = 1;
  size_t DeltaLength = 1;
  uint8_t DeltaSum = 0;
  std::vector<uint8_t> Chunk;  // one chunk of the delta filter
  unsigned ExeMode = 0;
  uint64_t ExeNext = 0;  // where the executable filter looks for the next call
  uint64_t PatchStart = 0;  // the last operand changed, for bytes of it still in the window
  unsigned PatchCount = 0;
  uint8_t Patch[4] = {};
  std::vector<uint8_t> Out;

  // ---- input
  uint8_t NextByte(bool& real) {
    const int byte = In.Next();
    real = byte >= 0;
    return real ? static_cast<uint8_t>(byte) : 0;
  }
  void Refill() {
    while (Avail <= 32) {
      uint32_t word;
      if (In.Available() >= 4) {
        const uint8_t* p = In.Data();
        word = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
               static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        In.Skip(4);
      } else {
        word = 0;
        for (int i = 0; i < 4; ++i) {
          bool real = false;
          const uint8_t byte = NextByte(real);
          if (!real) Padding += 8;
          word |= static_cast<uint32_t>(byte) << (8 * i);
        }
      }
      Bits |= static_cast<uint64_t>(word) << (32 - Avail);
      Avail += 32;
    }
  }
  uint32_t Peek(unsigned count) {
    if (Avail < static_cast<int>(count)) Refill();
    return static_cast<uint32_t>(Bits >> (64 - count));
  }
  void Skip(unsigned count) {
    Bits <<= count;
    Avail -= static_cast<int>(count);
  }
  uint32_t Get(unsigned count) {
    const uint32_t value = Peek(count);
    Skip(count);
    return value;
  }
  // True once a read took bits that are not in the member's data.
  bool Overrun() const { return Avail < Padding; }
  // The next symbol of `table`; -1 where no code leads.
  int Symbol(const THuffman& table) {
    const THuffman::TSlot slot = table.Slots[Peek(table.Width)];
    if (slot.Width == 0) return -1;
    Skip(slot.Width);
    return slot.Symbol;
  }

  // ---- tables
  TCodecStatus Fail(TCodecStatus status, const char* detail) {
    Detail = detail;
    return status;
  }
  // Reads one table's code widths (at most `maxSymbols`) and builds it.
  TCodecStatus ReadTable(THuffman& table, unsigned maxWidth, int maxSymbols) {
    uint8_t widths[kMainSymbols] = {};
    int count = static_cast<int>(Get(9)) + 1;
    if (count > maxSymbols) count = maxSymbols;
    const unsigned base = Get(4);
    const unsigned top = Get(4);  // width codes 0..top-1 are values, top starts a run of zeros
    uint8_t widthWidths[16] = {};
    for (unsigned i = 0; i <= top; ++i) widthWidths[i] = static_cast<uint8_t>(Get(3));
    if (Overrun()) return Fail(TCodecStatus::Truncated, "the code tables run past the data");
    if (!BuildTable(WidthCodes, kWidthWidth, widthWidths, static_cast<int>(top) + 1))
      return Fail(TCodecStatus::Corrupt, "invalid width code table");
    for (int j = 0; j < count;) {
      const int c = Symbol(WidthCodes);
      if (c < 0) return Fail(TCodecStatus::Corrupt, "invalid width code");
      if (static_cast<unsigned>(c) < top) {
        widths[j++] = static_cast<uint8_t>(c);
      } else {
        for (unsigned run = Get(4) + 4; run > 0 && j < count; --run) widths[j++] = 0;
      }
      if (Overrun()) return Fail(TCodecStatus::Truncated, "the code tables run past the data");
    }
    if (top != 0) {
      unsigned previous = 0;
      for (int i = 0; i < count; ++i) {
        previous = (widths[i] + previous) % top;
        widths[i] = static_cast<uint8_t>(previous);
      }
    }
    for (int i = 0; i < count; ++i) {
      if (widths[i] == 0) continue;
      widths[i] = static_cast<uint8_t>(widths[i] + base);
      if (widths[i] > maxWidth) return Fail(TCodecStatus::Corrupt, "a code is too wide");
    }
    if (!BuildTable(table, maxWidth, widths, count))
      return Fail(TCodecStatus::Corrupt, "invalid code table");
    return TCodecStatus::Ok;
  }
  TCodecStatus ReadBlockHeader() {
    TCodecStatus status = ReadTable(Main, kMainWidth, MainSymbols);
    if (status != TCodecStatus::Ok) return status;
    status = ReadTable(Lengths, kLengthWidth, kLengthSymbols);
    if (status != TCodecStatus::Ok) return status;
    BlockLeft = Get(kBlockCountBits);
    if (Overrun()) return Fail(TCodecStatus::Truncated, "the code tables run past the data");
    return TCodecStatus::Ok;
  }

  // ---- the dictionary
  void EnsureWindow(unsigned dictionaryBits) {
    const size_t size = size_t{1} << std::max<unsigned>(dictionaryBits, kMinWindowBits);
    if (Window.size() >= size) return;
    std::vector<uint8_t> grown(size);
    const uint64_t keep = std::min<uint64_t>(Position, Window.size());
    for (uint64_t p = Position - keep; p < Position; ++p) grown[p & (size - 1)] = Window[p & Mask];
    Window.swap(grown);
    Mask = size - 1;
  }

  // ---- output and the filters
  // Hands on the window's bytes up to `end` through the current filter. Inside a stretch of the
  // executable filter, the last bytes stay back until the operand of a call there is whole, unless
  // the stretch ends at `end`.
  void Flush(uint64_t end, bool stretchEnds = false) {
    if (Mode == kModeDelta) {
      FlushDelta(end, stretchEnds);
      return;
    }
    if (Mode == kModeExe && !stretchEnds) end = end > Flushed + 4 ? end - 4 : Flushed;
    while (Flushed < end) {
      const uint64_t at = Flushed & Mask;
      const size_t count = static_cast<size_t>(
          std::min<uint64_t>({end - Flushed, Window.size() - at, kOutputBlock}));
      std::memcpy(Out.data(), Window.data() + at, count);
      if (Mode == kModeExe) FilterExe(count, stretchEnds ? end : UINT64_MAX);
      Flushed += count;
      Io->Write(Out.data(), count);
    }
  }
  // The delta filter works on chunks of DeltaLength bytes (the last one of a stretch may be
  // shorter). The encoder split a chunk into DeltaDistance planes (bytes 0, d, 2d, ...; then 1,
  // 1 + d, ...), put them one after the other and sent each byte's difference from the one before
  // it, across chunks; this sums the differences up again and puts the planes back.
  void FlushDelta(uint64_t end, bool stretchEnds) {
    while (Flushed < end) {
      const uint64_t left = end - Flushed;
      if (left < DeltaLength && !stretchEnds) return;  // the chunk is not whole yet
      const size_t count = static_cast<size_t>(std::min<uint64_t>(left, DeltaLength));
      size_t k = 0;
      for (size_t plane = 0; plane < DeltaDistance && plane < count; ++plane) {
        for (size_t p = plane; p < count; p += DeltaDistance) {
          DeltaSum = static_cast<uint8_t>(DeltaSum + Window[(Flushed + k++) & Mask]);
          Chunk[p] = DeltaSum;
        }
      }
      Flushed += count;
      Io->Write(Chunk.data(), count);
    }
  }
  // The executable filter: the encoder turned the relative operand of each call (E8, 32 bits) and
  // jump (E9, its low 16 bits) into an absolute one by adding the instruction's offset in the
  // member; this subtracts it again. Out holds `count` bytes from Flushed on; operands that reach
  // past `stretchEnd` stay as they are.
  void FilterExe(size_t count, uint64_t stretchEnd) {
    const uint64_t first = Flushed;
    const uint64_t last = first + count;
    for (uint64_t p = std::max(PatchStart, first); p < std::min(PatchStart + PatchCount, last); ++p)
      Out[static_cast<size_t>(p - first)] = Patch[p - PatchStart];
    for (uint64_t p = std::max(ExeNext, first); p < last; ++p) {
      const uint8_t op = Window[p & Mask];
      if (op != 0xE8 && op != 0xE9) continue;
      const unsigned width = op == 0xE8 ? 4 : 2;
      if (p + width >= stretchEnd) break;
      uint32_t value = 0;
      for (unsigned i = 0; i < width; ++i)
        value |= static_cast<uint32_t>(Window[(p + 1 + i) & Mask]) << (8 * i);
      value -= static_cast<uint32_t>(p - MemberStart);
      PatchStart = p + 1;
      PatchCount = width;
      for (unsigned i = 0; i < width; ++i) Patch[i] = static_cast<uint8_t>(value >> (8 * i));
      for (uint64_t q = PatchStart; q < std::min(PatchStart + PatchCount, last); ++q)
        Out[static_cast<size_t>(q - first)] = Patch[q - PatchStart];
      p += width;
      ExeNext = p + 1;
    }
    ExeNext = std::max(ExeNext, last);
  }

  // ---- the members
  TCodecStatus Store(uint64_t size) {
    uint64_t left = size;
    while (left > 0) {
      if (Io->Cancel && *Io->Cancel) return TCodecStatus::Cancelled;
      const size_t want = static_cast<size_t>(std::min<uint64_t>(left, Out.size()));
      const size_t got = Io->Read(Out.data(), want);
      if (got == 0) return Fail(TCodecStatus::Truncated, "the stored data ends early");
      // A stored member of a solid archive still feeds the dictionary.
      for (size_t i = 0; i < got; ++i) Window[(Position + i) & Mask] = Out[i];
      Position += got;
      Flushed = Position;
      left -= got;
      Io->Write(Out.data(), got);
    }
    return TCodecStatus::Ok;
  }

  TCodecStatus Lz77(bool blocked) {
    uint8_t* const window = Window.data();
    const uint64_t mask = Mask;
    const uint64_t flushAt = Window.size() - kMaxMatch - 1;
    while (Position < MemberEnd) {
      if (Position - Flushed >= flushAt || Position - Flushed >= kOutputBlock) {
        if (Io->Cancel && *Io->Cancel) return TCodecStatus::Cancelled;
        Flush(Position);
      }
      if (BlockLeft == 0) {
        const TCodecStatus status = ReadBlockHeader();
        if (status != TCodecStatus::Ok) return status;
        continue;
      }
      --BlockLeft;
      const int symbol = Symbol(Main);
      if (symbol < 0) return Fail(TCodecStatus::Corrupt, "invalid code");
      if (symbol < kLiterals) {
        window[Position & mask] = static_cast<uint8_t>(symbol);
        ++Position;
        if (Overrun()) return Fail(TCodecStatus::Truncated, "the data ends early");
        continue;
      }
      uint32_t distance;
      unsigned length = 2;
      if (symbol < kFirstDistanceCode) {
        const unsigned back = static_cast<unsigned>(symbol - kLiterals);
        distance = Distances[(DistanceIndex - back) & 3];
        for (unsigned k = back; k > 0; --k)
          Distances[(DistanceIndex - k) & 3] = Distances[(DistanceIndex - k + 1) & 3];
        Distances[DistanceIndex] = distance;
        if (back > 1) ++length;
      } else if (symbol < kModeCode) {
        const unsigned bits = static_cast<unsigned>(symbol - kFirstDistanceCode);
        if (bits < 2) {
          distance = bits;
        } else {
          distance = Get(bits - 1) + (uint32_t{1} << (bits - 1));
        }
        DistanceIndex = (DistanceIndex + 1) & 3;
        Distances[DistanceIndex] = distance;
        if (distance > kLongDistance) ++length;
        if (distance > kVeryLongDistance) ++length;
      } else {
        if (!blocked) return Fail(TCodecStatus::Corrupt, "a mode switch in an ACE 1.0 stream");
        const TCodecStatus status = SwitchMode();
        if (status != TCodecStatus::Ok) return status;
        continue;
      }
      const int lengthSymbol = Symbol(Lengths);
      if (lengthSymbol < 0) return Fail(TCodecStatus::Corrupt, "invalid length code");
      if (Overrun()) return Fail(TCodecStatus::Truncated, "the data ends early");
      length += static_cast<unsigned>(lengthSymbol);
      const uint64_t offset = uint64_t{distance} + 1;
      if (offset > Position || offset > Window.size())
        return Fail(TCodecStatus::Corrupt, "a distance before the start of the data");
      if (length > MemberEnd - Position)
        return Fail(TCodecStatus::Corrupt, "a match runs past the end of the member");
      uint64_t from = Position - offset;
      for (unsigned i = 0; i < length; ++i) window[(Position + i) & mask] = window[(from + i) & mask];
      Position += length;
    }
    Flush(Position, true);
    return TCodecStatus::Ok;
  }

  TCodecStatus SwitchMode() {
    Flush(Position, true);  // what came before keeps the filter it had
    const unsigned mode = Get(8);
    switch (mode) {
      case kModePlain:
        break;
      case kModeDelta:
        DeltaDistance = Get(8);
        DeltaLength = Get(17);
        if (DeltaDistance == 0 || DeltaLength == 0)
          return Fail(TCodecStatus::Corrupt, "an empty delta filter");
        DeltaSum = 0;
        Chunk.resize(kMaxDeltaLength);
        break;
      case kModeExe:
        ExeMode = Get(8);
        break;
      default:
        Detail = "ACE 2.0 mode " + std::to_string(mode);
        return TCodecStatus::Unsupported;
    }
    if (Overrun()) return Fail(TCodecStatus::Truncated, "the data ends early");
    Mode = mode;
    ExeNext = Position;
    PatchCount = 0;
    return TCodecStatus::Ok;
  }
};

TAceDecoder::TAceDecoder() : F(std::make_unique<TState>()) {
  F->Out.resize(kOutputBlock);
  Reset();
}

TAceDecoder::~TAceDecoder() = default;

void TAceDecoder::Reset() {
  F->Position = 0;
  F->Flushed = 0;
  F->Distances = {};
  F->DistanceIndex = 0;
}

const std::string& TAceDecoder::Detail() const {
  return F->Detail;
}

TCodecStatus TAceDecoder::Decode(const TAceMember& member, const TCodecIo& io) {
  TState& s = *F;
  s.Io = &io;
  s.Detail.clear();
  s.In.Start(io);
  s.Bits = 0;
  s.Avail = 0;
  s.Padding = 0;
  s.BlockLeft = 0;
  s.MainSymbols = member.Type == kAceTypeBlocked ? kMainSymbols : kModeCode;
  s.Mode = kModePlain;
  s.Flushed = s.Position;
  s.MemberStart = s.Position;
  s.MemberEnd = s.Position + member.Size;
  const unsigned dictionaryBits = kAceMinDictionaryBits + (member.Parameters & 15);
  if (dictionaryBits > kAceMaxDictionaryBits && member.Type != kAceTypeStored) {
    s.Detail = "a dictionary larger than 4 MiB";
    return TCodecStatus::Unsupported;
  }
  s.EnsureWindow(std::min(dictionaryBits, kAceMaxDictionaryBits));
  switch (member.Type) {
    case kAceTypeStored:
      return s.Store(member.Size);
    case kAceTypeLz77:
    case kAceTypeBlocked: {
      const TCodecStatus status = s.Lz77(member.Type == kAceTypeBlocked);
      // A cancel seen at a block of input ends the data early; it is no damage.
      return status != TCodecStatus::Ok && s.In.Cancelled() ? TCodecStatus::Cancelled : status;
    }
    default:
      s.Detail = "ACE compression " + AceTypeName(member.Type);
      return TCodecStatus::Unsupported;
  }
}
