// The ACE decoders: stored members, ACE 1.0's LZ77 (Huffman-coded literals, lengths and
// distances over a sliding dictionary of 1 KiB to 4 MiB) and ACE 2.0's blocked mode (the same
// LZ77 with mode switches inside the stream that run the delta and the executable filters over
// stretches of the output). One decoder serves the members of an archive in order: in a solid
// archive the dictionary and the distance history carry over from one member to the next. The
// checksum of a member and the archive's records belong to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/codecs/arvCodecIo.h"

// The compression types of an ACE member's technical information.
constexpr uint8_t kAceTypeStored = 0;
constexpr uint8_t kAceTypeLz77 = 1;
constexpr uint8_t kAceTypeBlocked = 2;

// Dictionary sizes: 1 << (10 + the low 4 bits of the parameters), 1 KiB to 4 MiB.
constexpr unsigned kAceMinDictionaryBits = 10;
constexpr unsigned kAceMaxDictionaryBits = 22;

// ACE's CRC-32: the zip polynomial started at all ones and never inverted at the end. A member's
// stored CRC is this over its bytes; a header's 16-bit CRC is its low half over the header.
uint32_t AceCrc32(uint32_t crc, const uint8_t* bytes, size_t count);
constexpr uint32_t kAceCrcStart = 0xFFFFFFFF;

struct TAceMember {
  uint8_t Type = kAceTypeStored;  // kAceType*
  uint16_t Parameters = 0;        // the low 4 bits give the dictionary size
  uint64_t Size = 0;              // decoded bytes; decoding ends here
};

// The name people know a compression type by ("stored", "LZ77", "blocked").
std::string AceTypeName(uint8_t type);

class TAceDecoder {
 public:
  TAceDecoder();
  ~TAceDecoder();
  TAceDecoder(const TAceDecoder&) = delete;
  TAceDecoder& operator=(const TAceDecoder&) = delete;

  // Forgets earlier members: call before every member of a non-solid archive. Without it, a member
  // continues the dictionary of the one before (a solid archive).
  void Reset();

  // Decodes one member: pulls its packed data through io.Read (whole buffers, as many as it
  // needs) and hands `member.Size` decoded bytes to io.Write in blocks. Memory is the dictionary
  // the parameters name (at most 4 MiB) and fixed buffers. After anything but Ok the state is
  // undefined for a following solid member (Reset first).
  TCodecStatus Decode(const TAceMember& member, const TCodecIo& io);

  // What the last failure was, for messages and tests ("" after Ok).
  const std::string& Detail() const;

 private:
  struct TState;
  std::unique_ptr<TState> F;
};
