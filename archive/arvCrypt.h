// The traditional PKWARE zip cipher: key schedule, deciphering of data and enciphered headers, and
// the password test against a member's 12-byte encryption header. The cipher state belongs to
// whoever deciphers (a component or a stream for one member), never to the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint32_t kInitialKey0 = 0x12345678;
constexpr uint32_t kInitialKey1 = 0x23456789;
constexpr uint32_t kInitialKey2 = 0x34567890;

class TZipCipher {
 public:
  uint32_t key0 = kInitialKey0, key1 = kInitialKey1, key2 = kInitialKey2;

  void UpdateKeys(uint8_t plain);
  uint8_t DecryptByte() const;
  void InitKeys(const std::string& password);
  // The keys for enciphered headers (each initial key AND-ed with another, computed once).
  void InitHeaderKeys();
  void DecipherBuffer(uint8_t* bytes, size_t count);
  uint8_t EncipherByte(uint8_t plain);
  void EncipherBuffer(uint8_t* bytes, size_t count);  // for tests and the byte-wise writer
};

// The password test: `header` holds the 12 encryption-header bytes twice (0..11 and 12..23); the
// second copy is deciphered into the first with `password`. The check byte (index 11) is compared
// with the high byte of the local time when flag bit 3 (0x0008) is set, else with the high byte of
// the local CRC-32. An empty password fails. On success `cipher` is left ready for the data.
bool TestZipPassword(TZipCipher& cipher, const std::string& password, uint8_t header[24],
                     uint16_t generalFlags, uint16_t localTime, uint32_t localCrc);
