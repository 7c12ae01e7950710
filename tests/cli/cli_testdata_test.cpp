// Every conformance archive of ../shared/testdata (its manifest.tsv) that another program extracts
// whole, extracted by parcelo-cli: the same files with the same bytes, and `list` naming the files
// written. The other program is the format's own tool where there is one (lhasa, cabextract,
// acefile, arj, arc, unzip, uudecode), else unar, 7zz or bsdtar, the first that succeeds. Names
// stored in a code page the archive does not declare are guessed differently by each program:
// files under such names are matched by their bytes, the others by name and bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/CliRun.h"
#include "support/CliTree.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace parcelo::test;

const fs::path kTestdata = PARCELO_TESTDATA_DIR;
const std::string kAcefile = std::string(PARCELO_SOURCE_DIR) + "/../shared/tools/acefile/acefile.py";

// What Parcelo does not extract although a peer does, with the reason it gives.
const std::map<std::string, std::string> kKnownGaps = {
    {"sc_Rar2.multi.rar", "RAR 2.0 compression, which Parcelo does not decode"},
};

struct TRow {
  std::string file, format, features, password;
};

std::vector<TRow> ReadManifest() {
  std::vector<TRow> rows;
  std::ifstream in(kTestdata / "manifest.tsv");
  std::string line;
  std::getline(in, line);  // the column names
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::stringstream cellsIn(line);
    for (std::string cell; std::getline(cellsIn, cell, '\t');) cells.push_back(cell);
    if (cells.size() < 6) continue;
    rows.push_back({cells[0], cells[2], cells[3], cells[5]});
  }
  return rows;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// The commands that extract `path` into the current folder, the format's own tool first.
std::vector<std::string> Peers(const TRow& row, const std::string& path) {
  const std::string p = Quote(path);
  const std::string& f = row.format;
  std::vector<std::string> peers;
  if (StartsWith(f, "lha")) peers.push_back("lhasa x " + p);
  if (StartsWith(f, "cab")) peers.push_back("cabextract -q " + p);
  if (StartsWith(f, "ace") && fs::exists(kAcefile)) peers.push_back("python3 " + Quote(kAcefile) + " -x " + p);
  if (StartsWith(f, "arj")) peers.push_back("arj x -y -v " + p);
  if (StartsWith(f, "arc")) peers.push_back("arc x " + p);
  if (StartsWith(f, "uue")) peers.push_back("uudecode " + p);
  if (StartsWith(f, "zip") || f == "jar")
    peers.push_back("unzip -o -q " + (row.password.empty() ? "" : "-P " + Quote(row.password) + " ") + p);
  peers.push_back("unar -q -D -f " + (row.password.empty() ? "" : "-p " + Quote(row.password) + " ") + p);
  peers.push_back("7zz x -y " + (row.password.empty() ? std::string("-p-") : "-p" + Quote(row.password)) + " " + p);
  peers.push_back("bsdtar xf " + p);
  return peers;
}

bool Ascii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The files under ASCII names by name; the bytes of the others, sorted.
void Split(const std::map<std::string, Bytes>& tree, std::map<std::string, Bytes>& named,
           std::multiset<std::string>& unnamed) {
  for (const auto& [name, bytes] : tree) {
    if (Ascii(name)) named[name] = bytes;
    else unnamed.emplace(bytes.begin(), bytes.end());
  }
}

TEST(CliTestdata, WhatAPeerExtractsWholeParceloExtractsTheSame) {
  if (!fs::exists(kTestdata / "manifest.tsv")) GTEST_SKIP() << "no conformance archives";
  TempDir dir{"cli-testdata"};
  int compared = 0, index = 0;
  for (const TRow& row : ReadManifest()) {
    if (StartsWith(row.features, "volume of")) continue;  // read with its first volume
    fs::path path = kTestdata / "zip" / row.file;
    if (!fs::exists(path)) path = kTestdata / "other" / row.file;
    if (!fs::exists(path)) continue;
    SCOPED_TRACE(row.file);
    const std::string n = std::to_string(++index);
    // The first peer that succeeds with files gives the contents.
    std::map<std::string, Bytes> reference;
    int attempt = 0;
    for (const std::string& peer : Peers(row, path.string())) {
      const std::string out = dir.Host("peer" + n + "-" + std::to_string(++attempt));
      fs::remove_all(out);
      fs::create_directories(out);
      if (!RunIn(out, peer)) continue;
      reference = TreeBelow(out);
      if (!reference.empty()) break;
    }
    if (reference.empty()) continue;  // no peer extracts it whole

    const std::string out = dir.Host("ours" + n);
    const std::string password = row.password.empty() ? "" : " -p " + Quote(row.password);
    const TCliRun x = RunCli("extract -q " + Quote(path.string()) + " -d " + Quote(out) + password);
    const auto gap = kKnownGaps.find(row.file);
    if (gap != kKnownGaps.end()) {
      EXPECT_EQ(x.status, 2);
      EXPECT_NE(x.err.find(gap->second), std::string::npos) << x.err;
      continue;
    }
    ++compared;
    // 1: warnings only (a zip without its end record, say); nothing lost.
    EXPECT_TRUE(x.status == 0 || x.status == 1) << x.status << ": " << x.err;
    std::map<std::string, Bytes> ourNamed, peerNamed;
    std::multiset<std::string> ourUnnamed, peerUnnamed;
    const std::map<std::string, Bytes> ours = TreeBelow(out);
    Split(ours, ourNamed, ourUnnamed);
    Split(reference, peerNamed, peerUnnamed);
    EXPECT_EQ(ours.size(), reference.size());
    EXPECT_EQ(ourNamed, peerNamed);
    EXPECT_TRUE(ourUnnamed == peerUnnamed) << "files under names in a code page differ";
    const TCliRun list = RunCli("list " + Quote(path.string()));
    EXPECT_EQ(Listed(list.out), FilesBelow(out));
  }
  EXPECT_GT(compared, 0);
}

}  // namespace
