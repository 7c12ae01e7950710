// PPMd variant I revision 1 (Dmitry Shkarin's algorithm) as zip method 98 uses it: the model with
// its sub-allocator, binary contexts, secondary escape estimation and the two restoration methods
// (restart, cut-off), over the carry-less range decoder.
//
// The model lives in one block of memory addressed by 32-bit offsets from its base: the text area
// grows up from the bottom, contexts and symbol lists are taken in 12-byte units from the top and
// from the middle. The decoder's output depends on exactly where the allocator puts things (when
// memory runs out, which blocks are free), so the allocator follows the algorithm step by step.
#include "archive/codecs/arvPpmd.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// ---- constants ----------------------------------------------------------------------------------
constexpr unsigned kMaxOrder = 64;
constexpr unsigned kUnitSize = 12;
constexpr unsigned kIndexCount = 38;  // unit counts 1..4, 6..12 by 2, 15..24 by 3, 28..128 by 4
constexpr unsigned kMaxFreq = 124;
constexpr unsigned kIntBits = 7;
constexpr unsigned kPeriodBits = 7;
constexpr unsigned kBinScaleBits = 14;
constexpr unsigned kBinScale = 1u << kBinScaleBits;
constexpr uint32_t kRangeTop = 1u << 24;
constexpr uint32_t kRangeBottom = 1u << 15;
constexpr uint32_t kFreeStamp = 0xFFFFFFFFu;
constexpr unsigned kRestart = 0;
constexpr unsigned kCutOff = 1;

constexpr uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3,
                                     0x64A1, 0x5ABC, 0x6632, 0x6051};
constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

constexpr size_t kInputBlock = 65536;
constexpr size_t kOutputBlock = 65536;

// ---- tables -------------------------------------------------------------------------------------
struct TTables {
  uint8_t IndexUnits[kIndexCount];  // units of a free-list index
  uint8_t UnitsIndex[128];          // the smallest index holding `units` (+1) units
  uint8_t StatsIndex[260];          // symbol count (or binary frequency) to a model row
  uint8_t SuffixIndex[256];         // the suffix's symbol count to a binary-context column
};

constexpr TTables MakeTables() {
  TTables t{};
  unsigned k = 0;
  for (unsigned i = 0; i < kIndexCount; ++i) {
    unsigned step = i < 12 ? (i >> 2) + 1 : 4;
    while (step--) t.UnitsIndex[k++] = static_cast<uint8_t>(i);
    t.IndexUnits[i] = static_cast<uint8_t>(k);
  }
  for (unsigned i = 0; i < 256; ++i) t.SuffixIndex[i] = i == 0 ? 0 : i == 1 ? 2 : i < 11 ? 4 : 6;
  unsigned i = 0;
  for (; i < 5; ++i) t.StatsIndex[i] = static_cast<uint8_t>(i);
  unsigned row = 5;
  unsigned left = 1;
  unsigned run = 1;
  for (; i < 260; ++i) {
    t.StatsIndex[i] = static_cast<uint8_t>(row);
    if (--left == 0) {
      left = ++run;
      ++row;
    }
  }
  return t;
}

constexpr TTables kTables = MakeTables();
static_assert(kTables.IndexUnits[kIndexCount - 1] == 128, "the largest block is 128 units");
static_assert(kTables.StatsIndex[256] - 3 < 24, "escape rows cover every symbol count");
static_assert(kTables.StatsIndex[195] < 25, "binary rows cover every binary frequency");

inline unsigned UnitsToIndex(unsigned units) { return kTables.UnitsIndex[units - 1]; }
inline unsigned IndexToUnits(unsigned index) { return kTables.IndexUnits[index]; }
inline uint32_t UnitsToBytes(unsigned units) { return units * kUnitSize; }

// ---- records in the model's memory ----------------------------------------------------------------
struct TState {
  uint8_t Symbol;
  uint8_t Freq;
  uint16_t SuccessorLow;
  uint16_t SuccessorHigh;
  uint32_t Successor() const { return SuccessorLow | static_cast<uint32_t>(SuccessorHigh) << 16; }
  void SetSuccessor(uint32_t ref) {
    SuccessorLow = static_cast<uint16_t>(ref);
    SuccessorHigh = static_cast<uint16_t>(ref >> 16);
  }
};
static_assert(sizeof(TState) == 6);

// NumStats is the symbol count minus 1; a context of one symbol (binary) keeps that state in
// place of SummFreq and Stats.
struct TContext {
  uint8_t NumStats;
  uint8_t Flags;  // 0x04 rescaled, 0x08 a symbol >= 0x40 in it, 0x10 reached by a symbol >= 0x40
  uint16_t SummFreq;
  uint32_t Stats;
  uint32_t Suffix;
  TState* One() { return reinterpret_cast<TState*>(&SummFreq); }
};
static_assert(sizeof(TContext) == kUnitSize);

struct TFreeNode {
  uint32_t Stamp;  // kFreeStamp while free
  uint32_t Next;
  uint32_t Units;
};
static_assert(sizeof(TFreeNode) == kUnitSize);

// Secondary escape estimation: a running sum and its period.
struct TSee {
  uint16_t Summ = 0;
  uint8_t Shift = 0;
  uint8_t Count = 0;
  unsigned Mean() {
    const unsigned r = Summ >> Shift;
    Summ = static_cast<uint16_t>(Summ - r);
    return r + (r == 0);
  }
  void Update() {
    if (Shift < kPeriodBits && --Count == 0) {
      Summ = static_cast<uint16_t>(Summ << 1);
      Count = static_cast<uint8_t>(3u << Shift++);
    }
  }
};

inline void SwapStates(TState* a, TState* b) {
  const TState t = *a;
  *a = *b;
  *b = t;
}

// ---- the model and its range decoder --------------------------------------------------------------
class TModel {
 public:
  TModel(const TCodecIo& io) : FIo(io) {}

  bool Allocate(uint32_t bytes) {
    // The text area starts one word in, so that no text position is the null reference 0.
    FMemory.reset(new (std::nothrow) uint8_t[bytes + kTextOffset]);
    if (!FMemory) return false;
    FBase = FMemory.get();
    std::memset(FBase, 0, kTextOffset);  // what the null reference reads as a context
    FSize = bytes;
    return true;
  }

  void Init(unsigned order, unsigned restoration) {
    FMaxOrder = order;
    FRestoration = restoration;
    FInitEsc = 0;
    RestartModel();
    FDummySee.Shift = kPeriodBits;
    FDummySee.Summ = 0;
    FDummySee.Count = 64;
  }

  // False when the first four bytes cannot start a stream (or are missing: see Overrun).
  bool InitCoder() {
    FLow = 0;
    FRange = 0xFFFFFFFFu;
    FCode = 0;
    for (int i = 0; i < 4; ++i) FCode = FCode << 8 | NextByte();
    return FCode < 0xFFFFFFFFu;
  }

  // The next symbol; -1 at the end mark, -2 when the data cannot be this coder's.
  int DecodeSymbol();

  // Whether the coder stands exactly where an encoder's final flush leaves it.
  bool CoderClosed() const { return FCode == 0; }
  bool Overrun() const { return FOverrun; }
  bool Broken() const { return FBroken; }
  uint64_t Consumed() const { return FConsumed - static_cast<uint64_t>(FInEnd - FInPos); }
  // Takes bytes the caller read before the coder started (the header) into the count.
  void CountHeader(uint64_t bytes) { FConsumed += bytes; }

 private:
  static constexpr uint32_t kTextOffset = 4;

  // ---- memory
  uint8_t* Ptr(uint32_t ref) const { return FBase + ref; }
  uint32_t Ref(const void* p) const {
    return static_cast<uint32_t>(static_cast<const uint8_t*>(p) - FBase);
  }
  TContext* Ctx(uint32_t ref) const { return reinterpret_cast<TContext*>(FBase + ref); }
  TState* Stats(const TContext* c) const { return reinterpret_cast<TState*>(FBase + c->Stats); }
  TContext* Suffix(const TContext* c) const { return Ctx(c->Suffix); }
  TFreeNode* Node(uint32_t ref) const { return reinterpret_cast<TFreeNode*>(FBase + ref); }

  void InsertNode(void* p, unsigned index) {
    auto* node = static_cast<TFreeNode*>(p);
    node->Stamp = kFreeStamp;
    node->Next = FFreeList[index];
    node->Units = IndexToUnits(index);
    FFreeList[index] = Ref(node);
    ++FFreeCount[index];
  }
  void* RemoveNode(unsigned index) {
    TFreeNode* node = Node(FFreeList[index]);
    FFreeList[index] = node->Next;
    --FFreeCount[index];
    return node;
  }
  // Frees the tail of a block of `oldIndex` units past its first `newIndex` units.
  void SplitBlock(void* block, unsigned oldIndex, unsigned newIndex) {
    const unsigned units = IndexToUnits(oldIndex) - IndexToUnits(newIndex);
    uint8_t* p = static_cast<uint8_t*>(block) + UnitsToBytes(IndexToUnits(newIndex));
    unsigned i = UnitsToIndex(units);
    if (IndexToUnits(i) != units) {
      const unsigned k = IndexToUnits(--i);
      InsertNode(p + UnitsToBytes(k), units - k - 1);
    }
    InsertNode(p, i);
  }
  void GlueFreeBlocks();
  void* AllocUnitsRare(unsigned index);
  void* AllocUnits(unsigned index) {
    if (FFreeList[index] != 0) return RemoveNode(index);
    const uint32_t bytes = UnitsToBytes(IndexToUnits(index));
    if (bytes <= static_cast<uint32_t>(FHiUnit - FLoUnit)) {
      void* p = FLoUnit;
      FLoUnit += bytes;
      return p;
    }
    return AllocUnitsRare(index);
  }
  TContext* AllocContext() {
    if (FHiUnit != FLoUnit) return reinterpret_cast<TContext*>(FHiUnit -= kUnitSize);
    if (FFreeList[0] != 0) return static_cast<TContext*>(RemoveNode(0));
    return static_cast<TContext*>(AllocUnitsRare(0));
  }
  void* ShrinkUnits(void* old, unsigned oldUnits, unsigned newUnits) {
    const unsigned i0 = UnitsToIndex(oldUnits);
    const unsigned i1 = UnitsToIndex(newUnits);
    if (i0 == i1) return old;
    if (FFreeList[i1] != 0) {
      void* p = RemoveNode(i1);
      std::memcpy(p, old, UnitsToBytes(newUnits));
      InsertNode(old, i0);
      return p;
    }
    SplitBlock(old, i0, i1);
    return old;
  }
  void FreeUnits(void* p, unsigned units) { InsertNode(p, UnitsToIndex(units)); }
  void SpecialFreeUnit(void* p) {
    if (static_cast<uint8_t*>(p) != FUnitsStart)
      InsertNode(p, 0);
    else
      FUnitsStart += kUnitSize;
  }
  void* MoveUnitsUp(void* old, unsigned units);
  void ExpandTextArea();
  uint32_t UsedMemory() const {
    uint32_t freeUnits = 0;
    for (unsigned i = 0; i < kIndexCount; ++i) freeUnits += FFreeCount[i] * IndexToUnits(i);
    return FSize - static_cast<uint32_t>(FHiUnit - FLoUnit) -
           static_cast<uint32_t>(FUnitsStart - FText) - UnitsToBytes(freeUnits);
  }

  // ---- model
  void RestartModel();
  TContext* CreateSuccessors(bool skip, TState* s1, TContext* c);
  TContext* ReduceOrder(TState* s1, TContext* c);
  void RestoreModel(TContext* c1);
  void Refresh(TContext* c, unsigned oldUnits, unsigned scale);
  uint32_t CutOff(TContext* c, unsigned order);
  void Rescale();
  void UpdateModel();
  void NextContext() {
    TContext* c = Ctx(FFoundState->Successor());
    if (FOrderFall == 0 && reinterpret_cast<uint8_t*>(c) >= FUnitsStart) {
      FMinContext = FMaxContext = c;
    } else {
      UpdateModel();
      FMinContext = FMaxContext;
    }
  }
  void UpdateFirst() {  // the first symbol of a context's list was decoded
    FPrevSuccess = 2u * FFoundState->Freq >= FMinContext->SummFreq;
    FRunLength += static_cast<int32_t>(FPrevSuccess);
    FMinContext->SummFreq = static_cast<uint16_t>(FMinContext->SummFreq + 4);
    if ((FFoundState->Freq = static_cast<uint8_t>(FFoundState->Freq + 4)) > kMaxFreq) Rescale();
    NextContext();
  }
  void UpdateOther() {  // another symbol of the list, no escape before it
    TState* s = FFoundState;
    s->Freq = static_cast<uint8_t>(s->Freq + 4);
    FMinContext->SummFreq = static_cast<uint16_t>(FMinContext->SummFreq + 4);
    if (s[0].Freq > s[-1].Freq) {
      SwapStates(&s[0], &s[-1]);
      FFoundState = --s;
      if (s->Freq > kMaxFreq) Rescale();
    }
    NextContext();
  }
  void UpdateBinary() {
    FFoundState->Freq = static_cast<uint8_t>(FFoundState->Freq + (FFoundState->Freq < 196));
    FPrevSuccess = 1;
    ++FRunLength;
    NextContext();
  }
  void UpdateAfterEscape() {  // a symbol found after one or more escapes
    FMinContext->SummFreq = static_cast<uint16_t>(FMinContext->SummFreq + 4);
    if ((FFoundState->Freq = static_cast<uint8_t>(FFoundState->Freq + 4)) > kMaxFreq) Rescale();
    FRunLength = FInitRL;
    UpdateModel();
    FMinContext = FMaxContext;
  }
  TSee* MakeEscFreq(unsigned masked, uint32_t& escFreq) {
    const TContext* mc = FMinContext;
    if (mc->NumStats == 0xFF) {
      escFreq = 1;
      return &FDummySee;
    }
    const unsigned ns = mc->NumStats;
    TSee* see = &FSee[kTables.StatsIndex[ns + 2] - 3][0] + (mc->SummFreq > 11 * (ns + 1)) +
                2 * (2 * ns < Suffix(mc)->NumStats + masked) + mc->Flags;
    escFreq = see->Mean();
    return see;
  }

  // ---- range decoder
  uint8_t NextByte() {
    if (FInPos != FInEnd) return *FInPos++;
    return Refill();
  }
  uint8_t Refill() {
    const size_t got = FIo.Read ? FIo.Read(FInput, kInputBlock) : 0;
    if (got == 0 || got > kInputBlock) {
      FOverrun = true;  // the coder reads zeros from here on; the caller ends the member
      return 0;
    }
    FConsumed += got;
    FInPos = FInput;
    FInEnd = FInput + got;
    return *FInPos++;
  }
  // Totals stay below the least range in streams an encoder can write; damaged data that drives
  // the model past that is caught here instead of dividing by zero.
  uint32_t Threshold(uint32_t total) {
    if ((FRange /= total) == 0) {
      FBroken = true;
      FRange = 1;
    }
    return FCode / FRange;
  }
  void Decode(uint32_t start, uint32_t size) {
    start *= FRange;
    FLow += start;
    FCode -= start;
    FRange *= size;
    for (;;) {
      if ((FLow ^ (FLow + FRange)) >= kRangeTop) {
        if (FRange >= kRangeBottom) break;
        FRange = (0u - FLow) & (kRangeBottom - 1);
      }
      FCode = FCode << 8 | NextByte();
      FRange <<= 8;
      FLow <<= 8;
    }
  }

  const TCodecIo& FIo;
  std::unique_ptr<uint8_t[]> FMemory;
  uint8_t* FBase = nullptr;
  uint32_t FSize = 0;
  uint8_t* FText = nullptr;
  uint8_t* FUnitsStart = nullptr;
  uint8_t* FLoUnit = nullptr;
  uint8_t* FHiUnit = nullptr;
  uint32_t FFreeList[kIndexCount] = {};
  uint32_t FFreeCount[kIndexCount] = {};
  uint32_t FGlueCount = 0;

  TContext* FMinContext = nullptr;
  TContext* FMaxContext = nullptr;
  TState* FFoundState = nullptr;
  unsigned FOrderFall = 0;
  unsigned FMaxOrder = 0;
  unsigned FRestoration = 0;
  unsigned FInitEsc = 0;
  unsigned FPrevSuccess = 0;
  int32_t FRunLength = 0;
  int32_t FInitRL = 0;
  uint16_t FBinSumm[25][64] = {};
  TSee FSee[24][32] = {};
  TSee FDummySee;

  uint32_t FRange = 0;
  uint32_t FCode = 0;
  uint32_t FLow = 0;
  uint8_t FInput[kInputBlock];
  const uint8_t* FInPos = FInput;
  const uint8_t* FInEnd = FInput;
  uint64_t FConsumed = 0;
  bool FOverrun = false;
  bool FBroken = false;
};

// ---- allocator -----------------------------------------------------------------------------------
// Joins free blocks that lie next to each other and files them again by size. The unit at LoUnit
// (when the middle gap is not empty) is marked used, so that no run reaches into the gap; the
// root context always holds the top unit.
void TModel::GlueFreeBlocks() {
  FGlueCount = 1u << 13;
  std::memset(FFreeCount, 0, sizeof FFreeCount);
  if (FLoUnit != FHiUnit) reinterpret_cast<TFreeNode*>(FLoUnit)->Stamp = 0;

  // Every free block in one chain, in list order, each grown over the free blocks behind it.
  uint32_t head = 0;
  uint32_t* tail = &head;
  for (unsigned i = 0; i < kIndexCount; ++i) {
    uint32_t next = FFreeList[i];
    FFreeList[i] = 0;
    while (next != 0) {
      TFreeNode* node = Node(next);
      if (node->Units != 0) {
        *tail = next;
        tail = &node->Next;
        for (TFreeNode* after; (after = node + node->Units)->Stamp == kFreeStamp;) {
          node->Units += after->Units;
          after->Units = 0;
        }
      }
      next = node->Next;
    }
  }
  *tail = 0;

  while (head != 0) {
    TFreeNode* node = Node(head);
    head = node->Next;
    unsigned units = node->Units;
    if (units == 0) continue;
    for (; units > 128; units -= 128, node += 128) InsertNode(node, kIndexCount - 1);
    unsigned i = UnitsToIndex(units);
    if (IndexToUnits(i) != units) {
      const unsigned k = IndexToUnits(--i);
      InsertNode(node + k, units - k - 1);
    }
    InsertNode(node, i);
  }
}

void* TModel::AllocUnitsRare(unsigned index) {
  if (FGlueCount == 0) {
    GlueFreeBlocks();
    if (FFreeList[index] != 0) return RemoveNode(index);
  }
  unsigned i = index;
  do {
    if (++i == kIndexCount) {
      const uint32_t bytes = UnitsToBytes(IndexToUnits(index));
      --FGlueCount;
      if (static_cast<uint32_t>(FUnitsStart - FText) > bytes) return FUnitsStart -= bytes;
      return nullptr;
    }
  } while (FFreeList[i] == 0);
  void* block = RemoveNode(i);
  SplitBlock(block, i, index);
  return block;
}

void* TModel::MoveUnitsUp(void* old, unsigned units) {
  const unsigned index = UnitsToIndex(units);
  if (static_cast<uint8_t*>(old) > FUnitsStart + 16 * 1024 || Ref(old) > FFreeList[index])
    return old;
  void* p = RemoveNode(index);
  std::memcpy(p, old, UnitsToBytes(units));
  if (static_cast<uint8_t*>(old) != FUnitsStart)
    InsertNode(old, index);
  else
    FUnitsStart += UnitsToBytes(IndexToUnits(index));
  return p;
}

// Gives the free blocks at the bottom of the units area back to the text area.
void TModel::ExpandTextArea() {
  uint32_t count[kIndexCount] = {};
  if (FLoUnit != FHiUnit) reinterpret_cast<TFreeNode*>(FLoUnit)->Stamp = 0;
  {
    auto* node = reinterpret_cast<TFreeNode*>(FUnitsStart);
    for (; node->Stamp == kFreeStamp; node += node->Units) {
      node->Stamp = 0;
      ++count[UnitsToIndex(node->Units)];
    }
    FUnitsStart = reinterpret_cast<uint8_t*>(node);
  }
  for (unsigned i = 0; i < kIndexCount; ++i) {
    uint32_t* link = &FFreeList[i];
    while (count[i] != 0) {
      TFreeNode* node = Node(*link);
      while (node->Stamp == 0) {
        *link = node->Next;
        node = Node(*link);
        --FFreeCount[i];
        if (--count[i] == 0) break;
      }
      link = &node->Next;
    }
  }
}

// ---- model -------------------------------------------------------------------------------------
void TModel::RestartModel() {
  std::memset(FFreeList, 0, sizeof FFreeList);
  std::memset(FFreeCount, 0, sizeof FFreeCount);
  FText = FBase + kTextOffset;
  FHiUnit = FText + FSize;
  FLoUnit = FUnitsStart = FHiUnit - FSize / 8 / kUnitSize * 7 * kUnitSize;
  FGlueCount = 0;

  FOrderFall = FMaxOrder;
  FRunLength = FInitRL = -static_cast<int32_t>(std::min(FMaxOrder, 12u)) - 1;
  FPrevSuccess = 0;

  FMinContext = FMaxContext = reinterpret_cast<TContext*>(FHiUnit -= kUnitSize);
  FMinContext->Suffix = 0;
  FMinContext->NumStats = 255;
  FMinContext->Flags = 0;
  FMinContext->SummFreq = 256 + 1;
  FFoundState = reinterpret_cast<TState*>(FLoUnit);
  FLoUnit += UnitsToBytes(256 / 2);
  FMinContext->Stats = Ref(FFoundState);
  for (unsigned i = 0; i < 256; ++i) {
    TState* s = &FFoundState[i];
    s->Symbol = static_cast<uint8_t>(i);
    s->Freq = 1;
    s->SetSuccessor(0);
  }

  for (unsigned i = 0, m = 0; m < 25; ++m) {
    while (kTables.StatsIndex[i] == m) ++i;
    for (unsigned k = 0; k < 8; ++k) {
      const auto value = static_cast<uint16_t>(kBinScale - kInitBinEsc[k] / (i + 1));
      for (unsigned r = 0; r < 64; r += 8) FBinSumm[m][k + r] = value;
    }
  }
  for (unsigned i = 0, m = 0; m < 24; ++m) {
    while (kTables.StatsIndex[i + 3] == m + 3) ++i;
    for (TSee& see : FSee[m]) {
      see.Shift = kPeriodBits - 4;
      see.Summ = static_cast<uint16_t>((2 * i + 5) << see.Shift);
      see.Count = 7;
    }
  }
}

// Makes the contexts one order up along the path that led to the found state, from the text
// the successor points into. nullptr when memory ran out.
TContext* TModel::CreateSuccessors(bool skip, TState* s1, TContext* c) {
  const uint32_t upBranch = FFoundState->Successor();
  const uint8_t symbol = FFoundState->Symbol;
  TState* ps[kMaxOrder + 1];
  unsigned count = 0;
  if (!skip) ps[count++] = FFoundState;

  while (c->Suffix != 0) {
    TState* s;
    c = Suffix(c);
    if (s1 != nullptr) {
      s = s1;
      s1 = nullptr;
    } else if (c->NumStats != 0) {
      for (s = Stats(c); s->Symbol != symbol; ++s) {
      }
      if (s->Freq < kMaxFreq - 9) {
        ++s->Freq;
        ++c->SummFreq;
      }
    } else {
      s = c->One();
      s->Freq = static_cast<uint8_t>(s->Freq + (Suffix(c)->NumStats == 0 && s->Freq < 24));
    }
    const uint32_t successor = s->Successor();
    if (successor != upBranch) {
      c = Ctx(successor);
      if (count == 0) return c;
      break;
    }
    ps[count++] = s;
  }

  TState up;
  up.Symbol = *Ptr(upBranch);
  up.SetSuccessor(upBranch + 1);
  const auto flags = static_cast<uint8_t>(0x10 * (symbol >= 0x40) + 0x08 * (up.Symbol >= 0x40));
  if (c->NumStats == 0) {
    up.Freq = c->One()->Freq;
  } else {
    TState* s = Stats(c);
    while (s->Symbol != up.Symbol) ++s;
    const uint32_t cf = s->Freq - 1u;
    const uint32_t s0 = c->SummFreq - c->NumStats - cf;
    up.Freq = static_cast<uint8_t>(1 + (2 * cf <= s0 ? (5 * cf > s0) : (cf + 2 * s0 - 3) / s0));
  }

  do {
    TContext* c1 = AllocContext();
    if (c1 == nullptr) return nullptr;
    c1->NumStats = 0;
    c1->Flags = flags;
    *c1->One() = up;
    c1->Suffix = Ref(c);
    ps[--count]->SetSuccessor(Ref(c1));
    c = c1;
  } while (count != 0);
  return c;
}

// The found state has no successor: point the states of this context and its suffixes that have
// none either at the text, and find (or make) the first real successor below.
TContext* TModel::ReduceOrder(TState* s1, TContext* c) {
  TState* s = nullptr;
  TContext* const c1 = c;
  const uint32_t upBranch = Ref(FText);
  const uint8_t symbol = FFoundState->Symbol;
  FFoundState->SetSuccessor(upBranch);
  ++FOrderFall;

  for (;;) {
    if (s1 != nullptr) {
      c = Suffix(c);
      s = s1;
      s1 = nullptr;
    } else {
      if (c->Suffix == 0) return c;
      c = Suffix(c);
      if (c->NumStats != 0) {
        s = Stats(c);
        while (s->Symbol != symbol) ++s;
        if (s->Freq < kMaxFreq - 9) {
          s->Freq = static_cast<uint8_t>(s->Freq + 2);
          c->SummFreq = static_cast<uint16_t>(c->SummFreq + 2);
        }
      } else {
        s = c->One();
        s->Freq = static_cast<uint8_t>(s->Freq + (s->Freq < 32));
      }
    }
    if (s->Successor() != 0) break;
    s->SetSuccessor(upBranch);
    ++FOrderFall;
  }

  if (s->Successor() <= upBranch) {
    TState* const found = FFoundState;
    FFoundState = s;
    TContext* successor = CreateSuccessors(false, nullptr, c);
    s->SetSuccessor(successor == nullptr ? 0 : Ref(successor));
    FFoundState = found;
  }
  if (FOrderFall == 1 && c1 == FMaxContext) {
    FFoundState->SetSuccessor(s->Successor());
    --FText;
  }
  return s->Successor() == 0 ? nullptr : Ctx(s->Successor());
}

// Recounts a context's frequencies after its list shrank (halving them when `scale`).
void TModel::Refresh(TContext* c, unsigned oldUnits, unsigned scale) {
  unsigned i = c->NumStats;
  auto* s = static_cast<TState*>(ShrinkUnits(Stats(c), oldUnits, (i + 2) >> 1));
  c->Stats = Ref(s);
  unsigned flags = (c->Flags & (0x10 + 0x04 * scale)) + 0x08 * (s->Symbol >= 0x40);
  unsigned escFreq = c->SummFreq - s->Freq;
  unsigned sumFreq = (s->Freq = static_cast<uint8_t>((s->Freq + scale) >> scale));
  do {
    escFreq -= (++s)->Freq;
    sumFreq += (s->Freq = static_cast<uint8_t>((s->Freq + scale) >> scale));
    flags |= 0x08 * (s->Symbol >= 0x40);
  } while (--i);
  c->SummFreq = static_cast<uint16_t>(sumFreq + ((escFreq + scale) >> scale));
  c->Flags = static_cast<uint8_t>(flags);
}

// Drops the states whose successor is text (or none), and contexts deeper than the order; frees
// what is left empty. Returns the context's reference, or 0 when it went.
uint32_t TModel::CutOff(TContext* c, unsigned order) {
  if (c->NumStats == 0) {
    TState* s = c->One();
    if (Ptr(s->Successor()) >= FUnitsStart) {
      if (order < FMaxOrder)
        s->SetSuccessor(CutOff(Ctx(s->Successor()), order + 1));
      else
        s->SetSuccessor(0);
      if (s->Successor() != 0 || order <= 9) return Ref(c);
    }
    SpecialFreeUnit(c);
    return 0;
  }

  const unsigned units = (c->NumStats + 2u) >> 1;
  c->Stats = Ref(MoveUnitsUp(Stats(c), units));
  int i = c->NumStats;
  for (TState* s = Stats(c) + i; s >= Stats(c); --s) {
    if (Ptr(s->Successor()) < FUnitsStart) {
      TState* last = Stats(c) + (i--);
      s->SetSuccessor(0);
      SwapStates(s, last);
    } else if (order < FMaxOrder) {
      s->SetSuccessor(CutOff(Ctx(s->Successor()), order + 1));
    } else {
      s->SetSuccessor(0);
    }
  }

  if (i != c->NumStats && order != 0) {
    c->NumStats = static_cast<uint8_t>(i);
    TState* s = Stats(c);
    if (i < 0) {
      FreeUnits(s, units);
      SpecialFreeUnit(c);
      return 0;
    }
    if (i == 0) {
      c->Flags = static_cast<uint8_t>((c->Flags & 0x10) + 0x08 * (s->Symbol >= 0x40));
      *c->One() = *s;
      FreeUnits(s, units);
      c->One()->Freq = static_cast<uint8_t>((c->One()->Freq + 11u) >> 3);
    } else {
      Refresh(c, units, c->SummFreq > 16 * static_cast<unsigned>(i));
    }
  }
  return Ref(c);
}

// Memory ran out while the model grew: take back the half-made update from MaxContext down to
// `c1`, then restart the model or cut it down.
void TModel::RestoreModel(TContext* c1) {
  FText = FBase + kTextOffset;
  TContext* c = FMaxContext;
  for (; c != c1; c = Suffix(c)) {
    if (--c->NumStats == 0) {
      TState* s = Stats(c);
      c->Flags = static_cast<uint8_t>((c->Flags & 0x10) + 0x08 * (s->Symbol >= 0x40));
      *c->One() = *s;
      SpecialFreeUnit(s);
      c->One()->Freq = static_cast<uint8_t>((c->One()->Freq + 11u) >> 3);
    } else {
      Refresh(c, (c->NumStats + 3u) >> 1, 0);
    }
  }
  for (; c != FMinContext; c = Suffix(c)) {
    if (c->NumStats == 0) {
      c->One()->Freq = static_cast<uint8_t>(c->One()->Freq - (c->One()->Freq >> 1));
    } else if ((c->SummFreq = static_cast<uint16_t>(c->SummFreq + 4)) > 128 + 4 * c->NumStats) {
      Refresh(c, (c->NumStats + 2u) >> 1, 1);
    }
  }

  if (FRestoration == kRestart || UsedMemory() < (FSize >> 1)) {
    RestartModel();
    return;
  }
  while (FMaxContext->Suffix != 0) FMaxContext = Suffix(FMaxContext);
  do {
    CutOff(FMaxContext, 0);
    ExpandTextArea();
  } while (UsedMemory() > 3 * (FSize >> 2));
  FGlueCount = 0;
  FOrderFall = FMaxOrder;
}

void TModel::Rescale() {
  TState* stats = Stats(FMinContext);
  TState* s = FFoundState;
  if (s != stats) {  // the found state to the front
    const TState t = *s;
    for (; s != stats; --s) s[0] = s[-1];
    *s = t;
  }
  unsigned escFreq = FMinContext->SummFreq - s->Freq;
  s->Freq = static_cast<uint8_t>(s->Freq + 4);
  const unsigned adder = FOrderFall != 0;
  s->Freq = static_cast<uint8_t>((s->Freq + adder) >> 1);
  unsigned sumFreq = s->Freq;

  unsigned i = FMinContext->NumStats;
  do {
    escFreq -= (++s)->Freq;
    s->Freq = static_cast<uint8_t>((s->Freq + adder) >> 1);
    sumFreq += s->Freq;
    if (s[0].Freq > s[-1].Freq) {  // keep the list sorted by frequency
      TState* s1 = s;
      const TState t = *s1;
      do {
        s1[0] = s1[-1];
      } while (--s1 != stats && t.Freq > s1[-1].Freq);
      *s1 = t;
    }
  } while (--i);

  if (s->Freq == 0) {  // drop the states that fell to zero
    const unsigned numStats = FMinContext->NumStats;
    do {
      ++i;
    } while ((--s)->Freq == 0);
    escFreq += i;
    FMinContext->NumStats = static_cast<uint8_t>(FMinContext->NumStats - i);
    if (FMinContext->NumStats == 0) {
      TState t = *stats;
      t.Freq = static_cast<uint8_t>((2 * t.Freq + escFreq - 1) / escFreq);
      if (t.Freq > kMaxFreq / 3) t.Freq = kMaxFreq / 3;
      InsertNode(stats, UnitsToIndex((numStats + 2) >> 1));
      FMinContext->Flags =
          static_cast<uint8_t>((FMinContext->Flags & 0x10) + 0x08 * (t.Symbol >= 0x40));
      *(FFoundState = FMinContext->One()) = t;
      return;
    }
    const unsigned n0 = (numStats + 2) >> 1;
    const unsigned n1 = (FMinContext->NumStats + 2u) >> 1;
    if (n0 != n1) FMinContext->Stats = Ref(ShrinkUnits(stats, n0, n1));
    FMinContext->Flags &= ~0x08;
    s = Stats(FMinContext);
    FMinContext->Flags |= 0x08 * (s->Symbol >= 0x40);
    i = FMinContext->NumStats;
    do {
      FMinContext->Flags |= 0x08 * ((++s)->Symbol >= 0x40);
    } while (--i);
  }
  FMinContext->SummFreq = static_cast<uint16_t>(sumFreq + escFreq - (escFreq >> 1));
  FMinContext->Flags |= 0x04;
  FFoundState = Stats(FMinContext);
}

void TModel::UpdateModel() {
  uint32_t fSuccessor = FFoundState->Successor();
  const unsigned fFreq = FFoundState->Freq;
  const uint8_t fSymbol = FFoundState->Symbol;
  TState* s = nullptr;

  if (fFreq < kMaxFreq / 4 && FMinContext->Suffix != 0) {
    TContext* c = Suffix(FMinContext);
    if (c->NumStats == 0) {
      s = c->One();
      if (s->Freq < 32) ++s->Freq;
    } else {
      s = Stats(c);
      if (s->Symbol != fSymbol) {
        do {
          ++s;
        } while (s->Symbol != fSymbol);
        if (s[0].Freq >= s[-1].Freq) {
          SwapStates(&s[0], &s[-1]);
          --s;
        }
      }
      if (s->Freq < kMaxFreq - 9) {
        s->Freq = static_cast<uint8_t>(s->Freq + 2);
        c->SummFreq = static_cast<uint16_t>(c->SummFreq + 2);
      }
    }
  }

  TContext* c = FMaxContext;
  if (FOrderFall == 0 && fSuccessor != 0) {
    TContext* cs = CreateSuccessors(true, s, FMinContext);
    if (cs == nullptr) {
      FFoundState->SetSuccessor(0);
      RestoreModel(c);
    } else {
      FFoundState->SetSuccessor(Ref(cs));
      FMaxContext = cs;
    }
    return;
  }

  *FText++ = fSymbol;
  uint32_t successor = Ref(FText);
  if (FText >= FUnitsStart) {
    RestoreModel(c);
    return;
  }

  if (fSuccessor == 0) {
    TContext* cs = ReduceOrder(s, FMinContext);
    if (cs == nullptr) {
      RestoreModel(c);
      return;
    }
    fSuccessor = Ref(cs);
  } else if (Ptr(fSuccessor) < FUnitsStart) {
    TContext* cs = CreateSuccessors(false, s, FMinContext);
    if (cs == nullptr) {
      RestoreModel(c);
      return;
    }
    fSuccessor = Ref(cs);
  }

  if (--FOrderFall == 0) {
    successor = fSuccessor;
    FText -= (FMaxContext != FMinContext);
  }

  const unsigned ns = FMinContext->NumStats;
  const unsigned s0 = FMinContext->SummFreq - ns - fFreq;
  const uint8_t flag = fSymbol >= 0x40 ? 0x08 : 0;

  for (; c != FMinContext; c = Suffix(c)) {
    const unsigned ns1 = c->NumStats;
    if (ns1 != 0) {
      if ((ns1 & 1) != 0) {  // the list fills its units: one unit more
        const unsigned oldUnits = (ns1 + 1) >> 1;
        const unsigned i = UnitsToIndex(oldUnits);
        if (i != UnitsToIndex(oldUnits + 1)) {
          void* p = AllocUnits(i + 1);
          if (p == nullptr) {
            RestoreModel(c);
            return;
          }
          void* old = Stats(c);
          std::memcpy(p, old, UnitsToBytes(oldUnits));
          InsertNode(old, i);
          c->Stats = Ref(p);
        }
      }
      c->SummFreq = static_cast<uint16_t>(c->SummFreq + (3 * ns1 + 1 < ns));
    } else {
      auto* s2 = static_cast<TState*>(AllocUnits(0));
      if (s2 == nullptr) {
        RestoreModel(c);
        return;
      }
      *s2 = *c->One();
      c->Stats = Ref(s2);
      if (s2->Freq < kMaxFreq / 4 - 1)
        s2->Freq = static_cast<uint8_t>(s2->Freq << 1);
      else
        s2->Freq = kMaxFreq - 4;
      c->SummFreq = static_cast<uint16_t>(s2->Freq + FInitEsc + (ns > 2));
    }
    uint32_t cf = 2 * fFreq * (c->SummFreq + 6u);
    const uint32_t sf = s0 + c->SummFreq;
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf) + (cf >= 4 * sf);
      c->SummFreq = static_cast<uint16_t>(c->SummFreq + 4);
    } else {
      cf = 4 + (cf > 9 * sf) + (cf > 12 * sf) + (cf > 15 * sf);
      c->SummFreq = static_cast<uint16_t>(c->SummFreq + cf);
    }
    TState* added = Stats(c) + ns1 + 1;
    added->SetSuccessor(successor);
    added->Symbol = fSymbol;
    added->Freq = static_cast<uint8_t>(cf);
    c->Flags |= flag;
    c->NumStats = static_cast<uint8_t>(ns1 + 1);
  }
  FMaxContext = FMinContext = Ctx(fSuccessor);
}

int TModel::DecodeSymbol() {
  uint8_t charMask[256];
  if (FMinContext->NumStats != 0) {
    TState* s = Stats(FMinContext);
    const uint32_t count = Threshold(FMinContext->SummFreq);
    uint32_t hiCnt = s->Freq;
    if (count < hiCnt) {
      Decode(0, s->Freq);
      FFoundState = s;
      const uint8_t symbol = s->Symbol;
      UpdateFirst();
      return symbol;
    }
    FPrevSuccess = 0;
    unsigned i = FMinContext->NumStats;
    do {
      if ((hiCnt += (++s)->Freq) > count) {
        Decode(hiCnt - s->Freq, s->Freq);
        FFoundState = s;
        const uint8_t symbol = s->Symbol;
        UpdateOther();
        return symbol;
      }
    } while (--i);
    if (count >= FMinContext->SummFreq) return -2;
    Decode(hiCnt, FMinContext->SummFreq - hiCnt);
    std::memset(charMask, 0xFF, sizeof charMask);
    charMask[s->Symbol] = 0;
    i = FMinContext->NumStats;
    do {
      charMask[(--s)->Symbol] = 0;
    } while (--i);
  } else {
    TState* one = FMinContext->One();
    uint16_t* prob =
        &FBinSumm[kTables.StatsIndex[one->Freq - 1]]
                 [kTables.SuffixIndex[Suffix(FMinContext)->NumStats] + FPrevSuccess +
                  FMinContext->Flags + ((static_cast<uint32_t>(FRunLength) >> 26) & 0x20)];
    const uint32_t p = *prob;
    if (FCode / (FRange >>= kBinScaleBits) < p) {
      Decode(0, p);
      *prob = static_cast<uint16_t>(p + (1u << kIntBits) - ((p + 32) >> kPeriodBits));
      FFoundState = one;
      const uint8_t symbol = one->Symbol;
      UpdateBinary();
      return symbol;
    }
    Decode(p, kBinScale - p);
    *prob = static_cast<uint16_t>(p - ((p + 32) >> kPeriodBits));
    FInitEsc = kExpEscape[*prob >> 10];
    std::memset(charMask, 0xFF, sizeof charMask);
    charMask[one->Symbol] = 0;
    FPrevSuccess = 0;
  }

  for (;;) {
    TState* ps[256];
    const unsigned masked = FMinContext->NumStats;
    do {
      ++FOrderFall;
      if (FMinContext->Suffix == 0) return -1;
      FMinContext = Suffix(FMinContext);
    } while (FMinContext->NumStats == masked);

    uint32_t hiCnt = 0;
    TState* s = Stats(FMinContext);
    unsigned n = 0;
    const unsigned wanted = FMinContext->NumStats - masked;
    do {
      const unsigned k = charMask[s->Symbol] & 1u;
      hiCnt += s->Freq & (0u - k);
      ps[n] = s++;
      n += k;
    } while (n != wanted);

    uint32_t freqSum;
    TSee* see = MakeEscFreq(masked, freqSum);
    freqSum += hiCnt;
    const uint32_t count = Threshold(freqSum);
    if (count < hiCnt) {
      TState** pps = ps;
      for (hiCnt = 0; (hiCnt += (*pps)->Freq) <= count; ++pps) {
      }
      s = *pps;
      Decode(hiCnt - s->Freq, s->Freq);
      see->Update();
      FFoundState = s;
      const uint8_t symbol = s->Symbol;
      UpdateAfterEscape();
      return symbol;
    }
    if (count >= freqSum) return -2;
    Decode(hiCnt, freqSum - hiCnt);
    see->Summ = static_cast<uint16_t>(see->Summ + freqSum);
    do {
      charMask[ps[--n]->Symbol] = 0;
    } while (n != 0);
  }
}

// Reads up to `count` bytes, as many as the source gives.
size_t ReadFully(const TCodecIo& io, uint8_t* buffer, size_t count) {
  size_t have = 0;
  while (have < count) {
    const size_t got = io.Read(buffer + have, count - have);
    if (got == 0 || got > count - have) break;
    have += got;
  }
  return have;
}

}  // namespace

TPpmdHeaderCheck ReadPpmdHeader(uint16_t word, TPpmdParams& params) {
  params.Order = (word & 0xFu) + 1;
  params.MemoryMiB = ((word >> 4) & 0xFFu) + 1;
  params.Restoration = word >> 12;
  if (params.Order < kPpmdMinOrder) return TPpmdHeaderCheck::OrderTooLow;
  if (params.Restoration == 2) return TPpmdHeaderCheck::RestorationFreeze;
  if (params.Restoration > 2) return TPpmdHeaderCheck::RestorationUnknown;
  return TPpmdHeaderCheck::Ok;
}

std::string PpmdHeaderProblem(TPpmdHeaderCheck check, const TPpmdParams& params) {
  switch (check) {
    case TPpmdHeaderCheck::Ok:
      return {};
    case TPpmdHeaderCheck::OrderTooLow:
      return "PPMd order " + std::to_string(params.Order) + " is below the least of 2";
    case TPpmdHeaderCheck::RestorationFreeze:
      return "PPMd restoration method 2 (freezing the model) is not supported";
    case TPpmdHeaderCheck::RestorationUnknown:
      return "PPMd restoration method " + std::to_string(params.Restoration) + " does not exist";
  }
  return {};
}

TPpmdResult DecodePpmdMember(const TCodecIo& io, uint64_t size) {
  TPpmdResult result;
  if (io.Cancel != nullptr && *io.Cancel != 0) {
    result.Status = TCodecStatus::Cancelled;
    return result;
  }
  uint8_t header[2];
  const size_t got = ReadFully(io, header, 2);
  result.Consumed = got;
  if (got < 2) {
    result.Status = TCodecStatus::Truncated;
    return result;
  }
  result.Header = ReadPpmdHeader(static_cast<uint16_t>(header[0] | header[1] << 8), result.Params);
  if (result.Header != TPpmdHeaderCheck::Ok) {
    result.Status = result.Header == TPpmdHeaderCheck::RestorationFreeze
                        ? TCodecStatus::Unsupported
                        : TCodecStatus::Corrupt;
    return result;
  }

  std::unique_ptr<TModel> model(new (std::nothrow) TModel(io));
  if (!model || !model->Allocate(result.Params.MemoryMiB << 20)) {
    result.Status = TCodecStatus::Unsupported;
    result.NoMemory = true;
    return result;
  }
  model->CountHeader(2);
  const bool started = model->InitCoder();
  if (model->Overrun()) {
    result.Status = TCodecStatus::Truncated;
    result.Consumed = model->Consumed();
    return result;
  }
  if (!started) {
    result.Status = TCodecStatus::Corrupt;
    result.Consumed = model->Consumed();
    return result;
  }
  model->Init(result.Params.Order, result.Params.Restoration);

  std::vector<uint8_t> out(kOutputBlock);
  size_t filled = 0;
  uint64_t left = size;
  TCodecStatus status = TCodecStatus::Ok;
  auto flush = [&] {
    if (filled == 0) return;
    io.Write(out.data(), filled);
    result.Written += filled;
    filled = 0;
  };
  for (;;) {
    if (left == 0) {
      // Every byte is out: the coder must stand at its end, or an end mark follow.
      if (!model->CoderClosed()) {
        const int symbol = model->DecodeSymbol();
        if (model->Overrun())
          status = TCodecStatus::Truncated;
        else if (symbol != -1 || model->Broken())
          status = TCodecStatus::Corrupt;
      }
      break;
    }
    if (filled == kOutputBlock) {
      flush();
      if (io.Cancel != nullptr && *io.Cancel != 0) {
        status = TCodecStatus::Cancelled;
        break;
      }
    }
    const int symbol = model->DecodeSymbol();
    if (model->Overrun()) {
      status = TCodecStatus::Truncated;
      break;
    }
    if (model->Broken()) {
      status = TCodecStatus::Corrupt;
      break;
    }
    if (symbol < 0) {
      if (symbol == -2)
        status = TCodecStatus::Corrupt;
      else if (size != kPpmdSizeUnknown)
        status = TCodecStatus::Truncated;  // the end mark before the member's size
      break;
    }
    out[filled++] = static_cast<uint8_t>(symbol);
    if (left != kPpmdSizeUnknown) --left;
  }
  flush();
  result.Status = status;
  result.Consumed = model->Consumed();
  return result;
}
