// ZOO's LZW method (method 1, "lzd"): codes of 9 to 13 bits read least significant bit first;
// 256 clears the dictionary, 257 ends the data, 258 on are strings. The code width grows by one
// when the next free code reaches the width's limit; a full dictionary (8192 codes) stays as it
// is until a clear. Memory is fixed (the dictionary and a 64 KiB output block).
#pragma once

#include <cstdint>

#include "archive/codecs/arvCodecIo.h"

// Decodes one member: reads compressed bytes through io.Read until the end code, writes at most
// `outputLimit` bytes through io.Write. Corrupt: a code that names no string yet, data after the
// limit, a first code that is no byte. Truncated: the input ends before the end code.
TCodecStatus LzdDecode(const TCodecIo& io, uint64_t outputLimit);
