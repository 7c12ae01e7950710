// Decode throughput of the legacy zip methods (unshrink, unreduce, explode), measured beside
// Info-ZIP unzip -t and 7-Zip's 7z t on the same members in the same run: on a few MB of mixed
// data from the test encoders and on the conformance samples when present. Times are CPU times
// (ours from the process clock, the tools' from their rusage), so a busy machine skews them less.
// Not a test: it checks results only enough to refuse timing wrong output.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "archive/codecs/arvLegacy.h"
#include "archive/common/arvStreams.h"
#include "support/LegacyEncoders.h"
#include "support/MiniZip.h"

namespace {

using legacytest::Bytes;
// This process's CPU time in seconds.
double CpuNow() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}
// CPU time (user + system) of the children waited for so far.
double ChildrenCpu() {
  rusage usage;
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// One decode of one member with the CRC-32 the extractor computes; returns the CRC.
uint32_t DecodeOnce(const Bytes& data, uint32_t method, uint16_t flags, uint64_t size) {
  size_t at = 0;
  uint32_t crc = 0xFFFFFFFF;
  TLegacyContext context;
  context.ReadBlock = [&](uint8_t* buffer, size_t count) {
    const size_t n = std::min(count, data.size() - at);
    std::copy_n(data.data() + at, n, buffer);
    at += n;
    return n;
  };
  context.WriteBlock = [&](const uint8_t* bytes, size_t count) {
    crc = Crc32Update(crc, bytes, count);
  };
  TLegacyMember member{method, flags, data.size(), size};
  DecodeLegacyMember(member, context);
  return ~crc;
}

// Best time of several runs of `work`, repeated until each run takes at least ~50 ms.
double BestSeconds(const std::function<void()>& work, int runs = 5) {
  int repeat = 1;
  for (;;) {
    const double start = CpuNow();
    for (int i = 0; i < repeat; ++i) work();
    if (CpuNow() - start > 0.05 || repeat > 100000) break;
    repeat *= 4;
  }
  double best = 1e30;
  for (int r = 0; r < runs; ++r) {
    const double start = CpuNow();
    for (int i = 0; i < repeat; ++i) work();
    best = std::min(best, (CpuNow() - start) / repeat);
  }
  return best;
}

bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Best CPU time of a tool run on an archive (process start included), and its exit code.
std::pair<double, int> TimeTool(const std::string& command, int runs = 5) {
  double best = 1e30;
  int rc = 0;
  for (int r = 0; r < runs; ++r) {
    const double start = ChildrenCpu();
    rc = std::system((command + " >/dev/null 2>&1").c_str());
    best = std::min(best, ChildrenCpu() - start);
  }
  return {best, WEXITSTATUS(rc)};
}

struct ToolBaseline {
  double unzip = 0, sevenZip = 0;
};

std::string Cell(double seconds, int rc, double baseline, uint64_t bytes) {
  char buf[96];
  if (rc != 0) {
    std::snprintf(buf, sizeof buf, "fails (rc %d)", rc);
  } else {
    const double net = std::max(seconds - baseline, 1e-6);
    std::snprintf(buf, sizeof buf, "%7.1f ms (%6.0f MB/s net)", seconds * 1e3, bytes / net / 1e6);
  }
  return buf;
}

}  // namespace

int main() {
  const bool haveUnzip = HaveTool("unzip"), have7z = HaveTool("7z");
  const auto dir =
      std::filesystem::temp_directory_path() / ("parcelo_legacy_bench_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);

  // Tool start-up cost: a zip with one tiny stored member.
  ToolBaseline baseline;
  {
    const Bytes tiny = {'x'};
    const auto path = (dir / "tiny.zip").string();
    minizip::WriteFile(path, minizip::WriteArchive({{"t", 0, 0, tiny, minizip::Crc32(tiny), 1}}));
    if (haveUnzip) baseline.unzip = TimeTool("unzip -tqq '" + path + "'", 9).first;
    if (have7z) baseline.sevenZip = TimeTool("7z t '" + path + "'", 9).first;
  }
  std::printf(
      "tool start-up (tiny stored member): unzip %.1f ms, 7z %.1f ms; 'net' subtracts it\n\n",
      baseline.unzip * 1e3, baseline.sevenZip * 1e3);

  // ---- encoder data ----------------------------------------------------------------------------
  const Bytes plain = legacytest::MixedData(4 << 20, 2024);
  const uint32_t plainCrc = minizip::Crc32(plain);
  struct Variant {
    const char* name;
    uint32_t method;
    uint16_t flags;
    Bytes packed;
  };
  std::vector<Variant> variants;
  variants.push_back({"shrink", 1, 0, legacytest::Shrink(plain)});
  for (int f = 1; f <= 4; ++f) {
    static const char* names[] = {"reduce factor 1", "reduce factor 2", "reduce factor 3",
                                  "reduce factor 4"};
    variants.push_back(
        {names[f - 1], static_cast<uint32_t>(1 + f), 0, legacytest::Reduce(plain, f)});
  }
  variants.push_back({"implode 4K 2 trees", 6, 0, legacytest::Implode(plain, false, false)});
  variants.push_back({"implode 4K 3 trees", 6, 4, legacytest::Implode(plain, false, true)});
  variants.push_back({"implode 8K 2 trees", 6, 2, legacytest::Implode(plain, true, false)});
  variants.push_back({"implode 8K 3 trees", 6, 6, legacytest::Implode(plain, true, true)});

  std::printf(
      "%.1f MB of mixed data (text, binary records, runs, random), decode + CRC-32, CPU time:\n",
      plain.size() / 1e6);
  std::printf("%-20s %8s | %-14s | %-30s | %-30s\n", "method", "packed", "parcelo", "unzip -t",
              "7z t");
  for (const auto& v : variants) {
    if (DecodeOnce(v.packed, v.method, v.flags, plain.size()) != plainCrc) {
      std::printf("%-20s decode mismatch, not timed\n", v.name);
      continue;
    }
    const double ours = BestSeconds([&] { DecodeOnce(v.packed, v.method, v.flags, plain.size()); });
    std::string unzipCell = "-", sevenCell = "-";
    const auto path = (dir / "member.zip").string();
    minizip::WriteFile(path, minizip::WriteArchive({{"m", static_cast<uint16_t>(v.method), v.flags,
                                                     v.packed, plainCrc, plain.size()}}));
    if (haveUnzip) {
      const auto [t, rc] = TimeTool("unzip -tqq '" + path + "'");
      unzipCell = Cell(t, rc, baseline.unzip, plain.size());
    }
    if (have7z) {
      const auto [t, rc] = TimeTool("7z t '" + path + "'");
      sevenCell = Cell(t, rc, baseline.sevenZip, plain.size());
    }
    char oursCell[48];
    std::snprintf(oursCell, sizeof oursCell, "%6.0f MB/s", plain.size() / ours / 1e6);
    std::printf("%-20s %7.0fK | %-14s | %-30s | %-30s\n", v.name, v.packed.size() / 1024.0,
                oursCell, unzipCell.c_str(), sevenCell.c_str());
  }

  // ---- the conformance samples ------------------------------------------------------------------
  const std::filesystem::path samples = std::filesystem::path(PARCELO_TESTDATA_DIR) / "zip";
  const char* files[] = {"cc_SHRUNK.ZIP",
                         "sc_Zip.reduce1.zip",
                         "sc_Zip.reduce2.zip",
                         "sc_Zip.reduce3.zip",
                         "sc_Zip.reduce4.zip",
                         "cc_imploding-4Kdict-2trees.zip",
                         "cc_imploding-8Kdict-3trees.zip"};
  if (std::filesystem::exists(samples)) {
    std::printf(
        "\nconformance samples, whole archive (every member, incl. shrunk ones in the reduce "
        "zips):\n");
    std::printf("%-32s %8s | %-12s | %-22s | %-22s\n", "archive", "output", "parcelo CPU",
                "unzip -t", "7z t");
    for (const char* file : files) {
      const auto path = samples / file;
      const auto archive = minizip::ReadFile(path.string());
      if (!archive) continue;
      const auto entries = minizip::ReadCentralDirectory(*archive);
      if (!entries) continue;
      std::vector<std::pair<Bytes, minizip::Entry>> members;
      uint64_t total = 0;
      bool ok = true;
      for (const auto& e : *entries) {
        if (!IsLegacyMethod(e.method)) continue;
        Bytes data(archive->begin() + static_cast<long>(e.dataOffset),
                   archive->begin() + static_cast<long>(e.dataOffset + e.compressedSize));
        ok &= DecodeOnce(data, e.method, e.flags, e.uncompressedSize) == e.crc;
        total += e.uncompressedSize;
        members.emplace_back(std::move(data), e);
      }
      const double ours = BestSeconds([&] {
        for (const auto& [data, e] : members)
          DecodeOnce(data, e.method, e.flags, e.uncompressedSize);
      });
      char oursCell[48];
      std::snprintf(oursCell, sizeof oursCell, "%8.1f us%s", ours * 1e6, ok ? "" : " BAD");
      auto toolCell = [](const std::pair<double, int>& r) {
        char buf[64];
        if (r.second != 0) {
          std::snprintf(buf, sizeof buf, "fails (rc %d)", r.second);
        } else {
          std::snprintf(buf, sizeof buf, "%8.1f ms", r.first * 1e3);
        }
        return std::string(buf);
      };
      const std::string u =
          haveUnzip ? toolCell(TimeTool("unzip -tqq '" + path.string() + "'")) : "-";
      const std::string s = have7z ? toolCell(TimeTool("7z t '" + path.string() + "'")) : "-";
      std::printf("%-32s %7.1fK | %-12s | %-22s | %-22s\n", file, total / 1024.0, oursCell,
                  u.c_str(), s.c_str());
    }
    std::printf(
        "(CPU times; the samples are small, so the tools' times are mostly process start-up)\n");
  }
  std::filesystem::remove_all(dir);
  return 0;
}
