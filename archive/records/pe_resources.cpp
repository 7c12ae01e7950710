// String tables of a PE executable's resource section, read as data with every offset checked
// against the file and the section. Nothing in the executable is ever run or mapped.
#include "archive/records/pe_resources.h"

#include <algorithm>
#include <vector>

#include "archive/common/arvStreams.h"
#include "archive/records/arvZipRecs.h"

namespace {

constexpr uint32_t kDosNewHeaderField = 0x3C;  // e_lfanew
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kPe32DirCountField = 92;       // NumberOfRvaAndSizes, PE32
constexpr uint32_t kPe32PlusDirCountField = 108;  // NumberOfRvaAndSizes, PE32+
constexpr uint32_t kResourceDirIndex = 2;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kResDirHeaderSize = 16;
constexpr uint32_t kResDirEntrySize = 8;
constexpr uint32_t kResDataEntrySize = 16;
constexpr uint32_t kSubdirectoryBit = 0x80000000;
constexpr uint32_t kNameIsStringBit = 0x80000000;
constexpr uint32_t kRtString = 6;
constexpr uint32_t kStringsPerBlock = 16;
// A directory lists at most this many entries we look at; more is not a real executable.
constexpr uint32_t kMaxDirEntries = 4096;

}  // namespace

bool TPeStringResources::ReadAt(int64_t position, void* buffer, uint32_t count) {
  if (position < 0 || count > static_cast<uint32_t>(INT32_MAX) || position > FSize ||
      static_cast<int64_t>(count) > FSize - position) {
    return false;
  }
  return FStream->ReadAt(position, buffer, static_cast<int32_t>(count)) ==
         static_cast<int32_t>(count);
}

int64_t TPeStringResources::RvaToOffset(uint32_t rva) {
  for (int i = 0; i < FSectionCount; ++i) {
    const TSection& s = FSections[i];
    const uint64_t span = std::max(s.VirtualSize, s.RawSize);
    if (rva >= s.VirtualAddress && rva - s.VirtualAddress < span) {
      const uint32_t delta = rva - s.VirtualAddress;
      if (delta >= s.RawSize) return -1;  // in memory only, not in the file
      return static_cast<int64_t>(s.RawPointer) + delta;
    }
  }
  return -1;
}

bool TPeStringResources::Load(TStream32& stream, int64_t size) {
  FStream = &stream;
  FSize = size;
  FSectionCount = 0;
  FResourceOffset = -1;

  uint8_t b[4];
  if (!ReadAt(0, b, 2) || b[0] != 'M' || b[1] != 'Z') return false;
  if (!ReadAt(kDosNewHeaderField, b, 4)) return false;
  const int64_t peOffset = GetLe32(b);
  uint8_t coff[4 + kCoffHeaderSize];
  if (!ReadAt(peOffset, coff, sizeof coff) || GetLe32(coff) != kPeSignature) return false;
  const uint16_t sections = GetLe16(coff + 4 + 2);
  const uint16_t optionalSize = GetLe16(coff + 4 + 16);
  const int64_t optional = peOffset + 4 + kCoffHeaderSize;
  if (!ReadAt(optional, b, 2)) return false;
  const uint16_t magic = GetLe16(b);
  uint32_t countField;
  if (magic == kPe32Magic) {
    countField = kPe32DirCountField;
  } else if (magic == kPe32PlusMagic) {
    countField = kPe32PlusDirCountField;
  } else {
    return false;
  }
  // The resource directory entry must lie inside the optional header.
  const uint32_t dirEntry = countField + 4 + kResourceDirIndex * 8;
  if (dirEntry + 8 > optionalSize) return false;
  if (!ReadAt(optional + countField, b, 4) || GetLe32(b) <= kResourceDirIndex) return false;
  uint8_t dir[8];
  if (!ReadAt(optional + dirEntry, dir, 8)) return false;
  const uint32_t resourceRva = GetLe32(dir);
  const uint32_t resourceSize = GetLe32(dir + 4);
  if (resourceRva == 0 || resourceSize == 0) return false;

  FSectionCount = std::min<int>(sections, kMaxSections);
  const int64_t table = optional + optionalSize;
  for (int i = 0; i < FSectionCount; ++i) {
    uint8_t h[kSectionHeaderSize];
    if (!ReadAt(table + static_cast<int64_t>(i) * kSectionHeaderSize, h, sizeof h)) {
      FSectionCount = i;
      break;
    }
    FSections[i].VirtualSize = GetLe32(h + 8);
    FSections[i].VirtualAddress = GetLe32(h + 12);
    FSections[i].RawSize = GetLe32(h + 16);
    FSections[i].RawPointer = GetLe32(h + 20);
  }
  FResourceOffset = RvaToOffset(resourceRva);
  if (FResourceOffset < 0 || FResourceOffset >= FSize) return false;
  FResourceSize = static_cast<uint32_t>(std::min<int64_t>(resourceSize, FSize - FResourceOffset));
  return true;
}

int64_t TPeStringResources::FindEntry(uint32_t dirOffset, int64_t id, bool& isDirectory) {
  if (dirOffset > FResourceSize || FResourceSize - dirOffset < kResDirHeaderSize) return -1;
  uint8_t h[kResDirHeaderSize];
  if (!ReadAt(FResourceOffset + dirOffset, h, sizeof h)) return -1;
  const uint32_t named = GetLe16(h + 12);
  const uint32_t ids = GetLe16(h + 14);
  const uint64_t entriesStart = static_cast<uint64_t>(dirOffset) + kResDirHeaderSize;
  // The entries that lie inside the section, read in one go.
  const uint32_t fit = static_cast<uint32_t>((FResourceSize - entriesStart) / kResDirEntrySize);
  const uint32_t total = std::min({named + ids, kMaxDirEntries, fit});
  if (total == 0) return -1;
  std::vector<uint8_t> entries(static_cast<size_t>(total) * kResDirEntrySize);
  if (!ReadAt(FResourceOffset + static_cast<int64_t>(entriesStart), entries.data(),
              static_cast<uint32_t>(entries.size()))) {
    return -1;
  }
  for (uint32_t i = 0; i < total; ++i) {
    const uint8_t* e = entries.data() + static_cast<size_t>(i) * kResDirEntrySize;
    const uint32_t name = GetLe32(e);
    const uint32_t target = GetLe32(e + 4);
    if (id >= 0 && ((name & kNameIsStringBit) || name != static_cast<uint32_t>(id))) continue;
    isDirectory = (target & kSubdirectoryBit) != 0;
    return target & ~kSubdirectoryBit;
  }
  return -1;
}

std::string TPeStringResources::LoadString(uint32_t id, size_t maxChars) {
  if (FResourceOffset < 0 || id > 0xFFFF) return {};
  bool isDir = false;
  // Type, then the block of 16 strings (named id / 16 + 1), then the first language.
  const int64_t typeDir = FindEntry(0, kRtString, isDir);
  if (typeDir < 0 || !isDir) return {};
  const int64_t blockDir =
      FindEntry(static_cast<uint32_t>(typeDir), id / kStringsPerBlock + 1, isDir);
  if (blockDir < 0 || !isDir) return {};
  const int64_t data = FindEntry(static_cast<uint32_t>(blockDir), -1, isDir);
  if (data < 0 || isDir || data + kResDataEntrySize > FResourceSize) return {};
  uint8_t d[kResDataEntrySize];
  if (!ReadAt(FResourceOffset + data, d, sizeof d)) return {};
  const int64_t blockOffset = RvaToOffset(GetLe32(d));
  const uint32_t blockSize = GetLe32(d + 4);
  if (blockOffset < 0) return {};
  const int64_t blockEnd = blockOffset + std::min<int64_t>(blockSize, FSize - blockOffset);

  // Each string: a 16-bit length in characters, then that many UTF-16 characters.
  int64_t at = blockOffset;
  for (uint32_t index = 0; index < id % kStringsPerBlock; ++index) {
    uint8_t n[2];
    if (at + 2 > blockEnd || !ReadAt(at, n, 2)) return {};
    at += 2 + 2 * static_cast<int64_t>(GetLe16(n));
  }
  uint8_t n[2];
  if (at + 2 > blockEnd || !ReadAt(at, n, 2)) return {};
  const size_t length = std::min<size_t>(GetLe16(n), maxChars);
  at += 2;
  if (at + 2 * static_cast<int64_t>(length) > blockEnd) return {};
  uint8_t chars[2 * 64];
  std::string result;
  size_t done = 0;
  while (done < length) {
    const size_t step = std::min<size_t>(length - done, 64);
    if (!ReadAt(at + 2 * static_cast<int64_t>(done), chars, static_cast<uint32_t>(2 * step))) {
      return {};
    }
    for (size_t i = 0; i < step; ++i) {
      const uint16_t c = GetLe16(chars + 2 * i);
      if (c == 0) return result;  // the text ends at a NUL, as a C string would
      result.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    done += step;
  }
  return result;
}
