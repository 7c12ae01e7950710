// The legacy zip decoders (unshrink, unreduce, explode) over one member's byte source, bit reader
// and output buffer. The output buffer keeps the last 8 KiB in front of it as the window, so
// back-references copy straight out of the buffer. Reading archives and checksums are not here.
#include "archive/codecs/arvLegacy.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

#include "archive/codecs/arvBytes.h"
#include "archive/codecs/arvCrypt.h"
#include "archive/messages/Err_Msgs.h"

namespace {

// ---- sizes --------------------------------------------------------------------------------------
// The largest window (implode with flag bit 1); reduce and 4 KiB implode use the last 4096 of it.
constexpr size_t kWindowMax = 8192;
// Block copies may write up to 7 bytes past their end; the output buffer has this much slack.
constexpr size_t kCopySlack = 16;

// Shrink: codes are 9 to 13 bits; 0..255 literals, 256 the control code, 257..8191 strings.
constexpr unsigned kShrinkMinBits = 9;
constexpr unsigned kShrinkMaxBits = 13;
constexpr int kShrinkControl = 256;
constexpr int kShrinkFirstFree = 257;
constexpr int kShrinkCodes = 1 << kShrinkMaxBits;  // 8192
constexpr int kShrinkStack = 8192;                 // characters a string may push
constexpr int kShrinkIncrease = 1;
constexpr int kShrinkPartialClear = 2;

// Reduce: DLE introduces a match; follower sets hold at most 32 bytes.
constexpr int kDle = 144;
constexpr int kFollowerMax = 32;
constexpr size_t kReduceWindow = 4096;

// Implode: 256 literals, 64 lengths, 64 distance high parts; codes 1 to 16 bits long.
constexpr int kLiteralSymbols = 256;
constexpr int kLengthSymbols = 64;
constexpr int kDistanceSymbols = 64;
constexpr int kSfMaxBits = 16;
constexpr int kLengthExtraCode = 63;  // followed by an 8-bit addition
// Table look-up width of the Shannon-Fano decoder; longer codes continue bit by bit from a node.
constexpr unsigned kSfTableBits = 10;
// Every entry of a description byte repeats at most 16 times and there are at most 256 bytes.
constexpr int kSfMaxEntries = 256 * 16;

static_assert(kWindowMax >= kReduceWindow, "the window must hold reduce's distances");
static_assert(kLegacyOutputBlock >= kWindowMax, "a flush keeps the window out of the last block");

// B(n): bits of a follower index for a set of n bytes.
constexpr unsigned FollowerIndexBits(int n) {
  return n <= 2 ? 1 : n <= 4 ? 2 : n <= 8 ? 3 : n <= 16 ? 4 : n <= 32 ? 5 : 6;
}

// A Shannon-Fano decode tree with a look-up table in front. Slots hold a symbol (below the
// alphabet size), a node (alphabet size + node number) or -1 (empty). Table entries say, for the
// next kSfTableBits bits, what walking the tree gives: a symbol after `length` bits, an empty slot
// after `length` bits, or a node to go on from after all kSfTableBits bits.
struct TSfTree {
  enum : uint32_t { kLeaf = 0, kNode = 1, kEmpty = 2 };
  int alphabet = 0;
  std::vector<int32_t> slots;  // two per node; node 0 is the root
  std::vector<uint32_t> table;

  static uint32_t Entry(uint32_t kind, uint32_t value, uint32_t length) {
    return kind << 28 | value << 8 | length;
  }
  bool IsNode(int32_t slot) const { return slot >= alphabet; }
  int32_t& Slot(int32_t node, int bit) {
    return slots[2 * static_cast<size_t>(node - alphabet) + bit];
  }
  int32_t Slot(int32_t node, int bit) const {
    return slots[2 * static_cast<size_t>(node - alphabet) + bit];
  }

  void FillTable(int32_t node, unsigned depth, uint32_t prefix) {
    for (int bit = 0; bit < 2; ++bit) {
      const int32_t slot = Slot(node, bit);
      const uint32_t pattern = prefix | static_cast<uint32_t>(bit) << depth;
      const unsigned length = depth + 1;
      uint32_t entry;
      if (slot < 0) {
        entry = Entry(kEmpty, 0, length);
      } else if (!IsNode(slot)) {
        entry = Entry(kLeaf, static_cast<uint32_t>(slot), length);
      } else if (length < kSfTableBits) {
        FillTable(slot, length, pattern);
        continue;
      } else {
        entry = Entry(kNode, static_cast<uint32_t>(slot), length);
      }
      for (uint32_t i = pattern; i < (1u << kSfTableBits); i += 1u << length) table[i] = entry;
    }
  }
};

}  // namespace

// ---- the state of one member --------------------------------------------------------------------
struct TLegacyDecoder::TState {
  TLegacyMember member;
  TLegacyContext context;

  // Byte source: one block of compressed bytes, deciphered when the member is encrypted.
  std::unique_ptr<uint8_t[]> input;
  const uint8_t* inPos = nullptr;
  const uint8_t* inEnd = nullptr;
  uint64_t remainingInput = 0;  // compressed bytes not yet read from the archive
  uint64_t inputCount = 0;
  bool sourceDone = false;  // the source gave its last block (or the run was cancelled)

  // Bit reader: bits are taken least significant first. Bits of bitBuf above bitCount are either
  // zero or the low bits of the next unread byte (the word-at-a-time refill leaves them there).
  uint64_t bitBuf = 0;
  unsigned bitCount = 0;

  // Output: the window (kWindowMax bytes, zero at the start) followed by one output block.
  std::unique_ptr<uint8_t[]> output;
  uint8_t* outBase = nullptr;   // start of the block being filled
  uint8_t* outPos = nullptr;    // next byte to write
  uint8_t* outLimit = nullptr;  // end of the block, or where the uncompressed size is reached
  uint64_t flushedCount = 0;

  int errorCode = 0;
  bool decoderRun = false;

  TState(const TLegacyMember& m, const TLegacyContext& c) : member(m), context(c) {
    input = std::make_unique<uint8_t[]>(kLegacyInputBlock);
    inPos = inEnd = input.get();
    remainingInput = member.CompressedSize;
    output = std::make_unique<uint8_t[]>(kWindowMax + kLegacyOutputBlock + kCopySlack);
    std::memset(output.get(), 0, kWindowMax);
    outBase = outPos = output.get() + kWindowMax;
    SetOutLimit();
  }

  // ---- errors -----------------------------------------------------------------------------------
  [[noreturn]] void Raise(int code) {
    errorCode = code;
    if (context.RaiseError) context.RaiseError(code);
    throw E_RAISE(LoadStr(code));
  }
  void Report(int code) {
    errorCode = code;
    if (context.ReportError) context.ReportError(code);
  }

  // ---- byte source ------------------------------------------------------------------------------
  bool Cancelled() const { return context.Cancel != nullptr && *context.Cancel != 0; }

  void CancelInput() {
    remainingInput = 0;
    sourceDone = true;
    inPos = inEnd;
    bitBuf = 0;
    bitCount = 0;
  }

  // Refills the block buffer; false once the member's compressed bytes are used up.
  bool FillInput() {
    if (sourceDone) return false;
    if (Cancelled()) {
      CancelInput();
      return false;
    }
    size_t got = 0;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(remainingInput, kLegacyInputBlock));
    if (want != 0 && context.ReadBlock) got = context.ReadBlock(input.get(), want);
    if (got == 0) {  // the member's last byte was handed out, or the archive ended early
      remainingInput = 0;
      sourceDone = true;
      return false;
    }
    got = std::min(got, want);
    if (context.Cipher != nullptr) context.Cipher->DecipherBuffer(input.get(), got);
    remainingInput -= got;
    inputCount += got;
    inPos = input.get();
    inEnd = inPos + got;
    return true;
  }

  // The next compressed byte, or -1 once the source is exhausted.
  int ReadSourceByte() {
    if (inPos == inEnd && !FillInput()) return -1;
    return *inPos++;
  }

  // ---- bit reader -------------------------------------------------------------------------------
  // Tops the bit buffer up to at least 57 bits, or to all that is left of the member.
  void Refill() {
    while (bitCount <= 56) {
      if (inEnd - inPos >= 8) {
        bitBuf |= GetLe64(inPos) << bitCount;
        inPos += (63 - bitCount) >> 3;
        bitCount |= 56;
        return;
      }
      const int byte = ReadSourceByte();
      if (byte < 0) return;
      // The byte's low bits may already sit above bitCount (left there by a word refill); OR-ing
      // the same bits again changes nothing.
      bitBuf |= static_cast<uint64_t>(byte) << bitCount;
      bitCount += 8;
    }
  }
  bool NeedBits(unsigned n) {
    if (bitCount < n) Refill();
    return bitCount >= n;
  }
  uint32_t Bits(unsigned n) const { return static_cast<uint32_t>(bitBuf) & ((1u << n) - 1); }
  void DropBits(unsigned n) {
    bitBuf >>= n;
    bitCount -= n;
  }
  // n bits (1 to 16), the first read in bit 0; -1 when the member has fewer left, and from then on.
  int ReadBits(unsigned n) {
    if (!NeedBits(n)) {
      bitBuf = 0;
      bitCount = 0;
      return -1;
    }
    const int value = static_cast<int>(Bits(n));
    DropBits(n);
    return value;
  }

  // ---- output -----------------------------------------------------------------------------------
  uint64_t OutputCount() const { return flushedCount + static_cast<uint64_t>(outPos - outBase); }
  bool OutputFull() const { return OutputCount() >= member.UncompressedSize; }

  void SetOutLimit() {
    const uint64_t left = member.UncompressedSize - flushedCount;
    outLimit = outBase + static_cast<size_t>(std::min<uint64_t>(left, kLegacyOutputBlock));
  }

  void FlushOutput() {
    const size_t count = static_cast<size_t>(outPos - outBase);
    if (count != 0) {
      if (context.WriteBlock) {
        try {
          context.WriteBlock(outBase, count);
        } catch (...) {
          outPos = outBase;  // a failed block is not written again by the final flush
          throw;
        }
      }
      flushedCount += count;
      // The last kWindowMax bytes stay in front of the block as the window.
      std::memmove(output.get(), outPos - kWindowMax, kWindowMax);
      outPos = outBase;
      SetOutLimit();
    }
    if (Cancelled()) CancelInput();
  }

  // Makes room for at least one byte; false when the uncompressed size has been reached.
  bool MakeRoom() {
    if (outPos < outLimit) return true;
    if (OutputFull()) return false;
    FlushOutput();
    return outPos < outLimit;
  }

  bool PutByte(uint8_t byte) {
    if (outPos == outLimit && !MakeRoom()) return false;
    *outPos++ = byte;
    return true;
  }
  // The output buffer keeps the window in front of it, so every byte put is in the window too.
  bool PutWindowByte(uint8_t byte) { return PutByte(byte); }

  bool PutBytes(const uint8_t* bytes, size_t count) {
    while (count != 0) {
      if (!MakeRoom()) return false;
      const size_t n = std::min(count, static_cast<size_t>(outLimit - outPos));
      std::memcpy(outPos, bytes, n);
      outPos += n;
      bytes += n;
      count -= n;
    }
    return true;
  }

  // Copies `length` bytes from `distance` (1 to kWindowMax) bytes behind the output position;
  // bytes before the member's start are the window's zeros. False when the size was reached.
  bool CopyMatch(size_t distance, size_t length) {
    while (length != 0) {
      if (!MakeRoom()) return false;
      const size_t n = std::min(length, static_cast<size_t>(outLimit - outPos));
      const uint8_t* src = outPos - distance;
      uint8_t* dst = outPos;
      uint8_t* const end = dst + n;
      if (distance >= 8) {
        // Whole words; may write up to 7 bytes past `end`, into the slack or the next bytes.
        do {
          std::memcpy(dst, src, 8);
          dst += 8;
          src += 8;
        } while (dst < end);
      } else if (distance == 1) {
        std::memset(dst, *src, n);
      } else {
        while (dst < end) *dst++ = *src++;
      }
      outPos = end;
      length -= n;
    }
    return true;
  }

  // ---- unshrink ---------------------------------------------------------------------------------
  struct TShrinkTables {
    int16_t parent[kShrinkCodes];  // -1: none (a literal, or a free code)
    uint8_t character[kShrinkCodes];
    uint16_t childCount[kShrinkCodes];
    uint16_t freeList[kShrinkCodes];  // positions 257..8191 hold the free codes
    // The length of each code's string (1 for characters, 0 for free codes and for strings hung
    // from a code that was free when they were defined): lets the fast path write strings
    // straight into the output. Only a hint; the walk itself decides.
    uint32_t length[kShrinkCodes];
    int nextFree;                     // position of the next free code; 8192 when none is left
    uint8_t stack[kShrinkStack + 1];  // strings are assembled from the top down
  };

  static void PartialClear(TShrinkTables& t) {
    // Leaves (codes without children) are freed; a parent that loses its last child stays.
    uint16_t leaves[kShrinkCodes];
    int count = 0;
    for (int code = kShrinkFirstFree; code < kShrinkCodes; ++code)
      if (t.childCount[code] == 0) leaves[count++] = static_cast<uint16_t>(code);
    t.nextFree = kShrinkCodes;
    while (count > 0) {
      const int code = leaves[--count];
      if (t.parent[code] >= 0) --t.childCount[t.parent[code]];
      t.parent[code] = -1;
      t.character[code] = 0;
      t.childCount[code] = 0;
      t.length[code] = 0;
      t.freeList[--t.nextFree] = static_cast<uint16_t>(code);
    }
  }

  bool Unshrink() {
    auto tables = std::make_unique<TShrinkTables>();
    TShrinkTables& t = *tables;
    for (int code = 0; code < kShrinkCodes; ++code) {
      t.parent[code] = -1;
      t.character[code] = code < 256 ? static_cast<uint8_t>(code) : 0;
      t.childCount[code] = 0;
      t.freeList[code] = static_cast<uint16_t>(code);
      t.length[code] = code < 256 ? 1 : 0;
    }
    t.nextFree = kShrinkFirstFree;

    unsigned codeSize = kShrinkMinBits;
    const int first = ReadBits(codeSize);
    if (first < 0 || first > 255) Raise(kErrBadBlock);  // empty, or not a character
    int previous = first;
    uint8_t previousFirst = static_cast<uint8_t>(first);
    if (!PutByte(previousFirst)) return true;

    uint8_t* const stackTop = t.stack + kShrinkStack + 1;
    for (;;) {
      const int code = ReadBits(codeSize);
      if (code < 0) break;
      if (code == kShrinkControl) {
        const int control = ReadBits(codeSize);
        if (control == kShrinkIncrease && codeSize < kShrinkMaxBits) {
          ++codeSize;
        } else if (control == kShrinkPartialClear) {
          PartialClear(t);
        } else {
          Raise(kErrBadBlock);
        }
        continue;
      }
      if (code >= kShrinkCodes) Raise(kErrBadBlock);

      // Not defined yet: the code about to be defined, the previous string + its first character.
      const bool undefined = code >= kShrinkFirstFree && t.parent[code] < 0;
      const int start = undefined ? previous : code;
      uint8_t firstChar = 0;
      bool written = false;
      // Fast path: a string of known length that fits is written backwards straight into the
      // output. It stands only if the walk ends on a character after exactly length - 1 steps.
      if (t.length[start] != 0) {
        const size_t length = t.length[start] + (undefined ? 1 : 0);
        if (length <= static_cast<size_t>(outLimit - outPos)) {
          uint8_t* p = outPos + length;
          if (undefined) *--p = previousFirst;
          int walk = start;
          while (p > outPos + 1 && walk > kShrinkControl) {
            *--p = t.character[walk];
            walk = t.parent[walk];
          }
          if (p == outPos + 1 && walk >= 0 && walk < kShrinkControl) {
            firstChar = static_cast<uint8_t>(walk);
            *outPos = firstChar;
            outPos += length;
            written = true;
          }
        }
      }
      if (!written) {
        // The string is assembled backwards below stackTop; the top byte is the walked-to literal.
        uint8_t* sp = stackTop;
        int walk = start;
        if (undefined) *--sp = previousFirst;
        while (walk > kShrinkControl) {
          if (sp == t.stack + 1) {  // 8192 characters pushed already
            FlushOutput();
            Raise(kErrStackOverflow);
          }
          *--sp = t.character[walk];
          walk = t.parent[walk];
          if (walk < 0) Raise(kErrBadBlock);  // a string hanging from a freed code
        }
        firstChar = t.character[walk];
        *--sp = firstChar;
        if (!PutBytes(sp, static_cast<size_t>(stackTop - sp))) return true;
      }

      if (t.nextFree < kShrinkCodes) {
        const int fresh = t.freeList[t.nextFree++];
        t.parent[fresh] = static_cast<int16_t>(previous);
        t.character[fresh] = firstChar;
        const uint32_t parentLength = t.length[previous];
        t.length[fresh] = parentLength != 0 && parentLength < kShrinkCodes ? parentLength + 1 : 0;
        ++t.childCount[previous];
      }
      previous = code;
      previousFirst = firstChar;
    }
    return true;
  }

  // ---- unreduce ---------------------------------------------------------------------------------
  bool Unreduce() {
    const unsigned factor = member.Method - 1;  // 1..4
    const unsigned lengthMask = 0xFFu >> factor;
    const unsigned distanceShift = 8 - factor;

    struct TFollowers {
      uint8_t count[256];
      uint8_t indexBits[256];
      uint8_t bytes[256][kFollowerMax];
    };
    auto followers = std::make_unique<TFollowers>();
    TFollowers& f = *followers;
    std::memset(&f, 0, sizeof f);
    for (int c = 255; c >= 0; --c) {
      const int n = ReadBits(6);
      if (n < 0) return false;
      if (n > kFollowerMax) Raise(kErrBadBlock);
      f.count[c] = static_cast<uint8_t>(n);
      f.indexBits[c] = static_cast<uint8_t>(FollowerIndexBits(n));
      for (int i = 0; i < n; ++i) {
        const int byte = ReadBits(8);
        if (byte < 0) return false;
        f.bytes[c][i] = static_cast<uint8_t>(byte);
      }
    }

    unsigned last = 0;
    // The next byte of the expanded stream, through the last byte's follower set; -1 at the end.
    auto next = [&]() -> int {
      if (bitCount < 9) Refill();
      unsigned byte;
      if (f.count[last] == 0) {
        if (bitCount < 8) return -1;
        byte = Bits(8);
        DropBits(8);
      } else if (bitCount >= 9) {
        const uint32_t bits = Bits(9);
        if (bits & 1) {
          byte = bits >> 1;
          DropBits(9);
        } else {
          const unsigned n = f.indexBits[last];
          byte = f.bytes[last][(bits >> 1) & ((1u << n) - 1)];
          DropBits(1 + n);
        }
      } else {
        // Near the end: the same, one field at a time.
        const int flag = ReadBits(1);
        if (flag < 0) return -1;
        const int value = flag ? ReadBits(8) : ReadBits(f.indexBits[last]);
        if (value < 0) return -1;
        byte = flag ? static_cast<unsigned>(value) : f.bytes[last][value];
      }
      last = byte;
      return static_cast<int>(byte);
    };

    while (!OutputFull()) {
      const int c = next();
      if (c < 0) break;
      if (c != kDle) {
        if (!PutWindowByte(static_cast<uint8_t>(c))) break;
        continue;
      }
      const int v = next();
      if (v < 0) break;
      if (v == 0) {  // DLE 0: a literal DLE
        if (!PutWindowByte(kDle)) break;
        continue;
      }
      unsigned length = static_cast<unsigned>(v) & lengthMask;
      if (length == lengthMask) {
        const int more = next();
        if (more < 0) break;
        length += static_cast<unsigned>(more);
      }
      const int low = next();
      if (low < 0) break;
      const size_t distance = (static_cast<size_t>(v) >> distanceShift) * 256 + low + 1;
      if (!CopyMatch(distance, length + 3)) break;
    }
    return true;
  }

  // ---- explode ----------------------------------------------------------------------------------
  // Reads one tree description and builds the tree. False when the input ran out or the tree is
  // ambiguous (reported without an exception); a final slot taken twice raises.
  bool ReadSfTree(TSfTree& tree, int alphabet) {
    struct TCodeEntry {
      uint8_t bitLength;
      uint16_t value;
      uint16_t code;
    };
    std::vector<TCodeEntry> entries;
    entries.reserve(kSfMaxEntries);
    const int descriptionBytes = ReadBits(8);
    if (descriptionBytes < 0) return false;
    for (int i = 0; i <= descriptionBytes; ++i) {
      const int byte = ReadBits(8);
      if (byte < 0) return false;
      const int bitLength = (byte & 15) + 1;
      const int repeat = (byte >> 4) + 1;
      for (int r = 0; r < repeat; ++r) {
        entries.push_back(
            {static_cast<uint8_t>(bitLength), static_cast<uint16_t>(entries.size()), 0});
      }
    }
    if (static_cast<int>(entries.size()) > alphabet) {
      // More symbols than the tree has: no decoder could place them.
      Report(kErrAmbiguousTree);
      return false;
    }
    std::stable_sort(entries.begin(), entries.end(), [](const TCodeEntry& a, const TCodeEntry& b) {
      return a.bitLength < b.bitLength;
    });
    // Codes from the last (longest) entry to the first: each is the previous one plus one unit of
    // the previous entry's length, kept in the top bits of a 16-bit word.
    uint16_t code = 0, increment = 0;
    int lastLength = 0;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
      code = static_cast<uint16_t>(code + increment);
      if (it->bitLength != lastLength) {
        lastLength = it->bitLength;
        increment = static_cast<uint16_t>(1u << (kSfMaxBits - lastLength));
      }
      it->code = static_cast<uint16_t>(code >> (kSfMaxBits - it->bitLength));
    }

    // Any prefix-free set of at most `alphabet` codes of up to 16 bits fits in this many nodes.
    tree.alphabet = alphabet;
    tree.slots.assign(2 * static_cast<size_t>(alphabet) * kSfMaxBits, -1);
    int32_t nodes = 1;  // the root
    const int32_t root = alphabet;
    for (const TCodeEntry& e : entries) {
      int32_t node = root;
      for (int bit = e.bitLength - 1; bit >= 1; --bit) {
        int32_t& slot = tree.Slot(node, (e.code >> bit) & 1);
        if (slot < 0) {
          slot = alphabet + nodes++;
        } else if (!tree.IsNode(slot)) {
          Report(kErrAmbiguousTree);  // a shorter code is a prefix of this one
          return false;
        }
        node = slot;
      }
      int32_t& leaf = tree.Slot(node, e.code & 1);
      if (leaf >= 0) Raise(kErrAmbiguousTree);
      leaf = e.value;
    }
    tree.table.assign(1u << kSfTableBits, 0);
    tree.FillTable(root, 0, 0);
    return true;
  }

  // Decodes one symbol; -1 when the input runs out inside it. An empty slot raises.
  int DecodeSf(const TSfTree& tree) {
    if (bitCount < kSfTableBits) Refill();
    const uint32_t entry = tree.table[Bits(kSfTableBits)];
    const unsigned length = entry & 0xFF;
    const uint32_t kind = entry >> 28;
    int32_t node;
    if (length <= bitCount) {
      DropBits(length);
      if (kind == TSfTree::kLeaf) return static_cast<int>((entry >> 8) & 0xFFFFF);
      if (kind == TSfTree::kEmpty) Raise(kErrAmbiguousTree);
      node = static_cast<int32_t>((entry >> 8) & 0xFFFFF);
    } else {
      node = tree.alphabet;  // near the end of the input: walk from the root
    }
    while (tree.IsNode(node)) {
      const int bit = ReadBits(1);
      if (bit < 0) return -1;
      node = tree.Slot(node, bit);
      if (node < 0) Raise(kErrAmbiguousTree);
    }
    return node;
  }

  bool Explode() {
    const bool bigWindow = (member.Flags & kFlagImplode8K) != 0;
    const bool threeTrees = (member.Flags & kFlagImplode3Trees) != 0;
    const unsigned lowBits = bigWindow ? 7 : 6;
    const size_t windowSize = bigWindow ? 8192 : 4096;
    const unsigned minMatch = threeTrees ? 3 : 2;

    TSfTree literals, lengths, distances;
    if (threeTrees && !ReadSfTree(literals, kLiteralSymbols)) return false;
    if (!ReadSfTree(lengths, kLengthSymbols)) return false;
    if (!ReadSfTree(distances, kDistanceSymbols)) return false;

    while (!OutputFull()) {
      if (bitCount < 32) Refill();
      if (bitCount == 0) break;
      if (Bits(1)) {
        DropBits(1);
        const int literal = threeTrees ? DecodeSf(literals) : ReadBits(8);
        if (literal < 0) break;
        if (!PutWindowByte(static_cast<uint8_t>(literal))) break;
        continue;
      }
      DropBits(1);
      const int low = ReadBits(lowBits);
      if (low < 0) break;
      const int high = DecodeSf(distances);
      if (high < 0) break;
      const size_t distance = ((static_cast<size_t>(high) << lowBits | low) & (windowSize - 1)) + 1;
      int length = DecodeSf(lengths);
      if (length < 0) break;
      if (length == kLengthExtraCode) {
        const int extra = ReadBits(8);
        if (extra < 0) break;
        length += extra;
      }
      if (!CopyMatch(distance, static_cast<size_t>(length) + minMatch)) break;
    }
    return true;
  }
};

// ---- TLegacyDecoder -----------------------------------------------------------------------------
TLegacyDecoder::TLegacyDecoder(const TLegacyMember& member, const TLegacyContext& context)
    : F(std::make_unique<TState>(member, context)) {}

TLegacyDecoder::~TLegacyDecoder() = default;

bool TLegacyDecoder::Unshrink() {
  return F->Unshrink();
}
bool TLegacyDecoder::Unreduce() {
  return F->Unreduce();
}
bool TLegacyDecoder::Explode() {
  return F->Explode();
}
void TLegacyDecoder::FlushOutput() {
  F->FlushOutput();
}
uint64_t TLegacyDecoder::OutputCount() const {
  return F->OutputCount();
}
uint64_t TLegacyDecoder::InputCount() const {
  return F->inputCount;
}
int TLegacyDecoder::ErrorCode() const {
  return F->errorCode;
}

bool TLegacyDecoder::Run() {
  const uint32_t method = F->member.Method;
  if (!IsLegacyMethod(method) || F->decoderRun) return false;
  F->decoderRun = true;
  // An empty member has nothing to decode, whatever its compressed bytes say.
  if (F->member.UncompressedSize == 0) return true;
  bool done = false;
  try {
    if (method == kMethodShrunk) {
      done = Unshrink();
    } else if (method == kMethodImploded) {
      done = Explode();
    } else {
      done = Unreduce();
    }
  } catch (const std::bad_alloc&) {
    return false;  // tables that cannot be had: the member is not decoded
  } catch (...) {
    F->FlushOutput();
    throw;
  }
  FlushOutput();
  return done && F->errorCode == 0 && F->OutputCount() == F->member.UncompressedSize;
}

bool DecodeLegacyMember(const TLegacyMember& member, const TLegacyContext& context) {
  try {
    TLegacyDecoder decoder(member, context);
    return decoder.Run();
  } catch (const std::bad_alloc&) {
    return false;
  }
}
