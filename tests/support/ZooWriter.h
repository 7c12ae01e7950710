// Writes ZOO archives for tests (no Debian tool writes ZOO): members stored, LZW-coded by an
// encoder of the tests' own (the codes lzd reads: 9 to 13 bits, least significant bit first, a
// clear when the table is full) or carrying a -lh5- stream taken from elsewhere; folders, deleted
// entries, Unix modes and a wrong CRC on demand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/ReaderFixture.h"

namespace parcelo::test {

// Codes written least significant bit first.
class BitsLsb {
 public:
  void Put(uint32_t code, uint32_t bits);
  Bytes Finish();

 private:
  uint64_t acc = 0;
  uint32_t count = 0;
  Bytes out;
};

// `in` as the LZW stream of ZOO's method 1.
Bytes LzwEncode(const std::string& in);

struct ZooMember {
  std::string name;    // the long name
  std::string folder;  // "" for none
  std::string data;    // the member's bytes
  int method = 0;
  Bytes packed = {};   // for method 2: the -lh5- stream
  bool deleted = false;
  uint32_t mode = 0;   // Unix mode bits, 0 for none
  bool badCrc = false;
};

Bytes ZooArchive(const std::vector<ZooMember>& members);

}  // namespace parcelo::test
