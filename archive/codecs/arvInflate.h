// The inflate engine: a streaming decoder of deflate data (RFC 1951, zip method 8) and of Deflate64
// (zip method 9), optionally behind a zlib wrapper (RFC 1950). The caller supplies input and output
// areas and calls Inflate repeatedly; the engine keeps its whole state between calls, so it can
// stop and resume at any byte of input or output (a member may continue on the next volume). It
// does not compress, and it never produces message texts: the return codes are the whole report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Return codes (the values are zlib's, so results compare across the two; the names are our own, so
// no header order matters beside zlib.h).
constexpr int kInflateOk = 0;
constexpr int kInflateStreamEnd = 1;
constexpr int kInflateNeedDict = 2;
constexpr int kInflateStreamError = -2;
constexpr int kInflateDataError = -3;
constexpr int kInflateMemError = -4;
constexpr int kInflateBufError = -5;
constexpr int kInflateVersionError = -6;

// Flush values. The flush value changes only the code of a call that did not finish the data:
// kInflateBufError with kInflateFinish, kInflateOk with anything else. A call that could make no
// progress at all (no input consumed, no output produced) returns kInflateBufError whatever the
// flush value.
constexpr int kInflateNoFlush = 0;
constexpr int kInflateSyncFlush = 2;
constexpr int kInflateFinish = 4;
// Like kInflateNoFlush, but the call also returns as soon as a block has ended, so that a caller
// sees every block start (InflateAtBlockStart, InflateBitPosition).
constexpr int kInflateBlock = 5;

using TAllocFunc = void* (*)(void* opaque, unsigned items, unsigned size);
using TFreeFunc = void (*)(void* opaque, void* address);

struct TInflateState;

// The stream record, owned by the caller.
struct TInflateStream {
  const uint8_t* next_in = nullptr;
  uint32_t avail_in = 0;
  uint64_t total_in = 0;
  uint8_t* next_out = nullptr;
  uint32_t avail_out = 0;
  uint64_t total_out = 0;
  const char* msg = nullptr;  // never set
  TInflateState* state = nullptr;
  TAllocFunc zalloc = nullptr;  // none: the engine allocates zero-filled blocks itself
  TFreeFunc zfree = nullptr;
  void* opaque = nullptr;
  int data_type = 0;   // unused
  uint32_t adler = 0;  // running Adler-32 of wrapped data
};

// The record size callers pass to InflateInit, so that a caller built against another record
// layout is refused (kInflateVersionError).
constexpr int kInflateStreamSize = static_cast<int>(sizeof(TInflateStream));
// The windowBits of raw deflate data (no zlib header or trailer), as zip and gzip members hold it.
constexpr int kRawDeflateWindowBits = -15;

// windowBits < 0: raw deflate data, |windowBits| used. deflate64: the Deflate64 variant (window
// bits + 1, up to 16; length code 285 with 16 extra bits; distance codes 30 and 31).
int InflateInit(TInflateStream& strm, int windowBits, int recordSize, bool deflate64 = false);
// Decodes as much as input and room allow. After the end of the data (kInflateStreamEnd) next_in
// stands right after its last byte. Decoded bytes go straight into the caller's area; only the
// part that stands reported in total_out is defined (the area beyond it may have been written).
int Inflate(TInflateStream& strm, int flush);
int InflateReset(TInflateStream& strm);
int InflateEnd(TInflateStream& strm);

// ---- block starts: decoding one stream in pieces ---------------------------------------------------
//
// A raw deflate stream (not Deflate64) can be decoded from any block start onward without the
// output before it: what matches copy from before the start comes out as marks, which the 32 KiB of
// output before the start resolve once that is known. Another thread decodes ahead that way from
// block starts found in the data while the first decodes up to them; where the first arrives at
// exactly such a start, it takes the output decoded ahead and goes on behind it.

// Where decoding stands, in bits from the first byte of the data.
uint64_t InflateBitPosition(const TInflateStream& strm);
// Whether a block header comes next (not past the last block).
bool InflateAtBlockStart(const TInflateStream& strm);
// The last 32 KiB of output (zeros before the first byte of a shorter output), as the history of
// the next block. Raw deflate data only.
void InflateHistory(const TInflateStream& strm, uint8_t* history);
// Goes on at a block start decoded elsewhere, `skipBits` on from where decoding stands: the bits
// the engine holds go first, then at most 7 bits of the byte at next_in (the caller drops whole
// bytes before that itself; kInflateBufError when that byte is not there). `history` is the
// output right before the block start (its last 32 KiB count; zeros before a shorter one). Raw
// deflate data only (kInflateStreamError otherwise).
int InflateContinueAt(TInflateStream& strm, const uint8_t* history, size_t historySize,
                      uint64_t skipBits);

constexpr size_t kInflateAheadHistory = 32768;
// Symbols of a decode ahead: 0-255 a byte; kInflateAheadMark + i byte i of the 32 KiB of history.
constexpr uint16_t kInflateAheadMark = 256;
// Zero bytes a decode ahead may read beyond its data.
constexpr size_t kInflateAheadSlack = 64;

// Whole blocks decoded ahead, from a block start on.
struct TInflateAhead {
  uint64_t StartBit = 0;  // where the first block starts, in bits from the data's first byte
  uint64_t EndBit = 0;    // where the block after the last one starts (or the last block ends)
  bool Final = false;     // the last block decoded is the stream's last
  size_t Count = 0;       // symbols decoded: output bytes
  // The history's marks, then the Count symbols (and room for more): Symbols() is the output.
  std::vector<uint16_t> Area;
  const uint16_t* Symbols() const { return Area.data() + kInflateAheadHistory; }
};

constexpr uint64_t kInflateNoBlockStart = UINT64_MAX;

// `engine` is one made for raw deflate data (32 KiB history) and used for nothing else; `data`
// holds `size` bytes of the stream, kInflateAheadSlack more readable behind them; bit positions
// count from its first byte.
//
// The first bit from `fromBit` (below `searchEndBit`) where a block header reads without fault:
// not the last block, dynamic codes (a stored or fixed block has too little to be recognised by).
// A start found is probable, not certain: only decoding the stream up to it proves it.
uint64_t InflateFindBlockStart(TInflateStream& engine, const uint8_t* data, size_t size,
                               uint64_t fromBit, uint64_t searchEndBit);
// Decodes whole blocks from the block start at `startBit` until one ends at or past `stopBit`
// or the next would take more than `maxSymbols` symbols in all. False when not one block
// decodes whole.
bool InflateDecodeAhead(TInflateStream& engine, const uint8_t* data, size_t size, uint64_t startBit,
                        uint64_t stopBit, size_t maxSymbols, TInflateAhead& ahead);
// Resolves `count` symbols into bytes with the 32 KiB of history before their start.
void InflateResolveAhead(const uint16_t* symbols, size_t count, const uint8_t* history,
                         uint8_t* out);

// Adler-32 of RFC 1950, the check of wrapped data; returns 1 for a missing buffer.
uint32_t Adler32(uint32_t adler, const uint8_t* bytes, size_t count);

// The fast loop is chosen at run time: a BMI2 build where the processor has BMI2, the baseline
// x86-64 build elsewhere. Tests call this to run the baseline loop on any processor.
void InflateUseBaselineLoop(bool baselineOnly);
