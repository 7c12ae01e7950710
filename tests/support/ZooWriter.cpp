// The ZOO writer of the tests (see ZooWriter.h).
#include "support/ZooWriter.h"

#include <map>
#include <utility>

#include "archive/common/arvStreams.h"

namespace parcelo::test {

namespace {

constexpr uint32_t kZooTag = 0xFDC4A7DC;

uint16_t ZooCrc16(const std::string& data) {
  return static_cast<uint16_t>(Crc16Update(0, reinterpret_cast<const uint8_t*>(data.data()), data.size()));
}

}  // namespace

void BitsLsb::Put(uint32_t code, uint32_t bits) {
  acc |= static_cast<uint64_t>(code) << count;
  count += bits;
  while (count >= 8) {
    out.push_back(static_cast<uint8_t>(acc));
    acc >>= 8;
    count -= 8;
  }
}

Bytes BitsLsb::Finish() {
  if (count > 0) out.push_back(static_cast<uint8_t>(acc));
  return out;
}

Bytes LzwEncode(const std::string& in) {
  BitsLsb bits;
  uint32_t width = 9, maxCode = 512, freeCode = 258;
  std::map<std::pair<uint32_t, uint8_t>, uint32_t> dictionary;
  bits.Put(256, width);
  if (in.empty()) {
    bits.Put(257, width);
    return bits.Finish();
  }
  uint32_t w = static_cast<uint8_t>(in[0]);
  for (size_t i = 1; i < in.size(); ++i) {
    const auto c = static_cast<uint8_t>(in[i]);
    const auto found = dictionary.find({w, c});
    if (found != dictionary.end()) {
      w = found->second;
      continue;
    }
    bits.Put(w, width);
    if (freeCode < 8192) {
      dictionary[{w, c}] = freeCode++;
      if (freeCode > maxCode && width < 13) {
        ++width;
        maxCode <<= 1;
      }
    } else {
      bits.Put(256, width);
      dictionary.clear();
      width = 9;
      maxCode = 512;
      freeCode = 258;
    }
    w = c;
  }
  bits.Put(w, width);
  bits.Put(257, width);
  return bits.Finish();
}

Bytes ZooArchive(const std::vector<ZooMember>& members) {
  ByteWriter w;
  constexpr uint32_t kFirst = 42;
  w.Fixed("ZOO 2.10 Archive.\x1A", 20).U32(kZooTag).U32(kFirst).U32(0u - kFirst);
  w.U8(2).U8(0).U8(1).U32(0).U16(0).U8(0);
  for (const ZooMember& m : members) {
    Bytes packed;
    if (m.method == 0) packed.assign(m.data.begin(), m.data.end());
    else if (m.method == 1) packed = LzwEncode(m.data);
    else packed = m.packed;
    const size_t start = w.Size();
    std::string shortName = m.name.substr(0, 12);
    w.U32(kZooTag).U8(2).U8(static_cast<uint32_t>(m.method)).U32(0).U32(0);
    w.U16(0x5921).U16(0x6000).U16(static_cast<uint16_t>(ZooCrc16(m.data) ^ (m.badCrc ? 1 : 0)));
    w.U32(static_cast<uint32_t>(m.data.size())).U32(static_cast<uint32_t>(packed.size()));
    w.U8(2).U8(1).U8(m.deleted ? 1 : 0).U8(0).U32(0).U16(0).Fixed(shortName, 13);
    const size_t nameLength = m.name.size() + 1;
    const size_t folderLength = m.folder.empty() ? 0 : m.folder.size() + 1;
    w.U16(static_cast<uint32_t>(2 + nameLength + folderLength + 2 + 3 + 2 + 2)).U8(127).U16(0);
    w.U8(static_cast<uint32_t>(nameLength)).U8(static_cast<uint32_t>(folderLength));
    w.Str(m.name).U8(0);
    if (!m.folder.empty()) w.Str(m.folder).U8(0);
    w.U16(0);  // the system: 0 for Unix
    const uint32_t attributes = m.mode ? (1u << 22 | m.mode) : 0;
    w.U8(attributes).U8(attributes >> 8).U8(attributes >> 16).U16(0).U16(0);
    w.Patch32(start + 10, static_cast<uint32_t>(w.Size()));
    w.Append(packed);
    w.Patch32(start + 6, static_cast<uint32_t>(w.Size()));
  }
  w.U32(kZooTag).U8(2).U8(0).U32(0).U32(0).Zero(64);
  return w.bytes;
}

}  // namespace parcelo::test
