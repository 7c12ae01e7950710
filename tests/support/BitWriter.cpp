// The deflate bit writer of the tests: bit fields, codewords, stored, fixed and dynamic block
// headers. It builds streams symbol by symbol; it makes no attempt to find matches.
#include "support/BitWriter.h"

#include <stdexcept>

namespace testsupport {

void TBitWriter::Bits(uint32_t value, unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    pending_ |= uint64_t{(value >> i) & 1} << pendingBits_;
    if (++pendingBits_ == 8) {
      bytes_.push_back(static_cast<uint8_t>(pending_));
      pending_ = 0;
      pendingBits_ = 0;
    }
  }
}

void TBitWriter::Code(uint32_t code, unsigned length) {
  for (unsigned i = length; i-- > 0;) Bits((code >> i) & 1, 1);
}

void TBitWriter::AlignToByte() {
  if (pendingBits_ != 0) Bits(0, 8 - pendingBits_);
}

void TBitWriter::Bytes(const std::vector<uint8_t>& bytes) {
  AlignToByte();
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> TBitWriter::Finish() const {
  std::vector<uint8_t> out = bytes_;
  if (pendingBits_ != 0) out.push_back(static_cast<uint8_t>(pending_));
  return out;
}

void TBitWriter::FixedLitLen(unsigned symbol) {
  if (symbol < 144) {
    Code(0x30 + symbol, 8);
  } else if (symbol < 256) {
    Code(0x190 + symbol - 144, 9);
  } else if (symbol < 280) {
    Code(symbol - 256, 7);
  } else {
    Code(0xC0 + symbol - 280, 8);
  }
}

void TBitWriter::Stored(bool last, const std::vector<uint8_t>& bytes, uint16_t nlenXor) {
  Bits(last ? 1 : 0, 1);
  Bits(0, 2);
  AlignToByte();
  const auto len = static_cast<uint16_t>(bytes.size());
  Bits(len, 16);
  Bits(static_cast<uint16_t>(~len ^ nlenXor), 16);
  Bytes(bytes);
}

std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
  unsigned count[16] = {};
  for (uint8_t l : lengths) ++count[l];
  count[0] = 0;
  uint32_t next[16] = {};
  uint32_t code = 0;
  for (unsigned len = 1; len < 16; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t s = 0; s < lengths.size(); ++s)
    if (lengths[s]) codes[s] = next[lengths[s]]++;
  return codes;
}

void TDynamicCodes::LitLen(TBitWriter& w, unsigned symbol) const {
  if (symbol >= litlenLengths.size() || litlenLengths[symbol] == 0)
    throw std::logic_error("literal/length symbol without a codeword");
  w.Code(litlenCodes[symbol], litlenLengths[symbol]);
}

void TDynamicCodes::Dist(TBitWriter& w, unsigned symbol) const {
  if (symbol >= distLengths.size() || distLengths[symbol] == 0)
    throw std::logic_error("distance symbol without a codeword");
  w.Code(distCodes[symbol], distLengths[symbol]);
}

TDynamicCodes DynamicHeader(TBitWriter& w, bool last, const std::vector<uint8_t>& litlen,
                            const std::vector<uint8_t>& dist) {
  w.Bits(last ? 1 : 0, 1);
  w.Bits(2, 2);
  w.Bits(static_cast<uint32_t>(litlen.size() - 257), 5);
  w.Bits(static_cast<uint32_t>(dist.size() - 1), 5);
  w.Bits(19 - 4, 4);
  // A complete code-length code: symbols 0-12 get 4 bits, 13-18 get 5 (13/16 + 6/32 = 1).
  std::vector<uint8_t> precodeLengths(19);
  for (unsigned s = 0; s < 19; ++s) precodeLengths[s] = s < 13 ? 4 : 5;
  static const unsigned kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};
  for (unsigned i = 0; i < 19; ++i) w.Bits(precodeLengths[kOrder[i]], 3);
  const std::vector<uint32_t> precodes = CanonicalCodes(precodeLengths);
  for (uint8_t l : litlen) w.Code(precodes[l], precodeLengths[l]);
  for (uint8_t l : dist) w.Code(precodes[l], precodeLengths[l]);
  return TDynamicCodes{CanonicalCodes(litlen), litlen, CanonicalCodes(dist), dist};
}

}  // namespace testsupport
