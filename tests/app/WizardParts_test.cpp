// Tests of the wizard's parts that need no window: the path rules (typed, pasted and dropped
// paths, the default folder name, the destination), the error box's text, the launcher's URLs,
// the line breaking of the sentence that names a path, and the pictures (the JPEG through
// libjpeg, the animated banner).
#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QMovie>
#include <QUrl>
#include <string>

#include <gtest/gtest.h>

#include "app/JpegPicture.h"
#include "app/PathLabel.h"
#include "app/RunReport.h"
#include "app/WizardPaths.h"
#include "app/WizardServices.h"
#include "archive/messages/Err_Msgs.h"
#include "platform/host.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

using parcelo::test::ScopedEnv;
using parcelo::test::TempDir;
using wizard::TFailure;

TEST(WizardPaths, DefaultFolderNameCutsTheFirstOccurrenceOfTheExtension) {
  EXPECT_EQ(wizard::DefaultFolderName("C:\\backup.zip"), "backup");
  EXPECT_EQ(wizard::DefaultFolderName("C:\\archive.ZIP"), "archive");
  EXPECT_EQ(wizard::DefaultFolderName("C:\\my.zip.old.zip"), "my.old.zip");
  EXPECT_EQ(wizard::DefaultFolderName("Z:\\tmp\\archive"), "archive");  // no extension
  EXPECT_EQ(wizard::DefaultFolderName("C:\\my files.zip"), "my files");
  // The extension is the file name's: a dot in a folder name above does not count.
  EXPECT_EQ(wizard::DefaultFolderName("C:\\v1.2\\data"), "data");
  // Compared with case: ".Zip" is not found in "a.zip.Zip" before its end.
  EXPECT_EQ(wizard::DefaultFolderName("C:\\a.zip.Zip"), "a.zip");
  // A compressed tar is one archive: "src.tar.gz" gives "src", whatever the case.
  EXPECT_EQ(wizard::DefaultFolderName("C:\\src.tar.gz"), "src");
  EXPECT_EQ(wizard::DefaultFolderName("C:\\Backup.TAR.XZ"), "Backup");
  EXPECT_EQ(wizard::DefaultFolderName("C:\\old.tar.Z"), "old");
  EXPECT_EQ(wizard::DefaultFolderName("C:\\notes.tar"), "notes");
  EXPECT_EQ(wizard::DefaultFolderName("C:\\x.tar.zip"), "x.tar");  // a zip of a tar stays so
  // The first ".gz" goes, as the rule says; the name then ends in no compressed tar.
  EXPECT_EQ(wizard::DefaultFolderName("C:\\a.gz.tar.gz"), "a.tar.gz");
}

TEST(WizardPaths, DestinationHasExactlyOneBackslashBeforeTheFolderName) {
  EXPECT_EQ(wizard::ComposeDestination("C:\\", "docs"), "C:\\docs");
  EXPECT_EQ(wizard::ComposeDestination("C:\\Temp", "docs"), "C:\\Temp\\docs");
  EXPECT_EQ(wizard::ComposeDestination("C:\\Temp\\", "docs"), "C:\\Temp\\docs");
  EXPECT_EQ(wizard::ComposeDestination("C:\\Temp", ""), "C:\\Temp\\");  // the directory itself
}

TEST(WizardPaths, HostPathsHomePathsAndFileUrlsAreShownInTheWindowsSyntax) {
  TempDir home("wizard-home");
  ScopedEnv homeEnv("HOME", home.HostPath());
  const std::string h = home.HostPath();
  EXPECT_EQ(wizard::SystemPathFromTyped(h + "/a.zip"), "C:\\a.zip");
  EXPECT_EQ(wizard::SystemPathFromTyped("~/x/a.zip"), "C:\\x\\a.zip");
  EXPECT_EQ(wizard::SystemPathFromTyped("~"), "C:\\");
  EXPECT_EQ(wizard::SystemPathFromTyped("/usr/share/a b.zip"), "Z:\\usr\\share\\a b.zip");
  // What a file manager drops or passes: a URL with escaped characters.
  EXPECT_EQ(wizard::SystemPathFromTyped("file://" + h + "/my%20files.zip"), "C:\\my files.zip");
  EXPECT_EQ(wizard::SystemPathFromTyped("file:///tmp/a%23b.zip"), "Z:\\tmp\\a#b.zip");
  // Pasted from a terminal: blanks, a line break and quotes around it.
  EXPECT_EQ(wizard::SystemPathFromTyped("  '/tmp/a b.zip'\n"), "Z:\\tmp\\a b.zip");
  // Already in the window's syntax, or nothing of ours: left as typed.
  EXPECT_EQ(wizard::SystemPathFromTyped("C:\\Temp\\a.zip"), "C:\\Temp\\a.zip");
  EXPECT_EQ(wizard::SystemPathFromTyped("Drives"), "Drives");
  EXPECT_EQ(wizard::SystemPathFromTyped("   "), "");
  EXPECT_EQ(wizard::SystemPathFromTyped("file://server/share/a.zip"), "file://server/share/a.zip");
}

TEST(WizardLauncher, FoldersBecomeFileUrlsAndWebAddressesStayAsTheyAre) {
  TempDir home("wizard-home");
  ScopedEnv homeEnv("HOME", home.HostPath());
  const QUrl folder = wizard::UrlOfTarget("C:\\my docs");
  EXPECT_TRUE(folder.isLocalFile());
  EXPECT_EQ(folder.toLocalFile().toStdString(), home.HostPath() + "/my docs");
  EXPECT_EQ(wizard::UrlOfTarget("file:///usr/share/parcelo/about.html").toLocalFile(),
            "/usr/share/parcelo/about.html");
  EXPECT_EQ(wizard::UrlOfTarget("https://example.org/a b").scheme(), "https");
  EXPECT_FALSE(wizard::UrlOfTarget("\\\\server\\share").isValid());  // nothing here
  EXPECT_EQ(wizard::QtFileFilter("Zip Files (*.zip)|*.zip"), "Zip Files (*.zip)");
  EXPECT_EQ(wizard::QtFileFilter("A (*.a)|*.a|B (*.b)|*.b"), "A (*.a);;B (*.b)");
  // Zip files first as designed, then every archive the engine extracts, then everything.
  const std::string filter = wizard::ArchiveDialogFilter();
  EXPECT_EQ(filter.rfind("Zip Files (*.zip)|*.zip|All archives (*.zip *.jar *.7z ", 0), 0u) << filter;
  for (const char* mask : {" *.rar", " *.tar.gz", " *.tgz", " *.xz", " *.iso", " *.cpio", " *.zst"})
    EXPECT_NE(filter.find(mask), std::string::npos) << mask;
  EXPECT_NE(filter.find(")|*.zip;*.jar;*.7z;"), std::string::npos);
  EXPECT_EQ(filter.substr(filter.size() - 16), "|All files (*)|*");

  // The hooks hand the desktop a URL; a refusal reaches the caller.
  std::vector<QUrl> opened;
  bool answer = true;
  wizard::InstallDesktopHooks([&](const QUrl& url) {
    opened.push_back(url);
    return answer;
  });
  EXPECT_TRUE(host::ShellOpen("C:\\my docs"));
  answer = false;
  EXPECT_FALSE(host::ShellOpen("C:\\my docs"));
  EXPECT_FALSE(host::ShellOpen("\\\\server\\share"));  // never reaches the desktop
  host::InstallShellHooks({});
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0].toLocalFile().toStdString(), home.HostPath() + "/my docs");
}

TEST(RunReport, ErrorCodesAreSortedIntoReasonsAPersonUnderstands) {
  EXPECT_EQ(wizard::FailureOfCode(kErrInvalidPassword, ""), TFailure::Password);
  EXPECT_EQ(wizard::FailureOfCode(kErrEventNotAssigned, "OnGetPassword"), TFailure::Password);
  EXPECT_EQ(wizard::FailureOfCode(kErrEventNotAssigned, "OnNextVolume"), TFailure::Other);
  EXPECT_EQ(wizard::FailureOfCode(kErrCrcCheck, ""), TFailure::Checksum);
  EXPECT_EQ(wizard::FailureOfCode(kErrOpeningFile, ""), TFailure::Write);
  EXPECT_EQ(wizard::FailureOfCode(kErrDiskFull, ""), TFailure::Write);
  EXPECT_EQ(wizard::FailureOfCode(kErrUnsupportedMethod, ""), TFailure::Method);
  EXPECT_EQ(wizard::FailureOfCode(kErrBadBlock, ""), TFailure::Damaged);
}

// A run result as the extraction job folds it: the reports in the order given, the counts.
TRunResult ResultOf(int extracted, const std::vector<TReport>& reports, int failedCount = -1) {
  TRunResult result;
  result.Started = true;
  result.FilesExtracted = extracted;
  for (const TReport& report : reports) result.Add(report);
  result.FailedCount = failedCount >= 0 ? failedCount : result.NotExtractedCount();
  return result;
}

TReport Said(TReportSeverity severity, TReportSubject subject, const std::string& name, int code,
             const std::string& detail = "") {
  TReport report;
  report.Severity = severity;
  report.Subject = subject;
  report.Name = report.FileName = name;
  report.Code = code;
  report.Detail = detail;
  return report;
}

TReport MemberFailed(const std::string& name, int code, const std::string& detail = "") {
  return Said(TReportSeverity::Failed, TReportSubject::Member, name, code, detail);
}

TEST(RunReport, TextCountsNamesTheFirstFewAndSaysWhatToDo) {
  EXPECT_EQ(wizard::TRunReport(ResultOf(3, {}), false).Text(), "");  // nothing went wrong
  const wizard::TRunReport wrong(
      ResultOf(1, {MemberFailed("a.txt", kErrInvalidPassword),
                   MemberFailed("b.txt", kErrInvalidPassword),
                   MemberFailed("c.txt", kErrInvalidPassword), MemberFailed("f.txt", kErrCrcCheck),
                   MemberFailed("d.txt", kErrInvalidPassword),
                   // a member named twice counts once, under its first reason
                   MemberFailed("a.txt", kErrCrcCheck)}),
      true);
  EXPECT_EQ(wrong.FailedCount(), 5);
  EXPECT_TRUE(wrong.PasswordFailed());
  EXPECT_EQ(wrong.Verdict(), TRunVerdict::Partial);
  EXPECT_EQ(wrong.Text(),
            "5 files were not extracted.\n\n"
            "The password is wrong for 4 files: a.txt, b.txt, c.txt and 1 more.\n\n"
            "1 file came out different from what the archive recorded (a damaged archive): "
            "f.txt.\n\n"
            "Type the right password and click Unzip again.");
  EXPECT_EQ(wrong.ResultSentence("C:\\docs"),
            "Parcelo extracted 1 of 6 files to the folder C:\\docs; 5 could not be extracted.");

  // No password typed: the engine had none to try.
  const wizard::TRunReport none(ResultOf(0, {MemberFailed("a.txt", kErrPasswordFailed),
                                             MemberFailed("b.txt", kErrEventNotAssigned,
                                                          "OnGetPassword")}),
                                false);
  EXPECT_TRUE(none.NothingCameOut());
  EXPECT_EQ(none.Text(),
            "2 files were not extracted.\n\n"
            "2 files are protected by a password, and none was typed: a.txt and b.txt.\n\n"
            "Type the password and click Unzip again.");
}

// A member that is a folder is no file: neither counted nor named.
TEST(RunReport, FoldersAreNotCountedAsFiles) {
  const wizard::TRunReport run(
      ResultOf(2, {MemberFailed("src\\", kErrCreatingDirectory, "Read-only file system"),
                   MemberFailed("src\\a.c", kErrCreatingDirectory, "Read-only file system")}),
      false);
  EXPECT_EQ(run.FailedCount(), 1);
  EXPECT_EQ(run.Text(),
            "1 file was not extracted.\n\n"
            "1 file could not be written to the destination folder (the disk is read-only): "
            "src\\a.c.");
}

TEST(RunReport, AShortfallWithoutAReasonAndAnUnreadableArchiveAreStillReported) {
  // The extractor counted two failures and named one.
  const wizard::TRunReport run(ResultOf(1, {MemberFailed("c", kErrWritingFile)}, 2), false);
  EXPECT_EQ(run.FailedCount(), 2);
  EXPECT_NE(run.Text().find("1 file could not be written to the destination folder"),
            std::string::npos);
  EXPECT_NE(run.Text().find("1 file could not be extracted for a reason"), std::string::npos);

  const TReport unreadable =
      Said(TReportSeverity::Fatal, TReportSubject::Archive, "C:\\a.tgz", kErrReadingFile);
  const wizard::TRunReport nothing(ResultOf(0, {unreadable}), false);
  EXPECT_EQ(nothing.Verdict(), TRunVerdict::Failed);
  EXPECT_EQ(nothing.Text(), "The archive could not be read: it is damaged or cut short.");
  // Read in part, and what was taken up came out: the sentence alone, no blank lines after it;
  // page 3 does not congratulate.
  const wizard::TRunReport some(ResultOf(4, {unreadable}), false);
  EXPECT_EQ(some.Verdict(), TRunVerdict::Partial);
  EXPECT_EQ(some.Text(), "The rest of the archive could not be read: it is damaged or cut short.");
  EXPECT_EQ(some.ResultSentence("C:\\x"),
            "Parcelo extracted 4 files to the folder C:\\x; the rest of the archive could not be "
            "read.");
  // A member cut short where the archive ends: how many of how many is not known.
  const wizard::TRunReport cut(ResultOf(1, {MemberFailed("data\\a.bin", kErrReadingFile), unreadable}),
                               false);
  EXPECT_EQ(cut.ResultSentence("C:\\x"),
            "Parcelo extracted 1 file to the folder C:\\x; 1 could not be extracted, and the rest "
            "of the archive could not be read.");
  // Another reason the archive gives is said in its own words.
  const wizard::TRunReport other(
      ResultOf(0, {Said(TReportSeverity::Fatal, TReportSubject::Archive, "C:\\a", kErrOpeningFile,
                        "Permission denied")}),
      false);
  EXPECT_EQ(other.Text(), "The archive could not be read: " + LoadStr(kErrOpeningFile) +
                              " (Permission denied).");
  // A folder that cannot be made is said as such, with the system's reason.
  TReport folder = Said(TReportSeverity::Fatal, TReportSubject::Archive, "C:\\a.zip",
                        kErrCreatingDirectory, "Read-only file system");
  folder.FileName = "C:\\ro\\a";
  EXPECT_EQ(wizard::TRunReport(ResultOf(0, {folder}), false).Text(),
            "The folder C:\\ro\\a could not be made (the disk is read-only).");
}

// A warning is a warning: the run is a success with warnings, the error box has nothing to say,
// page 3 congratulates, and the warning box says what happened.
TEST(RunReport, WarningsAreToldAsWarningsNotFailures) {
  const wizard::TRunReport run(
      ResultOf(3, {Said(TReportSeverity::Warning, TReportSubject::Archive, "C:\\a.zip",
                        kErrReadingFileList, "no central directory"),
                   Said(TReportSeverity::Warning, TReportSubject::Member, "b.txt",
                        kErrBadFileHeader, "the local header names it c.txt")}),
      false);
  EXPECT_EQ(run.Verdict(), TRunVerdict::SuccessWithWarnings);
  EXPECT_EQ(run.Text(), "");
  EXPECT_EQ(run.FailedCount(), 0);
  EXPECT_EQ(run.ResultSentence("C:\\a").rfind("Congratulations, you have successfully extracted 3 "
                                               "file(s) to the folder C:\\a.",
                                               0),
            0u);
  EXPECT_EQ(run.WarningText(),
            "The archive's directory was missing; its files were found one by one.\n\n"
            "b.txt: " + LoadStr(kErrBadFileHeader) + " (the local header names it c.txt).");
}

// A file that could not be written is told with the reason the system gave, in plain words;
// files that failed for different reasons are told apart.
TEST(RunReport, WriteFailuresSayTheSystemsReason) {
  EXPECT_EQ(wizard::WriteReasonText("Read-only file system"), "the disk is read-only");
  EXPECT_EQ(wizard::WriteReasonText("No space left on device"), "the disk is full");
  EXPECT_EQ(wizard::WriteReasonText("Is a directory"), "a folder of that name is in the way");
  EXPECT_EQ(wizard::WriteReasonText("Something else"), "something else");
  const wizard::TRunReport run(
      ResultOf(0, {MemberFailed("a.txt", kErrOpeningFile, "Read-only file system"),
                   MemberFailed("b.txt", kErrWritingFile, "No space left on device"),
                   MemberFailed("c.txt", kErrOpeningFile, "Read-only file system")}),
      false);
  EXPECT_EQ(run.Text(),
            "3 files were not extracted.\n\n"
            "2 files could not be written to the destination folder (the disk is read-only): "
            "a.txt and c.txt.\n\n"
            "1 file could not be written to the destination folder (the disk is full): b.txt.");
}

// At every width the sentence is shown whole, and a line never ends with a drive's bare "C:"
// torn from the rest of its path.
TEST(WizardPathLabel, ADriveStaysWithItsPathAndNoWordIsLost) {
  const QString sentence =
      "Congratulations, you have successfully extracted 2501 file(s) to the folder "
      "C:\\Unpacked\\Many. Click the Goto Folder button to view your extracted files.";
  TPathLabel label(sentence);
  QFont font = label.font();
  font.setPixelSize(11);
  label.setFont(font);
  QStringList words = sentence.split(' ');
  for (int width = 120; width <= 600; width += 3) {
    const QStringList lines = label.Lines(width);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.join(' ').split(' '), words) << width;
    for (const QString& line : lines) {
      EXPECT_FALSE(line.endsWith(':')) << width << ": " << line.toStdString();
      if (line.contains(' ')) {  // a line of more than one word fits its width
        EXPECT_LE(label.fontMetrics().horizontalAdvance(line), width) << line.toStdString();
      }
    }
    EXPECT_EQ(label.heightForWidth(width), lines.size() * label.fontMetrics().lineSpacing());
  }
  EXPECT_EQ(label.text(), sentence);  // the text as set; only the breaking differs
}

TEST(WizardPictures, TheJpegDecodesWithLibjpegLikeQtsOwnReader) {
  QFile file(":/pictures/parcel.jpg");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  const QImage image = wizard::DecodeJpeg(bytes);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(21, 33));
  // Qt's JPEG reader, when the plugin is there, is an independent route to the same pixels.
  QBuffer buffer;
  buffer.setData(bytes);
  QImageReader reader(&buffer, "jpeg");
  const QImage oracle = reader.read();
  if (!oracle.isNull()) {
    ASSERT_EQ(oracle.size(), image.size());
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QColor a = image.pixelColor(x, y), b = oracle.pixelColor(x, y);
        ASSERT_LE(std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                      std::abs(a.blue() - b.blue()),
                  6)
            << x << "," << y;
      }
  }
  // Damaged pictures give a null image, never a crash: cut anywhere, or bytes changed.
  for (int cut = 0; cut < bytes.size(); cut += 7) (void)wizard::DecodeJpeg(bytes.left(cut));
  EXPECT_TRUE(wizard::DecodeJpeg(bytes.left(20)).isNull());
  EXPECT_TRUE(wizard::DecodeJpeg("not a picture").isNull());
  QByteArray changed = bytes;
  for (int i = 2; i < changed.size(); i += 13) changed[i] = static_cast<char>(changed[i] ^ 0x5A);
  (void)wizard::DecodeJpeg(changed);
}

TEST(WizardPictures, TheBannerIsAnEndlessGif89aOf62FramesOf468By60) {
  QFile file(":/pictures/banner.gif");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.read(6), QByteArray("GIF89a"));
  file.close();
  QMovie movie(":/pictures/banner.gif");
  ASSERT_TRUE(movie.isValid());
  EXPECT_EQ(movie.frameCount(), 62);
  QImageReader reader(":/pictures/banner.gif");
  EXPECT_EQ(reader.size(), QSize(468, 60));
  EXPECT_EQ(reader.loopCount(), -1);  // the NETSCAPE loop extension with a count of 0: forever
}

}  // namespace
