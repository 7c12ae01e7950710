// A reader of the string tables in a Windows executable's resource section (PE32 and PE32+),
// for self-extracting programs that name their archive's offset in a string resource. It reads
// the file as data through a stream, bounds-checks every field and runs nothing; it does not read
// any other kind of resource, nor 16-bit (NE) executables.
#pragma once

#include <cstdint>
#include <string>

class TStream32;

class TPeStringResources {
 public:
  // Finds the resource section of the executable in `stream` (of `size` bytes). False when the
  // file is not a PE image or has no resources.
  bool Load(TStream32& stream, int64_t size);
  // The string with identifier `id`, at most `maxChars` characters kept (UTF-16 converted to
  // bytes: ASCII as is, anything else as "?"); empty when there is none or it cannot be read.
  std::string LoadString(uint32_t id, size_t maxChars);

 private:
  bool ReadAt(int64_t position, void* buffer, uint32_t count);
  int64_t RvaToOffset(uint32_t rva);
  // The directory entry under directory `dirOffset` (relative to the resource section) with the
  // numeric identifier `id`, or the first entry when `id` is negative; -1 when none.
  int64_t FindEntry(uint32_t dirOffset, int64_t id, bool& isDirectory);

  static constexpr int kMaxSections = 96;
  struct TSection {
    uint32_t VirtualAddress = 0, VirtualSize = 0, RawSize = 0, RawPointer = 0;
  };

  TStream32* FStream = nullptr;
  int64_t FSize = 0;
  TSection FSections[kMaxSections];
  int FSectionCount = 0;
  int64_t FResourceOffset = -1;  // file position of the resource section's root directory
  uint32_t FResourceSize = 0;
};
