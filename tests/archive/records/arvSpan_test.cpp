// Spanned-disk volumes on fake removable drives: the drive examination with its prompts and
// reports, disk numbers from labels, and the disk dialogue of a spanned set (last disk, first
// disk, next disks) as disks are swapped in the drive.
#include "archive/records/arvSpan.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "archive/common/arvStreams.h"
#include "archive/messages/Err_Msgs.h"
#include "platform/seams.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace {

using parcelo::test::TempDir;
using ziptest::Bytes;

struct Report {
  std::string file, ext, volume;
  int code;
};

// Error routes that record what they are given; the raise route throws as the component's does.
struct Routes {
  std::vector<Report> reported, raised;
  TDiskCallbacks Callbacks() {
    TDiskCallbacks c;
    c.ReportError = [this](const std::string& f, const std::string& e, const std::string& v,
                           int code) {
      reported.push_back({f, e, v, code});
    };
    c.RaiseError = [this](const std::string& f, const std::string& e, const std::string& v,
                          int code) {
      raised.push_back({f, e, v, code});
      throw E_RAISE(LoadStr(code));
    };
    return c;
  }
};

void WriteBytes(const std::string& hostPath, const Bytes& bytes) {
  std::ofstream f(hostPath, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class Drives : public ::testing::Test {
 protected:
  void SetUp() override {
    host::TFakeDrive floppy;
    floppy.Letter = 'E';
    floppy.Type = host::dtRemovable;
    floppy.Label = "PKBACK# 001";
    floppy.Serial = 0x00C0FFEE;
    floppy.HostFolder = disk1_.HostPath();
    seams_.Drives.push_back(floppy);
    scope_ = std::make_unique<host::ScopedSeams>(seams_);
  }
  host::TFakeDrive& Drive() { return seams_.Drives[0]; }
  // Puts disk 1 or disk 2 of the set into the drive.
  void Insert(int disk) {
    Drive().HostFolder = disk == 1 ? disk1_.HostPath() : disk2_.HostPath();
    Drive().Label = disk == 1 ? "PKBACK# 001" : "PKBACK# 002";
  }

  TempDir disk1_{"disk1"}, disk2_{"disk2"};
  host::TSeams seams_;
  std::unique_ptr<host::ScopedSeams> scope_;
  Routes routes_;
};

// ---- labels and drives --------------------------------------------------------------------------
TEST(DiskNumber, FromLabels) {
  bool ok = false;
  EXPECT_EQ(TDiskManager::DiskNumberFromLabel("PKBACK# 007", ok), 7);
  EXPECT_TRUE(ok);
  EXPECT_EQ(TDiskManager::DiskNumberFromLabel("BACKUP", ok), 0);
  EXPECT_TRUE(ok);
  EXPECT_EQ(TDiskManager::DiskNumberFromLabel("PKBACK#007", ok), 0);  // no space: no marker
  EXPECT_EQ(TDiskManager::DiskNumberFromLabel("PKBACK# abc", ok), 0);
  EXPECT_EQ(TDiskManager::DiskNumberFromLabel("PKBACK# PKBACK# 12", ok), 12);
  EXPECT_EQ(TDiskManager::DiskNumberFromLabel("PKBACK# 99999", ok), 0);  // not a 16-bit number
  EXPECT_EQ(TDiskManager::DiskNumberFromLabel("PKBACK# ", ok), 0);
  EXPECT_FALSE(ok);
}

TEST(DiskManager, DriveOfAPath) {
  EXPECT_EQ(TDiskManager::DriveOfPath("e:\\set\\a.zip"), "E:");
  EXPECT_EQ(TDiskManager::DriveOfPath("\\\\server\\share\\dir\\a.zip"), "\\\\server\\share");
  const char current = host::DriveOfPath(host::GetCurrentDir());
  EXPECT_EQ(TDiskManager::DriveOfPath("a.zip"), std::string(1, current) + ":");
}

TEST_F(Drives, ExamineAReadyFloppy) {
  TDiskManager m;
  ASSERT_TRUE(m.Examine("E:\\set.zip", routes_.Callbacks()));
  EXPECT_EQ(m.Drive(), "E:");
  EXPECT_EQ(m.DriveType(), host::dtRemovable);
  EXPECT_EQ(m.DriveKind(), 0);  // no legacy floppy service here
  EXPECT_EQ(m.DriveKindName(), "Unknown");
  EXPECT_EQ(m.VolumeLabel(), "PKBACK# 001");
  EXPECT_EQ(m.DiskNumber(), 1);
  EXPECT_EQ(m.SerialNumber(), 0x00C0FFEEu);
  EXPECT_EQ(m.SerialString(), "00C0FFEE");
  EXPECT_EQ(m.FileSystemName(), "FAT");
  EXPECT_EQ(m.TotalSize(), 1440u * 1024);
  EXPECT_TRUE(routes_.reported.empty());
  // The temporary file that tested writability is gone again.
  host::DirSearch search;
  host::TSearchRec rec;
  EXPECT_FALSE(search.First("E:\\arv*", host::faAnyFile, rec));
  // Other drive types are named by their type.
  Drive().Type = host::dtFixed;
  ASSERT_TRUE(m.Examine("E:\\set.zip"));
  EXPECT_EQ(m.DriveKindName(), "Fixed");
}

TEST_F(Drives, NotReadyWithoutAPromptReportsOnce) {
  Drive().Ready = false;
  TDiskManager m;
  EXPECT_FALSE(m.Examine("E:\\set.zip", routes_.Callbacks()));
  ASSERT_EQ(routes_.reported.size(), 1u);
  EXPECT_EQ(routes_.reported[0].code, kErrNotAccessible);
  EXPECT_TRUE(routes_.raised.empty());
}

TEST_F(Drives, InsertDiskPrompt) {
  Drive().Ready = false;
  TDiskCallbacks c = routes_.Callbacks();
  int asked = 0;
  c.InsertDiskPrompt = [&](TObject*, bool& cancel) {
    EXPECT_TRUE(cancel);
    if (++asked == 2) Drive().Ready = true;
    cancel = false;
  };
  TDiskManager m;
  EXPECT_TRUE(m.Examine("E:\\set.zip", c));
  EXPECT_EQ(asked, 2);
  // A prompt left at Cancel raises "User canceled" and fails; Examine itself does not raise.
  Drive().Ready = false;
  c.InsertDiskPrompt = [](TObject*, bool&) {};
  EXPECT_FALSE(m.Examine("E:\\set.zip", c));
  ASSERT_EQ(routes_.raised.size(), 1u);
  EXPECT_EQ(routes_.raised[0].code, kErrUserCanceled);
  EXPECT_TRUE(routes_.reported.empty());
}

TEST_F(Drives, WriteProtectedDisk) {
  Drive().WriteProtected = true;
  TDiskManager m;
  EXPECT_FALSE(m.Examine("E:\\set.zip", routes_.Callbacks()));
  ASSERT_EQ(routes_.reported.size(), 1u);
  EXPECT_EQ(routes_.reported[0].code, kErrWriteProtected);
  TDiskCallbacks c = routes_.Callbacks();
  c.WriteProtectPrompt = [&](TObject* sender, bool& cancel) {
    EXPECT_EQ(sender, &m);
    Drive().WriteProtected = false;
    cancel = false;
  };
  EXPECT_TRUE(m.Examine("E:\\set.zip", c));
  Drive().WriteProtected = true;
  c.WriteProtectPrompt = [](TObject*, bool&) {};
  EXPECT_FALSE(m.Examine("E:\\set.zip", c));
  EXPECT_EQ(routes_.raised.back().code, kErrUserCanceled);
}

TEST_F(Drives, NoRootDirectory) {
  Drive().Type = host::dtNoRootDir;
  TDiskManager m;
  EXPECT_FALSE(m.Examine("E:\\set.zip", routes_.Callbacks()));
  ASSERT_EQ(routes_.reported.size(), 1u);
  EXPECT_EQ(routes_.reported[0].code, kErrNotAccessible);
}

TEST_F(Drives, UnreadableVolumeAsksRetryOrCancel) {
  seams_.Answers = {host::TAnswer::Retry, host::TAnswer::Cancel};
  TDiskManager m;
  EXPECT_FALSE(m.Examine("\\\\server\\share\\a.zip", routes_.Callbacks()));
  ASSERT_EQ(seams_.Questions.size(), 2u);
  EXPECT_EQ(seams_.Questions[0].rfind("\\\\SERVER\\SHARE\\" + LoadStr(kErrNotAccessible), 0), 0u)
      << seams_.Questions[0];
  EXPECT_NE(seams_.Questions[0].find("\r\n\r\n"), std::string::npos);
  ASSERT_EQ(routes_.raised.size(), 1u);
  EXPECT_EQ(routes_.raised[0].code, kErrNotAccessible);
}

// ---- the disk dialogue of a spanned set ---------------------------------------------------------
class Span : public Drives {
 protected:
  void SetUp() override {
    Drives::SetUp();
    // Disk 1: the marker and the first member's local header at 4, with its data.
    ziptest::ZipBuilder first;
    first.SpanMarker()
        .AddStored("a.txt", std::string(3000, 'a'))
        .NoCentralDirectory()
        .NoEndRecord();
    const Bytes disk1 = first.Build();
    WriteBytes(disk1_.Host("set.zip"), disk1);
    // Disk 2: more data, then the directory and the end record (this disk is number 1).
    Bytes disk2(500, 'b');
    TCentralFileHeader c;
    c.Signature = kCentralSig;
    c.NameLength = 5;
    c.LocalHeaderOffset = 4;
    c.PackedSize = c.UnpackedSize = 3500;
    uint8_t record[46];
    c.Encode(record);
    disk2.insert(disk2.end(), record, record + 46);
    disk2.insert(disk2.end(), {'a', '.', 't', 'x', 't'});
    TEndOfCentralDir e;
    e.Signature = kEndSig;
    e.NumberOfThisDisk = 1;
    e.DiskWithCentralDir = 1;
    e.TotalEntries = e.EntriesOnThisDisk = 1;
    e.CentralDirSize = 51;
    e.CentralDirOffset = 500;
    uint8_t end[22];
    e.Encode(end);
    disk2.insert(disk2.end(), end, end + 22);
    WriteBytes(disk2_.Host("set.zip"), disk2);
    disk2Size_ = static_cast<int64_t>(disk2.size());

    arc_.SetArchiveFile("E:\\set.zip");
    span_.PrepareSpan(&arc_, &cancel_, routes_.Callbacks());
    span_.CurrentMemberPosition = [this] { return memberPosition_; };
  }

  TRegisterArcova arc_;
  TDiskSpannObj span_;
  uint8_t cancel_ = 0;
  int64_t memberPosition_ = 4;
  int64_t disk2Size_ = 0;
  std::unique_ptr<TStream32> stream_;
};

TEST_F(Span, TheFirstDiskIsDetectedAsDiskSpanned) {
  EXPECT_EQ(arc_.ArcType(), atZipDS);
  EXPECT_EQ(arc_.HeaderState(), 1);
}

TEST_F(Span, MissingLastDiskEvent) {
  EXPECT_FALSE(span_.ChangeDisk(stream_));
  ASSERT_EQ(routes_.reported.size(), 1u);
  EXPECT_EQ(routes_.reported[0].code, kErrEventNotAssigned);
  EXPECT_EQ(routes_.reported[0].ext, "OnGetZipLastDisk");
  EXPECT_EQ(routes_.reported[0].volume, "0");
  EXPECT_EQ(cancel_, 1);
  EXPECT_EQ(stream_, nullptr);
}

TEST_F(Span, MissingFirstAndNextDiskEvents) {
  span_.SetDiskCounter(1);
  EXPECT_FALSE(span_.ChangeDisk(stream_));
  EXPECT_EQ(routes_.reported.back().ext, "OnGetZipFirstDisk");
  EXPECT_EQ(routes_.reported.back().volume, "1");
  span_.SetDiskCounter(3);
  EXPECT_FALSE(span_.ChangeDisk(stream_));
  EXPECT_EQ(routes_.reported.back().ext, "OnGetZipNextDisk");
  EXPECT_EQ(routes_.reported.back().volume, "3");
}

TEST_F(Span, LastThenFirstThenNextDisk) {
  std::vector<std::string> asked;
  int lastCalls = 0;
  span_.OnGetZipLastDisk = [&](TObject* sender, bool& cancel) {
    EXPECT_EQ(sender, &span_);
    EXPECT_TRUE(cancel);
    asked.push_back("last");
    // The first answer changes nothing: the handler is asked again after detecting again.
    if (++lastCalls == 2) Insert(2);
    cancel = false;
  };
  span_.OnGetZipFirstDisk = [&](TObject*, bool& cancel) {
    asked.push_back("first");
    Insert(1);
    cancel = false;
  };
  span_.OnGetZipNextDisk = [&](TObject*, const std::string& volume, bool& cancel) {
    asked.push_back("next " + volume);
    Insert(2);
    cancel = false;
  };

  // The last disk: its end record and directory.
  ASSERT_TRUE(span_.ChangeDisk(stream_));
  ASSERT_NE(stream_, nullptr);
  EXPECT_EQ(stream_->Size(), disk2Size_);
  EXPECT_EQ(arc_.ArchiveSize(), disk2Size_);
  EXPECT_EQ(arc_.ArcType(), atZipDS);
  EXPECT_EQ(arc_.HeaderState() & kHeaderEnd, kHeaderEnd);
  EXPECT_EQ(arc_.ArchiveFile(), "E:\\set.zip");
  EXPECT_EQ(span_.DiskCounter(), 1);

  // The disk of the first member (its local header at 4 on disk 1).
  ASSERT_TRUE(span_.ChangeDisk(stream_));
  EXPECT_EQ(span_.DiskCounter(), 2);
  EXPECT_EQ(stream_->Size(), static_cast<int64_t>(4 + 30 + 5 + 3000));

  // The next disk: the member goes on beyond what the first disk holds; disk 2 is accepted by
  // its label.
  memberPosition_ = 100000;
  ASSERT_TRUE(span_.ChangeDisk(stream_));
  EXPECT_EQ(span_.DiskCounter(), 3);
  EXPECT_EQ(stream_->Size(), disk2Size_);
  EXPECT_EQ(asked, (std::vector<std::string>{"last", "last", "first", "next 2"}));
  EXPECT_EQ(cancel_, 0);
  EXPECT_TRUE(routes_.reported.empty());
}

TEST_F(Span, CancelledDiskEvents) {
  span_.OnGetZipLastDisk = [](TObject*, bool&) {};  // leaves Cancel set
  EXPECT_FALSE(span_.ChangeDisk(stream_));
  EXPECT_EQ(cancel_, 1);
  EXPECT_TRUE(routes_.reported.empty());
  cancel_ = 0;
  Insert(2);
  span_.SetDiskCounter(1);
  span_.OnGetZipFirstDisk = [](TObject*, bool&) {};
  EXPECT_FALSE(span_.ChangeDisk(stream_));
  EXPECT_EQ(cancel_, 1);
}

TEST_F(Span, MultiVolumeMemberBeyondTheFileIsAccepted) {
  Insert(1);
  Drive().Label = "SOMETHING";
  arc_.SetArchiveFile("E:\\set.zip");
  ASSERT_EQ(arc_.ArcType(), atZipMV);
  span_.SetDiskCounter(2);
  span_.OnGetZipNextDisk = [](TObject*, const std::string&, bool&) { FAIL() << "not asked"; };
  memberPosition_ = 1 << 20;
  EXPECT_TRUE(span_.ChangeDisk(stream_));
  EXPECT_EQ(span_.DiskCounter(), 3);
}

TEST_F(Span, ArchiveThatCannotBeReopened) {
  span_.SetDiskCounter(1);
  Insert(1);
  int opens = 0;
  // The disk test opens the archive once; the reopening after it fails.
  seams_.FailOpen = [&](const std::string& p) {
    return p.find("set.zip") != std::string::npos && ++opens >= 2;
  };
  span_.OnGetZipFirstDisk = [](TObject*, bool& cancel) { cancel = false; };
  EXPECT_FALSE(span_.ChangeDisk(stream_));
  ASSERT_FALSE(routes_.reported.empty());
  EXPECT_EQ(routes_.reported.back().code, kErrOpeningFile);
  EXPECT_EQ(cancel_, 0);
  EXPECT_EQ(stream_, nullptr);
}

TEST_F(Span, DiskSwappedOutWhileAskingForTheLastDiskKeepsTheName) {
  int calls = 0;
  span_.OnGetZipLastDisk = [&](TObject*, bool& cancel) {
    ++calls;
    if (calls == 1) Drive().HostFolder = disk1_.Host("nothing-here");  // an empty drive
    if (calls == 2) Insert(2);
    cancel = false;
  };
  ASSERT_TRUE(span_.ChangeDisk(stream_));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(arc_.ArchiveFile(), "E:\\set.zip");
}

}  // namespace
