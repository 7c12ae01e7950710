#include "support/AceWriter.h"

#include <algorithm>
#include <utility>

namespace testsupport {

namespace {

constexpr unsigned kMainSymbols = 284;
constexpr unsigned kLengthSymbols = 256;
constexpr unsigned kMainWidth = 9;    // every main symbol (284 of 512 codes)
constexpr unsigned kLengthWidth = 8;  // every length symbol
constexpr unsigned kWidthSymbols = 13;  // width deltas 0..11 and the zero run (unused here)
constexpr unsigned kWidthCodeWidth = 4;
constexpr unsigned kBlockMax = 32767;

// The order ACE hands codes out in: a quicksort (widest first) that partitions around the last
// element; codes go from the end of that order to its front.
void SortRange(std::vector<unsigned>& w, std::vector<unsigned>& s, int left, int right) {
  int lo = left, hi = right;
  const unsigned pivot = w[right];
  do {
    while (w[lo] > pivot) ++lo;
    while (w[hi] < pivot) --hi;
    if (lo <= hi) {
      std::swap(w[lo], w[hi]);
      std::swap(s[lo], s[hi]);
      ++lo;
      --hi;
    }
  } while (lo < hi);
  if (left < hi) {
    if (left < hi - 1) SortRange(w, s, left, hi);
    else if (w[left] < w[hi]) std::swap(w[left], w[hi]), std::swap(s[left], s[hi]);
  }
  if (right > lo) {
    if (lo < right - 1) SortRange(w, s, lo, right);
    else if (w[lo] < w[right]) std::swap(w[lo], w[right]), std::swap(s[lo], s[right]);
  }
}

// Codes of `count` symbols that all have `width` bits.
std::vector<uint32_t> EqualCodes(unsigned count, unsigned width) {
  std::vector<unsigned> w(count, width), s(count);
  for (unsigned i = 0; i < count; ++i) s[i] = i;
  SortRange(w, s, 0, static_cast<int>(count) - 1);
  std::vector<uint32_t> codes(count);
  uint32_t next = 0;
  for (int i = static_cast<int>(count) - 1; i >= 0; --i) codes[s[static_cast<size_t>(i)]] = next++;
  return codes;
}

void PutTable(TAceBits& bits, unsigned count, unsigned width) {
  static const std::vector<uint32_t> widthCodes = EqualCodes(kWidthSymbols, kWidthCodeWidth);
  bits.Put(count - 1, 9);
  bits.Put(0, 4);                  // nothing added to the widths
  bits.Put(kWidthSymbols - 1, 4);  // deltas modulo 12; 12 starts a run of zeros
  for (unsigned i = 0; i < kWidthSymbols; ++i) bits.Put(kWidthCodeWidth, 3);
  unsigned previous = 0;
  for (unsigned i = 0; i < count; ++i) {
    const unsigned delta = (width + 12 - previous) % 12;
    bits.Put(widthCodes[delta], kWidthCodeWidth);
    previous = width;
  }
}

void PutEntryHeader(std::vector<uint8_t>& out, const std::vector<uint8_t>& body) {
  const uint32_t crc = AceCrc(body) & 0xFFFF;
  out.push_back(static_cast<uint8_t>(crc));
  out.push_back(static_cast<uint8_t>(crc >> 8));
  out.push_back(static_cast<uint8_t>(body.size()));
  out.push_back(static_cast<uint8_t>(body.size() >> 8));
  out.insert(out.end(), body.begin(), body.end());
}

void U16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void U32(std::vector<uint8_t>& b, uint32_t v) {
  U16(b, v & 0xFFFF);
  U16(b, v >> 16);
}

}  // namespace

uint32_t AceCrc(const std::vector<uint8_t>& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
  }
  return crc;
}

void TAceBits::Put(uint32_t value, unsigned count) {
  for (unsigned i = count; i-- > 0;) {
    FWord = (FWord << 1) | ((value >> i) & 1);
    if (++FUsed == 32) {
      for (int k = 0; k < 4; ++k) FBytes.push_back(static_cast<uint8_t>(FWord >> (8 * k)));
      FWord = 0;
      FUsed = 0;
    }
  }
}

std::vector<uint8_t> TAceBits::Finish() const {
  std::vector<uint8_t> out = FBytes;
  if (FUsed > 0) {
    const uint32_t word = FWord << (32 - FUsed);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(word >> (8 * k)));
  }
  return out;
}

void TAceStreamWriter::Literal(uint8_t byte) {
  FSymbols.push_back(TSymbol{byte});
}

void TAceStreamWriter::Literals(const std::string& text) {
  for (char c : text) Literal(static_cast<uint8_t>(c));
}

void TAceStreamWriter::Match(uint32_t distance, unsigned length) {
  const uint32_t d = distance - 1;
  TSymbol s{260};
  if (d < 2) {
    s.Main = 260 + d;
  } else {
    unsigned bits = 0;
    while ((d >> bits) > 1) ++bits;  // d has bits + 1 significant bits
    s.Main = 260 + bits + 1;
    s.Extra = d - (uint32_t{1} << bits);
    s.ExtraBits = bits;
  }
  s.Length = static_cast<int>(length) - 2 - (d > 255 ? 1 : 0) - (d > 8191 ? 1 : 0);
  FSymbols.push_back(s);
}

void TAceStreamWriter::Repeat(unsigned index, unsigned length) {
  TSymbol s{256 + index};
  s.Length = static_cast<int>(length) - 2 - (index > 1 ? 1 : 0);
  FSymbols.push_back(s);
}

void TAceStreamWriter::Mode(unsigned mode, const std::vector<std::pair<uint32_t, unsigned>>& fields) {
  TSymbol s{283};
  s.Fields.push_back({mode, 8});
  s.Fields.insert(s.Fields.end(), fields.begin(), fields.end());
  FSymbols.push_back(s);
}

std::vector<uint8_t> TAceStreamWriter::Finish() const {
  const unsigned mainSymbols = FBlocked ? kMainSymbols : kMainSymbols - 1;
  const std::vector<uint32_t> mainCodes = EqualCodes(mainSymbols, kMainWidth);
  static const std::vector<uint32_t> lengthCodes = EqualCodes(kLengthSymbols, kLengthWidth);
  TAceBits bits;
  for (size_t i = 0; i < FSymbols.size(); ++i) {
    if (i % kBlockMax == 0) {
      PutTable(bits, mainSymbols, kMainWidth);
      PutTable(bits, kLengthSymbols, kLengthWidth);
      bits.Put(static_cast<uint32_t>(std::min<size_t>(kBlockMax, FSymbols.size() - i)), 15);
    }
    const TSymbol& s = FSymbols[i];
    bits.Put(mainCodes[s.Main], kMainWidth);
    if (s.ExtraBits) bits.Put(s.Extra, s.ExtraBits);
    for (const auto& [value, count] : s.Fields) bits.Put(value, count);
    if (s.Length >= 0) bits.Put(lengthCodes[static_cast<size_t>(s.Length)], kLengthWidth);
  }
  return bits.Finish();
}

std::vector<uint8_t> AceArchive(const std::vector<TAceEntry>& entries, uint16_t mainFlags,
                                uint8_t volume) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> main;
  main.push_back(0);
  U16(main, mainFlags);
  for (char c : std::string("**ACE**")) main.push_back(static_cast<uint8_t>(c));
  main.push_back(20);
  main.push_back(20);
  main.push_back(2);  // Win32
  main.push_back(volume);
  U32(main, 0x5B8B75D8);
  main.insert(main.end(), 8, 0);
  PutEntryHeader(out, main);
  for (const TAceEntry& e : entries) {
    std::vector<uint8_t> h;
    h.push_back(1);
    U16(h, 0x0001 | e.Flags);
    U32(h, static_cast<uint32_t>(e.Packed.size()));
    U32(h, e.Size);
    U32(h, e.DosDateTime);
    U32(h, e.Attributes);
    U32(h, e.Crc);
    h.push_back(e.Type);
    h.push_back(e.Type == 0 ? 0 : 3);
    U16(h, e.Parameters);
    U16(h, 0);
    U16(h, static_cast<uint32_t>(e.Name.size()));
    h.insert(h.end(), e.Name.begin(), e.Name.end());
    PutEntryHeader(out, h);
    out.insert(out.end(), e.Packed.begin(), e.Packed.end());
  }
  return out;
}

TAceEntry AceStored(const std::string& name, const std::string& data) {
  TAceEntry e;
  e.Name = name;
  e.Packed.assign(data.begin(), data.end());
  e.Size = static_cast<uint32_t>(data.size());
  e.Crc = AceCrc(e.Packed);
  return e;
}

TAceEntry AcePacked(const std::string& name, const std::string& data,
                    const TAceStreamWriter& stream, uint8_t type, uint16_t parameters) {
  TAceEntry e;
  e.Name = name;
  e.Packed = stream.Finish();
  e.Size = static_cast<uint32_t>(data.size());
  e.Crc = AceCrc(std::vector<uint8_t>(data.begin(), data.end()));
  e.Type = type;
  e.Parameters = parameters;
  return e;
}

}  // namespace testsupport
