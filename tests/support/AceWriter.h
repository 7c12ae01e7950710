// Writes ACE data for tests: LZ77 and blocked streams symbol by symbol (fixed code widths, one
// block per 32767 symbols), and archives around them (headers with their CRCs, volumes, flags).
// It does not search for matches: tests say which literals, matches and mode switches to send.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// ACE's CRC-32: started at all ones, never inverted at the end.
uint32_t AceCrc(const std::vector<uint8_t>& bytes);

class TAceStreamWriter {
 public:
  // An ACE 1.0 stream has no mode switch symbol in its main code.
  explicit TAceStreamWriter(bool blocked = true) : FBlocked(blocked) {}
  void Literal(uint8_t byte);
  void Literals(const std::string& text);
  // A match `distance` bytes back (1 = the byte before), `length` bytes long.
  void Match(uint32_t distance, unsigned length);
  // A match at the `index`-th newest of the last four distances (0 = the newest).
  void Repeat(unsigned index, unsigned length);
  // A mode switch of the blocked stream and the mode's fields (value, bit count).
  void Mode(unsigned mode, const std::vector<std::pair<uint32_t, unsigned>>& fields = {});
  // The packed data: whole 32-bit words.
  std::vector<uint8_t> Finish() const;

 private:
  struct TSymbol {
    unsigned Main;
    uint32_t Extra = 0;
    unsigned ExtraBits = 0;
    int Length = -1;  // the length symbol, -1 for none
    std::vector<std::pair<uint32_t, unsigned>> Fields;
  };
  std::vector<TSymbol> FSymbols;
  bool FBlocked = true;
};

// Bits written from the most significant end of 32-bit little-endian words, as ACE reads them.
class TAceBits {
 public:
  void Put(uint32_t value, unsigned count);
  std::vector<uint8_t> Finish() const;

 private:
  std::vector<uint8_t> FBytes;
  uint32_t FWord = 0;
  unsigned FUsed = 0;
};

struct TAceEntry {
  std::string Name;
  std::vector<uint8_t> Packed;  // this part's packed data
  uint32_t Size = 0;
  uint32_t Crc = 0xFFFFFFFF;
  uint8_t Type = 0;         // 0 stored, 1 LZ77, 2 blocked
  uint16_t Parameters = 0;  // dictionary bits - 10
  uint16_t Flags = 0;       // 0x1000 split before, 0x2000 after, 0x4000 password
  uint32_t Attributes = 0x20;
  uint32_t DosDateTime = 0x5B8B75D8;
};

// An archive (or one volume of a set): the archive header, then each entry's header and data.
std::vector<uint8_t> AceArchive(const std::vector<TAceEntry>& entries, uint16_t mainFlags = 0,
                                uint8_t volume = 0);
// An entry holding `data` stored, or packed as `stream` says.
TAceEntry AceStored(const std::string& name, const std::string& data);
TAceEntry AcePacked(const std::string& name, const std::string& data,
                    const TAceStreamWriter& stream, uint8_t type = 2, uint16_t parameters = 10);

}  // namespace testsupport
