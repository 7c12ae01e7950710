// CRC-32 of zip (the reflected polynomial 0xEDB88320) folded with carry-less multiplication, for
// x86-64 processors that have the PCLMULQDQ instruction; Crc32Update hands long buffers here.
// Elsewhere, or on processors without it, Crc32ClmulAvailable() is false and nothing here runs.
#pragma once

#include <cstddef>
#include <cstdint>

// Buffers shorter than this stay with the table loop: setting up the fold does not pay.
constexpr size_t kCrc32ClmulMinimum = 256;

// Whether this processor can run Crc32FoldClmul (asked once).
bool Crc32ClmulAvailable();
// Folds `count` bytes (at least 64) into the running register like Crc32Update: no pre- or
// post-inversion. Call only when Crc32ClmulAvailable().
uint32_t Crc32FoldClmul(uint32_t crc, const uint8_t* bytes, size_t count);
