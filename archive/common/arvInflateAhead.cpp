#include "archive/common/arvInflateAhead.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

#if defined(PARCELO_FUZZ_SMALL_SIZES)
constexpr uint64_t kScale = 64;  // fuzz builds: inputs of a fuzzer's size reach every case
#else
constexpr uint64_t kScale = 1;
#endif

// The stretch (compressed bytes) a run aims at, and the stretch left to the calling thread before
// each: at first as long, then between the bounds as the two threads keep pace.
constexpr uint64_t kRunTarget = 256 * 1024 / kScale;
constexpr uint64_t kFirstLeftToCaller = 256 * 1024 / kScale;
constexpr uint64_t kMinLeftToCaller = 32 * 1024 / kScale;
constexpr uint64_t kMaxLeftToCaller = 2048 * 1024 / kScale;
// How far past the stretch left to the caller a block start is looked for, and how much data
// beyond a run's target its last block may take.
constexpr uint64_t kSearchRoom = 256 * 1024 / kScale;
constexpr uint64_t kTailRoom = 256 * 1024 / kScale;
// More than the longest dynamic block header (about 320 bytes).
constexpr uint64_t kHeaderRoom = 1024;
// Symbols a run may hold (two bytes each; kSlots runs at a time).
constexpr size_t kMaxRunSymbols = (size_t{1} << 20) / kScale;

}  // namespace

TInflateAheadWorker::TInflateAheadWorker(TReadAt readAt, uint64_t size)
    : FReadAt(std::move(readAt)),
      FSize(size),
      FLeftToCaller(kFirstLeftToCaller),
      FWorker([this] { Work(); }) {}

TInflateAheadWorker::~TInflateAheadWorker() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  FWorker.join();
}

void TInflateAheadWorker::Drop(TSlot& slot) {
  if (slot.State == TState::kDecoding)
    slot.Dropped = true;  // the worker frees it when it is done
  else
    slot.State = TState::kFree;
  ++FNext;
}

uint64_t TInflateAheadWorker::NextStart(uint64_t position) {
  std::lock_guard<std::mutex> lock(FLock);
  FPosition = position;
  while (FNext < FPublished) {
    TSlot& slot = FSlots[FNext % kSlots];
    if (slot.Start >= position) return slot.Start;
    Drop(slot);
    FChanged.notify_all();
  }
  return kNoStart;
}

const TInflateAhead* TInflateAheadWorker::Take(uint64_t start) {
  std::unique_lock<std::mutex> lock(FLock);
  if (FNext >= FPublished || FSlots[FNext % kSlots].Start != start) return nullptr;
  TSlot& slot = FSlots[FNext % kSlots];
  if (slot.State == TState::kDecoding)  // the worker is behind: leave more to this thread
    FLeftToCaller = std::min(kMaxLeftToCaller, FLeftToCaller + FLeftToCaller / 4);
  FChanged.wait(lock, [&] { return slot.State != TState::kDecoding; });
  if (slot.State == TState::kDone) return &slot.Run;
  Drop(slot);
  FChanged.notify_all();
  return nullptr;
}

void TInflateAheadWorker::Release() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FSlots[FNext % kSlots].State = TState::kFree;
    ++FNext;
  }
  FChanged.notify_all();
}

void TInflateAheadWorker::Work() {
  TInflateStream engine;
  if (InflateInit(engine, kRawDeflateWindowBits, kInflateStreamSize) != kInflateOk) return;
  std::vector<uint8_t> data;
  uint64_t end = 0;  // where the last run ended (bytes)
  uint64_t from = 0;
  for (;;) {
    TSlot* slot = nullptr;
    {
      std::unique_lock<std::mutex> lock(FLock);
      if (!FStop && FSlots[FPublished % kSlots].State != TState::kFree) {
        // The calling thread is behind: leave it less.
        FLeftToCaller = std::max(kMinLeftToCaller, FLeftToCaller - FLeftToCaller / 5);
        FChanged.wait(lock,
                      [&] { return FStop || FSlots[FPublished % kSlots].State == TState::kFree; });
      }
      if (FStop) break;
      slot = &FSlots[FPublished % kSlots];
      // Never behind the calling thread: a run it has passed would be thrown away.
      from = std::max({from, end + FLeftToCaller, FPosition / 8 + FLeftToCaller});
    }
    if (from >= FSize) {
      std::unique_lock<std::mutex> lock(FLock);
      FChanged.wait(lock, [&] { return FStop; });
      break;
    }
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(FSize - from, kSearchRoom + kRunTarget + kTailRoom));
    data.resize(want + kInflateAheadSlack);
    // The search room (and room for the header of a block starting at its end) first; the rest
    // once a start is found.
    const size_t first = std::min<size_t>(want, kSearchRoom + kHeaderRoom);
    size_t got = FReadAt(from, data.data(), first);
    std::memset(data.data() + got, 0, kInflateAheadSlack);
    // A block start found is made public before its run is decoded, so that the calling thread
    // waits for the run rather than decoding the same stretch.
    const uint64_t start = InflateFindBlockStart(engine, data.data(), got, 0, kSearchRoom * 8);
    if (start == kInflateNoBlockStart) {
      from += kSearchRoom;  // no block start there: look further on
      continue;
    }
    if (got == first && want > first)
      got += FReadAt(from + first, data.data() + first, want - first);
    std::memset(data.data() + got, 0, data.size() - got);
    const uint64_t base = from * 8;
    {
      std::lock_guard<std::mutex> lock(FLock);
      slot->Start = base + start;
      slot->State = TState::kDecoding;
      slot->Dropped = false;
      ++FPublished;
    }
    FChanged.notify_all();
    TInflateAhead& run = slot->Run;
    const bool decoded = InflateDecodeAhead(engine, data.data(), got, start, start + kRunTarget * 8,
                                            kMaxRunSymbols, run);
    run.StartBit += base;
    run.EndBit += base;
    // A start that did not decode was no block start (or its block is too large): the search
    // goes on right behind it.
    if (decoded) end = run.EndBit / 8;
    from = decoded ? 0 : (base + start) / 8 + 1;
    {
      std::lock_guard<std::mutex> lock(FLock);
      slot->State = slot->Dropped ? TState::kFree : decoded ? TState::kDone : TState::kFailed;
    }
    FChanged.notify_all();
  }
  InflateEnd(engine);
}
