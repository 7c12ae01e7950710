// The file a harness hands the engine: its bytes written where writing is cheapest (/dev/shm when
// it can be written, else /tmp), under a name of its own per harness and process.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

inline std::string ScratchPath(const std::string& harness, const char* suffix) {
  const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(folder) + "/parcelo-fuzz-" + harness + "-" + std::to_string(getpid()) + suffix;
}

// Writes `size` bytes as the whole file; false when it cannot.
inline bool WriteScratch(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}
