// WinZip's AES encryption of zip members (AE-1 and AE-2), on OpenSSL's libcrypto: keys and the
// password verifier by PBKDF2-HMAC-SHA1 over the member's salt, AES in counter mode with WinZip's
// little-endian counter, and the HMAC-SHA1 authentication code over the encrypted data. It knows
// nothing of archives or members: the extractor hands it the salt, the verifier, the data in
// order and the stored code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

constexpr size_t kAesVerifierSize = 2;  // after the salt: decides a wrong password
constexpr size_t kAesMacSize = 10;      // after the data: the first 10 bytes of the HMAC-SHA1
constexpr unsigned kAesKeyIterations = 1000;
constexpr size_t kAesMaxSaltSize = 16;

// Key strengths 1, 2, 3 of the 0x9901 extra field: AES-128, -192, -256. 0 for other values.
inline size_t AesKeySize(unsigned strength) {
  return strength >= 1 && strength <= 3 ? 8 * (strength + 1) : 0;
}
inline size_t AesSaltSize(unsigned strength) {
  return strength >= 1 && strength <= 3 ? 4 * (strength + 1) : 0;
}
// Bytes an encrypted member carries besides its data: salt, verifier and authentication code.
inline size_t AesOverhead(unsigned strength) {
  return AesSaltSize(strength) + kAesVerifierSize + kAesMacSize;
}

// What PBKDF2 derives from a password and a member's salt: the AES key, the HMAC key and the
// 2-byte verifier, in that order. The costly part of opening a member (1,000 iterations), and a
// pure function of the password, the strength and the salt, so it may be done ahead on another
// thread.
struct TAesDerived {
  uint8_t Bytes[2 * 32 + kAesVerifierSize] = {};
  unsigned Strength = 0;
  TAesDerived() = default;
  TAesDerived(const TAesDerived&) = default;
  TAesDerived& operator=(const TAesDerived&) = default;
  ~TAesDerived();  // wiped
};
// Derives the keys of `password` for `salt` (AesSaltSize(strength) bytes). False for an empty
// password, a strength out of range or a library failure.
bool DeriveAesKeys(const std::string& password, unsigned strength, const uint8_t* salt,
                   TAesDerived& derived);

class TWinZipAes {
 public:
  TWinZipAes();
  ~TWinZipAes();
  TWinZipAes(const TWinZipAes&) = delete;
  TWinZipAes& operator=(const TWinZipAes&) = delete;

  // Derives the keys of `password` for the member's `salt` (AesSaltSize(strength) bytes) and
  // compares the verifier. True: the password is the member's (but for one in 65,536 wrong ones),
  // and the object is ready for the member's data. An empty password, a strength out of range or
  // a library failure is false.
  bool Start(const std::string& password, unsigned strength, const uint8_t* salt,
             const uint8_t verifier[kAesVerifierSize]);
  // The same with the keys derived already.
  bool Start(const TAesDerived& derived, const uint8_t verifier[kAesVerifierSize]);
  // Authenticates and deciphers the next `count` bytes of the data in place.
  void Decrypt(uint8_t* data, size_t count);
  // Whether the authentication code over the data deciphered so far is `stored`. Ends the member.
  bool MacMatches(const uint8_t stored[kAesMacSize]);
  // Bytes of data deciphered since Start.
  uint64_t Processed() const { return FProcessed; }
  bool Ready() const { return FReady; }

 private:
  struct TState;
  std::unique_ptr<TState> FState;
  uint64_t FProcessed = 0;
  bool FReady = false;
};
