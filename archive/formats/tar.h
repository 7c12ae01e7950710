// What one TAR header means to the lister, shared by the plain TAR walk (tar.cpp) and the walk
// through a gzip-compressed TAR (tgz.cpp): the checksum test, numbers in octal and base-256 form,
// and the full entry name from the ustar prefix, GNU long-name records and pax path records. It
// knows nothing about where the 512-byte blocks come from.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class TArcovaWalk;

namespace tar {

constexpr int32_t kBlockSize = 512;
// Long names and pax records are kept up to this many bytes; the rest of a record is skipped.
constexpr uint64_t kMaxRecordKept = 65536;

// (A header's checksum is checked by TarHeaderSumOk, which detection uses too.)
// A numeric field: octal digits (leading blanks allowed, ended by a blank or zero byte), or the
// base-256 form (first byte with bit 0x80) that large sizes use. False when it holds neither.
bool ParseNumber(const uint8_t* field, int length, uint64_t& value);
// The value of `key` in a block of pax records ("<length> key=value\n" ...); false when absent.
bool PaxValue(const std::string& records, const std::string& key, std::string& value);

// Interprets the headers of one TAR stream in order.
class THeaderReader {
 public:
  // Consumes a record's data of `size` bytes (padded to whole blocks) and returns at most
  // kMaxRecordKept of them in `text`; false when the data could not be read.
  using TRecordReader = std::function<bool(uint64_t size, std::string& text)>;

  // Handles the header block at `offset`: names, reports and counts the entry, or takes in a
  // name record through `readRecord`. Returns false when the walk ends here (invalid header,
  // the closing zero blocks). `dataSize` is what follows the header (0 after a name record,
  // whose data readRecord consumed).
  bool Header(TArcovaWalk& walk, const uint8_t* block, int64_t offset,
              const TRecordReader& readRecord, uint64_t& dataSize);

 private:
  std::string FLongName;  // from a GNU 'L' record, for the next header
  std::string FPaxPath;   // from a pax 'x' record, for the next header
  uint64_t FPaxSize = 0;
  bool FHaveLongName = false;
  bool FHavePaxPath = false;
  bool FHavePaxSize = false;
};

}  // namespace tar
