// PPMd variant I revision 1, the context-model coder of zip method 98: a member starts with a
// two-byte header (model order, model memory, what to do when the memory is full), then the
// range-coded symbols. The decoder pulls the member's bytes through TCodecIo and pushes decoded
// bytes out a block at a time; it knows nothing of archives, checksums or files.
#pragma once

#include <cstdint>
#include <string>

#include "archive/codecs/arvCodecIo.h"

// The model's parameters as the member header gives them.
struct TPpmdParams {
  unsigned Order = 0;        // longest context, 2..16
  uint32_t MemoryMiB = 0;    // the model's memory, 1..256 MiB
  unsigned Restoration = 0;  // 0: start the model again when its memory is full; 1: cut it down
};

// What the member header says of the model's parameters.
enum class TPpmdHeaderCheck : uint8_t {
  Ok,
  OrderTooLow,           // order 1 (the lowest the four bits give); PPMd needs 2 or more
  RestorationFreeze,     // method 2, freezing the model: no writer in use makes it
  RestorationUnknown,    // 3 and up: no such method
};

constexpr uint32_t kPpmdMinOrder = 2;
constexpr uint32_t kPpmdMaxMemoryMiB = 256;  // the header's eight bits plus one

// Reads the little-endian header word: bits 0-3 the order minus 1, bits 4-11 the memory in MiB
// minus 1, bits 12-15 the restoration method. `params` is filled whatever the verdict.
TPpmdHeaderCheck ReadPpmdHeader(uint16_t word, TPpmdParams& params);
// A sentence for a verdict other than Ok ("PPMd order 1 is below the least of 2").
std::string PpmdHeaderProblem(TPpmdHeaderCheck check, const TPpmdParams& params);

// The output size when the caller does not know it: the member then ends at its end mark.
constexpr uint64_t kPpmdSizeUnknown = UINT64_MAX;

struct TPpmdResult {
  TCodecStatus Status = TCodecStatus::Ok;
  TPpmdHeaderCheck Header = TPpmdHeaderCheck::Ok;  // why an Unsupported or Corrupt header was
  TPpmdParams Params;
  uint64_t Written = 0;   // decoded bytes handed to Write
  uint64_t Consumed = 0;  // compressed bytes used, header included (Read may have given more)
  bool NoMemory = false;  // the model's memory could not be had (Status Unsupported)
};

// Decodes one zip PPMd member: the header, then symbols until `size` bytes are out (then the
// stream must end there: its coder state closed, or an end mark), or until the end mark when the
// size is unknown. More symbols than `size` is Corrupt; input that runs out is Truncated. The
// model's memory (at most 256 MiB) is allocated for the call and released before it returns.
TPpmdResult DecodePpmdMember(const TCodecIo& io, uint64_t size);
