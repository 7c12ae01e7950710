// The traditional zip cipher over whole buffers and the password test against a member's
// encryption header. Which passwords are tried, and what a refusal does to a run, is the
// extraction driver's business, not this file's.
#include "archive/codecs/arvCrypt.h"

namespace {

// The cipher over a buffer with the keys in locals. Each byte's plain value feeds key 0, key 0
// feeds key 1, key 1 feeds key 2, and key 2 gives the next byte's key stream: one serial chain of
// two table look-ups and two multiplications per byte, so the only speed to be had is keeping the
// chain short. Off the chain: Key0 ^ cipher byte, and Key1 * M + 1 for the next byte (so only
// (Key0 & 0xFF) * M is left on it).
struct TKeys {
  uint32_t k0, k1, k2, k1Next;

  explicit TKeys(const TZipCipher& c)
      : k0(c.Key0), k1(c.Key1), k2(c.Key2), k1Next(c.Key1 * kZipKeyMultiplier + 1) {}
  void Store(TZipCipher& c) const {
    c.Key0 = k0;
    c.Key1 = k1;
    c.Key2 = k2;
  }
  inline uint32_t Stream() const {
    const uint32_t t = (k2 | 2) & 0xFFFF;
    return ((t * (t ^ 1)) >> 8) & 0xFF;
  }
  // crcIndex = (Key0 ^ plain byte) & 0xFF, the index of key 0's CRC step.
  inline void Update(uint32_t crcIndex) {
    k0 = kCrc32Table[crcIndex] ^ (k0 >> 8);
    k1 = k1Next + (k0 & 0xFF) * kZipKeyMultiplier;
    k1Next = k1 * kZipKeyMultiplier + 1;
    k2 = kCrc32Table[(k2 & 0xFF) ^ (k1 >> 24)] ^ (k2 >> 8);
  }
};

}  // namespace

void TZipCipher::InitKeys(const std::string& password) {
  Key0 = kInitialKey0;
  Key1 = kInitialKey1;
  Key2 = kInitialKey2;
  for (const char c : password) UpdateKeys(static_cast<uint8_t>(c));
}

void TZipCipher::InitHeaderKeys() {
  Key0 = kHeaderKey0;
  Key1 = kHeaderKey1;
  Key2 = kHeaderKey2;
}

void TZipCipher::DecipherBuffer(uint8_t* bytes, size_t count) {
  TKeys keys(*this);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t cipher = bytes[i];
    const uint32_t stream = keys.Stream();
    bytes[i] = static_cast<uint8_t>(cipher ^ stream);
    keys.Update(((keys.k0 ^ cipher) & 0xFF) ^ stream);  // = (Key0 ^ plain) & 0xFF
  }
  keys.Store(*this);
}

void TZipCipher::EncipherBuffer(uint8_t* bytes, size_t count) {
  TKeys keys(*this);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t plain = bytes[i];
    bytes[i] = static_cast<uint8_t>(plain ^ keys.Stream());
    keys.Update((keys.k0 ^ plain) & 0xFF);
  }
  keys.Store(*this);
}

bool TestZipPassword(TZipCipher& cipher, const std::string& password, uint8_t header[24],
                     uint16_t generalFlags, uint16_t localTime, uint32_t localCrc) {
  if (password.empty()) return false;
  cipher.InitKeys(password);
  // The second copy stays as read, so the test can be repeated for the next candidate.
  for (size_t i = 0; i < kZipEncryptionHeaderSize; ++i) {
    header[i] = cipher.DecipherByte(header[kZipEncryptionHeaderSize + i]);
  }
  const uint8_t expected = (generalFlags & kFlagDataDescriptor)
                               ? static_cast<uint8_t>(localTime >> 8)
                               : static_cast<uint8_t>(localCrc >> 24);
  return header[kZipEncryptionHeaderSize - 1] == expected;
}
