// Tests of TForm1 driven headless: the designed layout (every control's place, size and text, the
// tab orders, the client sizes of each page), the three pages' handlers on real zips made by
// Info-ZIP's zip in the test (stored, deflated, encrypted, only folders, not an archive, a name
// with blanks) and by the test's own zip writer (damaged members), and the window's safeguards:
// the error box after a run that went wrong, the replace question, the refused destination, a
// close during the extraction, launches the desktop cannot do, the command line and drops.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMovie>
#include <QPlainTextEdit>
#include <QTest>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/ExtractHere.h"
#include "app/Unit1.h"
#include "app/WizardServices.h"
#include "platform/host.h"
#include "platform/seams.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace {

namespace fs = std::filesystem;
using parcelo::test::ScopedEnv;
using parcelo::test::TempDir;

// Message boxes, questions and the file dialog without a person: recorded and answered.
class TFakeServices : public wizard::TWizardServices {
 public:
  std::vector<std::string> Messages;
  std::vector<std::string> Questions;
  std::deque<bool> Answers;  // Yes when empty
  std::string ChosenFile;    // what the file dialog returns (host path; empty: cancelled)
  wizard::TOpenDialog LastDialog;

  std::function<void()> WhileShown;  // runs while a message box would be open

  std::vector<TMsgDlgType> Kinds;  // of each message
  void ShowMessage(QWidget*, const std::string& text, TMsgDlgType kind) override {
    Messages.push_back(text);
    Kinds.push_back(kind);
    if (WhileShown) WhileShown();
  }
  bool AskYesNo(QWidget*, const std::string& text) override {
    Questions.push_back(text);
    if (Answers.empty()) return true;
    const bool answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
  void Beep() override {}
  bool MoveToTrash(const std::string&) override { return false; }
  bool OpenFile(const std::string&) override { return false; }
  void ShowProperties(QWidget*, const std::string&) override {}
  std::string ChooseArchive(QWidget*, const wizard::TOpenDialog& dialog) override {
    LastDialog = dialog;
    return ChosenFile;
  }
  std::vector<std::string> Notifications;  // "summary|body|folder"
  void NotifyRunEnded(const std::string& summary, const std::string& body,
                      const std::string& folder) override {
    Notifications.push_back(summary + "|" + body + "|" + folder);
  }
};

std::string Text(const QLineEdit* edit) {
  return edit->text().toStdString();
}

class Wizard : public ::testing::Test {
 protected:
  void SetUp() override {
    form = std::make_unique<TForm1>(&services);
    form->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    form.reset();
    host::InstallShellHooks({});
  }

  bool HaveZip() { return std::system("command -v zip >/dev/null 2>&1") == 0; }

  // Makes `name` (below the home folder) with Info-ZIP's zip from the given files; returns its
  // host path. `options`: further zip options, e.g. "-0" (stored) or "-P secret".
  std::string MakeZip(const std::string& name, const std::map<std::string, std::string>& files,
                      const std::string& options = "") {
    const std::string source = home.Host("src-" + std::to_string(++zips));
    for (const auto& [path, contents] : files) {
      fs::create_directories(fs::path(source + "/" + path).parent_path());
      std::ofstream(source + "/" + path, std::ios::binary) << contents;
    }
    const std::string archive = home.Host(name);
    fs::create_directories(fs::path(archive).parent_path());
    const std::string command =
        "cd '" + source + "' && zip -q -r -X " + options + " '" + archive + "' . >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    // zip gives a name without an extension its ".zip"; the test wants the name as asked.
    if (!fs::exists(archive) && fs::exists(archive + ".zip")) fs::rename(archive + ".zip", archive);
    return archive;
  }

  // Browse with the dialog returning `hostPath`, Continue, then the destination fields.
  void ToPage2(const std::string& hostPath) {
    services.ChosenFile = hostPath;
    form->xpButton1->Click();
    form->xpButton2->Click();
    ASSERT_EQ(form->CurrentPage(), 2) << (services.Messages.empty() ? "" : services.Messages[0]);
  }
  void Unzip(const std::string& directory, const std::string& folder,
             const std::string& password = "") {
    form->Edit2->setText(QString::fromStdString(directory));
    form->Edit3->setText(QString::fromStdString(folder));
    form->Edit4->setText(QString::fromStdString(password));
    form->xpButton5->Click();
  }
  std::string ReadHome(const std::string& relative) { return home.ReadFile(relative); }

  TempDir home{"wizard-home"};
  ScopedEnv homeEnv{"HOME", home.HostPath()};
  TFakeServices services;
  std::unique_ptr<TForm1> form;
  int zips = 0;
};

// ---- the layout --------------------------------------------------------------------------------

TEST_F(Wizard, WindowAndPagesAreLaidOutAsDesigned) {
  EXPECT_EQ(form->windowTitle(), "Parcelo");
  EXPECT_EQ(form->size(), QSize(537, 511));  // the designed client area until the first switch
  EXPECT_EQ(form->minimumSize(), form->maximumSize());  // not resizable
  EXPECT_EQ(form->palette().color(QPalette::Window), QColor(192, 192, 192));
  EXPECT_EQ(form->font().pixelSize(), 11);
  // The memo's font (designed 12 pixels high) is as large as lets its four lines fit its box.
  EXPECT_LE(form->Memo2->font().pixelSize(), 12);
  EXPECT_GE(form->Memo2->font().pixelSize(), 8);
  const QFontMetrics memoMetrics(form->Memo2->font());
  for (const QString& line : form->Memo2->toPlainText().split('\n'))
    EXPECT_LE(memoMetrics.horizontalAdvance(line), 321) << line.toStdString();
  EXPECT_EQ(form->CurrentPage(), 1);
  EXPECT_FALSE(form->Panel1->isHidden());
  EXPECT_TRUE(form->Panel2->isHidden());
  EXPECT_TRUE(form->Panel3->isHidden());
  for (QWidget* panel : {form->Panel1, form->Panel2, form->Panel3}) {
    EXPECT_EQ(panel->pos(), QPoint(0, 0));
    EXPECT_EQ(panel->width(), 537);
  }
  EXPECT_EQ(form->Panel1->height(), 145);
  EXPECT_EQ(form->Panel2->height(), 297);
  EXPECT_EQ(form->Panel3->height(), 129);

  struct TPlace {
    QWidget* widget;
    QWidget* parent;
    QRect geometry;
  };
  const TPlace places[] = {
      {form->Image3, form->Panel1, {16, 40, 21, 33}},
      {form->Edit1, form->Panel1, {16, 104, 289, 21}},
      {form->xpButton1, form->Panel1, {312, 104, 65, 21}},
      {form->xpButton2, form->Panel1, {440, 112, 89, 25}},
      {form->KvDirTree211, form->Panel2, {16, 8, 180, 273}},
      {form->Memo2, form->Panel2, {208, 8, 321, 57}},
      {form->Bevel1, form->Panel2, {208, 64, 313, 9}},
      {form->GroupBox3, form->Panel2, {208, 72, 313, 49}},
      {form->Edit2, form->GroupBox3, {8, 16, 297, 21}},
      {form->GroupBox1, form->Panel2, {208, 128, 313, 49}},
      {form->Edit3, form->GroupBox1, {8, 16, 97, 21}},
      {form->GroupBox2, form->Panel2, {208, 184, 313, 73}},
      {form->Edit4, form->GroupBox2, {8, 24, 89, 21}},
      {form->Gauge1, form->Panel2, {216, 272, 137, 17}},
      {form->Gauge2, form->Panel2, {360, 272, 108, 17}},
      {form->xpButton6, form->Panel2, {360, 264, 83, 25}},
      {form->xpButton5, form->Panel2, {448, 264, 83, 25}},
      {form->xpButton3, form->Panel3, {432, 8, 89, 25}},
      {form->Image1, form->Panel3, {8, 36, 468, 60}},
      {form->xpButton4, form->Panel3, {344, 100, 89, 25}},
      {form->xpButton7, form->Panel3, {440, 100, 89, 25}},
  };
  for (const TPlace& place : places) {
    EXPECT_EQ(place.widget->parentWidget(), place.parent)
        << place.widget->metaObject()->className();
    EXPECT_EQ(place.widget->geometry(), place.geometry) << place.widget->metaObject()->className();
  }
  // Word-wrapped labels keep their place and width and grow downwards (never past the next
  // control) or take a smaller font, so that their whole text shows.
  const struct {
    QLabel* label;
    QRect designed;
    int room;  // how far down the label may reach
  } wrapped[] = {{form->Label7, {48, 46, 463, 26}, 100},
                 {form->Label6, {120, 12, 173, 26}, 46},
                 {form->Label5, {112, 12, 192, 52}, 70},
                 {form->Label2, {16, 8, 374, 26}, 36}};
  for (const auto& w : wrapped) {
    const QRect g = w.label->geometry();
    EXPECT_EQ(g.topLeft(), w.designed.topLeft()) << w.label->text().toStdString();
    EXPECT_EQ(g.width(), w.designed.width()) << w.label->text().toStdString();
    EXPECT_GE(g.height(), w.designed.height());
    EXPECT_LE(g.bottom(), w.room);
    EXPECT_LE(w.label->heightForWidth(g.width()), g.height()) << w.label->text().toStdString();
  }
  EXPECT_EQ(form->Label1->pos(), QPoint(16, 16));
  EXPECT_EQ(form->Label3->pos(), QPoint(16, 96));
  EXPECT_EQ(form->Label4->pos(), QPoint(16, 112));

  EXPECT_EQ(form->Label1->text(), "Welcome to Parcelo. ");
  EXPECT_EQ(form->Label7->text(),
            "This program was designed to take the effort out of unzipping programs and files. "
            "Click the browse button below, and select the zip file you want to extract. Once "
            "done, click Continue.");
  EXPECT_TRUE(form->Label7->wordWrap());
  EXPECT_EQ(Text(form->Edit1), "C:\\");
  EXPECT_EQ(form->xpButton1->Caption(), "Browse");
  EXPECT_EQ(form->xpButton2->Caption(), "Continue");
  EXPECT_EQ(form->Memo2->toPlainText(),
            "You need to tell me where to extract the files to. Please highlight a \n"
            "folder on the left, and on the right type in what you would like the \n"
            "destination folder to be named. This folder will be created inside the \n"
            "folder you highlighted and the extracted files will be placed there.");
  EXPECT_FALSE(form->Memo2->isReadOnly());
  EXPECT_EQ(form->GroupBox3->title(), "Selected Directory");
  EXPECT_EQ(Text(form->Edit2), "C:\\");
  EXPECT_EQ(form->GroupBox1->title(), "Destination Folder Name");
  EXPECT_EQ(Text(form->Edit3), "");
  EXPECT_EQ(form->Label6->text(),
            "Folder name of the folder that will be created in the selected directory");
  EXPECT_TRUE(form->Label6->wordWrap());
  EXPECT_EQ(form->GroupBox2->title(), "Password?");
  EXPECT_EQ(Text(form->Edit4), "");
  EXPECT_EQ(form->Edit4->echoMode(), QLineEdit::Normal);  // shown as typed
  EXPECT_EQ(form->Label5->text(),
            "Some people send zip files with passwords for protection. If the zip came with a "
            "password, this is where you put it. Otherwise leave it blank.");
  EXPECT_TRUE(form->Gauge1->isHidden());
  EXPECT_TRUE(form->Gauge2->isHidden());
  EXPECT_EQ(form->xpButton6->Caption(), "Go Back");
  EXPECT_EQ(form->xpButton5->Caption(), "Unzip");
  EXPECT_EQ(form->xpButton3->Caption(), "Goto Folder");
  EXPECT_EQ(form->Label3->text(), "Parcelo");
  EXPECT_EQ(form->Label4->text(), "Click on the banner above to visit the site");
  EXPECT_EQ(form->xpButton4->Caption(), "Another?");
  EXPECT_EQ(form->xpButton7->Caption(), "Close");
  EXPECT_EQ(form->Image1->cursor().shape(), Qt::PointingHandCursor);
  ASSERT_NE(form->Image1->movie(), nullptr);
  EXPECT_EQ(form->Image1->movie()->frameCount(), 62);
  ASSERT_FALSE(form->Image3->pixmap().isNull());
  EXPECT_EQ(form->Image3->pixmap().size(), QSize(21, 33));

  EXPECT_EQ(form->KvDirTree211->SelectedPath(), "c:\\");
  EXPECT_FALSE(form->KvDirTree211->HideSelection());
  EXPECT_EQ(form->KvDirTree211->Indent(), 19);
  EXPECT_EQ(form->OpenDialog1.Filter, wizard::ArchiveDialogFilter());
  EXPECT_EQ(form->OpenDialog1.FileName, "*.zip");
  EXPECT_EQ(form->OpenDialog1.InitialDir, "C:\\");
  EXPECT_TRUE(form->UnZip1.CreateStoredDirs());
  EXPECT_EQ(form->UnZip1.CpuType(), cptAuto);
  EXPECT_TRUE(form->Arcova1.RecurseDirs());
  EXPECT_FALSE(form->Arcova1.ShowEmptyDirs());
  EXPECT_EQ(form->DestinationPath(), "");
}

// The Tab key walks each page's controls in the designed order and wraps within the page.
TEST_F(Wizard, TabWalksEachPageInTheDesignedOrder) {
  QApplication::setActiveWindow(form.get());
  auto walk = [&](QWidget* first, size_t steps) {
    first->setFocus();
    std::vector<QWidget*> seen;
    for (size_t i = 0; i < steps; ++i) {
      seen.push_back(QApplication::focusWidget());
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    seen.push_back(QApplication::focusWidget());
    return seen;
  };
  EXPECT_EQ(walk(form->xpButton2, 3), (std::vector<QWidget*>{form->xpButton2, form->xpButton1,
                                                             form->Edit1, form->xpButton2}));

  services.ChosenFile.clear();
  const std::string archive = home.Host("a.zip");
  ziptest::ZipBuilder().AddStored("a.txt", "a").WriteTo(archive);
  form->Edit1->setText(QString::fromStdString(archive));
  form->xpButton2->Click();
  ASSERT_EQ(form->CurrentPage(), 2);
  EXPECT_EQ(walk(form->KvDirTree211, 7),
            (std::vector<QWidget*>{form->KvDirTree211, form->Edit3, form->Edit4, form->xpButton5,
                                   form->xpButton6, form->Memo2, form->Edit2, form->KvDirTree211}));

  Unzip("C:\\", "out");
  ASSERT_EQ(form->CurrentPage(), 3);
  EXPECT_EQ(walk(form->xpButton3, 3), (std::vector<QWidget*>{form->xpButton3, form->xpButton4,
                                                             form->xpButton7, form->xpButton3}));
}

// The control that had the focus goes with its page: each page switch puts the focus on a
// control of the page now shown, so keys never go to a hidden one.
TEST_F(Wizard, EachPageSwitchHandsTheFocusToTheNewPage) {
  QApplication::setActiveWindow(form.get());
  const std::string archive = home.Host("a.zip");
  ziptest::ZipBuilder().AddStored("a.txt", "a").WriteTo(archive);
  form->Edit1->setText(QString::fromStdString(archive));
  auto press = [](TxpButton* button) {
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Space);
    QWidget* focus = QApplication::focusWidget();
    EXPECT_TRUE(focus && focus->isVisible()) << button->Caption();
    return focus;
  };
  EXPECT_EQ(press(form->xpButton2), form->KvDirTree211);  // Continue
  EXPECT_EQ(press(form->xpButton6), form->xpButton2);     // Go Back
  press(form->xpButton2);
  form->Edit2->setText("C:\\");
  form->Edit3->setText("out");
  EXPECT_EQ(press(form->xpButton5), form->xpButton3);  // Unzip
  ASSERT_EQ(form->CurrentPage(), 3);
  EXPECT_EQ(press(form->xpButton4), form->xpButton1);  // Another?: Browse comes next
}

// ---- page 1 ------------------------------------------------------------------------------------

TEST_F(Wizard, BrowseTakesAListableZipAndDerivesTheFolderName) {
  if (!HaveZip()) GTEST_SKIP() << "Info-ZIP zip is not installed";
  const std::map<std::string, std::string> files = {{"a.txt", "alpha"}};
  const struct {
    std::string file, folder;
  } cases[] = {{"backup.zip", "backup"},
               {"archive.ZIP", "archive"},
               {"my.zip.old.zip", "my.old.zip"},
               {"noextension", "noextension"},
               {"in here/my files.zip", "my files"}};
  for (const auto& c : cases) {
    services.ChosenFile = MakeZip(c.file, files);
    form->xpButton1->Click();
    EXPECT_EQ(Text(form->Edit3), c.folder) << c.file;
    // Boxes too narrow for their text show its beginning.
    EXPECT_EQ(form->Edit1->cursorPosition(), 0);
    EXPECT_EQ(form->Edit3->cursorPosition(), 0);
    // The archive box shows the full path in the window's syntax (the home folder is C:).
    std::string shown = "C:\\" + c.file;
    for (char& ch : shown)
      if (ch == '/') ch = '\\';
    EXPECT_EQ(Text(form->Edit1), shown);
  }
  EXPECT_TRUE(services.Messages.empty());
  EXPECT_EQ(services.LastDialog.Filter, wizard::ArchiveDialogFilter());
  EXPECT_EQ(form->CurrentPage(), 1);  // Browse stays on its page
}

TEST_F(Wizard, BrowseRefusesWhatListsNoFileAndKeepsTheLastChoice) {
  if (!HaveZip()) GTEST_SKIP() << "Info-ZIP zip is not installed";
  services.ChosenFile = MakeZip("good.zip", {{"a.txt", "alpha"}});
  form->xpButton1->Click();
  ASSERT_EQ(Text(form->Edit3), "good");

  // Only folder entries (zip stores empty folders as entries with the folder attribute).
  const std::string onlyFolders = home.Host("folders.zip");
  fs::create_directories(home.Host("dirs/x/y"));
  ASSERT_EQ(std::system(("cd '" + home.Host("dirs") + "' && zip -q -r '" + onlyFolders +
                         "' x >/dev/null 2>&1")
                            .c_str()),
            0);
  home.WriteFile("notes.zip", "this is not an archive at all, just words in a file\n");
  const std::string empty = home.Host("empty.zip");
  ziptest::ZipBuilder().WriteTo(empty);
  for (const std::string& bad : {onlyFolders, home.Host("notes.zip"), empty}) {
    services.Messages.clear();
    services.ChosenFile = bad;
    form->xpButton1->Click();
    ASSERT_EQ(services.Messages.size(), 1u) << bad;
    EXPECT_EQ(services.Messages[0], kMsgNoFilesInZip);
    EXPECT_EQ(Text(form->Edit1), "C:\\good.zip");
    EXPECT_EQ(Text(form->Edit3), "good");
  }

  // A cancelled dialog and a file that vanished are passed over without a word.
  services.Messages.clear();
  services.ChosenFile.clear();
  form->xpButton1->Click();
  services.ChosenFile = home.Host("gone.zip");
  form->xpButton1->Click();
  EXPECT_TRUE(services.Messages.empty());
  EXPECT_EQ(Text(form->Edit1), "C:\\good.zip");
}

TEST_F(Wizard, ContinueNeedsAnExistingFileAndTakesAPathTypedByHand) {
  form->Edit1->clear();
  form->xpButton2->Click();
  ASSERT_EQ(services.Messages.size(), 1u);
  EXPECT_EQ(services.Messages[0], kMsgZipMissing);
  EXPECT_EQ(form->CurrentPage(), 1);

  form->Edit1->setText("C:\\missing.zip");
  form->xpButton2->Click();
  EXPECT_EQ(services.Messages.size(), 2u);
  EXPECT_EQ(form->CurrentPage(), 1);

  // Typed by hand, as a host path: the check Browse runs, and shown in the window's syntax.
  ziptest::ZipBuilder().AddStored("a.txt", "a").WriteTo(home.Host("typed by hand.zip"));
  form->Edit1->setText(QString::fromStdString(home.Host("typed by hand.zip")));
  form->xpButton2->Click();
  EXPECT_EQ(services.Messages.size(), 2u);
  EXPECT_EQ(Text(form->Edit1), "C:\\typed by hand.zip");
  EXPECT_EQ(form->CurrentPage(), 2);
  EXPECT_EQ(form->size(), QSize(537, 300));

  form->xpButton6->Click();  // Go Back
  EXPECT_EQ(form->CurrentPage(), 1);
  EXPECT_EQ(form->size(), QSize(537, 146));
  EXPECT_EQ(Text(form->Edit1), "C:\\typed by hand.zip");
}

TEST_F(Wizard, CommandLineUrlsAndDropsChooseTheArchiveLikeBrowse) {
  const std::string archive = home.Host("dropped files/a b.zip");
  fs::create_directories(home.Host("dropped files"));
  ziptest::ZipBuilder().AddStored("x.txt", "x").WriteTo(archive);
  form->ChooseArchive("file://" + home.HostPath() + "/dropped%20files/a%20b.zip");
  EXPECT_EQ(Text(form->Edit1), "C:\\dropped files\\a b.zip");
  EXPECT_EQ(Text(form->Edit3), "a b");

  form->Edit1->clear();
  form->Edit3->clear();
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(archive))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form.get(), &drop);
  EXPECT_EQ(Text(form->Edit1), "C:\\dropped files\\a b.zip");
  EXPECT_EQ(Text(form->Edit3), "a b");
  EXPECT_TRUE(services.Messages.empty());
}

// ---- page 2 and the extraction ------------------------------------------------------------------

TEST_F(Wizard, UnzipExtractsEverythingAndTellsHowManyAndWhere) {
  if (!HaveZip()) GTEST_SKIP() << "Info-ZIP zip is not installed";
  std::map<std::string, std::string> files;
  for (int i = 0; i < 10; ++i)
    files["sub/file" + std::to_string(i) + ".txt"] = std::string(1000 + i * 5000, 'a' + i);
  files["top.bin"] = std::string(70000, '\x01');
  files["with blank.txt"] = "blank";
  ToPage2(MakeZip("backup.zip", files));
  EXPECT_EQ(Text(form->Edit3), "backup");

  form->Edit2->setText("C:\\Temp");
  form->Edit3->setText("docs");
  form->xpButton5->Click();
  EXPECT_TRUE(services.Messages.empty()) << services.Messages[0];
  EXPECT_TRUE(services.Questions.empty());
  EXPECT_EQ(form->DestinationPath(), "C:\\Temp\\docs");
  EXPECT_EQ(form->Label2->text().toStdString(),
            "Congratulations, you have successfully extracted 12 file(s) to the folder "
            "C:\\Temp\\docs. Click the Goto Folder button to view your extracted files.");
  for (const auto& [name, contents] : files) EXPECT_EQ(ReadHome("Temp/docs/" + name), contents);
  EXPECT_EQ(form->CurrentPage(), 3);
  EXPECT_EQ(form->size(), QSize(537, 129));
  // The gauges went back to 0; they stay marked visible on the hidden page.
  EXPECT_EQ(form->Gauge1->Progress(), 0);
  EXPECT_EQ(form->Gauge2->Progress(), 0);
  EXPECT_FALSE(form->Gauge1->isHidden());
  EXPECT_TRUE(form->xpButton5->isHidden());
  EXPECT_EQ(form->Image1->movie()->state(), QMovie::Running);
  // The tree's menu, locked during the run, is back.
  EXPECT_TRUE(form->KvDirTree211->PopUpMenuEnabled());
  EXPECT_FALSE(form->KvDirTree211->ReadOnly());

  // Another? resets exactly what it should and keeps the rest.
  form->Edit4->setText("pw");
  form->KvDirTree211->SetSelectedPath("C:\\Temp");
  form->xpButton4->Click();
  EXPECT_EQ(form->CurrentPage(), 1);
  EXPECT_EQ(form->size(), QSize(537, 146));
  EXPECT_EQ(Text(form->Edit1), "");
  EXPECT_EQ(Text(form->Edit2), "C:\\");
  EXPECT_EQ(Text(form->Edit4), "");
  EXPECT_EQ(form->KvDirTree211->SelectedPath(), "C:\\");
  EXPECT_EQ(Text(form->Edit3), "docs");
  EXPECT_NE(form->Label2->text().indexOf("12 file(s)"), -1);
  EXPECT_EQ(form->DestinationPath(), "C:\\Temp\\docs");
  EXPECT_TRUE(form->Gauge1->isHidden());
  EXPECT_TRUE(form->Gauge2->isHidden());
  EXPECT_FALSE(form->xpButton5->isHidden());
  EXPECT_FALSE(form->xpButton6->isHidden());
  EXPECT_NE(form->Image1->movie()->state(), QMovie::Running);
}

TEST_F(Wizard, TheRootDirectoryGetsNoDoubleBackslashAndAnEmptyNameMeansTheDirectoryItself) {
  const std::string archive = home.Host("a.zip");
  ziptest::ZipBuilder().AddStored("a.txt", "alpha").WriteTo(archive);
  ToPage2(archive);
  Unzip("C:\\", "docs");
  EXPECT_EQ(form->DestinationPath(), "C:\\docs");
  EXPECT_EQ(ReadHome("docs/a.txt"), "alpha");

  form->xpButton4->Click();
  ToPage2(archive);
  fs::create_directories(home.Host("plain"));
  Unzip(home.Host("plain"), "");  // a host path typed into "Selected Directory"
  EXPECT_EQ(Text(form->Edit2), "C:\\plain");
  EXPECT_EQ(form->DestinationPath(), "C:\\plain\\");
  EXPECT_EQ(ReadHome("plain/a.txt"), "alpha");
}

TEST_F(Wizard, TheFolderTreeClickCopiesItsPathIntoSelectedDirectory) {
  form->KvDirTree211->SetSelectedPath("C:\\Music");
  form->KvDirTree211->OnClick(form->KvDirTree211);
  EXPECT_EQ(Text(form->Edit2), "C:\\Music");
}

TEST_F(Wizard, AnEmptyOrDrivesDestinationIsRefusedWithAMessage) {
  const std::string archive = home.Host("a.zip");
  ziptest::ZipBuilder().AddStored("a.txt", "alpha").WriteTo(archive);
  ToPage2(archive);
  for (const std::string& directory : {std::string(), std::string("Drives"), std::string("  ")}) {
    services.Messages.clear();
    Unzip(directory, "docs");
    ASSERT_EQ(services.Messages.size(), 1u);
    EXPECT_EQ(services.Messages[0], kMsgNoDirectory);
    EXPECT_EQ(form->CurrentPage(), 2);
    EXPECT_FALSE(form->xpButton5->isHidden());
    // The box hands the focus back and the window is activated again: the page stays.
    form->FormActivate(form.get());
    EXPECT_EQ(form->CurrentPage(), 2);
    EXPECT_FALSE(form->Panel2->isHidden());
  }
  EXPECT_FALSE(fs::exists(home.Host("docs")));
  EXPECT_FALSE(fs::exists("/docs"));
}

TEST_F(Wizard, ExistingFilesAreReplacedOnlyAfterAYes) {
  const std::string archive = home.Host("a.zip");
  ziptest::ZipBuilder()
      .AddStored("a.txt", "new a")
      .AddStored("sub/b.txt", "new b")
      .AddStored("c.txt", "new c")
      .WriteTo(archive);
  home.WriteFile("docs/a.txt", "old a");
  home.WriteFile("docs/sub/b.txt", "old b");
  ToPage2(archive);
  services.Answers = {false};
  Unzip("C:\\", "docs");
  ASSERT_EQ(services.Questions.size(), 1u);
  EXPECT_EQ(services.Questions[0],
            "2 files in C:\\docs already exist and would be replaced. Replace them?");
  EXPECT_EQ(form->CurrentPage(), 2);
  EXPECT_FALSE(form->xpButton5->isHidden());
  EXPECT_TRUE(form->Gauge1->isHidden());
  EXPECT_EQ(ReadHome("docs/a.txt"), "old a");
  EXPECT_FALSE(fs::exists(home.Host("docs/c.txt")));

  services.Answers = {true};
  form->xpButton5->Click();
  EXPECT_EQ(services.Questions.size(), 2u);
  EXPECT_EQ(ReadHome("docs/a.txt"), "new a");
  EXPECT_EQ(ReadHome("docs/sub/b.txt"), "new b");
  EXPECT_EQ(form->CurrentPage(), 3);

  // One file: said in the singular.
  form->xpButton4->Click();
  fs::remove(home.Host("docs/a.txt"));
  fs::remove(home.Host("docs/sub/b.txt"));
  ToPage2(archive);
  services.Answers = {false};
  Unzip("C:\\", "docs");
  EXPECT_EQ(services.Questions.back(),
            "1 file in C:\\docs already exists and would be replaced. Replace it?");
}

TEST_F(Wizard, AWrongPasswordSaysSoAndAnotherCanBeTriedAtOnce) {
  if (!HaveZip()) GTEST_SKIP() << "Info-ZIP zip is not installed";
  const std::map<std::string, std::string> files = {
      {"one.txt", std::string(5000, '1')}, {"two.txt", "two"}, {"three.txt", "three"}};
  ToPage2(MakeZip("secret.zip", files, "-P right"));

  Unzip("C:\\", "out", "wrong");
  ASSERT_EQ(services.Messages.size(), 1u);
  EXPECT_NE(services.Messages[0].find("3 files were not extracted."), std::string::npos)
      << services.Messages[0];
  EXPECT_NE(services.Messages[0].find("The password is wrong for 3 files: "), std::string::npos)
      << services.Messages[0];
  EXPECT_NE(services.Messages[0].find("one.txt"), std::string::npos);
  EXPECT_EQ(form->CurrentPage(), 2);
  EXPECT_FALSE(form->xpButton5->isHidden());
  EXPECT_TRUE(form->Gauge1->isHidden());
  EXPECT_EQ(form->Edit4->selectedText(), "wrong");
  EXPECT_FALSE(fs::exists(home.Host("out/one.txt")));

  // No password at all: said differently.
  services.Messages.clear();
  form->Edit4->clear();
  form->xpButton5->Click();
  ASSERT_EQ(services.Messages.size(), 1u);
  EXPECT_NE(services.Messages[0].find("3 files are protected by a password, and none was typed"),
            std::string::npos)
      << services.Messages[0];

  // The right one, without choosing the archive again.
  services.Messages.clear();
  form->Edit4->setText("right");
  form->xpButton5->Click();
  EXPECT_TRUE(services.Messages.empty()) << services.Messages[0];
  EXPECT_TRUE(services.Questions.empty());
  EXPECT_EQ(form->CurrentPage(), 3);
  EXPECT_NE(form->Label2->text().indexOf("extracted 3 file(s)"), -1);
  for (const auto& [name, contents] : files) EXPECT_EQ(ReadHome("out/" + name), contents);
}

// Encrypted members between plain ones, deflated, so that each one skipped leaves the running
// checksum of the member before it: the box names exactly the encrypted ones, for the password.
TEST_F(Wizard, EachEncryptedMemberAmongPlainOnesIsNamedForThePassword) {
  if (!HaveZip()) GTEST_SKIP() << "Info-ZIP zip is not installed";
  const std::string source = home.Host("mixed-src");
  fs::create_directories(source);
  const std::map<std::string, std::string> files = {{"a.txt", std::string(4000, 'a')},
                                                    {"b.txt", std::string(9000, 'b')},
                                                    {"c.txt", "plain c"},
                                                    {"d.txt", std::string(7000, 'd') + "end"},
                                                    {"e.txt", "plain e"}};
  for (const auto& [name, contents] : files) std::ofstream(source + "/" + name) << contents;
  const std::string archive = home.Host("mixed.zip");
  // One zip run per member keeps the archive order; b and d are encrypted.
  for (const char* step : {"a.txt", "-P right b.txt", "c.txt", "-P right d.txt", "e.txt"}) {
    const std::string command =
        "cd '" + source + "' && zip -q -X '" + archive + "' " + step + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  ToPage2(archive);
  // Behind the box the page is ready for another try: buttons back, gauges away.
  int shown = 0;
  services.WhileShown = [&] {
    ++shown;
    EXPECT_FALSE(form->xpButton5->isHidden());
    EXPECT_TRUE(form->Gauge1->isHidden());
    EXPECT_TRUE(form->Gauge2->isHidden());
  };
  const struct {
    std::string password, reason, hint;
  } runs[] = {{"wrong", "The password is wrong for 2 files: b.txt and d.txt.",
               "Type the right password and click Unzip again."},
              {"", "2 files are protected by a password, and none was typed: b.txt and d.txt.",
               "Type the password and click Unzip again."}};
  for (const auto& run : runs) {
    services.Messages.clear();
    Unzip("C:\\", "out", run.password);
    ASSERT_EQ(services.Messages.size(), 1u) << run.password;
    EXPECT_EQ(services.Messages[0],
              "2 files were not extracted.\n\n" + run.reason + "\n\n" + run.hint);
    EXPECT_EQ(form->CurrentPage(), 2);
    for (const char* plain : {"a.txt", "c.txt", "e.txt"})
      EXPECT_EQ(ReadHome(std::string("out/") + plain), files.at(plain));
    EXPECT_FALSE(fs::exists(home.Host("out/b.txt")));
    EXPECT_FALSE(fs::exists(home.Host("out/d.txt")));
  }
  EXPECT_EQ(shown, 2);
  services.Messages.clear();
  services.Answers = {true};  // the plain files are there from the runs before
  Unzip("C:\\", "out", "right");
  EXPECT_TRUE(services.Messages.empty()) << services.Messages[0];
  EXPECT_EQ(form->CurrentPage(), 3);
  for (const auto& [name, contents] : files) EXPECT_EQ(ReadHome("out/" + name), contents);
}

TEST_F(Wizard, DamagedAndUnknownMembersAreNamedInOneErrorBox) {
  ziptest::ZipMember damaged;
  damaged.name = "damaged.txt";
  damaged.data = ziptest::ToBytes("these bytes do not match their checksum");
  damaged.crcOverride = 0x12345678;
  ziptest::ZipMember unknown;
  unknown.name = "future.bin";
  unknown.data = ziptest::ToBytes("packed with a method from the future");
  unknown.method = 99;
  const std::string archive = home.Host("mixed.zip");
  ziptest::ZipBuilder()
      .AddStored("fine.txt", "fine")
      .Add(damaged)
      .Add(unknown)
      .AddStored("also fine.txt", "also")
      .WriteTo(archive);
  ToPage2(archive);
  Unzip("C:\\", "mixed");
  ASSERT_EQ(services.Messages.size(), 1u);
  const std::string& box = services.Messages[0];
  EXPECT_NE(box.find("2 files were not extracted."), std::string::npos) << box;
  EXPECT_NE(box.find("damaged archive): damaged.txt."), std::string::npos) << box;
  EXPECT_NE(box.find("does not know: future.bin."), std::string::npos) << box;
  EXPECT_EQ(form->CurrentPage(), 3);  // the rest was extracted; the page says where
  EXPECT_EQ(ReadHome("mixed/fine.txt"), "fine");
  EXPECT_EQ(ReadHome("mixed/also fine.txt"), "also");
}

// Members that fail before their extraction begins are named with their reason, like the others;
// the archive as a whole is not blamed for them.
TEST_F(Wizard, MembersThatFailBeforeTheyBeginAreNamedLikeTheOthers) {
  const std::string archive = home.Host("hurt.zip");
  ziptest::ZipBuilder()
      .AddStored("a.txt", "alpha")
      .AddStored("b.txt", "beta")
      .AddStored("sub/x.txt", "x")
      .AddStored("c.txt", "gamma")
      .WriteTo(archive);
  // b.txt's local header loses its signature: where its data lies is unknown.
  std::string bytes = home.ReadFile("hurt.zip");
  const size_t second = bytes.find("PK\x03\x04", 1);
  ASSERT_NE(second, std::string::npos);
  bytes[second + 2] = 'X';
  home.WriteFile("hurt.zip", bytes);
  // A link planted in the destination leads elsewhere: nothing is written through it.
  fs::create_directories(home.Host("elsewhere"));
  fs::create_directories(home.Host("out"));
  fs::create_directory_symlink(home.Host("elsewhere"), home.Host("out/sub"));
  ToPage2(archive);
  Unzip("C:\\", "out");
  ASSERT_EQ(services.Messages.size(), 1u);
  EXPECT_EQ(services.Messages[0],
            "2 files were not extracted.\n\n1 file could not be written to the destination "
            "folder (a symbolic link or a file stands where a folder is expected): sub\\x.txt."
            "\n\n1 file could not be read from the archive, which is damaged: b.txt.");
  EXPECT_EQ(form->CurrentPage(), 3);
  EXPECT_EQ(form->Label2->text().toStdString(),
            "Parcelo extracted 2 of 4 files to the folder C:\\out; 2 could not be extracted.");
  EXPECT_EQ(ReadHome("out/a.txt"), "alpha");
  EXPECT_EQ(ReadHome("out/c.txt"), "gamma");
  EXPECT_TRUE(fs::is_empty(home.Host("elsewhere")));

  // Said of a member before it began, yet it was extracted whole (its local header names it
  // differently; the listed name is written): a warning, and the run a success.
  const std::string renamed = home.Host("renamed.zip");
  ziptest::ZipBuilder().AddStored("d.txt", "delta").AddStored("e.txt", "echo").WriteTo(renamed);
  bytes = home.ReadFile("renamed.zip");
  bytes.replace(bytes.find("d.txt"), 5, "D.TXT");  // the first is the local header's
  home.WriteFile("renamed.zip", bytes);
  form->xpButton4->Click();
  services.Messages.clear();
  ToPage2(renamed);
  Unzip("C:\\", "renamed");
  ASSERT_EQ(services.Messages.size(), 1u);
  EXPECT_EQ(services.Kinds.back(), TMsgDlgType::mtWarning) << services.Messages[0];
  EXPECT_EQ(services.Messages[0].rfind("d.txt: ", 0), 0u) << services.Messages[0];
  EXPECT_NE(services.Messages[0].find("D.TXT"), std::string::npos) << services.Messages[0];
  EXPECT_NE(form->Label2->text().indexOf("extracted 2 file(s)"), -1);
  EXPECT_EQ(ReadHome("renamed/d.txt"), "delta");
}

TEST_F(Wizard, AnUnwritableDestinationIsReported) {
  const std::string archive = home.Host("a.zip");
  ziptest::ZipBuilder().AddStored("a.txt", "alpha").AddStored("b.txt", "beta").WriteTo(archive);
  fs::create_directories(home.Host("out/a.txt"));  // a folder where the file should go
  ToPage2(archive);
  Unzip("C:\\", "out");
  ASSERT_EQ(services.Messages.size(), 1u);
  EXPECT_NE(services.Messages[0].find("1 file could not be written to the destination folder"),
            std::string::npos)
      << services.Messages[0];
  EXPECT_NE(services.Messages[0].find(": a.txt."), std::string::npos) << services.Messages[0];
  EXPECT_EQ(ReadHome("out/b.txt"), "beta");
}

// An archive that cannot be read by the time Unzip runs (it was replaced after Continue): the
// error box, and the page stays, with no folder left behind, so that another archive or folder
// can be chosen. Never a page that calls it a success.
TEST_F(Wizard, ARunThatExtractsNothingStaysOnItsPageAndLeavesNoFolder) {
  const std::string archive = home.Host("typed.zip");
  ziptest::ZipBuilder().AddStored("a.txt", "alpha").WriteTo(archive);
  form->Edit1->setText("C:\\typed.zip");
  form->xpButton2->Click();
  ASSERT_EQ(form->CurrentPage(), 2);
  home.WriteFile("typed.zip", "not an archive any more");
  Unzip("C:\\", "nothing");
  EXPECT_EQ(form->CurrentPage(), 2);
  EXPECT_FALSE(form->xpButton5->isHidden());
  EXPECT_TRUE(form->Gauge1->isHidden());
  ASSERT_EQ(services.Messages.size(), 1u);
  EXPECT_EQ(services.Messages[0],
            "The archive could not be read: it is not an archive of a kind Parcelo reads.");
  EXPECT_FALSE(fs::exists(home.Host("nothing")));

  // Only members of a method nobody knows, below folders of their own: nothing comes out, and
  // neither the destination nor the folders made for them stay; a folder that was there stays.
  ziptest::ZipMember unknown;
  unknown.name = "deep/er/future.bin";
  unknown.data = ziptest::ToBytes("packed with a method from the future");
  unknown.method = 99;
  ziptest::ZipBuilder().Add(unknown).WriteTo(archive);
  fs::create_directories(home.Host("kept"));
  services.Messages.clear();
  Unzip("C:\\kept", "new\\levels");
  EXPECT_EQ(form->CurrentPage(), 2);
  ASSERT_EQ(services.Messages.size(), 1u);
  EXPECT_NE(services.Messages[0].find("does not know: deep\\er\\future.bin."), std::string::npos)
      << services.Messages[0];
  EXPECT_TRUE(fs::is_directory(home.Host("kept")));
  EXPECT_FALSE(fs::exists(home.Host("kept/new")));
}

// A run that extracted some files and not others ends on page 3 with a sentence that says both;
// folders made only for the members that were refused do not stay.
TEST_F(Wizard, APartialRunSaysHowManyOfHowManyAndKeepsNoEmptyFolders) {
  ziptest::ZipMember unknown;
  unknown.name = "later/future.bin";
  unknown.data = ziptest::ToBytes("packed with a method from the future");
  unknown.method = 99;
  const std::string archive = home.Host("part.zip");
  ziptest::ZipBuilder()
      .AddStored("one.txt", "1")
      .Add(unknown)
      .AddStored("kept/two.txt", "2")
      .WriteTo(archive);
  ToPage2(archive);
  Unzip("C:\\", "part");
  ASSERT_EQ(services.Messages.size(), 1u);
  EXPECT_EQ(form->CurrentPage(), 3);
  EXPECT_EQ(form->Label2->text().toStdString(),
            "Parcelo extracted 2 of 3 files to the folder C:\\part; 1 could not be extracted.");
  EXPECT_EQ(ReadHome("part/one.txt"), "1");
  EXPECT_EQ(ReadHome("part/kept/two.txt"), "2");
  EXPECT_FALSE(fs::exists(home.Host("part/later")));
}

TEST_F(Wizard, ClosingDuringTheExtractionCancelsItAndLeavesNoHalfWrittenFile) {
  // Stored members are copied in blocks with progress after each: a close arrives mid-member.
  std::string big(3 * 1024 * 1024, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
  const std::string archive = home.Host("big.zip");
  ziptest::ZipBuilder()
      .AddStored("first.txt", "first")
      .AddStored("big.bin", big)
      .AddStored("last.txt", "last")
      .WriteTo(archive);
  ToPage2(archive);
  auto progress = form->UnZip1.OnProgress;
  int calls = 0;
  bool sawGauges = false;
  bool treeLocked = false;
  int lastByArchive = -1;
  form->UnZip1.OnProgress = [&](TObject* sender, uint8_t byFile, uint8_t byArchive) {
    lastByArchive = byArchive;
    sawGauges = sawGauges || (form->Gauge1->isVisible() && form->xpButton5->isHidden());
    // Nothing in the tree can be renamed, moved or deleted below the files being written.
    treeLocked = !form->KvDirTree211->PopUpMenuEnabled() && form->KvDirTree211->ReadOnly();
    if (byFile > 0 && byFile < 100 && ++calls == 2) form->close();  // as the close box does
    progress(sender, byFile, byArchive);
  };
  Unzip("C:\\", "big");
  EXPECT_TRUE(sawGauges);
  EXPECT_TRUE(treeLocked);
  EXPECT_EQ(form->Gauge2->Progress(), lastByArchive);
  EXPECT_EQ(calls, 2);  // the run stopped at the next block
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->Extracting());
  EXPECT_EQ(ReadHome("big/first.txt"), "first");
  EXPECT_FALSE(fs::exists(home.Host("big/big.bin")));
  EXPECT_FALSE(fs::exists(home.Host("big/last.txt")));
  EXPECT_TRUE(services.Messages.empty());
}

// The same on a deflated member: the run stops inside it and nothing of it stays.
TEST_F(Wizard, ClosingInsideADeflatedMemberLeavesNothingOfIt) {
  if (!HaveZip()) GTEST_SKIP() << "Info-ZIP zip is not installed";
  std::string noise(2 * 1024 * 1024, '\0');
  uint32_t state = 1;
  for (char& c : noise) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  const std::string source = home.Host("noise-src");
  fs::create_directories(source);
  std::ofstream(source + "/small.txt") << "small";
  std::ofstream(source + "/noise.bin", std::ios::binary) << noise;
  const std::string archive = home.Host("noise.zip");
  for (const char* member : {"small.txt", "noise.bin"}) {  // in this order
    const std::string command =
        "cd '" + source + "' && zip -q -X '" + archive + "' " + member + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  ToPage2(archive);
  auto progress = form->UnZip1.OnProgress;
  int inside = 0;
  form->UnZip1.OnProgress = [&](TObject* sender, uint8_t byFile, uint8_t byArchive) {
    if (byFile > 0 && byFile < 100 && ++inside == 2) form->close();
    progress(sender, byFile, byArchive);
  };
  Unzip("C:\\", "noise");
  EXPECT_EQ(inside, 2);
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(ReadHome("noise/small.txt"), "small");
  EXPECT_FALSE(fs::exists(home.Host("noise/noise.bin")));
  EXPECT_TRUE(services.Messages.empty());
}

// ---- page 3: the launches
// ------------------------------------------------------------------------

TEST_F(Wizard, GotoFolderAndTheBannerOpenThroughTheLauncherOrSayWhyNot) {
  const std::string archive = home.Host("a.zip");
  ziptest::ZipBuilder().AddStored("a.txt", "alpha").WriteTo(archive);
  ToPage2(archive);
  Unzip("C:\\", "my docs");
  ASSERT_EQ(form->CurrentPage(), 3);
  {
    host::TSeams seams;
    seams.RecordLaunches = true;
    host::ScopedSeams scope(seams);
    form->xpButton3->Click();
    QTest::mouseClick(form->Image1, Qt::LeftButton, Qt::NoModifier, QPoint(100, 30));
    QTest::mouseClick(form->Image1, Qt::RightButton, Qt::NoModifier, QPoint(100, 30));
    EXPECT_EQ(seams.Launched, (std::vector<std::string>{"C:\\my docs", form->BannerAddress()}));
  }
  EXPECT_EQ(form->BannerAddress().rfind("file:///", 0), 0u);
  EXPECT_NE(form->BannerAddress().find("about.html"), std::string::npos);

  // A desktop without a handler: a message with the path or the address.
  wizard::InstallDesktopHooks([](const QUrl&) { return false; });
  form->xpButton3->Click();
  form->Image1Click(form->Image1);
  ASSERT_EQ(services.Messages.size(), 2u);
  EXPECT_NE(services.Messages[0].find("C:\\my docs (" + home.HostPath() + "/my docs on this"),
            std::string::npos)
      << services.Messages[0];
  EXPECT_NE(services.Messages[1].find(form->BannerAddress()), std::string::npos);
  EXPECT_EQ(form->CurrentPage(), 3);  // the state is unchanged
}

TEST_F(Wizard, CloseEndsTheProgram) {
  EXPECT_TRUE(form->isVisible());
  form->xpButton7->Click();
  EXPECT_FALSE(form->isVisible());
}

// ---- the same check and folder name for every way in -------------------------------------------

// Continue runs the check Browse runs and proposes the folder name when the box is empty (or still
// holds the name proposed for an archive before); a name the person typed stays.
TEST_F(Wizard, ContinueChecksATypedPathAndProposesItsFolderName) {
  const std::string archive = home.Host("Résumé files.zip");
  ziptest::ZipBuilder().AddStored("a.txt", "a").WriteTo(archive);
  ASSERT_EQ(Text(form->Edit3), "");
  form->Edit1->setText(QString::fromStdString(archive));
  QTest::keyClick(form->Edit1, Qt::Key_Return);  // Enter in the path box is Continue
  ASSERT_EQ(form->CurrentPage(), 2) << (services.Messages.empty() ? "" : services.Messages[0]);
  EXPECT_EQ(Text(form->Edit3), "Résumé files");
  Unzip("C:\\", Text(form->Edit3));
  EXPECT_EQ(ReadHome("Résumé files/a.txt"), "a");

  // Another archive typed after Another?: the proposal follows it...
  form->xpButton4->Click();
  const std::string other = home.Host("other.zip");
  ziptest::ZipBuilder().AddStored("b.txt", "b").WriteTo(other);
  form->Edit1->setText(QString::fromStdString(other));
  form->xpButton2->Click();
  EXPECT_EQ(Text(form->Edit3), "other");
  // ... but a name the person typed is theirs.
  form->xpButton6->Click();
  form->Edit3->setText("mine");
  form->xpButton2->Click();
  EXPECT_EQ(Text(form->Edit3), "mine");
  EXPECT_TRUE(services.Messages.empty());
}

// Typed, pasted, dropped, given on the command line or chosen through Browse: the same file gets
// the same message, and the page and boxes stay as they were.
TEST_F(Wizard, EveryWayInGivesTheSameMessageForTheSameFile) {
  home.WriteFile("notes.zip", "this is not an archive at all, just words in a file\n");
  fs::create_directories(home.Host("Music"));
  const struct {
    std::string hostPath, message;
  } cases[] = {
      {home.Host("notes.zip"), kMsgNoFilesInZip},
      {home.Host("Music"), std::string("C:\\Music") + kMsgIsAFolder},
      {home.Host("missing.zip"), kMsgZipMissing},
  };
  for (const auto& c : cases) {
    std::vector<std::string> said;
    // Typed, then Continue.
    services.Messages.clear();
    form->Edit1->setText(QString::fromStdString(c.hostPath));
    form->xpButton2->Click();
    EXPECT_EQ(form->CurrentPage(), 1);
    said.insert(said.end(), services.Messages.begin(), services.Messages.end());
    // The command line and a drop (a file:// address).
    services.Messages.clear();
    EXPECT_FALSE(form->ChooseArchive(c.hostPath));
    EXPECT_FALSE(form->ChooseArchive(
        QUrl::fromLocalFile(QString::fromStdString(c.hostPath)).toString().toStdString()));
    said.insert(said.end(), services.Messages.begin(), services.Messages.end());
    ASSERT_EQ(said.size(), 3u) << c.hostPath;
    for (const std::string& message : said) EXPECT_EQ(message, c.message) << c.hostPath;
  }
  // Browse says it too (a file that vanished after the dialog is passed over, as designed).
  services.Messages.clear();
  services.ChosenFile = home.Host("notes.zip");
  form->xpButton1->Click();
  ASSERT_EQ(services.Messages.size(), 1u);
  EXPECT_EQ(services.Messages[0], kMsgNoFilesInZip);
  EXPECT_EQ(Text(form->Edit3), "");
}

// ---- the keyboard --------------------------------------------------------------------------------

TEST_F(Wizard, EnterContinuesAndUnzipsAndEscGoesBack) {
  QApplication::setActiveWindow(form.get());
  const std::string archive = home.Host("keys.zip");
  ziptest::ZipBuilder().AddStored("k.txt", "k").WriteTo(archive);
  form->Edit1->setText(QString::fromStdString(archive));
  form->Edit1->setFocus();
  QTest::keyClick(form->Edit1, Qt::Key_Return);
  ASSERT_EQ(form->CurrentPage(), 2);
  // Esc anywhere on page 2 goes back, as Go Back does.
  QTest::keyClick(form->KvDirTree211, Qt::Key_Escape);
  ASSERT_EQ(form->CurrentPage(), 1);
  QTest::keyClick(form->Edit1, Qt::Key_Return);
  ASSERT_EQ(form->CurrentPage(), 2);
  form->Edit3->setText("by keys");
  QTest::keyClick(form->Edit3, Qt::Key_Escape);
  EXPECT_EQ(form->CurrentPage(), 1);
  QTest::keyClick(form->Edit1, Qt::Key_Return);
  // Esc while files are being written does nothing.
  auto progress = form->UnZip1.OnProgress;
  form->UnZip1.OnProgress = [&](TObject* sender, uint8_t byFile, uint8_t byArchive) {
    QTest::keyClick(form->Edit4, Qt::Key_Escape);
    progress(sender, byFile, byArchive);
  };
  QTest::keyClick(form->Edit4, Qt::Key_Return);  // Enter in the password box is Unzip
  EXPECT_EQ(form->CurrentPage(), 3);
  EXPECT_EQ(ReadHome("by keys/k.txt"), "k");
}

// The tree's highlight and "Selected Directory" agree: at the start, after keyboard moves, after
// Enter and Space, and a click on an expand arrow chooses nothing.
TEST_F(Wizard, TheTreeHighlightAndSelectedDirectoryAgree) {
  fs::create_directories(home.Host("Alpha"));
  fs::create_directories(home.Host("Beta"));
  form->KvDirTree211->BuildTree();
  form->KvDirTree211->SetSelectedPath("c:\\");
  QApplication::setActiveWindow(form.get());
  const std::string archive = home.Host("t.zip");
  ziptest::ZipBuilder().AddStored("t.txt", "t").WriteTo(archive);
  form->Edit1->setText(QString::fromStdString(archive));
  form->xpButton2->Click();
  ASSERT_EQ(form->CurrentPage(), 2);
  TKvDirTree21* tree = form->KvDirTree211;
  QTreeWidgetItem* homeNode = tree->FindNode("C:\\");
  ASSERT_NE(homeNode, nullptr);
  tree->setCurrentItem(homeNode);
  EXPECT_EQ(Text(form->Edit2), "C:\\");

  // A click on the expand arrow only opens the branch.
  const QRect row = tree->visualItemRect(homeNode);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(row.left() - tree->indentation() / 2, row.center().y()));
  EXPECT_EQ(Text(form->Edit2), "C:\\");

  tree->setFocus();
  tree->expandItem(homeNode);
  QTest::keyClick(tree, Qt::Key_Down);  // the first folder below the home drive
  EXPECT_EQ(Text(form->Edit2), "C:\\Alpha");
  QTest::keyClick(tree, Qt::Key_Down);
  EXPECT_EQ(Text(form->Edit2), "C:\\Beta");
  QTest::keyClick(tree, Qt::Key_Up);
  EXPECT_EQ(Text(form->Edit2), "C:\\Alpha");
  form->Edit2->setText("C:\\");
  QTest::keyClick(tree, Qt::Key_Space);  // chooses the highlighted node (no search for a blank)
  EXPECT_EQ(Text(form->Edit2), "C:\\Alpha");
  // Unzip goes where the keyboard chose.
  form->Edit3->setText("chosen by keys");
  form->xpButton5->Click();
  EXPECT_EQ(ReadHome("Alpha/chosen by keys/t.txt"), "t");
}

// ---- assistive technology ------------------------------------------------------------------------

// What a screen reader hears, read back through QAccessible: the buttons' names, role, states and
// press action; the gauges' role and values; the tree's role, name and the chosen folder.
TEST_F(Wizard, ThePaintedControlsSayWhatTheyAreToAssistiveTechnology) {
  QAccessibleInterface* browse = QAccessible::queryAccessibleInterface(form->xpButton1);
  ASSERT_NE(browse, nullptr);
  EXPECT_EQ(browse->role(), QAccessible::Button);
  EXPECT_EQ(browse->text(QAccessible::Name), "Browse");
  EXPECT_FALSE(browse->state().disabled);
  EXPECT_TRUE(browse->state().focusable);
  ASSERT_NE(browse->actionInterface(), nullptr);
  EXPECT_TRUE(
      browse->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
  services.ChosenFile.clear();
  int dialogs = 0;
  form->xpButton1->OnClick = [&](QObject*) { ++dialogs; };
  browse->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(dialogs, 1);
  form->xpButton1->SetEnabled(false);
  EXPECT_TRUE(browse->state().disabled);
  form->xpButton1->SetEnabled(true);
  form->xpButton3->SetCaption("&Goto Folder");
  QAccessibleInterface* gotoFolder = QAccessible::queryAccessibleInterface(form->xpButton3);
  EXPECT_EQ(gotoFolder->text(QAccessible::Name), "Goto Folder");
  EXPECT_FALSE(gotoFolder->text(QAccessible::Accelerator).isEmpty());

  QAccessibleInterface* gauge = QAccessible::queryAccessibleInterface(form->Gauge2);
  ASSERT_NE(gauge, nullptr);
  EXPECT_EQ(gauge->role(), QAccessible::ProgressBar);
  EXPECT_EQ(gauge->text(QAccessible::Name), "Progress of the whole archive");
  form->Gauge2->SetProgress(42);
  ASSERT_NE(gauge->valueInterface(), nullptr);
  EXPECT_EQ(gauge->valueInterface()->currentValue().toInt(), 42);
  EXPECT_EQ(gauge->valueInterface()->maximumValue().toInt(), 100);
  EXPECT_EQ(gauge->text(QAccessible::Value), "42%");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(form->Gauge1)->text(QAccessible::Name),
            "Progress of the current file");

  QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(form->KvDirTree211);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->role(), QAccessible::Tree);
  EXPECT_EQ(tree->text(QAccessible::Name), "Folders");
  EXPECT_GT(tree->childCount(), 0);  // its nodes, with their own states
  form->KvDirTree211->NavigateTo("C:\\");
  EXPECT_EQ(tree->text(QAccessible::Description), "C:\\");

  QAccessibleInterface* archiveBox = QAccessible::queryAccessibleInterface(form->Edit1);
  EXPECT_EQ(archiveBox->text(QAccessible::Name), "Archive");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(form->Edit2)->text(QAccessible::Name),
            "Selected Directory");
}

// ---- the desktop around the window -------------------------------------------------------------

// A long run that ends while the window is not active is told by a desktop notification; a short
// one, or one the person watched, is not.
TEST_F(Wizard, ALongRunEndingInTheBackgroundIsNotified) {
  const std::string archive = home.Host("n.zip");
  ziptest::ZipBuilder().AddStored("n.txt", "n").WriteTo(archive);
  ToPage2(archive);
  Unzip("C:\\", "quick");
  EXPECT_TRUE(services.Notifications.empty());
  form->xpButton4->Click();
  ToPage2(archive);
  form->SetNotifyAfterMs(0);
  QApplication::setActiveWindow(nullptr);  // the person is in another program
  ASSERT_FALSE(form->isActiveWindow());
  Unzip("C:\\", "slow");
  ASSERT_EQ(services.Notifications.size(), 1u);
  EXPECT_EQ(services.Notifications[0],
            "Extraction finished|Congratulations, you have successfully extracted 1 file(s) to the "
            "folder C:\\slow. Click the Goto Folder button to view your extracted files.|C:\\slow");
}

// The banner and Goto Folder: an opener that starts and then fails (no browser, no program for
// folders) is said, as a launch that cannot start is.
TEST_F(Wizard, AnOpenerThatFailsLaterIsSaidForTheBannerAndTheFolder) {
  const std::string archive = home.Host("o.zip");
  ziptest::ZipBuilder().AddStored("o.txt", "o").WriteTo(archive);
  ToPage2(archive);
  Unzip("C:\\", "opened");
  ASSERT_EQ(form->CurrentPage(), 3);
  wizard::InstallDesktopHooks(QStringLiteral("false"));  // an opener that always fails
  form->Image1Click(form->Image1);
  QTRY_COMPARE_WITH_TIMEOUT(services.Messages.size(), size_t{1}, 5000);
  EXPECT_NE(services.Messages[0].find("The page " + form->BannerAddress() + " could not be opened"),
            std::string::npos)
      << services.Messages[0];
  form->xpButton3->Click();
  QTRY_COMPARE_WITH_TIMEOUT(services.Messages.size(), size_t{2}, 5000);
  EXPECT_NE(services.Messages[1].find("The folder C:\\opened"), std::string::npos)
      << services.Messages[1];
  // An opener that succeeds says nothing.
  wizard::InstallDesktopHooks(QStringLiteral("true"));
  form->Image1Click(form->Image1);
  QTest::qWait(300);
  EXPECT_EQ(services.Messages.size(), 2u);
}

// `parcelo --extract-here`: beside the archive, into a new folder named after it; the check and the
// honesty of the wizard; nothing left behind when nothing came out.
TEST_F(Wizard, ExtractHereUnpacksBesideTheArchiveIntoANewFolder) {
  fs::create_directories(home.Host("Downloads"));
  const std::string archive = home.Host("Downloads/photos.zip");
  ziptest::ZipBuilder().AddStored("a.jpg", "A").AddStored("sub/b.jpg", "B").WriteTo(archive);
  EXPECT_EQ(wizard::ExtractHere({archive}, services), 0);
  EXPECT_EQ(ReadHome("Downloads/photos/a.jpg"), "A");
  EXPECT_EQ(ReadHome("Downloads/photos/sub/b.jpg"), "B");
  EXPECT_TRUE(services.Messages.empty()) << services.Messages[0];
  ASSERT_EQ(services.Notifications.size(), 1u);
  // Again: the folder is there, a new one is made beside it.
  EXPECT_EQ(wizard::ExtractHere({"file://" + archive}, services), 0);
  EXPECT_EQ(ReadHome("Downloads/photos (2)/a.jpg"), "A");

  // An archive of members nobody can extract, and a file that is no archive.
  ziptest::ZipMember unknown;
  unknown.name = "x/future.bin";
  unknown.data = ziptest::ToBytes("future");
  unknown.method = 99;
  ziptest::ZipBuilder().Add(unknown).WriteTo(home.Host("Downloads/future.zip"));
  home.WriteFile("Downloads/words.zip", "words");
  services.Messages.clear();
  EXPECT_EQ(wizard::ExtractHere(
                {home.Host("Downloads/future.zip"), home.Host("Downloads/words.zip")}, services),
            2);
  ASSERT_EQ(services.Messages.size(), 2u);
  EXPECT_NE(services.Messages[0].find("Nothing was extracted from future.zip."), std::string::npos)
      << services.Messages[0];
  EXPECT_NE(services.Messages[1].find("contains no files or is corrupt"), std::string::npos);
  EXPECT_FALSE(fs::exists(home.Host("Downloads/future")));
  EXPECT_FALSE(fs::exists(home.Host("Downloads/words")));
}

}  // namespace
