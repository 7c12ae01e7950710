// Fuzz harness for archive-type detection: arbitrary bytes as a plain file and behind an "MZ"
// header (the executable path with its resource reader and scan), the central-directory locator on
// its own, and the PE string-table reader. Everything runs on an in-memory stream; the drive
// examination of spanned zips is replaced, so the harness touches no disk.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/records/arvZipRecs.h"
#include "archive/records/arvregister.h"
#include "archive/records/pe_resources.h"
#include "support/MemStream.h"

namespace {

class TFuzzArcova : public TRegisterArcova {
 public:
  // The real one examines the drive that holds the file (and writes a temporary file there).
  TArcType CheckZipSpan() override { return atZipMV; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzArcova arc;
  {
    TMemReadStream plain(data, size);
    const TArcType t = arc.DetectArcTypeInStream(plain, "fuzz.jar");
    if (IsFoundType(t) && arc.StartOffset() < 0) __builtin_trap();  // found types start at >= 0
    arc.MethodName(8, 2);
  }
  {
    std::vector<uint8_t> exe;
    exe.reserve(size + 2);
    exe.push_back('M');
    exe.push_back('Z');
    exe.insert(exe.end(), data, data + size);
    TMemReadStream stream(std::move(exe));
    arc.DetectArcTypeInStream(stream, "fuzz.exe");
  }
  {
    TMemReadStream stream(data, size);
    TZipLocation location;
    TZipCipher cipher;
    const int64_t start = LocateCentralDir(stream, static_cast<int64_t>(size), location, cipher);
    if (start < -1 || start > static_cast<int64_t>(size)) __builtin_trap();
  }
  {
    TMemReadStream stream(data, size);
    TPeStringResources strings;
    if (strings.Load(stream, static_cast<int64_t>(size))) {
      for (uint32_t id = 0; id < 20; ++id) strings.LoadString(id, 5);
    }
  }
  return 0;
}
