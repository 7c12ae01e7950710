// Fuzz harness for the legacy zip decoders (unshrink, unreduce, explode). The first four bytes
// select the method and flags, the uncompressed size and the read block size; the rest is the
// member's compressed data. It checks the output bound and that nothing escapes but E_RAISE.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "archive/codecs/arvCrypt.h"
#include "archive/codecs/arvLegacy.h"
#include "archive/messages/Err_Msgs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t selector = data[0];
  TLegacyMember member;
  member.Method = 1 + selector % 6;                           // 1..6
  member.Flags = static_cast<uint16_t>((selector >> 3) & 6);  // implode window and trees
  const bool encrypted = (selector & 0x80) != 0;
  // Up to 8 KiB, or up to 64 KiB (two output blocks and more) when data[2] has its top bit set.
  const uint64_t sizeField = static_cast<uint64_t>(data[1] | (data[2] & 0x1F) << 8);
  member.UncompressedSize = (data[2] & 0x80 ? sizeField * 8 : sizeField) + 1;
  const size_t readChunk = 1 + static_cast<size_t>(data[3]) * 131;
  const uint8_t* input = data + 4;
  const size_t inputSize = size - 4;
  member.CompressedSize = inputSize;

  size_t at = 0;
  uint64_t written = 0;
  uint8_t cancel = 0;
  TZipCipher cipher;
  cipher.InitKeys("fuzz");
  TLegacyContext context;
  context.ReadBlock = [&](uint8_t* buffer, size_t count) {
    if (count > kLegacyInputBlock) std::abort();
    const size_t n = std::min({count, readChunk, inputSize - at});
    if (n != 0) std::memcpy(buffer, input + at, n);
    at += n;
    return n;
  };
  context.WriteBlock = [&](const uint8_t* bytes, size_t count) {
    if (count == 0 || count > kLegacyOutputBlock) std::abort();
    volatile uint8_t sink = bytes[0] ^ bytes[count - 1];
    (void)sink;
    written += count;
  };
  context.ReportError = [](int code) {
    if (code != kErrAmbiguousTree) std::abort();
  };
  context.Cipher = encrypted ? &cipher : nullptr;
  context.Cancel = &cancel;
  TLegacyDecoder decoder(member, context);
  try {
    decoder.Run();
  } catch (const E_RAISE&) {
    const int code = decoder.ErrorCode();
    if (code != kErrBadBlock && code != kErrStackOverflow && code != kErrAmbiguousTree)
      std::abort();
  }
  if (written > member.UncompressedSize || written != decoder.OutputCount()) std::abort();
  if (decoder.InputCount() > inputSize) std::abort();
  return 0;
}
