// The traditional PKWARE zip cipher: key schedule, deciphering of data and enciphered headers, and
// the password test against a member's 12-byte encryption header. The cipher state belongs to
// whoever deciphers (a component or a stream for one member), never to the process. It does not
// cover the strong (AES) encryption of later zip versions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/codecs/arvCrcTables.h"
#include "archive/codecs/arvZipConsts.h"

constexpr uint32_t kInitialKey0 = 0x12345678;
constexpr uint32_t kInitialKey1 = 0x23456789;
constexpr uint32_t kInitialKey2 = 0x34567890;
// The keys enciphered headers start from: each initial key AND-ed with another.
constexpr uint32_t kHeaderKey0 = kInitialKey0 & kInitialKey2;
constexpr uint32_t kHeaderKey1 = kInitialKey1 & kInitialKey0;
constexpr uint32_t kHeaderKey2 = kInitialKey2 & kInitialKey1;

// The linear congruential step of key 1.
constexpr uint32_t kZipKeyMultiplier = 134775813;

class TZipCipher {
 public:
  uint32_t Key0 = kInitialKey0, Key1 = kInitialKey1, Key2 = kInitialKey2;

  // Byte steps are inline so that byte-wise callers pay no call per byte; whole buffers should go
  // through DecipherBuffer / EncipherBuffer, whose loops keep the keys in registers.
  void UpdateKeys(uint8_t plain) {
    Key0 = Crc32Step(Key0, plain);
    Key1 = (Key1 + (Key0 & 0xFF)) * kZipKeyMultiplier + 1;
    Key2 = Crc32Step(Key2, static_cast<uint8_t>(Key1 >> 24));
  }
  uint8_t DecryptByte() const {
    const uint32_t t = (Key2 & 0xFFFF) | 2;
    return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
  }
  uint8_t DecipherByte(uint8_t cipher) {
    const uint8_t plain = cipher ^ DecryptByte();
    UpdateKeys(plain);
    return plain;
  }
  uint8_t EncipherByte(uint8_t plain) {
    const uint8_t key = DecryptByte();
    UpdateKeys(plain);
    return plain ^ key;
  }

  // Initial keys, then every byte of the password (all of it, however long).
  void InitKeys(const std::string& password);
  void InitHeaderKeys();
  void DecipherBuffer(uint8_t* bytes, size_t count);
  void EncipherBuffer(uint8_t* bytes, size_t count);  // for tests and the byte-wise writer
};

// The password test: `header` holds the 12 encryption-header bytes twice (0..11 and 12..23); the
// second copy is deciphered into the first with `password`. The check byte (index 11) is compared
// with the high byte of the local time when flag bit 3 (0x0008) is set, else with the high byte of
// the local CRC-32. An empty password fails without touching `cipher`. Whatever the verdict, the
// keys are left as the header left them: on success `cipher` is ready for the member's data.
bool TestZipPassword(TZipCipher& cipher, const std::string& password, uint8_t header[24],
                     uint16_t generalFlags, uint16_t localTime, uint32_t localCrc);
