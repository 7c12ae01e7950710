// The gzip member header as the lister's GZIP and TAR-in-gzip readers read it: magic, method,
// flags, the optional extra field, stored name, comment and header CRC, and where the compressed
// data begins. It decodes nothing.
#pragma once

#include <cstdint>
#include <string>

class TArcovaWalk;
class TWalkStream;

namespace gzip {

constexpr int32_t kHeaderSize = 10;
constexpr uint16_t kMagicGzip = 0x8B1F;     // 1F 8B
constexpr uint16_t kMagicOldGzip = 0x9E1F;  // 1F 9E
constexpr uint8_t kMethodDeflate = 8;
constexpr uint8_t kFlagHeaderCrc = 0x02;
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr uint8_t kFlagComment = 0x10;
constexpr uint8_t kFlagEncrypted = 0x20;
constexpr int32_t kMaxStoredName = 255;

struct THeaderInfo {
  uint16_t Magic = 0;
  uint8_t Method = 0;
  uint8_t Flags = 0;
  uint32_t ModTime = 0;  // Unix seconds
  uint8_t Os = 0;
  bool HasName = false;
  std::string Name;       // the stored name, at most kMaxStoredName bytes
  int64_t DataStart = 0;  // where the compressed data begins
};

// Reads the member header at `position`; false when it is no gzip-family header or it runs past
// `fileSize`. For the compress magics only the fixed 10 bytes are taken.
bool ReadHeader(TWalkStream& stream, int64_t position, int64_t fileSize, THeaderInfo& info);

}  // namespace gzip

namespace tgz {

// Lists a TAR held in the deflated gzip stream of `info` by inflating it piece by piece (memory
// does not grow with the archive). False, with nothing fired, when the stream does not begin with
// a valid TAR header; then the file is an ordinary one-member gzip.
bool ListTar(TArcovaWalk& walk, const gzip::THeaderInfo& info);

}  // namespace tgz
