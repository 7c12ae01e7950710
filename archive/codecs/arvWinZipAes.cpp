// WinZip AES on libcrypto. A stock AES-CTR cipher counts big-endian; WinZip's counter is a
// little-endian number starting at 1, so the counter blocks are made here and enciphered with
// AES-ECB many at a time, which keeps AES-NI busy. No AES, SHA-1 or HMAC of our own.
#include "archive/codecs/arvWinZipAes.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kAesBlock = 16;
// Counter blocks enciphered per call: 8 KiB of key stream, so one call serves a typical input
// block in a few steps and the library's call overhead stays small.
constexpr size_t kBatchBlocks = 512;
constexpr size_t kSha1Size = 20;

// The process's AES-ECB ciphers and the HMAC, fetched once and never changed (thread-safe).
const EVP_CIPHER* AesEcb(unsigned strength) {
  static EVP_CIPHER* const ciphers[3] = {EVP_CIPHER_fetch(nullptr, "AES-128-ECB", nullptr),
                                         EVP_CIPHER_fetch(nullptr, "AES-192-ECB", nullptr),
                                         EVP_CIPHER_fetch(nullptr, "AES-256-ECB", nullptr)};
  return strength >= 1 && strength <= 3 ? ciphers[strength - 1] : nullptr;
}

EVP_MAC* Hmac() {
  static EVP_MAC* const mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  return mac;
}

}  // namespace

struct TWinZipAes::TState {
  EVP_CIPHER_CTX* Cipher = nullptr;
  EVP_MAC_CTX* Mac = nullptr;
  uint64_t Counter = 0;  // the last counter value enciphered
  uint8_t Counters[kBatchBlocks * kAesBlock] = {};
  uint8_t Stream[kBatchBlocks * kAesBlock] = {};
  size_t StreamUsed = 0;  // key-stream bytes of Stream already used
  size_t StreamSize = 0;

  ~TState() {
    EVP_CIPHER_CTX_free(Cipher);
    EVP_MAC_CTX_free(Mac);
  }
  // The next `blocks` counter blocks (little-endian counter in the first 8 bytes, the rest 0).
  bool Refill(size_t blocks) {
    for (size_t i = 0; i < blocks; ++i) {
      uint64_t value = ++Counter;
      uint8_t* block = Counters + i * kAesBlock;
      for (size_t b = 0; b < 8; ++b, value >>= 8) block[b] = static_cast<uint8_t>(value);
    }
    int produced = 0;
    const int size = static_cast<int>(blocks * kAesBlock);
    if (EVP_EncryptUpdate(Cipher, Stream, &produced, Counters, size) != 1 || produced != size)
      return false;
    StreamUsed = 0;
    StreamSize = static_cast<size_t>(size);
    return true;
  }
};

TWinZipAes::TWinZipAes() = default;
TWinZipAes::~TWinZipAes() = default;

TAesDerived::~TAesDerived() {
  OPENSSL_cleanse(Bytes, sizeof Bytes);
}

bool DeriveAesKeys(const std::string& password, unsigned strength, const uint8_t* salt,
                   TAesDerived& derived) {
  derived.Strength = 0;
  const size_t keySize = AesKeySize(strength);
  if (password.empty() || keySize == 0) return false;
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt,
                        static_cast<int>(AesSaltSize(strength)), kAesKeyIterations, EVP_sha1(),
                        static_cast<int>(2 * keySize + kAesVerifierSize), derived.Bytes) != 1)
    return false;
  derived.Strength = strength;
  return true;
}

bool TWinZipAes::Start(const std::string& password, unsigned strength, const uint8_t* salt,
                       const uint8_t verifier[kAesVerifierSize]) {
  FReady = false;
  FProcessed = 0;
  TAesDerived derived;
  return DeriveAesKeys(password, strength, salt, derived) && Start(derived, verifier);
}

bool TWinZipAes::Start(const TAesDerived& derived, const uint8_t verifier[kAesVerifierSize]) {
  FReady = false;
  FProcessed = 0;
  const unsigned strength = derived.Strength;
  const size_t keySize = AesKeySize(strength);
  const EVP_CIPHER* cipher = AesEcb(strength);
  if (keySize == 0 || !cipher || !Hmac()) return false;
  // Derived: the AES key, the HMAC key, then the 2-byte verifier.
  const uint8_t* keys = derived.Bytes;
  if (std::memcmp(keys + 2 * keySize, verifier, kAesVerifierSize) != 0) return false;

  if (!FState) FState = std::make_unique<TState>();
  TState& s = *FState;
  if (!s.Cipher) s.Cipher = EVP_CIPHER_CTX_new();
  EVP_MAC_CTX_free(s.Mac);
  s.Mac = EVP_MAC_CTX_new(Hmac());
  if (!s.Cipher || !s.Mac) return false;
  if (EVP_EncryptInit_ex2(s.Cipher, cipher, keys, nullptr, nullptr) != 1) return false;
  EVP_CIPHER_CTX_set_padding(s.Cipher, 0);
  char digest[] = "SHA1";
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_END};
  if (EVP_MAC_init(s.Mac, keys + keySize, keySize, params) != 1) return false;
  s.Counter = 0;
  s.StreamUsed = s.StreamSize = 0;
  FReady = true;
  return true;
}

void TWinZipAes::Decrypt(uint8_t* data, size_t count) {
  if (!FReady || count == 0) return;
  TState& s = *FState;
  // The code covers the data as stored, before deciphering.
  EVP_MAC_update(s.Mac, data, count);
  FProcessed += count;
  while (count > 0) {
    if (s.StreamUsed == s.StreamSize) {
      const size_t blocks = std::min(kBatchBlocks, (count + kAesBlock - 1) / kAesBlock);
      if (!s.Refill(blocks)) {
        // A failing library leaves the data enciphered: the code and the checksum reject it.
        FReady = false;
        return;
      }
    }
    const size_t n = std::min(count, s.StreamSize - s.StreamUsed);
    const uint8_t* key = s.Stream + s.StreamUsed;
    for (size_t i = 0; i < n; ++i) data[i] ^= key[i];
    s.StreamUsed += n;
    data += n;
    count -= n;
  }
}

bool TWinZipAes::MacMatches(const uint8_t stored[kAesMacSize]) {
  if (!FReady) return false;
  FReady = false;
  uint8_t mac[kSha1Size];
  size_t size = 0;
  if (EVP_MAC_final(FState->Mac, mac, &size, sizeof mac) != 1 || size < kAesMacSize) return false;
  return CRYPTO_memcmp(mac, stored, kAesMacSize) == 0;
}
