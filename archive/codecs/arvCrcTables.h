// The constant CRC tables shared by the checksums and the zip cipher: the reflected CRC-32 table
// of 0xEDB88320 and the reflected CRC-16/ARC table of 0xA001, both built by the compiler, with the
// one-byte CRC-32 step. The checksum loops themselves live in arvStreams; nothing here has state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace arv_detail {

constexpr uint32_t kCrc32Polynomial = 0xEDB88320;  // IEEE 802.3, bit-reflected
constexpr uint32_t kCrc16Polynomial = 0xA001;      // CRC-16/ARC, bit-reflected

constexpr uint32_t ReflectedCrcEntry(uint32_t value, uint32_t polynomial) {
  for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ polynomial : value >> 1;
  return value;
}

template <class Indexes>
struct TCrcTables;
template <size_t... I>
struct TCrcTables<std::index_sequence<I...>> {
  alignas(64) static constexpr uint32_t kCrc32[sizeof...(I)] = {
      ReflectedCrcEntry(static_cast<uint32_t>(I), kCrc32Polynomial)...};
  alignas(64) static constexpr uint16_t kCrc16[sizeof...(I)] = {
      static_cast<uint16_t>(ReflectedCrcEntry(static_cast<uint32_t>(I), kCrc16Polynomial))...};
};
using TByteCrcTables = TCrcTables<std::make_index_sequence<256>>;

}  // namespace arv_detail

// Plain arrays of 256 entries (they decay to pointers like any table).
inline constexpr const uint32_t (&kCrc32Table)[256] = arv_detail::TByteCrcTables::kCrc32;
inline constexpr const uint16_t (&kCrc16Table)[256] = arv_detail::TByteCrcTables::kCrc16;

static_assert(kCrc32Table[1] == 0x77073096);
static_assert(kCrc32Table[255] == 0x2D02EF8D);
static_assert(kCrc16Table[1] == 0xC0C1);
static_assert(kCrc16Table[255] == 0x4040);

// value := table[(value ^ byte) & 0xFF] ^ (value >> 8)
constexpr uint32_t Crc32Step(uint32_t crc, uint8_t byte) {
  return kCrc32Table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}
