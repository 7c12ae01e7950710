// One large deflate stream on two cores. The calling thread decodes the stream as usual; a worker
// finds block starts further on and decodes whole blocks from them without the output before
// them (arvInflate.h, "block starts"). Where the calling thread arrives exactly at such a start, it
// takes the worker's run, resolves it with its own last 32 KiB of output and goes on behind it;
// anywhere else it simply decodes on. The worker has no effect on what comes out: a run is used
// only at a block start the calling thread itself has reached, so a start found wrongly costs
// time, never bytes.
//
// The worker leaves a stretch of the data to the calling thread before each run and keeps at most
// two runs at a time, so memory stays bounded whatever the stream. The stretch follows the two:
// it grows while the calling thread waits for runs, and shrinks while the worker waits for the
// calling thread to take them (which is slower when it also writes what it checksums).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "archive/codecs/arvInflate.h"

class TInflateAheadWorker {
 public:
  // Reads up to `count` bytes of the stream from `offset` (counted from its first byte) into
  // `into`: the bytes read, 0 at the end or on failure. Called on the worker's thread.
  using TReadAt = std::function<size_t(uint64_t offset, uint8_t* into, size_t count)>;
  static constexpr uint64_t kNoStart = UINT64_MAX;

  // `size`: the stream's bytes (where the worker stops looking). Starts the worker.
  TInflateAheadWorker(TReadAt readAt, uint64_t size);
  ~TInflateAheadWorker();  // stops the worker after the step it is on and joins it
  TInflateAheadWorker(const TInflateAheadWorker&) = delete;
  TInflateAheadWorker& operator=(const TInflateAheadWorker&) = delete;

  // The start (a bit position) of the first run at or past `position`, where the calling thread
  // stands; runs before it are dropped. kNoStart while the worker has none there yet.
  uint64_t NextStart(uint64_t position);
  // The run that starts at `start` (the last NextStart), once decoded: waits while the worker is
  // on it. nullptr when it did not decode (or `start` is no run's start); the calling thread then
  // decodes on by itself.
  const TInflateAhead* Take(uint64_t start);
  // Gives back the run of the last Take that returned one.
  void Release();

 private:
  enum class TState : uint8_t { kFree, kDecoding, kDone, kFailed };
  struct TSlot {
    TInflateAhead Run;
    uint64_t Start = 0;
    TState State = TState::kFree;
    bool Dropped = false;  // passed by the calling thread while the worker was on it
  };
  void Work();
  void Drop(TSlot& slot);

  TReadAt FReadAt;
  const uint64_t FSize;
  std::mutex FLock;
  std::condition_variable FChanged;
  // Runs at a time: one the calling thread delivers, one the worker decodes (a third measured no
  // faster: the memory it takes is better spent on longer runs).
  static constexpr int kSlots = 2;
  TSlot FSlots[kSlots];
  uint64_t FPublished = 0;  // runs the worker has begun (slot: number % kSlots)
  uint64_t FNext = 0;       // the first run the calling thread has not dealt with
  uint64_t FPosition = 0;   // where the calling thread last stood (bits)
  uint64_t FLeftToCaller;   // the stretch (bytes) left to the calling thread before each run
  bool FStop = false;
  std::thread FWorker;  // last: started once everything above is made
};
