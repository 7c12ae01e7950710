// Fuzz harness for ACE: the decoder and the member source. An even first byte makes the rest an
// ACE archive (written to a temporary file and walked with the source, every member decoded); an
// odd one feeds the rest to the decoder as two members of a solid archive: byte 1 chooses the
// compression types, byte 2 the dictionary, bytes 3-4 the first member's size and 5 the read
// piece size; the first member takes the first half of the data. It checks the output bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/codecs/arvAce.h"
#include "archive/formats/old_sources.h"
#include "fuzz/codec_io.h"

namespace {

void FuzzDecoder(const uint8_t* data, size_t size) {
  if (size < 6) return;
  TAceDecoder decoder;
  const size_t piece = 1 + static_cast<size_t>(data[5]) * 61;
  const uint8_t* input = data + 6;
  const size_t inputSize = size - 6;
  const size_t halves[2] = {inputSize / 2, inputSize - inputSize / 2};
  const uint8_t* starts[2] = {input, input + inputSize / 2};
  for (int member = 0; member < 2; ++member) {
    TAceMember m;
    m.Type = static_cast<uint8_t>((data[1] >> (member * 2)) % 4);
    m.Parameters = data[2] >> (member * 4);
    m.Size = member == 0 ? (static_cast<uint64_t>(data[3]) | data[4] << 8) * 4 : 70000;
    TFuzzCodecIo io(starts[member], halves[member], {.Slice = piece, .EmptyReadIsFault = false});
    const TCodecStatus status = decoder.Decode(m, io.Io());
    if (io.Written() > m.Size) std::abort();
    if (status == TCodecStatus::Ok && io.Written() != m.Size) std::abort();
    if (status != TCodecStatus::Ok && (data[1] & 0x80)) decoder.Reset();
  }
}

void FuzzSource(const uint8_t* data, size_t size) {
  static std::string path;
  if (path.empty()) path = "/tmp/parcelo_fuzz_ace_" + std::to_string(getpid()) + ".ace";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  TSourceServices services;
  auto source = CreateAceSource(path, 0, services);
  TSourceMember member;
  for (int count = 0; source->Next(member); ++count) {
    if (count > 100000) std::abort();              // a walk that does not move on
    if (member.Size > 0 && (count & 1)) continue;  // some members passed over
    int64_t written = 0;
    const TDecodeResult result = source->Decode(
        [&written](const uint8_t*, size_t n) { written += static_cast<int64_t>(n); }, "");
    if (member.Size >= 0 && written > member.Size) std::abort();
    if (result == TDecodeResult::Ok && member.Kind == TMemberKind::File && written != member.Size)
      std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  if (data[0] & 1) {
    FuzzDecoder(data, size);
  } else {
    FuzzSource(data + 1, size - 1);
  }
  return 0;
}
