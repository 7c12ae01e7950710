// Fuzz harness for decoding one deflate stream in pieces: arbitrary bytes decoded as raw deflate
// data from end to end (stopping at every block end, which must give what one call gives), then
// block starts searched from points in the data and runs decoded from them: a run from a real
// block start must resolve to the stream's own bytes and end at a block start; from anywhere
// else it must only not fail. Last, the driver stops at one block start and goes on at a later
// one with the history before it, which must end as the stream does. Output stops after 4 MiB.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "archive/codecs/arvInflate.h"
#include "archive/common/arvStreams.h"

namespace {

constexpr size_t kMaxOutput = size_t{4} << 20;

struct TWhole {
  std::vector<uint8_t> plain;
  std::map<uint64_t, size_t> starts;  // block start (bit) -> output before it
  int code = kInflateOk;
};

TWhole Decode(const uint8_t* data, size_t size, int flush) {
  TWhole w;
  TInflateStream z{};
  if (InflateInit(z, kRawDeflateWindowBits, kInflateStreamSize) != kInflateOk) std::abort();
  std::vector<uint8_t> out(1 << 16);
  z.next_in = data;
  z.avail_in = static_cast<uint32_t>(size);
  while (w.plain.size() < kMaxOutput) {
    z.next_out = out.data();
    z.avail_out = static_cast<uint32_t>(std::min(out.size(), kMaxOutput - w.plain.size()));
    w.code = Inflate(z, flush);
    w.plain.insert(w.plain.end(), out.data(), z.next_out);
    if (InflateAtBlockStart(z)) w.starts[InflateBitPosition(z)] = static_cast<size_t>(z.total_out);
    if (w.code != kInflateOk) break;
  }
  InflateEnd(z);
  return w;
}

std::vector<uint8_t> HistoryBefore(const std::vector<uint8_t>& plain, size_t at) {
  std::vector<uint8_t> h(kInflateAheadHistory, 0);
  const size_t n = std::min(at, kInflateAheadHistory);
  std::memcpy(h.data() + kInflateAheadHistory - n, plain.data() + at - n, n);
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (size_t{1} << 22)) return 0;
  const TWhole whole = Decode(data, size, kInflateBlock);
  const TWhole plainly = Decode(data, size, kInflateNoFlush);
  if (whole.plain != plainly.plain || whole.code != plainly.code) std::abort();

  std::vector<uint8_t> padded(data, data + size);
  padded.resize(size + kInflateAheadSlack, 0);
  TInflateStream engine{};
  if (InflateInit(engine, kRawDeflateWindowBits, kInflateStreamSize) != kInflateOk) std::abort();
  TInflateAhead run;
  std::vector<uint8_t> resolved;
  for (const uint64_t from : {uint64_t{0}, size * 8 / 4, size * 8 / 2, size * 8 * 3 / 4}) {
    const uint64_t start = InflateFindBlockStart(engine, padded.data(), size, from, size * 8);
    if (start == kInflateNoBlockStart) continue;
    if (start < from || start >= size * 8) std::abort();
    const bool decoded = InflateDecodeAhead(engine, padded.data(), size, start, start + 8 * 65536,
                                            size_t{1} << 18, run);
    const auto known = whole.starts.find(start);
    if (!decoded || known == whole.starts.end()) continue;
    if (run.Count > (size_t{1} << 18) || run.EndBit <= run.StartBit) std::abort();
    const size_t at = known->second;
    if (at + run.Count > whole.plain.size()) continue;  // past the output kept
    const std::vector<uint8_t> history = HistoryBefore(whole.plain, at);
    resolved.resize(run.Count);
    InflateResolveAhead(run.Symbols(), run.Count, history.data(), resolved.data());
    if (std::memcmp(resolved.data(), whole.plain.data() + at, run.Count) != 0) std::abort();
    if (whole.code != kInflateStreamEnd) continue;  // block starts past the output kept are unknown
    const auto end = whole.starts.find(run.EndBit);
    if (!run.Final && (end == whole.starts.end() || end->second != at + run.Count)) std::abort();
    if (run.Final && at + run.Count != whole.plain.size()) std::abort();
  }
  InflateEnd(engine);

  // Stop at the first block start past the first, go on at the last one.
  if (whole.code != kInflateStreamEnd || whole.starts.size() < 3) return 0;
  const auto stop = std::next(whole.starts.begin());
  const auto goOn = std::prev(whole.starts.end());
  std::vector<uint8_t> input(777);
  TInflateDriver driver(input.data(), static_cast<int32_t>(input.size()));
  if (driver.Start(kRawDeflateWindowBits, false) != kInflateOk) std::abort();
  size_t read = 0;
  const TInflateSource source = [&](uint8_t* into, int32_t room) {
    const size_t n = std::min<size_t>(static_cast<size_t>(room), size - read);
    std::memcpy(into, data + read, n);
    read += n;
    return static_cast<int32_t>(n);
  };
  const TInflateSkip skip = [&](uint64_t bytes) {
    if (bytes > size - read) return false;
    read += bytes;
    return true;
  };
  std::vector<uint8_t> out(whole.plain.size() + 64);
  size_t made = 0;
  TInflateStep step = TInflateStep::Full;
  while (step == TInflateStep::Full) {
    step = driver.RunTo(out.data() + made, static_cast<uint32_t>(out.size() - made), source,
                        stop->first);
    made += driver.Produced();
  }
  if (step != TInflateStep::Block || driver.BitPosition() != stop->first || made != stop->second)
    std::abort();
  const std::vector<uint8_t> history = HistoryBefore(whole.plain, goOn->second);
  if (!driver.SkipTo(goOn->first, history.data(), source, skip)) std::abort();
  made = goOn->second;
  do {
    step = driver.Run(out.data() + made, static_cast<uint32_t>(out.size() - made), source);
    made += driver.Produced();
  } while (step == TInflateStep::Full && made < out.size());
  if (step != TInflateStep::End || made != whole.plain.size() ||
      std::memcmp(out.data() + goOn->second, whole.plain.data() + goOn->second,
                  made - goOn->second) != 0)
    std::abort();
  return 0;
}
