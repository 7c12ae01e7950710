// Test helper: a minimal zip reader and writer with its own CRC-32 and SHA-256, independent of the
// engine so that tests can check the engine against them. Not a general zip library.
#include "MiniZip.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace minizip {

namespace {

uint32_t Le16(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8;
}
uint32_t Le32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

}  // namespace

std::optional<std::vector<Entry>> ReadCentralDirectory(const Bytes& a) {
  if (a.size() < 22) return std::nullopt;
  size_t end = a.size() - 22;
  for (;; --end) {
    if (Le32(a, end) == 0x06054B50) break;
    if (end == 0 || a.size() - end > 22 + 65535) return std::nullopt;
  }
  const uint32_t count = Le16(a, end + 10);
  size_t pos = Le32(a, end + 16);
  std::vector<Entry> entries;
  for (uint32_t i = 0; i < count; ++i) {
    if (pos + 46 > a.size() || Le32(a, pos) != 0x02014B50) return std::nullopt;
    Entry e;
    e.flags = static_cast<uint16_t>(Le16(a, pos + 8));
    e.method = static_cast<uint16_t>(Le16(a, pos + 10));
    e.crc = Le32(a, pos + 16);
    e.compressedSize = Le32(a, pos + 20);
    e.uncompressedSize = Le32(a, pos + 24);
    const size_t nameLength = Le16(a, pos + 28);
    const size_t rest = nameLength + Le16(a, pos + 30) + Le16(a, pos + 32);
    const size_t local = Le32(a, pos + 42);
    if (pos + 46 + rest > a.size() || local + 30 > a.size()) return std::nullopt;
    e.name.assign(a.begin() + static_cast<long>(pos + 46),
                  a.begin() + static_cast<long>(pos + 46 + nameLength));
    if (Le32(a, local) != 0x04034B50) return std::nullopt;
    e.dataOffset = local + 30 + Le16(a, local + 26) + Le16(a, local + 28);
    if (e.dataOffset + e.compressedSize > a.size()) return std::nullopt;
    entries.push_back(e);
    pos += 46 + rest;
  }
  return entries;
}

Bytes WriteArchive(const std::vector<WriteMember>& members) {
  Bytes out, central;
  for (const auto& m : members) {
    const uint32_t offset = static_cast<uint32_t>(out.size());
    auto header = [&](Bytes& b, bool isCentral) {
      Put32(b, isCentral ? 0x02014B50 : 0x04034B50);
      if (isCentral) Put16(b, 20);
      Put16(b, 10);  // version needed: the legacy methods need 1.0
      Put16(b, m.flags);
      Put16(b, m.method);
      Put32(b, 0x5A8C6000);  // a fixed DOS date-time
      Put32(b, m.crc);
      Put32(b, static_cast<uint32_t>(m.data.size()));
      Put32(b, static_cast<uint32_t>(m.uncompressedSize));
      Put16(b, static_cast<uint32_t>(m.name.size()));
      Put16(b, 0);
      if (isCentral) {
        Put16(b, 0);
        Put16(b, 0);
        Put16(b, 0);
        Put32(b, 0x20);
        Put32(b, offset);
      }
      b.insert(b.end(), m.name.begin(), m.name.end());
    };
    header(out, false);
    out.insert(out.end(), m.data.begin(), m.data.end());
    header(central, true);
  }
  const uint32_t centralOffset = static_cast<uint32_t>(out.size());
  out.insert(out.end(), central.begin(), central.end());
  Put32(out, 0x06054B50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<uint32_t>(members.size()));
  Put16(out, static_cast<uint32_t>(members.size()));
  Put32(out, static_cast<uint32_t>(central.size()));
  Put32(out, centralOffset);
  Put16(out, 0);
  return out;
}

std::optional<Bytes> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
  static const auto kTable = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = kTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::string Sha256Hex(const uint8_t* data, size_t size) {
  static constexpr uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  Bytes msg(data, data + size);
  msg.push_back(0x80);
  while (msg.size() % 64 != 56) msg.push_back(0);
  const uint64_t bits = static_cast<uint64_t>(size) * 8;
  for (int i = 7; i >= 0; --i) msg.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  for (size_t chunk = 0; chunk < msg.size(); chunk += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = static_cast<uint32_t>(msg[chunk + 4 * i]) << 24 | msg[chunk + 4 * i + 1] << 16 |
             msg[chunk + 4 * i + 2] << 8 | msg[chunk + 4 * i + 3];
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      const uint32_t t1 =
          hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    h[5] += f;
    h[6] += g;
    h[7] += hh;
  }
  std::string hex;
  char buf[9];
  for (uint32_t v : h) {
    std::snprintf(buf, sizeof buf, "%08x", v);
    hex += buf;
  }
  return hex;
}

}  // namespace minizip
