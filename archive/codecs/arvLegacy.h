// The legacy zip decoders: unshrink (method 1, dynamic LZW with partial clearing), unreduce
// (methods 2 to 5, follower sets and DLE expansion) and explode (method 6, Shannon-Fano trees over
// a 4 or 8 KiB window). They read a member's compressed bytes through a block callback and hand
// decoded bytes out a block at a time; opening archives, checksums and progress belong to the
// caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "archive/codecs/arvZipConsts.h"

class TZipCipher;

// Block sizes of the byte source and the output buffer.
constexpr size_t kLegacyInputBlock = 32768;
constexpr size_t kLegacyOutputBlock = 32768;

inline bool IsLegacyMethod(uint32_t method) {
  return method >= kMethodShrunk && method <= kMethodImploded;
}

// What the decoders need to know of the member.
struct TLegacyMember {
  uint32_t Method = 0;
  uint16_t Flags = 0;             // general-purpose flags (bits 1 and 2 matter for implode)
  uint64_t CompressedSize = 0;    // the member's data, without a 12-byte encryption header
  uint64_t UncompressedSize = 0;  // output never goes past this
};

// The caller's side of one member. Callbacks run once per block, never per byte.
struct TLegacyContext {
  // Reads up to `count` (at most kLegacyInputBlock) bytes of the member's compressed data; returns
  // the bytes read, 0 at the end or on failure. The decoder never asks for more than the
  // compressed size in total.
  std::function<size_t(uint8_t* buffer, size_t count)> ReadBlock;
  // Takes a block of decoded bytes (written, checksummed, progress reported by the caller). It may
  // raise (a failed write); the exception ends the member and passes on.
  std::function<void(const uint8_t* bytes, size_t count)> WriteBlock;
  // Reports an error code that ends the member without an exception (an ambiguous tree found
  // while the implode trees are built). May be empty.
  std::function<void(int code)> ReportError;
  // Raises an error code: fire the error event, then throw. When empty, or when it returns, the
  // decoder throws E_RAISE with the code's text itself.
  std::function<void(int code)> RaiseError;
  TZipCipher* Cipher = nullptr;     // when set, deciphers each block right after it is read
  const uint8_t* Cancel = nullptr;  // when set and non-zero, the input counts as exhausted
};

// One member's decoder: owns the byte source, bit reader, output buffer, window and the method's
// tables, all released with it. Not reusable across members; not shared between threads.
class TLegacyDecoder {
 public:
  TLegacyDecoder(const TLegacyMember& member, const TLegacyContext& context);
  ~TLegacyDecoder();
  TLegacyDecoder(const TLegacyDecoder&) = delete;
  TLegacyDecoder& operator=(const TLegacyDecoder&) = delete;

  // Runs the member's method and flushes the output, also when the decoder raises (the exception
  // then passes on). True when the output reached the uncompressed size without an error. A
  // method outside 1..6 decodes nothing and returns false.
  bool Run();

  // The decoders themselves; Run calls one of them. Each may be called once.
  bool Unshrink();
  bool Unreduce();
  bool Explode();
  void FlushOutput();

  uint64_t OutputCount() const;  // decoded bytes so far, flushed or not
  uint64_t InputCount() const;   // compressed bytes taken from ReadBlock so far
  int ErrorCode() const;         // the code last raised or reported; 0 for none

 private:
  struct TState;
  std::unique_ptr<TState> F;
};

// Convenience for the extractor: one member start to end (tables allocated, decoded, flushed,
// released). Exceptions of the decoder or of WriteBlock pass on after the flush.
bool DecodeLegacyMember(const TLegacyMember& member, const TLegacyContext& context);
