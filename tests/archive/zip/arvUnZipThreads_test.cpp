// Zip extraction on two cores (small members decoded ahead of the walk, large ones inflated while a
// worker writes, or decoded in stretches by both): a run with PARCELO_THREADS=2 must give what a run with PARCELO_THREADS=1 gives
// (every event with its arguments, in the same order; the same files, count and failures)
// whatever happens in the middle: slow writes, a cancel, a full disk, broken data, a wrong
// password that passes the check byte. Each case runs the same archive both ways.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/seams.h"
#include "support/ExtractFixture.h"
#include "support/MiniZip.h"

namespace {

using namespace extracttest;
namespace fs = std::filesystem;

// A TUnZip whose writes can be slowed, and that notes which threads wrote.
class TWatchedUnZip : public TUnZip {
 public:
  int32_t WriteBlock(host::THandle out, uint8_t* buffer, int32_t count,
                     TBlockOptions options) override {
    if (SlowWrites) std::this_thread::sleep_for(std::chrono::milliseconds(3));
    {
      std::lock_guard<std::mutex> lock(Lock);
      Writers.insert(std::this_thread::get_id());
    }
    return TUnZip::WriteBlock(out, buffer, count, options);
  }
  bool SlowWrites = false;
  std::mutex Lock;
  std::set<std::thread::id> Writers;
};

// What a caller sees of one run.
struct TRunSeen {
  int count = 0;
  std::vector<std::string> events;
  std::map<std::string, std::string> files;  // relative host path -> contents
  bool wroteOffThread = false;  // some block was written by a thread other than the caller's
  int failed = 0;
  int decodedAhead = 0;
  int writtenAhead = 0;
  int keysAhead = 0;
  int stretchesAhead = 0;
};

class ScopedThreads {
 public:
  explicit ScopedThreads(const char* value) {
    if (const char* old = std::getenv("PARCELO_THREADS")) FOld = old, FHad = true;
    setenv("PARCELO_THREADS", value, 1);
  }
  ~ScopedThreads() {
    if (FHad) {
      setenv("PARCELO_THREADS", FOld.c_str(), 1);
    } else {
      unsetenv("PARCELO_THREADS");
    }
  }

 private:
  std::string FOld;
  bool FHad = false;
};

class TwoCoresTest : public ::testing::Test {
 protected:
  // Extracts the archive into a fresh folder with the thread count given; `setup` adds handlers
  // or passwords to the component after the recording handlers are in place.
  TRunSeen Run(const char* threads, const std::function<void(TWatchedUnZip&)>& setup = {},
               bool slowWrites = false) {
    ScopedThreads scope(threads);
    // The same folder for both runs (reports name it), emptied first.
    const std::string out = "out";
    fs::remove_all(dir.Host(out));
    TWatchedUnZip unzip;
    unzip.SlowWrites = slowWrites;
    unzip.SetArchiveFile(host::FromHostPath(dir.Host("a.zip")));
    unzip.SetExtractDir(dir.System(out));
    unzip.FileSpec().Add("*.*");
    TRunSeen seen;
    const std::string dest = dir.System(out) + "\\";
    auto rel = [dest](const std::string& path) {
      return path.compare(0, dest.size(), dest) == 0 ? path.substr(dest.size()) : path;
    };
    unzip.OnBegin = [&](TObject*, const std::string& f, int n, bool&) {
      seen.events.push_back("Begin " + rel(f) + " " + std::to_string(n));
    };
    unzip.OnEnd = [&](TObject*, const std::string& f, bool pass) {
      seen.events.push_back("End " + rel(f) + (pass ? " pass" : " FAIL"));
    };
    unzip.OnError = [&](TObject*, const std::string& f, const std::string& ext,
                        const std::string& volume, int code) {
      seen.events.push_back("Error " + std::to_string(code) + " " + rel(f) + " [" + ext + "] " +
                            volume);
    };
    unzip.OnProgress = [&](TObject*, uint8_t byFile, uint8_t byArchive) {
      seen.events.push_back("Progress " + std::to_string(byFile) + " " +
                            std::to_string(byArchive));
    };
    if (setup) setup(unzip);
    const std::thread::id caller = std::this_thread::get_id();
    seen.count = unzip.Extract();
    seen.failed = unzip.FailedCount();
    seen.decodedAhead = unzip.MembersDecodedAhead();
    seen.writtenAhead = unzip.MembersWrittenAhead();
    seen.keysAhead = unzip.AesKeysDerivedAhead();
    seen.stretchesAhead = unzip.StretchesDecodedAhead();
    for (const std::thread::id id : unzip.Writers) seen.wroteOffThread |= id != caller;
    const fs::path root = dir.Host(out);
    if (fs::exists(root)) {
      for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file())
          seen.files[fs::relative(e.path(), root).string()] = ReadHostFile(e.path().string());
      }
    }
    return seen;
  }
  // Runs one thread, then two, and checks that the caller saw the same; the two-thread run.
  TRunSeen Compare(const std::function<void(TWatchedUnZip&)>& setup = {},
                   bool slowWrites = false) {
    const TRunSeen one = Run("1", setup, slowWrites);
    const TRunSeen two = Run("2", setup, slowWrites);
    EXPECT_FALSE(one.wroteOffThread);  // PARCELO_THREADS=1 writes on the calling thread
    EXPECT_EQ(one.decodedAhead, 0);    // and decodes every member itself
    EXPECT_EQ(one.keysAhead, 0);
    EXPECT_EQ(one.stretchesAhead, 0);
    EXPECT_EQ(one.count, two.count);
    EXPECT_EQ(one.failed, two.failed);
    EXPECT_EQ(one.events, two.events);
    EXPECT_EQ(one.files.size(), two.files.size());
    for (const auto& [name, contents] : one.files) {
      const auto it = two.files.find(name);
      EXPECT_TRUE(it != two.files.end() && it->second == contents) << name;
    }
    return two;
  }
  // Compare, again while the worker had no stretch ready where the walk arrived (a loaded machine
  // can keep it from running at all): every run must agree, and one must have used stretches.
  TRunSeen CompareWithStretches(const std::function<void(TWatchedUnZip&)>& setup,
                                bool slowWrites = false) {
    TRunSeen two;
    for (int attempt = 0; attempt < 8 && two.stretchesAhead == 0; ++attempt)
      two = Compare(setup, slowWrites);
    EXPECT_GT(two.stretchesAhead, 0);
    return two;
  }
  void Use(ZipBuilder& b) { ASSERT_TRUE(b.WriteTo(dir.Host("a.zip"))); }
  static std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

  parcelo::test::TempDir dir{"piped"};
  // Large enough for the pipe, several blocks, not a multiple of the block size.
  const Bytes big1 = Pattern(9 * TUnZip::kInflateOutputSize + 1234, 21);
  const Bytes big2 = Pattern(5 * TUnZip::kInflateOutputSize + 77, 22);
};

TEST_F(TwoCoresTest, LargeMembersComeOutTheSameWithEveryEventInOrder) {
  ZipBuilder b;
  b.AddStored("first.txt", "first").Add(Deflated("dir/big1.bin", big1));
  b.Add(Deflated("small.bin", Pattern(5000, 3))).Add(Deflated("big2.bin", big2));
  Use(b);
  // Slow writes keep blocks in flight, so progress would run ahead of the writes if it were
  // told as blocks are made.
  TRunSeen two = Compare({}, /*slowWrites=*/true);
  EXPECT_EQ(two.count, 4);
  EXPECT_TRUE(two.wroteOffThread);
  EXPECT_TRUE(two.files["dir/big1.bin"] == Text(big1));
  EXPECT_TRUE(two.files["big2.bin"] == Text(big2));
  int progress = 0;
  for (const std::string& e : two.events) progress += e.rfind("Progress", 0) == 0;
  EXPECT_GE(progress, 10 + 6);  // one per block at least
}

TEST_F(TwoCoresTest, EncryptedLargeMemberAndAWrongPasswordThatPassesTheCheckByte) {
  ZipMember m = Deflated("secret.bin", big1);
  m.password = "right";
  ZipBuilder b;
  b.Add(m).AddStored("after.txt", "after");
  Use(b);
  TRunSeen good = Compare([](TWatchedUnZip& u) { u.Passwords().Add("right"); });
  EXPECT_EQ(good.count, 2);
  EXPECT_TRUE(good.files["secret.bin"] == Text(big1));

  // One wrong password in about 256 passes the check byte; the first such one in this list
  // deciphers the member into noise that the inflate or the checksum refuses.
  std::string lucky;
  // The builder's encryption header is read back from the archive.
  const std::string zip = ReadHostFile(dir.Host("a.zip"));
  for (int i = 0; i < 5000 && lucky.empty(); ++i) {
    const std::string candidate = "w" + std::to_string(i);
    TZipCipher c;
    uint8_t header[24];
    const size_t data = 30 + m.name.size() + (static_cast<uint8_t>(zip[28]) |
                                              static_cast<size_t>(static_cast<uint8_t>(zip[29])) << 8);
    std::copy_n(reinterpret_cast<const uint8_t*>(zip.data()) + data, 12, header + 12);
    const uint16_t flags = static_cast<uint16_t>(zip[6]) | static_cast<uint16_t>(zip[7] << 8);
    const uint16_t time = static_cast<uint16_t>(static_cast<uint8_t>(zip[10]) |
                                                static_cast<uint8_t>(zip[11]) << 8);
    const uint32_t crc = static_cast<uint32_t>(static_cast<uint8_t>(zip[17])) << 24;
    if (TestZipPassword(c, candidate, header, flags, time, crc)) lucky = candidate;
  }
  ASSERT_FALSE(lucky.empty());
  TRunSeen bad = Compare([&](TWatchedUnZip& u) { u.Passwords().Add(lucky); });
  EXPECT_EQ(bad.count, 1);  // after.txt only
  EXPECT_EQ(bad.files.count("secret.bin"), 0u);
}

TEST_F(TwoCoresTest, BrokenDataAndAWrongChecksumFailTheSameWay) {
  ZipMember broken = Deflated("broken.bin", big1);
  // Damage well inside the data, so several blocks are made before the inflate stops.
  for (size_t i = broken.data.size() * 2 / 3; i < broken.data.size(); i += 5) broken.data[i] ^= 0x5A;
  ZipMember badCrc = Deflated("badcrc.bin", big2);
  badCrc.crcOverride = 0x12345678;
  ZipBuilder b;
  b.Add(broken).Add(badCrc).AddStored("ok.txt", "ok");
  Use(b);
  TRunSeen two = Compare();
  EXPECT_EQ(two.count, 1);
  EXPECT_EQ(two.files.size(), 1u);
}

TEST_F(TwoCoresTest, FullDiskInTheMiddleOfAMember) {
  ZipBuilder b;
  b.Add(Deflated("big1.bin", big1)).AddStored("small.txt", "small");
  Use(b);
  host::TSeams seams;
  const auto setup = [&seams](TWatchedUnZip&) {
    seams.BytesWritten = 0;
    seams.DiskFullAfter = 3 * TUnZip::kInflateOutputSize + 100;  // inside the fourth block
  };
  host::ScopedSeams scope(seams);
  TRunSeen two = Compare(setup, /*slowWrites=*/true);
  EXPECT_EQ(two.files.count("big1.bin"), 0u);  // nothing half-written is left
  EXPECT_EQ(two.count, 0);  // the disk stays full for small.txt too
}

TEST_F(TwoCoresTest, CancelInTheMiddleStopsAtThatBlockAndRemovesTheMember) {
  ZipBuilder b;
  b.AddStored("before.txt", "before").Add(Deflated("big1.bin", big1)).AddStored("next.txt", "n");
  Use(b);
  for (const int at : {2, 5, 10}) {  // 10: the member's last block
    SCOPED_TRACE(at);
    const auto setup = [at](TWatchedUnZip& u) {
      auto previous = u.OnProgress;
      auto seen = std::make_shared<int>(0);
      u.OnProgress = [&u, previous, seen, at](TObject* s, uint8_t f, uint8_t a) {
        previous(s, f, a);
        if (++*seen == 1 + at) u.SetCancel(true);  // the stored member's progress comes first
      };
    };
    TRunSeen two = Compare(setup, /*slowWrites=*/true);
    EXPECT_EQ(two.count, 1);
    EXPECT_EQ(two.files.count("big1.bin"), 0u);
    EXPECT_EQ(two.files.count("next.txt"), 0u);
  }
}

// ---- one large member decoded in stretches on both cores --------------------------------------------
// Deflated, it is large enough for the worker to decode stretches of it ahead of the walk.
const Bytes& Huge() {
  static const Bytes huge = Pattern(7 * 1024 * 1024 + 4321, 31);
  return huge;
}

ZipMember HugeMember(const std::string& name) {
  static const ZipMember deflated = Deflated("", Huge());
  ZipMember m = deflated;
  m.name = name;
  EXPECT_GE(static_cast<int64_t>(m.data.size()), TUnZip::kSplitMemberPacked);
  return m;
}

// A test and an extraction: both decode it in stretches.
void TestOnly(TWatchedUnZip& u) {
  u.SetTestOnly(true);
}
const std::function<void(TWatchedUnZip&)> kTestOrExtract[] = {TestOnly, {}};

TEST_F(TwoCoresTest, OneLargeMemberDecodedInStretchesComesOutTheSame) {
  ZipBuilder b;
  b.AddStored("first.txt", "first").Add(HugeMember("dir/huge.bin")).AddStored("last.txt", "last");
  Use(b);
  TRunSeen tested = CompareWithStretches(TestOnly);
  EXPECT_EQ(tested.count, 3);
  EXPECT_TRUE(tested.files.empty());
  TRunSeen extracted = CompareWithStretches({});
  EXPECT_EQ(extracted.count, 3);
  EXPECT_TRUE(extracted.files["dir/huge.bin"] == Text(Huge()));
}

TEST_F(TwoCoresTest, ALargeMemberDamagedWhereTheWorkerDecodesFailsTheSameWay) {
  // Damage early, in the middle and late in the data (wherever the worker's stretches lie, some
  // are damaged); data cut short; a wrong checksum. Nothing of a failed member is left.
  for (const auto& mode : kTestOrExtract) {
    for (const double where : {0.2, 0.55, 0.9}) {
      SCOPED_TRACE(where);
      ZipMember broken = HugeMember("broken.bin");
      const size_t at = static_cast<size_t>(static_cast<double>(broken.data.size()) * where);
      for (size_t i = at; i < at + 64; i += 3) broken.data[i] ^= 0xA5;
      ZipBuilder b;
      b.Add(broken).AddStored("ok.txt", "ok");
      Use(b);
      TRunSeen two = Compare(mode);
      EXPECT_EQ(two.count, 1);
      EXPECT_EQ(two.failed, 1);
      EXPECT_EQ(two.files.count("broken.bin"), 0u);
    }
    ZipMember cut = HugeMember("cut.bin");
    cut.data.resize(cut.data.size() * 3 / 4);
    ZipMember badCrc = HugeMember("badcrc.bin");
    badCrc.crcOverride = 0x01020304;
    ZipBuilder b;
    b.Add(cut).Add(badCrc).AddStored("ok.txt", "ok");
    Use(b);
    TRunSeen two = CompareWithStretches(mode);
    EXPECT_EQ(two.count, 1);
    EXPECT_EQ(two.failed, 2);
    EXPECT_EQ(two.files.count("cut.bin") + two.files.count("badcrc.bin"), 0u);
  }
}

TEST_F(TwoCoresTest, ACancelInALargeMemberStopsAtThatBlock) {
  ZipBuilder b;
  b.Add(HugeMember("huge.bin")).AddStored("next.txt", "n");
  Use(b);
  for (const auto& mode : kTestOrExtract) {
    for (const int at : {4, 17}) {
      SCOPED_TRACE(at);
      const auto setup = [at, &mode](TWatchedUnZip& u) {
        if (mode) mode(u);
        auto previous = u.OnProgress;
        auto seen = std::make_shared<int>(0);
        u.OnProgress = [&u, previous, seen, at](TObject* s, uint8_t f, uint8_t a) {
          previous(s, f, a);
          if (++*seen == at) u.SetCancel(true);
        };
      };
      TRunSeen two = Compare(setup);
      EXPECT_EQ(two.count, 0);
      EXPECT_TRUE(two.files.empty());
    }
  }
}

TEST_F(TwoCoresTest, FullDiskInALargeMemberDecodedInStretches) {
  ZipBuilder b;
  b.Add(HugeMember("huge.bin")).AddStored("small.txt", "small");
  Use(b);
  host::TSeams seams;
  // Inside the member's last block but one, with stretches of the worker written before it.
  const auto setup = [&seams](TWatchedUnZip&) {
    seams.BytesWritten = 0;
    seams.DiskFullAfter = Huge().size() / TUnZip::kInflateOutputSize * TUnZip::kInflateOutputSize -
                          TUnZip::kInflateOutputSize + 100;
  };
  host::ScopedSeams scope(seams);
  // Slow writes keep this thread behind the worker (the disk fills before the member's end, with
  // little time for the worker to get ahead on a loaded machine).
  TRunSeen two = CompareWithStretches(setup, /*slowWrites=*/true);
  EXPECT_EQ(two.files.count("huge.bin"), 0u);
  EXPECT_EQ(two.count, 0);
}

// ---- small members decoded ahead -----------------------------------------------------------------
// Many small members of every kind the worker takes and some it must leave to the walk.
ZipBuilder ManySmall(std::vector<std::string>* names = nullptr) {
  ZipBuilder b;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "d" + std::to_string(i % 4) + "/m" + std::to_string(i);
    const Bytes plain = Pattern(1000 + static_cast<size_t>(i) * 7919 % 300000, 100 + i);
    ZipMember m = i % 3 == 0 ? Stored(name, std::string(plain.begin(), plain.end())) : Deflated(name, plain);
    if (i % 5 == 1) m.password = "pw";
    if (i == 17) m.crcOverride = 0xDEADBEEF;  // decodes, fails its checksum
    if (i == 23) {
      for (size_t k = m.data.size() / 2; k < m.data.size(); k += 3) m.data[k] ^= 0x33;
    }
    b.Add(m);
    if (names) names->push_back(name);
  }
  return b;
}

TEST_F(TwoCoresTest, ManySmallMembersDecodedAheadGiveTheSameRun) {
  ZipBuilder b = ManySmall();
  b.AddStored("empty.txt", "").AddStored("folder/", "");
  Use(b);
  const auto passwords = [](TWatchedUnZip& u) { u.Passwords().Add("wrong");
    u.Passwords().Add("pw"); };
  // Slow writes let the worker run ahead up to its memory cap.
  TRunSeen two = Compare(passwords, /*slowWrites=*/true);
  EXPECT_EQ(two.failed, 2);  // the bad checksum and the broken data
  EXPECT_EQ(two.count, 39);  // 38 good members and the empty one
  // How many the worker had ready depends on the machine's load; with slow writes, some.
  EXPECT_GT(two.decodedAhead, 0);
  // Without a password that opens them, enciphered members are the walk's: the same failures.
  Compare({});
}

// Members the worker wrote to files of its own before the walk reached them: a person's file in
// the way keeps its bytes unless the member that replaces it is whole, a name the person gives
// instead is written afresh, and nothing hidden is left behind.
TEST_F(TwoCoresTest, MembersWrittenAheadReplaceWhatWasThereOnlyWhenWhole) {
  std::vector<std::string> names;
  ZipBuilder b = ManySmall(&names);
  Use(b);
  const auto setup = [&](TWatchedUnZip& u) {
    u.Passwords().Add("pw");
    // Files in the way: of good members, of the two that fail, and one the person renames.
    for (const int i : {2, 3, 17, 23, 30}) {
      const fs::path mine = dir.Host("out/" + names[static_cast<size_t>(i)]);
      fs::create_directories(mine.parent_path());
      std::ofstream(mine, std::ios::binary) << "mine";
    }
    u.SetConfirmOverwrites(true);
    const std::string renamed = names[30];
    u.OnFileExists = [renamed](TObject*, const std::string& path, std::string& newName,
                               TOverwriteMode& mode) {
      mode = omOverwrite;
      if (path.ends_with(renamed.substr(renamed.find('/') + 1))) newName = path + ".new";
    };
  };
  TRunSeen two = Compare(setup, /*slowWrites=*/true);
  EXPECT_GT(two.writtenAhead, 0);
  EXPECT_EQ(two.files[names[17]], "mine");  // the bad checksum
  EXPECT_EQ(two.files[names[23]], "mine");  // the broken data
  EXPECT_NE(two.files[names[2]], "mine");
  EXPECT_EQ(two.files[names[30]], "mine");
  EXPECT_EQ(two.files.count(names[30] + ".new"), 1u);
  for (const auto& [name, contents] : two.files)
    EXPECT_NE(fs::path(name).filename().string()[0], '.') << name;
}

// A test writes nothing: the worker checks members ahead, and the run says what a one-thread run
// says.
TEST_F(TwoCoresTest, ATestChecksMembersAheadTheSameWay) {
  ZipBuilder b = ManySmall();
  Use(b);
  TRunSeen two = Compare(
      [](TWatchedUnZip& u) {
        u.SetTestOnly(true);
        u.Passwords().Add("pw");
      },
      /*slowWrites=*/true);
  EXPECT_TRUE(two.files.empty());
  EXPECT_EQ(two.failed, 2);
  EXPECT_GT(two.decodedAhead, 0);
  EXPECT_EQ(two.writtenAhead, 0);
}

TEST_F(TwoCoresTest, CancelAndFullDiskAmongSmallMembers) {
  ZipBuilder b = ManySmall();
  Use(b);
  for (const int at : {1, 9, 30}) {
    SCOPED_TRACE(at);
    const auto setup = [at](TWatchedUnZip& u) {
      u.Passwords().Add("pw");
      auto previous = u.OnEnd;
      auto ends = std::make_shared<int>(0);
      u.OnEnd = [&u, previous, ends, at](TObject* s, const std::string& f, bool pass) {
        previous(s, f, pass);
        if (++*ends == at) u.SetCancel(true);
      };
    };
    Compare(setup, /*slowWrites=*/at == 9);
  }
  host::TSeams seams;
  const auto full = [&seams](TWatchedUnZip& u) {
    u.Passwords().Add("pw");
    seams.BytesWritten = 0;
    seams.DiskFullAfter = 1500000;
  };
  host::ScopedSeams scope(seams);
  TRunSeen two = Compare(full, /*slowWrites=*/true);
  EXPECT_GT(two.failed, 10);
  // So near a full disk nothing is written ahead: the members wait in memory.
  EXPECT_GT(two.decodedAhead, 0);
  EXPECT_EQ(two.writtenAhead, 0);
}

}  // namespace

// WinZip AES members (7-Zip's writing): their keys derived ahead by a worker. Half the members
// under one password, half under another, one with damaged data: the worker derives with the
// password the walk opened the first member with, the walk still tries its list in order where
// those keys do not fit, and the damaged one fails its authentication code the same way.
TEST_F(TwoCoresTest, AesMembersUnderTwoPasswordsWithKeysDerivedAhead) {
  if (!HaveTool("7zz")) GTEST_SKIP() << "7zz is not installed";
  const fs::path src = dir.Host("src");
  for (int part = 0; part < 2; ++part) {
    fs::create_directories(src / ("p" + std::to_string(part)));
    for (int i = 0; i < 12; ++i) {
      std::ofstream((src / ("p" + std::to_string(part)) / ("f" + std::to_string(i) + ".txt")),
                    std::ios::binary)
          << Text(Pattern(300 + 997 * i, 40 + i + 100 * part));
    }
  }
  const std::string zip = dir.Host("a.zip");
  ASSERT_EQ(Shell("cd '" + src.string() + "' && 7zz a -tzip -mem=AES256 -pfirst '" + zip +
                  "' p0 >/dev/null && 7zz a -tzip -mem=AES128 -psecond '" + zip + "' p1 >/dev/null"),
            0);
  const auto passwords = [](TWatchedUnZip& u) {
    u.Passwords().Add("first");
    u.Passwords().Add("second");
  };
  TRunSeen two = Compare(passwords, /*slowWrites=*/true);
  EXPECT_EQ(two.count, 24);
  EXPECT_EQ(two.failed, 0);
  // How many keys were ready ahead depends on the load; with slow writes, some.
  EXPECT_GT(two.keysAhead, 0);

  // One member's data damaged (a byte in the middle of the archive's first member).
  std::string bytes = ReadHostFile(zip);
  bytes[200] ^= 0x55;
  std::ofstream(zip, std::ios::binary) << bytes;
  TRunSeen damaged = Compare(passwords);
  EXPECT_EQ(damaged.failed, 1);
  EXPECT_EQ(damaged.count, 23);
}
