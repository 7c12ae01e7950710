// The inflate engine: a streaming decoder of deflate data (RFC 1951, zip method 8) and of Deflate64
// (zip method 9), optionally behind a zlib wrapper (RFC 1950). The caller supplies input and output
// areas and calls Inflate repeatedly; the engine keeps its whole state between calls, so it can
// stop and resume at any byte of input or output (a member may continue on the next volume). It
// does not compress, and it never produces message texts: the return codes are the whole report.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Adler-32 of RFC 1950, the check of wrapped data; returns 1 for a missing buffer.
uint32_t Adler32(uint32_t adler, const uint8_t* bytes, size_t count);

// The fast loop is chosen at run time: a BMI2 build where the processor has BMI2, the baseline
// x86-64 build elsewhere. Tests call this to run the baseline loop on any processor.
void InflateUseBaselineLoop(bool baselineOnly);
