// HA's CPY and ASC methods. ASC is LZ77 with arithmetic coding: a 16-bit binary arithmetic
// decoder (bit-wise renormalisation, underflow by the second-quarter rule) reads, in turn, whether
// a literal or a match comes (in the context of the last two choices), then the literal, or the
// match's position class, its low bits and its length. Literals and length codes start unseen:
// the first time each comes it is sent through an escape and a second table of the codes not yet
// seen, whose neighbours then grow likelier. Frequencies sit in binary trees of partial sums.
#include "archive/codecs/arvHa.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr size_t kInputBlock = 32768;
constexpr size_t kOutputBlock = 65536;

// ---- the arithmetic decoder ------------------------------------------------------------------
class TArithDecoder {
 public:
  explicit TArithDecoder(const TCodecIo& io) : FIo(io) {}

  void Start() {
    FHigh = 0xFFFF;
    FLow = 0;
    FPattern = 0;
    FValue = static_cast<uint16_t>(ReadByte() << 8);
    FValue = static_cast<uint16_t>(FValue | ReadByte());
  }
  // Where the code value stands in [0, total); damaged data that points outside marks Bad().
  unsigned Threshold(unsigned total) {
    const uint32_t range = static_cast<uint32_t>(FHigh - FLow) + 1;
    const uint32_t offset = static_cast<uint16_t>(FValue - FLow);
    if (total == 0 || FHigh < FLow || FValue < FLow) {
      FBad = true;
      return 0;
    }
    const auto v = static_cast<unsigned>(((offset + 1) * uint64_t{total} - 1) / range);
    if (v >= total) {
      FBad = true;
      return 0;
    }
    return v;
  }
  bool Bad() const { return FBad; }
  void Take(unsigned low, unsigned high, unsigned total) {
    if (low >= high || high > total) {  // an empty table or interval: damaged data
      FBad = true;
      return;
    }
    const uint32_t range = static_cast<uint32_t>(FHigh - FLow) + 1;
    FHigh = static_cast<uint16_t>(range * high / total - 1 + FLow);
    FLow = static_cast<uint16_t>(FLow + range * low / total);
    while (((FHigh ^ FLow) & 0x8000) == 0) {
      FLow = static_cast<uint16_t>(FLow << 1);
      FHigh = static_cast<uint16_t>(FHigh << 1 | 1);
      FValue = static_cast<uint16_t>(FValue << 1 | NextBit());
    }
    while ((FLow & 0x4000) != 0 && (FHigh & 0x4000) == 0) {
      FLow = static_cast<uint16_t>((FLow << 1) & 0x7FFF);
      FHigh = static_cast<uint16_t>(FHigh << 1 | 0x8001);
      FValue = static_cast<uint16_t>(((FValue << 1) ^ 0x8000) | NextBit());
    }
  }
  // Bytes asked for past the end of the data.
  unsigned Overrun() const { return FOverrun; }

 private:
  unsigned NextBit() {
    FPattern <<= 1;
    if ((FPattern & 0xFF) == 0) FPattern = ReadByte() << 1 | 1;
    return (FPattern >> 8) & 1;
  }
  unsigned ReadByte() {
    if (FPos == FEnd) {
      const size_t got = FIo.Read ? FIo.Read(FBuffer, kInputBlock) : 0;
      if (got == 0 || got > kInputBlock) {
        ++FOverrun;
        return 0xFF;  // what a failed read gave the original: all ones
      }
      FPos = FBuffer;
      FEnd = FBuffer + got;
    }
    return *FPos++;
  }

  const TCodecIo& FIo;
  uint16_t FHigh = 0xFFFF;
  uint16_t FLow = 0;
  uint16_t FValue = 0;
  unsigned FPattern = 0;
  unsigned FOverrun = 0;
  bool FBad = false;
  uint8_t FBuffer[kInputBlock];
  const uint8_t* FPos = FBuffer;
  const uint8_t* FEnd = FBuffer;
};

// ---- frequency trees: leaves at [n, 2n), node i the sum of 2i and 2i+1 ----------------------------
template <unsigned N>
struct TFreqTree {
  uint16_t T[2 * N];

  void Init(uint16_t value) {
    for (unsigned i = N; i < 2 * N; ++i) T[i] = value;
    Sum();
  }
  void Sum() {
    for (unsigned i = N - 1, j = 2 * N - 2; i != 0; --i, j -= 2)
      T[i] = static_cast<uint16_t>(T[j] + T[j + 1]);
  }
  void Scale() {
    for (unsigned i = 2 * N - 1; i >= N; --i)
      if (T[i] > 1) T[i] = static_cast<uint16_t>(T[i] >> 1);
    Sum();
  }
  void Add(unsigned code, unsigned step, unsigned max) {
    for (unsigned i = code + N; i != 0; i >>= 1) T[i] = static_cast<uint16_t>(T[i] + step);
    if (T[1] >= max) Scale();
  }
  void Zero(unsigned code) {
    const uint16_t step = T[code + N];
    for (unsigned i = code + N; i != 0; i >>= 1) T[i] = static_cast<uint16_t>(T[i] - step);
  }
  uint16_t Leaf(unsigned code) const { return T[code + N]; }
  uint16_t Total() const { return T[1]; }
  // The code whose interval holds `value`, and the sum of the codes before it.
  unsigned Find(unsigned value, unsigned& before) const {
    unsigned i = 1;
    before = 0;
    while (i < N) {
      i <<= 1;
      if (before + T[i] <= value) {
        before += T[i];
        ++i;
      }
    }
    return i - N;
  }
};

// ---- ASC ---------------------------------------------------------------------------------------
constexpr unsigned kWindow = 31200;  // POSCODES: positions (distances minus 1) below this
constexpr unsigned kMinLength = 3;
constexpr unsigned kShortCodes = 16;
constexpr unsigned kLongCodes = 48;
constexpr unsigned kLongSpan = 16;
constexpr unsigned kLongBits = 4;
constexpr unsigned kLengthCodes = kShortCodes + kLongCodes * kLongSpan;
constexpr unsigned kLengthTreeCodes = kShortCodes + kLongCodes;  // 64
constexpr unsigned kCharCodes = 256;
constexpr unsigned kPosCodes = 16;
constexpr unsigned kLengthStep = 8;
constexpr unsigned kLengthMax = 750 * kLengthStep;
constexpr unsigned kCharStep = 1;
constexpr unsigned kCharMax = 1000 * kCharStep;
constexpr unsigned kPosStep = 24;
constexpr unsigned kPosMax = 250 * kPosStep;
constexpr unsigned kTypeStep = 40;
constexpr unsigned kTypeMax = 150 * kTypeStep;
constexpr unsigned kTypeOrder = 4;
constexpr unsigned kLengthCutoff = 3 * kLengthStep;
constexpr unsigned kCharCutoff = 3 * kCharStep;
constexpr unsigned kCharNeighbours = 8;
constexpr unsigned kLengthNeighbours = 4;

class TAscDecoder {
 public:
  TAscDecoder(const TCodecIo& io, uint64_t size) : FIo(io), FCoder(io), FSize(size) {}

  THaResult Run() {
    THaResult result;
    InitModel();
    FCoder.Start();
    unsigned context = 0;
    for (;;) {
      if (FCoder.Overrun() > 2) {
        result.Status = TCodecStatus::Truncated;
        break;
      }
      if (FCoder.Bad()) {
        result.Status = TCodecStatus::Corrupt;
        break;
      }
      if (FIo.Cancel != nullptr && *FIo.Cancel != 0 && FFilled == 0) {
        result.Status = TCodecStatus::Cancelled;
        break;
      }
      const unsigned t0 = FType[context][0];
      const unsigned sum = t0 + FType[context][1];
      const unsigned v = FCoder.Threshold(sum + 1);
      if (v < t0) {
        FCoder.Take(0, t0, sum + 1);
        FType[context][0] = static_cast<uint16_t>(FType[context][0] + kTypeStep);
        if (sum >= kTypeMax) ScaleType(context);
        context = (context << 1) & (kTypeOrder - 1);
        if (!PutChar(static_cast<uint8_t>(DecodeChar()))) {
          result.Status = TCodecStatus::Corrupt;
          break;
        }
      } else if (v < sum) {
        FCoder.Take(t0, sum, sum + 1);
        FType[context][1] = static_cast<uint16_t>(FType[context][1] + kTypeStep);
        if (sum >= kTypeMax) ScaleType(context);
        context = ((context << 1) | 1) & (kTypeOrder - 1);
        const unsigned position = DecodePosition();
        const unsigned length = DecodeLength();
        if (!CopyMatch(position, length)) {
          result.Status = TCodecStatus::Corrupt;
          break;
        }
      } else {
        FCoder.Take(sum, sum + 1, sum + 1);
        if (FOut < FSize) result.Status = TCodecStatus::Truncated;
        break;
      }
    }
    Flush();
    result.Written = FOut - FFilled;
    return result;
  }

 private:
  void InitModel() {
    FCharEscape = kCharStep;
    FLengthEscape = kLengthStep;
    FSeen = 0;
    FPosLimit = 1;
    FPosActive = 1;
    for (auto& t : FType) t[0] = t[1] = kTypeStep;
    FLengths.Init(0);
    FLengthEsc.Init(1);
    FChars.Init(0);
    FCharEsc.Init(1);
    FPositions.Init(0);
    FPositions.Add(0, kPosStep, kPosMax);
  }
  void ScaleType(unsigned c) {
    for (auto& f : FType[c]) {
      f = static_cast<uint16_t>(f >> 1);
      if (f == 0) f = 1;
    }
  }

  // A literal or a length code: seen ones from `seen`, else through the escape and `unseen`.
  template <unsigned N>
  unsigned DecodeAdaptive(TFreqTree<N>& seen, TFreqTree<N>& unseen, unsigned& escape,
                          unsigned step, unsigned max, unsigned cutoff, unsigned neighbours) {
    const unsigned total = seen.Total() + escape;
    unsigned before = 0;
    unsigned code;
    const unsigned v = FCoder.Threshold(total);
    if (v < seen.Total()) {
      code = seen.Find(v, before);
      FCoder.Take(before, before + seen.Leaf(code), total);
    } else {
      FCoder.Take(seen.Total(), total, total);
      const unsigned u = FCoder.Threshold(unseen.Total());
      code = unseen.Find(u, before);
      FCoder.Take(before, before + unseen.Leaf(code), unseen.Total());
      unseen.Zero(code);
      if (unseen.Total() != 0)
        escape += step;
      else
        escape = 0;
      const unsigned from = code <= neighbours ? 0 : code - neighbours;
      const unsigned to = code + neighbours >= N - 1 ? N - 1 : code + neighbours;
      for (unsigned k = from; k < to; ++k)
        if (unseen.Leaf(k) != 0) unseen.Add(k, 1, max);
    }
    seen.Add(code, step, max);
    if (seen.Leaf(code) == cutoff) escape -= step < escape ? step : escape - 1;
    return code;
  }

  unsigned DecodeChar() {
    const unsigned c = DecodeAdaptive(FChars, FCharEsc, FCharEscape, kCharStep, kCharMax,
                                      kCharCutoff, kCharNeighbours);
    if (FSeen < kWindow) ++FSeen;
    return c;
  }

  unsigned DecodePosition() {
    while (FSeen > FPosLimit) {
      FPositions.Add(FPosActive++, kPosStep, kPosMax);
      FPosLimit <<= 1;
    }
    unsigned before = 0;
    const unsigned total = FPositions.Total();
    const unsigned code = FPositions.Find(FCoder.Threshold(total), before);
    FCoder.Take(before, before + FPositions.Leaf(code), total);
    FPositions.Add(code, kPosStep, kPosMax);
    if (code <= 1) return code;
    const unsigned top = 1u << (code - 1);
    const unsigned span = top == (FPosLimit >> 1) ? FSeen - (FPosLimit >> 1) : top;
    const unsigned low = FCoder.Threshold(span);
    FCoder.Take(low, low + 1, span);
    return top + low;
  }

  unsigned DecodeLength() {
    const unsigned code = DecodeAdaptive(FLengths, FLengthEsc, FLengthEscape, kLengthStep,
                                         kLengthMax, kLengthCutoff, kLengthNeighbours);
    unsigned length;
    if (code == kShortCodes - 1) {
      length = kLengthCodes - 1;
    } else if (code < kShortCodes - 1) {
      length = code;
    } else {
      const unsigned low = FCoder.Threshold(kLongSpan);
      FCoder.Take(low, low + 1, kLongSpan);
      length = ((code - kShortCodes) << kLongBits) + low + kShortCodes - 1;
    }
    length += kMinLength;
    if (FSeen < kWindow) FSeen = std::min(FSeen + length, kWindow);
    return length;
  }

  bool PutChar(uint8_t c) {
    if (FOut >= FSize) return false;
    FWindow[FPos] = c;
    FPos = FPos + 1 == kWindow ? 0 : FPos + 1;
    FBlock[FFilled++] = c;
    ++FOut;
    if (FFilled == kOutputBlock) Flush();
    return true;
  }
  bool CopyMatch(unsigned position, unsigned length) {
    if (position >= FOut || position >= kWindow) return false;
    unsigned from = FPos >= position + 1 ? FPos - position - 1 : FPos + kWindow - position - 1;
    for (unsigned i = 0; i < length; ++i) {
      if (!PutChar(FWindow[from])) return false;
      from = from + 1 == kWindow ? 0 : from + 1;
    }
    return true;
  }
  void Flush() {
    if (FFilled == 0) return;
    FIo.Write(FBlock, FFilled);
    FFilled = 0;
  }

  const TCodecIo& FIo;
  TArithDecoder FCoder;
  uint64_t FSize;
  uint64_t FOut = 0;
  uint16_t FType[kTypeOrder][2] = {};
  TFreqTree<kLengthTreeCodes> FLengths{};
  TFreqTree<kLengthTreeCodes> FLengthEsc{};
  TFreqTree<kCharCodes> FChars{};
  TFreqTree<kCharCodes> FCharEsc{};
  TFreqTree<kPosCodes> FPositions{};
  unsigned FCharEscape = 0;
  unsigned FLengthEscape = 0;
  unsigned FSeen = 0;  // bytes of history, at most the window
  unsigned FPosLimit = 1;
  unsigned FPosActive = 1;
  uint8_t FWindow[kWindow] = {};
  unsigned FPos = 0;
  uint8_t FBlock[kOutputBlock];
  size_t FFilled = 0;
};

THaResult CopyStored(const TCodecIo& io, uint64_t size) {
  THaResult result;
  std::vector<uint8_t> buffer(kOutputBlock);
  while (result.Written < size) {
    if (io.Cancel != nullptr && *io.Cancel != 0) {
      result.Status = TCodecStatus::Cancelled;
      return result;
    }
    const size_t want = static_cast<size_t>(std::min<uint64_t>(size - result.Written, kOutputBlock));
    const size_t got = io.Read(buffer.data(), want);
    if (got == 0 || got > want) {
      result.Status = TCodecStatus::Truncated;
      return result;
    }
    io.Write(buffer.data(), got);
    result.Written += got;
  }
  return result;
}

}  // namespace

THaResult DecodeHaMember(unsigned method, const TCodecIo& io, uint64_t size) {
  if (method == kHaMethodCpy) return CopyStored(io, size);
  if (method != kHaMethodAsc) {
    THaResult result;
    result.Status = TCodecStatus::Unsupported;
    return result;
  }
  std::unique_ptr<TAscDecoder> decoder(new (std::nothrow) TAscDecoder(io, size));
  if (!decoder) {
    THaResult result;
    result.Status = TCodecStatus::Unsupported;
    return result;
  }
  return decoder->Run();
}
