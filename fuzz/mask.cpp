// Fuzz harness for the wildcard masks and the name helpers that take archive bytes: the input is
// a mask, a zero byte and a name. The matcher is checked against a small dynamic-programming
// matcher of the same rules; the helpers only have to survive. No disk, no time zone.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/common/arvDates.h"
#include "archive/common/arvGbls.h"

namespace {

// Whole-name glob: "*" any run, "?" one character, letters compared in upper case (ASCII only).
// "?" right after a star is dropped as the compiler drops it; a mask ending in "." lets a name
// without "." match as if it had one.
bool ReferenceMatch(const std::string& mask, std::string name) {
  std::string m;
  bool star = false;
  for (const char c : mask) {
    if (c == '?' && star) continue;
    star = c == '*';
    m += c;
  }
  if (!mask.empty() && mask.back() == '.' && name.find('.') == std::string::npos) name += '.';
  // row[j]: the mask consumed so far matches name[0, j).
  std::vector<char> row(name.size() + 1, 0), next(name.size() + 1, 0);
  row[0] = 1;
  for (const char c : m) {
    if (c == '*') {
      next[0] = row[0];
      for (size_t j = 1; j <= name.size(); ++j) next[j] = row[j] || next[j - 1];
    } else {
      next[0] = 0;
      for (size_t j = 1; j <= name.size(); ++j)
        next[j] = row[j - 1] && (c == '?' || UpperAscii(c) == UpperAscii(name[j - 1]));
    }
    row.swap(next);
  }
  return row[name.size()] != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;  // the reference is quadratic
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string mask = input.substr(0, split);
  const std::string name = split == std::string::npos ? std::string() : input.substr(split + 1);

  if (MaskMatches(name, mask) != ReferenceMatch(mask, name)) __builtin_trap();

  std::string text = name;
  size_t rounds = 0;
  while (!text.empty() && rounds++ <= name.size()) SplitToken(text, mask);
  if (!text.empty()) __builtin_trap();  // every split removes something
  (void)LhaPathToDos(name);
  (void)ConvertStoredName(name, false);
  (void)BaseNameLength(name.c_str());
  if (size >= 4) {
    uint32_t packed = 0;
    for (int i = 0; i < 4; ++i) packed = packed << 8 | data[i];
    (void)DosToDateTime(packed);
  }
  return 0;
}
