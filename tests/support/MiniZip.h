// Test helper: a minimal zip reader (end record, central directory, local header skip) and writer
// for archives whose members are already compressed, plus CRC-32 and SHA-256 for checking
// results. No zip64, spanning, extra-field parsing or encryption handling beyond the flag bits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace minizip {

using Bytes = std::vector<uint8_t>;

struct Entry {
  std::string name;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint64_t dataOffset = 0;  // where the member's data starts (after the local header)
};

// The archive's members in central-directory order; nullopt when the end record or a header is
// missing or out of range.
std::optional<std::vector<Entry>> ReadCentralDirectory(const Bytes& archive);

struct WriteMember {
  std::string name;
  uint16_t method = 0;
  uint16_t flags = 0;
  Bytes data;  // as stored
  uint32_t crc = 0;
  uint64_t uncompressedSize = 0;
};
Bytes WriteArchive(const std::vector<WriteMember>& members);

std::optional<Bytes> ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const Bytes& bytes);

uint32_t Crc32(const uint8_t* data, size_t size,
               uint32_t crc = 0);  // zip CRC-32 (pre/post inverted)
inline uint32_t Crc32(const Bytes& b) {
  return Crc32(b.data(), b.size());
}
std::string Sha256Hex(const uint8_t* data, size_t size);
inline std::string Sha256Hex(const Bytes& b) {
  return Sha256Hex(b.data(), b.size());
}

}  // namespace minizip
