// Inflate throughput on the corpus that bench/make_corpus.py writes: this engine driven the way
// the decompressing stream drives it (64 KiB input blocks, 32 KiB output steps) and in one call,
// zlib's streaming inflate with the same steps, and libdeflate's one-shot decoder, all on the same
// data in one run; Deflate64 data (made by 7-Zip) with this engine only. Prints the median MB/s
// (10^6 output bytes per second) of several runs and the ratios last. Every decoder's output is
// checked once before timing; the timing itself verifies nothing. Times are CPU time of the
// process (single-threaded), so other work on a shared machine counts less.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "archive/codecs/arvInflate.h"

#include <libdeflate.h>
#include <zlib.h>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kInBlock = 65536;  // the decompressing stream's input block
constexpr size_t kOutStep = 32768;  // the zip extractor's output chunk

int gRuns = 7;

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  Bytes data(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return data;
}

// Decodes `packed` into `out` (sized to the expected output); returns bytes produced or -1.
using TDecoder = std::function<long(const Bytes& packed, Bytes& out)>;

long OursStreaming(const Bytes& packed, Bytes& out, bool deflate64) {
  TInflateStream z{};
  if (InflateInit(z, -15, kInflateStreamSize, deflate64) != Z_OK) return -1;
  size_t inPos = 0;
  int ret = Z_OK;
  while (ret == Z_OK || ret == Z_BUF_ERROR) {
    if (z.avail_in == 0) {
      const size_t n = std::min(kInBlock, packed.size() - inPos);
      z.next_in = packed.data() + inPos;
      z.avail_in = static_cast<uint32_t>(n);
      inPos += n;
    }
    const size_t room = std::min(kOutStep, out.size() - z.total_out);
    z.next_out = out.data() + z.total_out;
    z.avail_out = static_cast<uint32_t>(room);
    ret = Inflate(z, Z_NO_FLUSH);
    if (ret == Z_BUF_ERROR && (inPos == packed.size() || room == 0)) break;
  }
  const long produced = ret == Z_STREAM_END ? static_cast<long>(z.total_out) : -1;
  InflateEnd(z);
  return produced;
}

long OursOneShot(const Bytes& packed, Bytes& out, bool deflate64) {
  TInflateStream z{};
  if (InflateInit(z, -15, kInflateStreamSize, deflate64) != Z_OK) return -1;
  z.next_in = packed.data();
  z.avail_in = static_cast<uint32_t>(packed.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uint32_t>(out.size());
  const int ret = Inflate(z, Z_FINISH);
  const long produced = ret == Z_STREAM_END ? static_cast<long>(z.total_out) : -1;
  InflateEnd(z);
  return produced;
}

long ZlibStreaming(const Bytes& packed, Bytes& out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return -1;
  size_t inPos = 0;
  int ret = Z_OK;
  while (ret == Z_OK || ret == Z_BUF_ERROR) {
    if (z.avail_in == 0) {
      const size_t n = std::min(kInBlock, packed.size() - inPos);
      z.next_in = const_cast<Bytef*>(packed.data() + inPos);
      z.avail_in = static_cast<uInt>(n);
      inPos += n;
    }
    const size_t room = std::min(kOutStep, out.size() - z.total_out);
    z.next_out = out.data() + z.total_out;
    z.avail_out = static_cast<uInt>(room);
    ret = inflate(&z, Z_NO_FLUSH);
    if (ret == Z_BUF_ERROR && (inPos == packed.size() || room == 0)) break;
  }
  const long produced = ret == Z_STREAM_END ? static_cast<long>(z.total_out) : -1;
  inflateEnd(&z);
  return produced;
}

long LibdeflateOneShot(const Bytes& packed, Bytes& out) {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  size_t actual = 0;
  const libdeflate_result r = libdeflate_deflate_decompress(d, packed.data(), packed.size(),
                                                            out.data(), out.size(), &actual);
  libdeflate_free_decompressor(d);
  return r == LIBDEFLATE_SUCCESS ? static_cast<long>(actual) : -1;
}

struct TEntry {
  const char* label;
  TDecoder decode;
  double median = 0;
};

// Times every decoder on one compressed file, round-robin (one run of each per round, so a load
// change on the machine hits all of them alike), after one checked run each. Prints and keeps the
// median MB/s; 0 when a decoder's output is wrong.
void MeasureAll(std::vector<TEntry>& entries, const Bytes& packed, const Bytes& raw) {
  Bytes out(raw.size());
  std::vector<std::vector<double>> rates(entries.size());
  std::vector<bool> ok(entries.size());
  for (size_t e = 0; e < entries.size(); ++e) {
    std::fill(out.begin(), out.end(), 0);
    ok[e] = entries[e].decode(packed, out) == static_cast<long>(raw.size()) && out == raw;
  }
  for (int run = 0; run < gRuns; ++run) {
    for (size_t e = 0; e < entries.size(); ++e) {
      if (!ok[e]) continue;
      const std::clock_t t0 = std::clock();
      entries[e].decode(packed, out);
      const double seconds = static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
      rates[e].push_back(static_cast<double>(raw.size()) / 1e6 / seconds);
    }
  }
  for (size_t e = 0; e < entries.size(); ++e) {
    if (!ok[e]) {
      std::printf("  %-36s WRONG OUTPUT\n", entries[e].label);
      continue;
    }
    std::vector<double>& r = rates[e];
    std::sort(r.begin(), r.end());
    entries[e].median = r[r.size() / 2];
    std::printf("  %-36s %8.1f MB/s  (min %.1f, max %.1f)\n", entries[e].label, entries[e].median,
                r.front(), r.back());
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: %s CORPUS_DIR [runs]\n  (make the corpus with bench/make_corpus.py)\n",
                 argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  if (argc > 2) gRuns = std::max(1, std::atoi(argv[2]));
  const Bytes raw = ReadFile(dir + "/corpus.raw");
  if (raw.empty()) {
    std::fprintf(stderr, "no %s/corpus.raw\n", dir.c_str());
    return 1;
  }
  std::printf("corpus: %.1f MiB, median MB/s (CPU time) of %d runs\n\n", raw.size() / 1048576.0,
              gRuns);

  double ours[3] = {}, zlib[3] = {}, libdeflate[3] = {};
  const int levels[3] = {1, 6, 9};
  for (int i = 0; i < 3; ++i) {
    const Bytes packed = ReadFile(dir + "/corpus.zlib" + std::to_string(levels[i]) + ".deflate");
    std::printf("zlib level %d (%.1f MiB compressed)\n", levels[i], packed.size() / 1048576.0);
    std::vector<TEntry> entries = {
        {"ours, 64K in / 32K out steps",
         [](const Bytes& p, Bytes& o) { return OursStreaming(p, o, false); }},
        {"ours, one call", [](const Bytes& p, Bytes& o) { return OursOneShot(p, o, false); }},
        {"zlib, 64K in / 32K out steps", ZlibStreaming},
        {"libdeflate, one shot", LibdeflateOneShot},
    };
    MeasureAll(entries, packed, raw);
    ours[i] = entries[0].median;
    zlib[i] = entries[2].median;
    libdeflate[i] = entries[3].median;
  }

  const Bytes sevenDeflate = ReadFile(dir + "/corpus.7z.deflate");
  const Bytes sevenDeflate64 = ReadFile(dir + "/corpus.7z.deflate64");
  double d7 = 0, d64 = 0;
  if (!sevenDeflate.empty() && !sevenDeflate64.empty()) {
    std::printf("7-Zip Deflate (%.1f MiB compressed)\n", sevenDeflate.size() / 1048576.0);
    std::vector<TEntry> deflate = {
        {"ours, 64K in / 32K out steps",
         [](const Bytes& p, Bytes& o) { return OursStreaming(p, o, false); }},
        {"zlib, 64K in / 32K out steps", ZlibStreaming},
    };
    MeasureAll(deflate, sevenDeflate, raw);
    std::printf("7-Zip Deflate64 (%.1f MiB compressed)\n", sevenDeflate64.size() / 1048576.0);
    std::vector<TEntry> deflate64 = {
        {"ours, 64K in / 32K out steps",
         [](const Bytes& p, Bytes& o) { return OursStreaming(p, o, true); }},
        {"ours, one call", [](const Bytes& p, Bytes& o) { return OursOneShot(p, o, true); }},
    };
    MeasureAll(deflate64, sevenDeflate64, raw);
    d7 = deflate[0].median;
    d64 = deflate64[0].median;
  } else {
    std::printf(
        "no 7-Zip data (7z was not installed when the corpus was made): Deflate64 skipped\n");
  }

  std::printf("\nratios (medians)\n");
  for (int i = 0; i < 3; ++i)
    std::printf("level %d: ours/zlib %.2f  ours/libdeflate %.2f  (libdeflate/zlib %.2f)\n",
                levels[i], ours[i] / zlib[i], ours[i] / libdeflate[i], libdeflate[i] / zlib[i]);
  if (d7 > 0) std::printf("deflate64/deflate (7-Zip data, ours) %.2f\n", d64 / d7);
  return 0;
}
