// ARJ's decoders: method 0 (stored), methods 1 to 3 (LZ77 over a 26 KiB window with static
// Huffman codes sent per block; the three differ only in how hard the packer looked) and method
// 4 (the fast method: LZ77 with unary-prefixed lengths and positions, no Huffman codes), and the
// garbling of a member's packed bytes with a password. One member at a time through TCodecIo;
// headers, volumes and the member's CRC-32 are the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/codecs/arvCodecIo.h"

constexpr uint8_t kArjMethodStored = 0;
constexpr uint8_t kArjMethodFastest = 4;  // the last method; 1 to 3 share one decoder

// Block sizes of the pipes: what one Read asks for at most, what one Write hands out at most.
constexpr size_t kArjInputBlock = 16384;
constexpr size_t kArjOutputBlock = 32768;

// Decodes one member (or one volume's part of it) of `method` whose original size is
// `originalSize`. Ok only when exactly that many bytes were written.
TCodecStatus DecodeArj(uint8_t method, uint64_t originalSize, const TCodecIo& io);

// The garbling of ARJ's encryption versions 0 and 1: every packed byte is XOR-ed with the next
// password byte plus the member's password modifier (the header's byte 11), the password taken
// round and round. Deciphering is the same operation as ciphering.
class TArjGarble {
 public:
  TArjGarble(const std::string& password, uint8_t modifier);
  void Apply(uint8_t* bytes, size_t count);

 private:
  std::string FPassword;
  uint8_t FModifier;
  size_t FIndex = 0;
};
