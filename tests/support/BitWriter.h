// A deflate bit writer for tests: writes fields least-significant bit first and Huffman codewords
// most-significant bit first, so that valid and deliberately broken deflate streams (fixed,
// dynamic and stored blocks) can be built field by field. It does not compress or choose codes.
#pragma once

#include <cstdint>
#include <vector>

namespace testsupport {

class TBitWriter {
 public:
  // Appends the low `count` bits of value, least significant first (block headers, extra bits).
  void Bits(uint32_t value, unsigned count);
  // Appends a Huffman codeword of `length` bits, its most significant bit first.
  void Code(uint32_t code, unsigned length);
  // Pads with zero bits to the next byte boundary.
  void AlignToByte();
  // Appends whole bytes (after aligning).
  void Bytes(const std::vector<uint8_t>& bytes);
  // The bytes written so far, the last one zero-padded.
  std::vector<uint8_t> Finish() const;

  // Fixed-code blocks: the header and symbols of RFC 1951 3.2.6.
  void FixedHeader(bool last) {
    Bits(last ? 1 : 0, 1);
    Bits(1, 2);
  }
  void FixedLitLen(unsigned symbol);
  void FixedDist(unsigned symbol) { Code(symbol, 5); }
  // A stored block with its LEN/NLEN words (nlenXor changes NLEN to make it wrong).
  void Stored(bool last, const std::vector<uint8_t>& bytes, uint16_t nlenXor = 0);

 private:
  std::vector<uint8_t> bytes_;
  uint64_t pending_ = 0;
  unsigned pendingBits_ = 0;
};

// Canonical codewords for a set of code lengths (RFC 1951 3.2.2); a length of 0 gets no codeword.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths);

// A dynamic block header: HLIT/HDIST/HCLEN and the code lengths, each sent as its own
// code-length symbol (0-15) through a fixed complete code-length code. `litlen` must hold
// 257..288 lengths and `dist` 1..32. Returns the canonical codes of both sets for the symbols.
struct TDynamicCodes {
  std::vector<uint32_t> litlenCodes;
  std::vector<uint8_t> litlenLengths;
  std::vector<uint32_t> distCodes;
  std::vector<uint8_t> distLengths;
  void LitLen(TBitWriter& w, unsigned symbol) const;
  void Dist(TBitWriter& w, unsigned symbol) const;
};
TDynamicCodes DynamicHeader(TBitWriter& w, bool last, const std::vector<uint8_t>& litlen,
                            const std::vector<uint8_t>& dist);

}  // namespace testsupport
