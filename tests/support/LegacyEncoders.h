// Test-only encoders for the legacy zip methods: shrink (LZW with size increases and partial
// clears), reduce (DLE coding plus follower sets, factors 1 to 4) and implode (Shannon-Fano trees,
// 4/8 KiB windows, two or three trees), and the LSB-first bit writer they share. They aim at
// correct, varied streams for round trips and benchmarks, not at the best compression.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace legacytest {

using Bytes = std::vector<uint8_t>;

// Writes values least significant bit first, the bit order of every legacy method.
class LsbBitWriter {
 public:
  void Put(uint32_t value, unsigned bits);
  // A code whose most significant bit goes out first (Shannon-Fano codes of implode).
  void PutMsbFirst(uint32_t code, unsigned bits);
  Bytes Finish();  // pads the last byte with zero bits

 private:
  Bytes out_;
  uint64_t buffer_ = 0;
  unsigned count_ = 0;
};

// ---- shrink (method 1) --------------------------------------------------------------------------
struct ShrinkOptions {
  // Besides clearing when every code is in use, emit a partial clear after this many codes
  // (0: only when full). Clears wait for a point where the previous code cannot be freed.
  unsigned clearEvery = 0;
};
struct ShrinkStats {
  unsigned codes = 0, sizeIncreases = 0, partialClears = 0, kwkwk = 0;
};
Bytes Shrink(const Bytes& data, const ShrinkOptions& options = {}, ShrinkStats* stats = nullptr);

// ---- reduce (methods 2 to 5) --------------------------------------------------------------------
enum class FollowerMode {
  Best,  // each set sized for the fewest bits
  None,  // every set empty: plain 8-bit bytes
  Full,  // every set as large as its followers allow (up to 32)
};
// The first stage: matches and literals as the DLE-coded byte stream (144 0 for a literal 144,
// 144 V [extra] low for a match) for compression factor 1 to 4.
Bytes ReduceDle(const Bytes& data, int factor);
// The second stage: follower sets for the DLE-coded stream, then the stream itself.
Bytes ReduceFollowers(const Bytes& dleStream, FollowerMode mode = FollowerMode::Best);
inline Bytes Reduce(const Bytes& data, int factor, FollowerMode mode = FollowerMode::Best) {
  return ReduceFollowers(ReduceDle(data, factor), mode);
}

// ---- implode (method 6) -------------------------------------------------------------------------
struct ImplodeToken {
  uint16_t length = 0;    // 0: a literal
  uint16_t distance = 0;  // 1 .. window size
  uint8_t literal = 0;
};
// Greedy matches within the window, at least 2 (two trees) or 3 (three trees) bytes long.
std::vector<ImplodeToken> ImplodeParse(const Bytes& data, bool bigWindow, bool threeTrees);
// The trees (from the tokens' statistics) and the coded tokens.
Bytes ImplodeTokens(const std::vector<ImplodeToken>& tokens, bool bigWindow, bool threeTrees);
inline Bytes Implode(const Bytes& data, bool bigWindow, bool threeTrees) {
  return ImplodeTokens(ImplodeParse(data, bigWindow, threeTrees), bigWindow, threeTrees);
}
// The general-purpose flags of an imploded member.
inline uint16_t ImplodeFlags(bool bigWindow, bool threeTrees) {
  return static_cast<uint16_t>((bigWindow ? 2 : 0) | (threeTrees ? 4 : 0));
}

// ---- test data ----------------------------------------------------------------------------------
Bytes TextData(size_t size, uint32_t seed);    // word salad with repeats, like prose
Bytes BinaryData(size_t size, uint32_t seed);  // structured records, small integers, some noise
Bytes RandomData(size_t size, uint32_t seed);  // incompressible
Bytes MixedData(size_t size, uint32_t seed);   // text, binary and runs in turns

}  // namespace legacytest
