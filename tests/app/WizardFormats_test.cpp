// The wizard on every format it opens, headless: archives made at test time by tar, 7zz, lha, arj
// and gcab (and a RAR from the shared test data) pass page 1's check, get their folder name,
// extract through the extraction job with the gauges moving, and page 3 counts their files; the
// files come out as the tools packed them. "Extract Here" reads the same formats. And the wizard
// and parcelo-cli tell the same story about the same archives (a whole one, a damaged zip, a zip
// with a link that would lead outside, a zip without its directory, a whole and a truncated
// .tar.gz): the same count, the same reports, the same verdict.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/ExtractHere.h"
#include "app/Unit1.h"
#include "app/WizardServices.h"
#include "archive/messages/Err_Msgs.h"
#include "platform/host.h"
#include "support/CliRun.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace {

namespace fs = std::filesystem;
using parcelo::test::ScopedEnv;
using parcelo::test::TempDir;

// Message boxes, questions and the file dialog without a person: recorded with their kind.
class TRecordingServices : public wizard::TWizardServices {
 public:
  std::vector<std::string> Errors;
  std::vector<std::string> Warnings;
  std::vector<std::string> Questions;
  std::string ChosenFile;

  void ShowMessage(QWidget*, const std::string& text, TMsgDlgType type) override {
    (type == TMsgDlgType::mtWarning ? Warnings : Errors).push_back(text);
  }
  bool AskYesNo(QWidget*, const std::string& text) override {
    Questions.push_back(text);
    return true;
  }
  void Beep() override {}
  bool MoveToTrash(const std::string&) override { return false; }
  bool OpenFile(const std::string&) override { return false; }
  void ShowProperties(QWidget*, const std::string&) override {}
  std::string ChooseArchive(QWidget*, const wizard::TOpenDialog&) override { return ChosenFile; }
  void NotifyRunEnded(const std::string&, const std::string&, const std::string&) override {}
};

bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

bool RunIn(const std::string& dir, const std::string& command) {
  return std::system(("cd '" + dir + "' && (" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes that do not compress away: several blocks of work, so the gauges move in steps.
std::string Noise(size_t size, uint32_t seed) {
  std::string data(size, '\0');
  for (char& c : data) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return data;
}

class WizardFormats : public ::testing::Test {
 protected:
  void SetUp() override {
    form = std::make_unique<TForm1>(&services);
    form->show();
    QApplication::processEvents();
  }
  void TearDown() override { form.reset(); }

  // The files every archive below packs, relative to the folder they are packed from.
  const std::map<std::string, std::string> kFiles = {
      {"readme.txt", "Read me first.\n"},
      {"docs/notes.txt", std::string(20000, 'n')},
      {"docs/big.bin", Noise(600 * 1024, 7)},
  };
  std::string MakeSource() {
    const std::string source = home.Host("src");
    for (const auto& [name, contents] : kFiles) {
      fs::create_directories(fs::path(source + "/" + name).parent_path());
      std::ofstream(source + "/" + name, std::ios::binary) << contents;
    }
    return source;
  }

  // Browse (the dialog returns `hostPath`), Continue, the destination, Unzip; the highest value
  // the archive's gauge showed is noted.
  void Extract(const std::string& hostPath, const std::string& folder) {
    services.ChosenFile = hostPath;
    form->xpButton1->Click();
    ASSERT_TRUE(services.Errors.empty()) << services.Errors[0];
    form->xpButton2->Click();
    ASSERT_EQ(form->CurrentPage(), 2);
    auto progress = form->UnZip1.OnProgress;
    gaugeSteps = 0;
    form->UnZip1.OnProgress = [&, progress](TObject* sender, uint8_t byFile, uint8_t byArchive) {
      progress(sender, byFile, byArchive);
      if (form->Gauge2->isVisible() && form->Gauge2->Progress() == byArchive) ++gaugeSteps;
    };
    form->Edit2->setText("C:\\");
    form->Edit3->setText(QString::fromStdString(folder));
    form->xpButton5->Click();
    form->UnZip1.OnProgress = progress;
  }

  TempDir home{"wizard-formats"};
  ScopedEnv homeEnv{"HOME", home.HostPath()};
  TRecordingServices services;
  std::unique_ptr<TForm1> form;
  int gaugeSteps = 0;
};

// ---- every format from the wizard ---------------------------------------------------------------

struct TFormat {
  const char* name;       // the archive's file name
  const char* tool;       // what makes it
  const char* command;    // run in the source folder; "%s" is the archive's path
  const char* proposed;   // the folder name page 1 proposes
};

class WizardEveryFormat : public WizardFormats, public ::testing::WithParamInterface<TFormat> {};

TEST_P(WizardEveryFormat, PassesPage1AndExtractsEveryFileWithTheGaugesMoving) {
  const TFormat& format = GetParam();
  if (!HaveTool(format.tool)) GTEST_SKIP() << format.tool << " is not installed";
  const std::string source = MakeSource();
  const std::string archive = home.Host(format.name);
  std::string command = format.command;
  command.replace(command.find("%s"), 2, "'" + archive + "'");
  ASSERT_TRUE(RunIn(source, command)) << command;

  Extract(archive, "out");
  EXPECT_EQ(form->Edit3->text().toStdString(), "out");
  ASSERT_TRUE(services.Errors.empty()) << services.Errors[0];
  EXPECT_TRUE(services.Warnings.empty()) << services.Warnings[0];
  EXPECT_EQ(form->CurrentPage(), 3);
  EXPECT_EQ(form->Label2->text().toStdString(),
            "Congratulations, you have successfully extracted 3 file(s) to the folder C:\\out. "
            "Click the Goto Folder button to view your extracted files.");
  EXPECT_GE(gaugeSteps, 2);  // the gauge showed the run's progress more than once
  for (const auto& [name, contents] : kFiles)
    EXPECT_EQ(ReadAll(home.Host("out/" + name)), contents) << name;

  // The name proposed from the archive's own name, as Browse proposes it.
  form->xpButton4->Click();
  services.ChosenFile = archive;
  form->xpButton1->Click();
  EXPECT_EQ(form->Edit3->text().toStdString(), format.proposed);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, WizardEveryFormat,
    ::testing::Values(TFormat{"src.tar.gz", "tar", "tar czf %s readme.txt docs", "src"},
                      TFormat{"src.tar.bz2", "bzip2", "tar cjf %s readme.txt docs", "src"},
                      TFormat{"set.7z", "7zz", "7zz a -bd %s readme.txt docs", "set"},
                      TFormat{"old.lzh", "lha", "lha aq %s readme.txt docs/notes.txt docs/big.bin",
                              "old"},
                      TFormat{"old.arj", "arj", "arj a -y -r %s readme.txt docs/notes.txt "
                                                "docs/big.bin",
                              "old"},
                      TFormat{"box.cab", "gcab", "gcab -c -z %s readme.txt docs/notes.txt "
                                                 "docs/big.bin",
                              "box"},
                      TFormat{"plain.zip", "zip", "zip -q -r -X %s readme.txt docs", "plain"}),
    [](const ::testing::TestParamInfo<TFormat>& info) {
      std::string name = info.param.name;
      std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
      return name;
    });

// A RAR archive made by RAR itself (no free tool writes one): page 1 passes, every file comes out.
TEST_F(WizardFormats, ARarArchiveOfTheSharedTestDataExtracts) {
  const std::string archive = std::string(PARCELO_SOURCE_DIR) + "/../shared/testdata/other/sc_Rar4.rar";
  if (!fs::exists(archive)) GTEST_SKIP() << archive << " is not there";
  Extract(archive, "rar");
  ASSERT_TRUE(services.Errors.empty()) << services.Errors[0];
  EXPECT_EQ(form->CurrentPage(), 3);
  // The shared data's list of the archive names 3 files (and 2 folders).
  EXPECT_NE(form->Label2->text().indexOf("successfully extracted 3 file(s)"), -1)
      << form->Label2->text().toStdString();
  EXPECT_EQ(form->LastRun().Extracted(), 3);
}

// "Extract Here" reads what the wizard reads.
TEST_F(WizardFormats, ExtractHereReadsATarGzAndA7z) {
  if (!HaveTool("tar") || !HaveTool("7zz")) GTEST_SKIP() << "tar or 7zz is not installed";
  const std::string source = MakeSource();
  ASSERT_TRUE(RunIn(source, "tar czf ../src.tar.gz readme.txt docs"));
  ASSERT_TRUE(RunIn(source, "7zz a -bd ../set.7z readme.txt docs"));
  EXPECT_EQ(wizard::ExtractHere({home.Host("src.tar.gz"), home.Host("set.7z")}, services), 0);
  EXPECT_TRUE(services.Errors.empty()) << services.Errors[0];
  for (const auto& [name, contents] : kFiles) {
    // "src" is taken (the files were packed from there): "src (2)".
    EXPECT_EQ(ReadAll(home.Host("src (2)/" + name)), contents) << name;
    EXPECT_EQ(ReadAll(home.Host("set/" + name)), contents) << name;
  }
}

// ---- the wizard and parcelo-cli on the same archives --------------------------------------------

// What parcelo-cli said about a run: its count, its status, the codes of its reports, and the
// files its reports name.
struct TCliStory {
  int count = -1;
  int status = -1;
  std::vector<int> codes;
};

TCliStory CliExtract(const std::string& archive, const std::string& cwd) {
  const parcelo::test::TCliRun run =
      parcelo::test::RunCli("extract " + parcelo::test::Quote(archive) + " -d cli-out", cwd);
  TCliStory story;
  story.status = run.status;
  // "N file(s) extracted to ..."
  const size_t said = run.out.find(" file(s) extracted");
  if (said != std::string::npos) {
    size_t start = run.out.rfind('\n', said);
    start = start == std::string::npos ? 0 : start + 1;
    story.count = std::atoi(run.out.c_str() + start);
  }
  // Every report's line ends with its code in brackets: "... (25151)".
  for (size_t end = run.err.find(")\n"); end != std::string::npos;
       end = run.err.find(")\n", end + 1)) {
    const size_t open = run.err.rfind('(', end);
    const size_t lineStart = run.err.rfind('\n', end - 1);
    if (open == std::string::npos || (lineStart != std::string::npos && open < lineStart)) continue;
    story.codes.push_back(std::atoi(run.err.c_str() + open + 1));
  }
  std::sort(story.codes.begin(), story.codes.end());
  return story;
}

class WizardAndCli : public WizardFormats {
 protected:
  // Runs both on `archive` and checks that they agree; returns the wizard's verdict.
  TRunVerdict ExpectSameStory(const std::string& archive) {
    const TCliStory cli = CliExtract(archive, home.HostPath());
    services.Errors.clear();
    services.Warnings.clear();
    if (form->CurrentPage() == 2) form->xpButton6->Click();  // Go Back
    if (form->CurrentPage() == 3) form->xpButton4->Click();  // Another?
    Extract(archive, "wizard-out");
    const wizard::TRunReport& run = form->LastRun();
    std::vector<int> codes;
    for (const TReport& report : run.Result().Reports) codes.push_back(report.Code);
    std::sort(codes.begin(), codes.end());

    EXPECT_EQ(run.Extracted(), cli.count) << archive;
    EXPECT_EQ(codes, cli.codes) << archive;
    const TRunVerdict verdict = run.Verdict();
    switch (verdict) {
      case TRunVerdict::Success:
        EXPECT_EQ(cli.status, 0);
        EXPECT_TRUE(services.Errors.empty() && services.Warnings.empty());
        break;
      case TRunVerdict::SuccessWithWarnings:
        EXPECT_EQ(cli.status, 1);
        EXPECT_TRUE(services.Errors.empty()) << services.Errors[0];
        EXPECT_EQ(services.Warnings.size(), 1u);  // told as a warning, never as a failure
        break;
      case TRunVerdict::Partial:
      case TRunVerdict::Failed:
        EXPECT_EQ(cli.status, 2);
        EXPECT_EQ(services.Errors.size(), 1u);
        break;
    }
    // Page 3's count is the CLI's count; a run that extracted nothing stays on page 2.
    if (verdict == TRunVerdict::Failed) {
      EXPECT_EQ(form->CurrentPage(), 2);
      EXPECT_FALSE(fs::exists(home.Host("wizard-out")));
    } else {
      EXPECT_EQ(form->CurrentPage(), 3);
      const std::string sentence = form->Label2->text().toStdString();
      const std::string count = std::to_string(cli.count);
      EXPECT_TRUE(sentence.find("extracted " + count + " file(s)") != std::string::npos ||
                  sentence.find("extracted " + count + " of ") != std::string::npos ||
                  sentence.find("extracted " + count + " file") != std::string::npos)
          << sentence;
      const bool congratulates = sentence.rfind("Congratulations", 0) == 0;
      EXPECT_EQ(congratulates, verdict != TRunVerdict::Partial) << sentence;
    }
    fs::remove_all(home.Host("cli-out"));
    fs::remove_all(home.Host("wizard-out"));
    return verdict;
  }
};

TEST_F(WizardAndCli, DamagedZipsAndARefusedLinkAreToldAlike) {
  // A whole zip.
  ziptest::ZipBuilder().AddStored("a.txt", "alpha").AddStored("b.txt", "beta").WriteTo(
      home.Host("whole.zip"));
  EXPECT_EQ(ExpectSameStory(home.Host("whole.zip")), TRunVerdict::Success);

  // A member whose bytes were damaged after it was packed, among whole ones.
  ziptest::ZipBuilder()
      .AddStored("good.txt", "good")
      .AddStored("bad.txt", "damaged")
      .AddStored("also.txt", "also")
      .WriteTo(home.Host("damaged.zip"));
  std::string bytes = ReadAll(home.Host("damaged.zip"));
  bytes[bytes.find("damaged")] ^= 0x20;
  std::ofstream(home.Host("damaged.zip"), std::ios::binary) << bytes;
  EXPECT_EQ(ExpectSameStory(home.Host("damaged.zip")), TRunVerdict::Partial);
  EXPECT_NE(services.Errors.at(0).find("bad.txt"), std::string::npos) << services.Errors[0];
  EXPECT_NE(form->Label2->text().toStdString().find("extracted 2 of 3 files"), std::string::npos);

  // A zip without its end record and directory (from .NET's test data): a warning, every file
  // out.
  const std::string noDirectory =
      std::string(PARCELO_SOURCE_DIR) + "/../shared/testdata/zip/dn_EOCDmissing.zip";
  if (fs::exists(noDirectory)) {
    EXPECT_EQ(ExpectSameStory(noDirectory), TRunVerdict::SuccessWithWarnings);
    EXPECT_EQ(services.Warnings.at(0),
              "The archive's directory was missing; its files were found one by one.");
  }

  // A link that would lead outside the destination, made by Info-ZIP's zip.
  if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  fs::create_directories(home.Host("linksrc"));
  std::ofstream(home.Host("linksrc/kept.txt")) << "kept";
  fs::create_symlink("../../../outside.txt", home.Host("linksrc/escape"));
  ASSERT_TRUE(RunIn(home.Host("linksrc"), "zip -q -y -X ../link.zip kept.txt escape"));
  EXPECT_EQ(ExpectSameStory(home.Host("link.zip")), TRunVerdict::Partial);
  EXPECT_NE(services.Errors.at(0).find("escape"), std::string::npos) << services.Errors[0];
  EXPECT_FALSE(fs::exists(home.Host("outside.txt")));
}

TEST_F(WizardAndCli, AWholeAndATruncatedTarGzAreToldAlike) {
  if (!HaveTool("tar")) GTEST_SKIP() << "tar is not installed";
  const std::string source = MakeSource();
  ASSERT_TRUE(RunIn(source, "tar czf ../whole.tar.gz readme.txt docs"));
  EXPECT_EQ(ExpectSameStory(home.Host("whole.tar.gz")), TRunVerdict::Success);

  // Cut inside the big member: what came before it comes out, the rest is said to be lost.
  std::string bytes = ReadAll(home.Host("whole.tar.gz"));
  bytes.resize(bytes.size() * 2 / 3);
  std::ofstream(home.Host("cut.tar.gz"), std::ios::binary) << bytes;
  const TRunVerdict cut = ExpectSameStory(home.Host("cut.tar.gz"));
  EXPECT_TRUE(cut == TRunVerdict::Partial || cut == TRunVerdict::Failed);
  EXPECT_FALSE(services.Errors.empty());
}

}  // namespace
