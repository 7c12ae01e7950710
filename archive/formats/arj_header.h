// ARJ's main and local headers, read the same way by the lister and by the member source: the id
// 0xEA60, the basic header's size, the basic header (its fixed fields from the first-header size
// on, then the name and the comment), its CRC-32, and extended headers up to one of size 0; the
// member's data follows. The end header is one whose basic size is 0.
#pragma once

#include <cstdint>
#include <string>

class TStream32;

namespace arj {

constexpr int32_t kPrefixSize = 4;       // id 2, basic-header size 2
constexpr int32_t kMaxBasicSize = 2600;  // the largest basic header ARJ writes
constexpr uint8_t kFlagGarbled = 0x01;
constexpr uint8_t kFlagVolume = 0x04;   // the member goes on in the next volume
constexpr uint8_t kFlagExtFile = 0x08;  // the member began in an earlier volume
constexpr uint8_t kTypeDirectory = 3;
constexpr uint8_t kHostUnix = 2;

// Host systems of the DOS family (MS-DOS, OS/2, Windows 95, Windows NT): their names are in a DOS
// code page and their times packed DOS date-times; the others write Unix seconds.
constexpr bool HostIsDos(uint8_t hostOs) {
  return hostOs == 0 || hostOs == 5 || hostOs == 10 || hostOs == 11;
}

struct THeader {
  uint8_t HostOs = 0;
  uint8_t Flags = 0;
  uint8_t Method = 0;
  uint8_t FileType = 0;
  uint8_t Modifier = 0;    // the garbling's password modifier
  uint8_t Encryption = 0;  // main header only: the encryption version
  uint32_t Time = 0;       // a DOS date-time or Unix seconds, by the host system
  uint32_t PackedSize = 0;
  uint32_t OriginalSize = 0;
  uint32_t Crc32 = 0;
  uint16_t AccessMode = 0;
  std::string Name;
  int64_t Data = 0;  // behind the header, its CRC and its extended headers
};

// Reads the header at `position`; false when no header with a basic size above 0 is there (the
// end header included).
bool ReadHeader(TStream32& stream, int64_t position, THeader& header);

}  // namespace arj
