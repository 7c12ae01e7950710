// Test-only encoders for shrink, reduce and implode, written from the formats' decoding rules:
// each keeps the same tables a decoder keeps, so what it writes is what a decoder reads. Speed and
// ratio are secondary; they do not try to match any particular archiver's output.
#include "LegacyEncoders.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <numeric>
#include <queue>
#include <stdexcept>
#include <string>

namespace legacytest {

// ---- bit writer ---------------------------------------------------------------------------------
void LsbBitWriter::Put(uint32_t value, unsigned bits) {
  if (bits == 0) return;
  buffer_ |= static_cast<uint64_t>(value & ((bits >= 32 ? 0 : (1u << bits)) - 1)) << count_;
  count_ += bits;
  while (count_ >= 8) {
    out_.push_back(static_cast<uint8_t>(buffer_));
    buffer_ >>= 8;
    count_ -= 8;
  }
}

void LsbBitWriter::PutMsbFirst(uint32_t code, unsigned bits) {
  uint32_t reversed = 0;
  for (unsigned i = 0; i < bits; ++i) reversed |= ((code >> i) & 1u) << (bits - 1 - i);
  Put(reversed, bits);
}

Bytes LsbBitWriter::Finish() {
  if (count_ > 0) out_.push_back(static_cast<uint8_t>(buffer_));
  buffer_ = 0;
  count_ = 0;
  return std::move(out_);
}

namespace {

// A greedy match finder over the whole input: exact two-byte hash heads and chains.
class MatchFinder {
 public:
  explicit MatchFinder(const Bytes& data) : data_(data), head_(65536, -1), prev_(data.size(), -1) {}

  void Insert(size_t pos) {
    if (pos + 1 >= data_.size()) return;
    const uint32_t key = data_[pos] | data_[pos + 1] << 8;
    prev_[pos] = head_[key];
    head_[key] = static_cast<int32_t>(pos);
  }

  // The longest match at pos (up to maxLength, within maxDistance) that `usable` accepts.
  std::pair<size_t, size_t> Find(size_t pos, size_t maxDistance, size_t maxLength,
                                 const std::function<bool(size_t, size_t)>& usable,
                                 int depth = 48) const {
    size_t bestLength = 0, bestDistance = 0;
    if (pos + 1 >= data_.size()) return {0, 0};
    const size_t limit = std::min(maxLength, data_.size() - pos);
    const uint32_t key = data_[pos] | data_[pos + 1] << 8;
    for (int32_t cand = head_[key]; cand >= 0 && depth-- > 0; cand = prev_[cand]) {
      const size_t distance = pos - static_cast<size_t>(cand);
      if (distance > maxDistance) break;
      size_t length = 0;
      while (length < limit && data_[cand + length] == data_[pos + length]) ++length;
      if (length > bestLength && usable(length, distance)) {
        bestLength = length;
        bestDistance = distance;
        if (length == limit) break;
      }
    }
    return {bestLength, bestDistance};
  }

 private:
  const Bytes& data_;
  std::vector<int32_t> head_, prev_;
};

// ---- shrink -------------------------------------------------------------------------------------
constexpr int kCodes = 8192;
constexpr int kFirstFree = 257;

struct ShrinkTable {
  std::vector<int16_t> parent = std::vector<int16_t>(kCodes, -1);
  std::vector<uint8_t> character = std::vector<uint8_t>(kCodes, 0);
  std::vector<uint16_t> childCount = std::vector<uint16_t>(kCodes, 0);
  std::vector<uint16_t> freeList = std::vector<uint16_t>(kCodes, 0);
  int nextFree = kFirstFree;
  // (parent, character) -> code, for the encoder's string look-ups.
  std::vector<int16_t> child = std::vector<int16_t>(static_cast<size_t>(kCodes) * 256, -1);

  ShrinkTable() {
    for (int c = 0; c < kCodes; ++c) freeList[c] = static_cast<uint16_t>(c);
    for (int c = 0; c < 256; ++c) character[c] = static_cast<uint8_t>(c);
  }
  int NextFreeCode() const { return nextFree < kCodes ? freeList[nextFree] : -1; }
  void Define(int previous, uint8_t c) {
    if (nextFree >= kCodes) return;
    const int code = freeList[nextFree++];
    parent[code] = static_cast<int16_t>(previous);
    character[code] = c;
    ++childCount[previous];
    child[static_cast<size_t>(previous) * 256 + c] = static_cast<int16_t>(code);
  }
  // The decoder's partial clear: every childless code from 257 up is freed, the highest first.
  void PartialClear() {
    std::vector<int> leaves;
    for (int code = kFirstFree; code < kCodes; ++code)
      if (childCount[code] == 0) leaves.push_back(code);
    nextFree = kCodes;
    for (auto it = leaves.rbegin(); it != leaves.rend(); ++it) {
      const int code = *it;
      if (parent[code] >= 0) {
        --childCount[parent[code]];
        int16_t& link = child[static_cast<size_t>(parent[code]) * 256 + character[code]];
        if (link == code) link = -1;
      }
      parent[code] = -1;
      character[code] = 0;
      childCount[code] = 0;
      freeList[--nextFree] = static_cast<uint16_t>(code);
    }
  }
};

}  // namespace

Bytes Shrink(const Bytes& data, const ShrinkOptions& options, ShrinkStats* stats) {
  ShrinkStats local;
  ShrinkStats& s = stats ? *stats : local;
  LsbBitWriter out;
  if (data.empty()) return out.Finish();
  auto table = std::make_unique<ShrinkTable>();
  ShrinkTable& t = *table;
  unsigned codeSize = 9;
  auto emit = [&](int code) {
    while (code >= (1 << codeSize)) {
      out.Put(256, codeSize);
      out.Put(1, codeSize);
      ++codeSize;
      ++s.sizeIncreases;
    }
    out.Put(static_cast<uint32_t>(code), codeSize);
    ++s.codes;
  };

  emit(data[0]);
  int previous = data[0];
  size_t pos = 1;
  unsigned sinceClear = 0;
  while (pos < data.size()) {
    // The decoder will define (previous, first character of this string) at the next free code
    // once it reads this code; the string may itself be that code (the KwKwK case).
    const int pending = t.NextFreeCode();
    int code = data[pos];
    size_t length = 1;
    bool usedPending = false;
    while (pos + length < data.size()) {
      const uint8_t c = data[pos + length];
      int next = t.child[static_cast<size_t>(code) * 256 + c];
      if (next < 0 && pending >= 0 && !usedPending && code == previous && c == data[pos]) {
        next = pending;
        usedPending = true;
      }
      if (next < 0) break;
      code = next;
      ++length;
    }
    if (usedPending && code == pending) ++s.kwkwk;
    emit(code);
    t.Define(previous, data[pos]);
    previous = code;
    pos += length;
    ++sinceClear;

    const bool wanted =
        t.nextFree >= kCodes || (options.clearEvery && sinceClear >= options.clearEvery);
    // The previous code must survive the clear: the next definition hangs from it.
    const bool safe = previous < 256 || t.childCount[previous] > 0;
    if (wanted && safe && pos < data.size()) {
      out.Put(256, codeSize);
      out.Put(2, codeSize);
      t.PartialClear();
      sinceClear = 0;
      ++s.partialClears;
    }
  }
  return out.Finish();
}

// ---- reduce -------------------------------------------------------------------------------------
namespace {
constexpr int kDle = 144;
unsigned FollowerBits(int n) {
  return n <= 2 ? 1 : n <= 4 ? 2 : n <= 8 ? 3 : n <= 16 ? 4 : n <= 32 ? 5 : 6;
}
}  // namespace

Bytes ReduceDle(const Bytes& data, int factor) {
  if (factor < 1 || factor > 4) throw std::invalid_argument("reduce factor");
  const unsigned lengthMask = 0xFFu >> factor;
  const unsigned distanceShift = 8 - static_cast<unsigned>(factor);
  const size_t maxDistance = static_cast<size_t>(256) << (8 - distanceShift);  // 512 .. 4096
  const size_t maxLength = lengthMask + 255 + 3;
  Bytes out;
  MatchFinder finder(data);
  // A match of 3 within 256 bytes would need V = 0, which means a literal DLE.
  auto usable = [](size_t length, size_t distance) {
    return length >= 3 && !(length == 3 && distance <= 256);
  };
  size_t pos = 0;
  while (pos < data.size()) {
    auto [length, distance] = finder.Find(pos, maxDistance, maxLength, usable);
    if (length >= 3) {
      const size_t d = distance - 1;
      const unsigned field = static_cast<unsigned>(std::min<size_t>(length - 3, lengthMask));
      out.push_back(kDle);
      out.push_back(static_cast<uint8_t>((d >> 8) << distanceShift | field));
      if (field == lengthMask) out.push_back(static_cast<uint8_t>(length - 3 - lengthMask));
      out.push_back(static_cast<uint8_t>(d & 0xFF));
      for (size_t i = 0; i < length; ++i) finder.Insert(pos + i);
      pos += length;
    } else {
      out.push_back(data[pos]);
      if (data[pos] == kDle) out.push_back(0);
      finder.Insert(pos);
      ++pos;
    }
  }
  return out;
}

Bytes ReduceFollowers(const Bytes& dle, FollowerMode mode) {
  std::vector<std::array<uint32_t, 256>> counts(256);
  for (auto& row : counts) row.fill(0);
  uint8_t last = 0;
  for (uint8_t c : dle) {
    ++counts[last][c];
    last = c;
  }
  std::vector<std::vector<uint8_t>> sets(256);
  for (int l = 0; l < 256; ++l) {
    std::vector<uint8_t> order;
    for (int c = 0; c < 256; ++c)
      if (counts[l][c]) order.push_back(static_cast<uint8_t>(c));
    std::stable_sort(order.begin(), order.end(),
                     [&](uint8_t a, uint8_t b) { return counts[l][a] > counts[l][b]; });
    const int most = std::min<int>(32, static_cast<int>(order.size()));
    int chosen = 0;
    if (mode == FollowerMode::Full) {
      chosen = most;
    } else if (mode == FollowerMode::Best) {
      uint64_t total = 0;
      for (uint8_t c : order) total += counts[l][c];
      uint64_t best = total * 8, inSet = 0;
      for (int n = 1; n <= most; ++n) {
        inSet += counts[l][order[n - 1]];
        const uint64_t cost = 8ull * n + inSet * (1 + FollowerBits(n)) + (total - inSet) * 9;
        if (cost < best) {
          best = cost;
          chosen = n;
        }
      }
    }
    sets[l].assign(order.begin(), order.begin() + chosen);
  }

  LsbBitWriter out;
  for (int l = 255; l >= 0; --l) {
    out.Put(static_cast<uint32_t>(sets[l].size()), 6);
    for (uint8_t c : sets[l]) out.Put(c, 8);
  }
  last = 0;
  for (uint8_t c : dle) {
    const auto& set = sets[last];
    if (set.empty()) {
      out.Put(c, 8);
    } else {
      const auto it = std::find(set.begin(), set.end(), c);
      if (it == set.end()) {
        out.Put(1, 1);
        out.Put(c, 8);
      } else {
        out.Put(0, 1);
        out.Put(static_cast<uint32_t>(it - set.begin()),
                FollowerBits(static_cast<int>(set.size())));
      }
    }
    last = c;
  }
  return out.Finish();
}

// ---- implode ------------------------------------------------------------------------------------
namespace {

constexpr int kMaxCodeBits = 16;

// Huffman code lengths for every symbol (each counted at least once), at most 16 bits.
std::vector<int> CodeLengths(std::vector<uint64_t> freq) {
  for (auto& f : freq) f = std::max<uint64_t>(f, 1);
  const size_t n = freq.size();
  for (;;) {
    std::vector<int> parent(2 * n, -1);
    using Node = std::pair<uint64_t, int>;
    std::priority_queue<Node, std::vector<Node>, std::greater<Node>> queue;
    for (size_t i = 0; i < n; ++i) queue.push({freq[i], static_cast<int>(i)});
    int next = static_cast<int>(n);
    while (queue.size() > 1) {
      const Node a = queue.top();
      queue.pop();
      const Node b = queue.top();
      queue.pop();
      parent[a.second] = parent[b.second] = next;
      queue.push({a.first + b.first, next++});
    }
    std::vector<int> lengths(n, 0);
    int longest = 0;
    for (size_t i = 0; i < n; ++i) {
      int depth = 0;
      for (int p = static_cast<int>(i); parent[p] >= 0; p = parent[p]) ++depth;
      lengths[i] = depth;
      longest = std::max(longest, depth);
    }
    if (longest <= kMaxCodeBits) return lengths;
    for (auto& f : freq) f = std::max<uint64_t>(1, f / 2);
  }
}

// The codes a decoder assigns: entries sorted by length and value, codes counted from the last.
std::vector<uint16_t> ShannonFanoCodes(const std::vector<int>& lengths) {
  std::vector<int> order(lengths.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return lengths[a] < lengths[b]; });
  std::vector<uint16_t> codes(lengths.size());
  uint16_t code = 0, increment = 0;
  int lastLength = 0;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    code = static_cast<uint16_t>(code + increment);
    if (lengths[*it] != lastLength) {
      lastLength = lengths[*it];
      increment = static_cast<uint16_t>(1u << (kMaxCodeBits - lastLength));
    }
    codes[*it] = static_cast<uint16_t>(code >> (kMaxCodeBits - lengths[*it]));
  }
  return codes;
}

// The tree description: runs of equal lengths, at most 16 per byte, behind a byte count - 1.
void PutTree(LsbBitWriter& out, const std::vector<int>& lengths) {
  Bytes description;
  for (size_t i = 0; i < lengths.size();) {
    size_t run = 1;
    while (run < 16 && i + run < lengths.size() && lengths[i + run] == lengths[i]) ++run;
    description.push_back(static_cast<uint8_t>((run - 1) << 4 | (lengths[i] - 1)));
    i += run;
  }
  out.Put(static_cast<uint32_t>(description.size() - 1), 8);
  for (uint8_t b : description) out.Put(b, 8);
}

}  // namespace

std::vector<ImplodeToken> ImplodeParse(const Bytes& data, bool bigWindow, bool threeTrees) {
  const size_t window = bigWindow ? 8192 : 4096;
  const size_t minMatch = threeTrees ? 3 : 2;
  const size_t maxLength = 63 + 255 + minMatch;
  std::vector<ImplodeToken> tokens;
  MatchFinder finder(data);
  auto usable = [&](size_t length, size_t) { return length >= minMatch; };
  size_t pos = 0;
  while (pos < data.size()) {
    auto [length, distance] = finder.Find(pos, window, maxLength, usable);
    if (length >= minMatch) {
      tokens.push_back({static_cast<uint16_t>(length), static_cast<uint16_t>(distance), 0});
      for (size_t i = 0; i < length; ++i) finder.Insert(pos + i);
      pos += length;
    } else {
      tokens.push_back({0, 0, data[pos]});
      finder.Insert(pos);
      ++pos;
    }
  }
  return tokens;
}

Bytes ImplodeTokens(const std::vector<ImplodeToken>& tokens, bool bigWindow, bool threeTrees) {
  const unsigned lowBits = bigWindow ? 7 : 6;
  const unsigned minMatch = threeTrees ? 3 : 2;
  std::vector<uint64_t> literalFreq(256, 0), lengthFreq(64, 0), distanceFreq(64, 0);
  for (const auto& t : tokens) {
    if (t.length == 0) {
      ++literalFreq[t.literal];
    } else {
      if (t.length < minMatch || t.length > 63 + 255 + minMatch || t.distance == 0 ||
          t.distance > (1u << (lowBits + 6)))
        throw std::invalid_argument("implode token out of range");
      ++lengthFreq[std::min(63u, t.length - minMatch)];
      ++distanceFreq[(t.distance - 1u) >> lowBits];
    }
  }
  const auto literalLengths = CodeLengths(literalFreq);
  const auto lengthLengths = CodeLengths(lengthFreq);
  const auto distanceLengths = CodeLengths(distanceFreq);
  const auto literalCodes = ShannonFanoCodes(literalLengths);
  const auto lengthCodes = ShannonFanoCodes(lengthLengths);
  const auto distanceCodes = ShannonFanoCodes(distanceLengths);

  LsbBitWriter out;
  if (threeTrees) PutTree(out, literalLengths);
  PutTree(out, lengthLengths);
  PutTree(out, distanceLengths);
  for (const auto& t : tokens) {
    if (t.length == 0) {
      out.Put(1, 1);
      if (threeTrees) {
        out.PutMsbFirst(literalCodes[t.literal], static_cast<unsigned>(literalLengths[t.literal]));
      } else {
        out.Put(t.literal, 8);
      }
      continue;
    }
    out.Put(0, 1);
    const unsigned d = t.distance - 1u;
    out.Put(d & ((1u << lowBits) - 1), lowBits);
    const unsigned high = d >> lowBits;
    out.PutMsbFirst(distanceCodes[high], static_cast<unsigned>(distanceLengths[high]));
    const unsigned l = t.length - minMatch;
    const unsigned symbol = std::min(63u, l);
    out.PutMsbFirst(lengthCodes[symbol], static_cast<unsigned>(lengthLengths[symbol]));
    if (symbol == 63) out.Put(l - 63, 8);
  }
  return out.Finish();
}

// ---- test data ----------------------------------------------------------------------------------
namespace {
struct Rng {
  uint64_t s;
  explicit Rng(uint32_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<uint32_t>(s >> 11);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }
};
}  // namespace

Bytes TextData(size_t size, uint32_t seed) {
  static const char* const kWords[] = {
      "the",     "archive",  "member", "window",   "code",    "shrink", "reduce",  "implode",
      "of",      "and",      "a",      "to",       "in",      "is",     "that",    "data",
      "length",  "distance", "tree",   "follower", "table",   "bits",   "byte",    "stream",
      "decoder", "output",   "input",  "checksum", "partial", "clear",  "literal", "match"};
  Rng rng(seed);
  Bytes out;
  out.reserve(size + 16);
  while (out.size() < size) {
    const char* w = kWords[rng.Below(32)];
    if (rng.Below(9) == 0) {  // an occasional made-up word keeps the vocabulary open
      for (unsigned i = 0, n = 3 + rng.Below(6); i < n; ++i)
        out.push_back(static_cast<uint8_t>('a' + rng.Below(26)));
    } else {
      out.insert(out.end(), w, w + std::strlen(w));
    }
    const uint32_t p = rng.Below(20);
    out.push_back(p == 0 ? '\n' : p == 1 ? ',' : p == 2 ? '.' : ' ');
  }
  out.resize(size);
  return out;
}

Bytes BinaryData(size_t size, uint32_t seed) {
  Rng rng(seed);
  Bytes out;
  out.reserve(size + 32);
  uint32_t counter = rng.Next() & 0xFFFF;
  while (out.size() < size) {
    // A 16-byte record: a counter, a type, small values and the odd random word.
    counter += 1 + rng.Below(3);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(counter >> (8 * i)));
    out.push_back(static_cast<uint8_t>(rng.Below(4)));
    out.push_back(0);
    out.push_back(static_cast<uint8_t>(rng.Below(16)));
    out.push_back(0x90);  // DLE bytes in the data
    const uint32_t noise = rng.Below(4) == 0 ? rng.Next() : 0;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(noise >> (8 * i)));
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(i * 0x11));
  }
  out.resize(size);
  return out;
}

Bytes RandomData(size_t size, uint32_t seed) {
  Rng rng(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<uint8_t>(rng.Next());
  return out;
}

Bytes MixedData(size_t size, uint32_t seed) {
  Rng rng(seed);
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    const size_t chunk = 4096 + rng.Below(60000);
    Bytes part;
    switch (rng.Below(8)) {
      case 0:
        part = RandomData(chunk / 4, rng.Next());
        break;
      case 1:
        part.assign(chunk / 2, static_cast<uint8_t>(rng.Next()));
        break;
      case 2:
      case 3:
      case 4:
        part = BinaryData(chunk, rng.Next());
        break;
      default:
        part = TextData(chunk, rng.Next());
        break;
    }
    out.insert(out.end(), part.begin(), part.end());
  }
  out.resize(size);
  return out;
}

}  // namespace legacytest
