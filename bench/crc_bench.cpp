// Checksum and cipher throughput: our CRC-32 against zlib's crc32 and a one-byte-per-step table
// loop, our Adler-32 against zlib's, and traditional zip deciphering, on large generated buffers.
// Prints the median of several runs; the ratios come last. It measures, it does not verify.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <random>
#include <vector>

#include "archive/codecs/arvCrypt.h"
#include "archive/common/arvStreams.h"

#include <zlib.h>

namespace {

constexpr size_t kMiB = size_t{1} << 20;
constexpr int kRuns = 7;
constexpr size_t kBlock = 32768;

// Median MB/s (10^6 bytes per second) of `runs` calls of `work` over `bytes` bytes. Timed in CPU
// time of the process (single-threaded), so other work on a shared machine does not count.
double MedianMBps(size_t bytes, const std::function<void()>& work, int runs = kRuns) {
  std::vector<double> rates;
  work();  // warm the caches and the tables
  for (int i = 0; i < runs; ++i) {
    const std::clock_t t0 = std::clock();
    work();
    const double seconds = static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
    rates.push_back(static_cast<double>(bytes) / 1e6 / seconds);
  }
  std::sort(rates.begin(), rates.end());
  return rates[rates.size() / 2];
}

// The textbook loop: one table step per byte, nothing else.
__attribute__((noinline)) uint32_t BytewiseCrc32(uint32_t crc, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) crc = kCrc32Table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

volatile uint32_t gSink;

}  // namespace

int main(int argc, char** argv) {
  const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  std::vector<uint8_t> data(mib * kMiB);
  std::mt19937_64 gen(42);
  for (size_t i = 0; i + 8 <= data.size(); i += 8) {
    const uint64_t v = gen();
    std::copy_n(reinterpret_cast<const uint8_t*>(&v), 8, data.data() + i);
  }
  const size_t n = data.size();
  const uint8_t* p = data.data();
  std::printf("buffer: %zu MiB of random bytes, median of %d runs in CPU time, MB = 10^6 bytes\n",
              mib, kRuns);

  const double ours = MedianMBps(n, [&] { gSink = Crc32Update(0xFFFFFFFF, p, n); });
  const double zlib = MedianMBps(n, [&] {
    uint32_t c = 0;
    for (size_t off = 0; off < n; off += kMiB) c = crc32(c, p + off, static_cast<uInt>(kMiB));
    gSink = c;
  });
  const double bytewise = MedianMBps(n, [&] { gSink = BytewiseCrc32(0xFFFFFFFF, p, n); });
  // Extraction checksums 32 KiB output chunks that are still in the cache: the same total, one
  // cache-resident block at a time.
  const auto blocks = [&](const std::function<uint32_t(uint32_t, const uint8_t*, size_t)>& f) {
    return MedianMBps(n, [&] {
      uint32_t c = 0;
      for (size_t done = 0; done < n; done += kBlock) c = f(c, p, kBlock);
      gSink = c;
    });
  };
  const double oursBlocks = blocks(Crc32Update);
  const double zlibBlocks = blocks([](uint32_t c, const uint8_t* q, size_t k) {
    return static_cast<uint32_t>(crc32(c, q, static_cast<uInt>(k)));
  });
  const double adlerOurs = MedianMBps(n, [&] { gSink = Adler32(1, p, n); });
  const double adlerZlib = MedianMBps(n, [&] {
    uint32_t a = 1;
    for (size_t off = 0; off < n; off += kMiB) a = adler32(a, p + off, static_cast<uInt>(kMiB));
    gSink = a;
  });
  // The cipher is a serial chain per byte: a smaller buffer keeps the run short.
  const size_t cipherBytes = std::min(n, 64 * kMiB);
  std::vector<uint8_t> work(data.begin(), data.begin() + static_cast<ptrdiff_t>(cipherBytes));
  const double decipher = MedianMBps(cipherBytes, [&] {
    TZipCipher c;
    c.InitKeys("benchmark");
    c.DecipherBuffer(work.data(), work.size());
    gSink = c.Key2;
  });
  const double bytewiseDecipher = MedianMBps(cipherBytes, [&] {
    TZipCipher c;
    c.InitKeys("benchmark");
    for (auto& b : work) b = c.DecipherByte(b);
    gSink = c.Key2;
  });

  std::printf("crc32 ours (braided, 4 lanes) %9.1f MB/s\n", ours);
  std::printf("crc32 zlib                    %9.1f MB/s\n", zlib);
  std::printf("crc32 one byte per step       %9.1f MB/s\n", bytewise);
  std::printf("crc32 ours, 32 KiB in cache   %9.1f MB/s\n", oursBlocks);
  std::printf("crc32 zlib, 32 KiB in cache   %9.1f MB/s\n", zlibBlocks);
  std::printf("adler32 ours                  %9.1f MB/s\n", adlerOurs);
  std::printf("adler32 zlib                  %9.1f MB/s\n", adlerZlib);
  std::printf("zip decipher DecipherBuffer   %9.1f MB/s\n", decipher);
  std::printf("zip decipher DecipherByte     %9.1f MB/s\n", bytewiseDecipher);
  std::printf("ratio crc32 ours/zlib         %9.2f\n", ours / zlib);
  std::printf("ratio crc32 ours/bytewise     %9.2f\n", ours / bytewise);
  std::printf("ratio crc32 zlib/bytewise     %9.2f\n", zlib / bytewise);
  std::printf("ratio crc32 ours/zlib 32 KiB  %9.2f\n", oursBlocks / zlibBlocks);
  std::printf("ratio adler32 ours/zlib       %9.2f\n", adlerOurs / adlerZlib);
  return 0;
}
