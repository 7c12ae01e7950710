// TForm1: the wizard's window, its pages and handlers (see Unit1.h).
#include "app/Unit1.h"

#include <QCloseEvent>
#include <QApplication>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMovie>
#include <QScreen>

#include "app/WizardLayout.h"
#include "app/WizardPaths.h"
#include "app/WizardRun.h"
#include "archive/common/arvGbls.h"
#include "platform/host.h"

const char* const kMsgNoFilesInZip =
    "ZIP file contains no files or is corrupt. Please select 'Browse' and the file you want to "
    "Unzip";
const char* const kMsgZipMissing =
    "ZIP file doesn't exist. Please select 'Browse' and the file you want to Unzip";
const char* const kMsgIsAFolder =
    " is a folder, not an archive. Please select 'Browse' and the file you want to Unzip";
const char* const kMsgNoDirectory =
    "Please select the directory to extract into: click a folder in the tree on the left, or "
    "type its path into \"Selected Directory\".";

namespace {

std::string Text(const QLineEdit* edit) {
  return edit->text().toStdString();
}

// Where the About page was installed with the program (or lies beside it in a build tree).
std::string FindAboutPage() {
  const QString base = QCoreApplication::applicationDirPath();
  const QString candidates[] = {base + "/../share/parcelo/about.html", base + "/about.html"};
  for (const QString& candidate : candidates)
    if (QFile::exists(candidate)) return QUrl::fromLocalFile(candidate).toString().toStdString();
  return QUrl::fromLocalFile(candidates[0]).toString().toStdString();
}

}  // namespace

TForm1::TForm1(wizard::TWizardServices* services, QWidget* parent)
    : QWidget(parent), FServices(services ? services : &wizard::DesktopWizardServices()) {
  SetWindowLook();
  setAcceptDrops(true);
  CreatePage1();
  CreatePage2();
  CreatePage3();
  SetTabOrders();
  SetClientSize(wizard::kClientWidth, wizard::kStartHeight);
  ConnectHandlers();

  UnZip1.SetCpuType(cptAuto);
  UnZip1.SetCreateStoredDirs(true);
  UnZip1.OnProgress = [this](TObject* sender, uint8_t byFile, uint8_t byArchive) {
    UnZip1Progress(sender, byFile, byArchive);
  };
  Arcova1.SetRecurseDirs(true);
  FBannerAddress = FindAboutPage();
  // An opener that started and then found nothing to show the folder or the page with is said
  // like one that could not start.
  wizard::SetLaunchFailureHandler([this](const std::string& target) { SayCannotOpen(target); });
}

TForm1::~TForm1() {
  wizard::SetLaunchFailureHandler({});
}

void TForm1::ConnectHandlers() {
  xpButton1->OnClick = [this](QObject* sender) { xpButton1Click(sender); };
  xpButton2->OnClick = [this](QObject* sender) { xpButton2Click(sender); };
  // A path typed or pasted in host form is shown in the window's own syntax.
  connect(Edit1, &QLineEdit::editingFinished, this, [this] {
    const std::string path = wizard::SystemPathFromTyped(Text(Edit1));
    if (path != Text(Edit1)) Edit1->setText(QString::fromStdString(path));
  });
  KvDirTree211->SetServices(FServices);
  KvDirTree211->OnClick = [this](QObject* sender) { KvDirTree211Click(sender); };
  // A node chosen with the keyboard, or one the tree moved to by itself (after F5, a new folder,
  // a paste), is shown in "Selected Directory" just as a clicked one: the box and the highlight
  // agree.
  KvDirTree211->OnKeyUp = [this](QObject*, int&, int) { ShowSelectedDirectory(); };
  KvDirTree211->OnDirChange = [this](QObject*, const std::string&) { ShowSelectedDirectory(); };
  HighlightHomeDrive();
  connect(Edit2, &QLineEdit::editingFinished, this, [this] {
    const std::string path = wizard::SystemPathFromTyped(Text(Edit2));
    if (path != Text(Edit2)) Edit2->setText(QString::fromStdString(path));
  });
  xpButton6->OnClick = [this](QObject* sender) { xpButton6Click(sender); };
  xpButton5->OnClick = [this](QObject* sender) { xpButton5Click(sender); };
  xpButton3->OnClick = [this](QObject* sender) { xpButton3Click(sender); };
  Image1->installEventFilter(this);
  xpButton4->OnClick = [this](QObject* sender) { xpButton4Click(sender); };
  xpButton7->OnClick = [this](QObject* sender) { xpButton7Click(sender); };

  // Enter in a box does what the page's last button does: Continue on page 1, Unzip on page 2.
  connect(Edit1, &QLineEdit::returnPressed, this, [this] { xpButton2Click(xpButton2); });
  for (QLineEdit* box : {Edit2, Edit3, Edit4})
    connect(box, &QLineEdit::returnPressed, this, [this] {
      if (!FExtracting) xpButton5Click(xpButton5);
    });
}

void TForm1::keyPressEvent(QKeyEvent* event) {
  // Esc, when no control wanted it (an open rename in the tree takes it first): Go Back on
  // page 2, unless files are being written.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier &&
      CurrentPage() == 2 && !FExtracting) {
    xpButton6Click(xpButton6);
    return;
  }
  QWidget::keyPressEvent(event);
}

int TForm1::CurrentPage() const {
  // The first page not hidden: before the first activation all three are, as laid out.
  if (!Panel1->isHidden()) return 1;
  if (!Panel2->isHidden()) return 2;
  return 3;
}

void TForm1::ShowError(const std::string& text) {
  FServices->ShowMessage(this, text, TMsgDlgType::mtError);
}

// ---- events of the window -----------------------------------------------------------------------

bool TForm1::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) FormActivate(this);
  return QWidget::event(event);
}

void TForm1::showEvent(QShowEvent* event) {
  if (!FShownOnce) {
    FShownOnce = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
    }
    FormActivate(this);  // an offscreen or unmanaged display may never activate the window
  }
  QWidget::showEvent(event);
}

void TForm1::FormActivate(QObject*) {
  // At the first showing this leaves page 1 alone. Later activations (a message box closing)
  // change nothing: the page a person was on stays.
  if (!Panel2->isHidden() && !Panel3->isHidden()) {
    Panel2->hide();
    Panel3->hide();
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (FExtracting) {
    // The run stops before its next block; the window closes when Extract has returned.
    FCloseRequested = true;
    if (FRun) {
      FRun->Cancel();
    } else {
      *Arcova1.CancelFlag() = 1;  // the survey before the run stops at its next entry
    }
    event->ignore();
    return;
  }
  if (FBanner) FBanner->stop();
  event->accept();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (!FExtracting && CurrentPage() == 1 && event->mimeData()->hasUrls() &&
      event->mimeData()->urls().front().isLocalFile())
    event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  if (FExtracting || FChecking || CurrentPage() != 1 || !event->mimeData()->hasUrls()) return;
  event->acceptProposedAction();
  ChooseArchive(event->mimeData()->urls().front().toString().toStdString());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Image1 && event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton && Image1->rect().contains(mouse->position().toPoint()))
      Image1Click(Image1);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

// ---- page 1 -------------------------------------------------------------------------------------

void TForm1::xpButton1Click(QObject*) {
  if (FChecking) return;
  const std::string chosen = FServices->ChooseArchive(this, OpenDialog1);
  if (chosen.empty()) return;
  // A file that vanished between the dialog and now is passed over, as a cancelled dialog is.
  if (!host::NameExists(wizard::SystemPathFromTyped(chosen))) return;
  ChooseArchive(chosen);
}

std::string TForm1::ArchiveProblem(const std::string& path) {
  if (path.empty() || !host::NameExists(path)) return kMsgZipMissing;
  if (host::DirectoryExists(path)) return path + kMsgIsAFolder;
  if (!host::FileExists(path)) return kMsgZipMissing;  // a link that leads nowhere
  // The lister pumps the window's messages while it reads: Browse, Continue, Enter and drops wait
  // until this check is done.
  FChecking = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool listsAFile = wizard::ListsAFile(Arcova1, path);
  QApplication::restoreOverrideCursor();
  FChecking = false;
  if (!listsAFile) return kMsgNoFilesInZip;
  return {};
}

void TForm1::ProposeFolderName(const std::string& archive, bool always) {
  // The box keeps a name the person typed; a name the program proposed follows the archive.
  if (!always && !Text(Edit3).empty() && Text(Edit3) != FProposedFolderName) return;
  FProposedFolderName = wizard::DefaultFolderName(archive);
  Edit3->setText(QString::fromStdString(FProposedFolderName));
  Edit3->setCursorPosition(0);
}

bool TForm1::ChooseArchive(const std::string& typedPath) {
  if (FChecking) return false;
  const std::string path = wizard::SystemPathFromTyped(typedPath);
  const std::string problem = ArchiveProblem(path);
  if (!problem.empty()) {
    ShowError(problem);
    return false;
  }
  // A text set by the program shows its beginning, as a person reads it, not its end.
  Edit1->setText(QString::fromStdString(path));
  Edit1->setCursorPosition(0);
  ProposeFolderName(path, true);
  return true;
}

void TForm1::xpButton2Click(QObject*) {
  if (FChecking) return;
  const std::string path = wizard::SystemPathFromTyped(Text(Edit1));
  if (path != Text(Edit1)) Edit1->setText(QString::fromStdString(path));
  // The check Browse runs, for a path typed or pasted as well.
  const std::string problem = ArchiveProblem(path);
  if (!problem.empty()) {
    ShowError(problem);
    return;
  }
  ProposeFolderName(path, false);
  Panel1->hide();
  SetClientSize(wizard::kClientWidth, wizard::kPage2Height);
  Panel2->show();
  KvDirTree211->setFocus();
}

// ---- page 2 -------------------------------------------------------------------------------------

void TForm1::KvDirTree211Click(QObject*) {
  ShowSelectedDirectory();
}

void TForm1::ShowSelectedDirectory() {
  Edit2->setText(QString::fromStdString(KvDirTree211->SelectedPath()));
  Edit2->setCursorPosition(0);
}

void TForm1::HighlightHomeDrive() {
  if (QTreeWidgetItem* home = KvDirTree211->FindNode("C:\\")) {
    KvDirTree211->setCurrentItem(home);
    KvDirTree211->scrollToItem(home);
  }
}

void TForm1::xpButton6Click(QObject*) {
  Panel2->hide();
  SetClientSize(wizard::kClientWidth, wizard::kPage1Height);
  Panel1->show();
  xpButton2->setFocus();
}

void TForm1::xpButton5Click(QObject*) {
  if (FExtracting) return;
  const std::string directory = wizard::SystemPathFromTyped(Text(Edit2));
  if (directory != Text(Edit2)) Edit2->setText(QString::fromStdString(directory));
  if (directory.empty() || SameTextAscii(directory, "Drives")) {
    ShowError(kMsgNoDirectory);
    return;
  }
  const std::string archive = wizard::SystemPathFromTyped(Text(Edit1));
  FDestinationPath = wizard::ComposeDestination(directory, Text(Edit3));

  // From here the gauges stand in for the buttons: the survey reads the whole archive first (a
  // compressed tar is unpacked to list it), and the window shows that it works.
  xpButton5->hide();
  xpButton6->hide();
  Gauge1->show();
  Gauge2->show();
  // The tree's menu renames, moves and deletes folders; none of that while files are being
  // written below them, or the run could write into a folder the person just moved away.
  const bool menuEnabled = KvDirTree211->PopUpMenuEnabled();
  const bool readOnly = KvDirTree211->ReadOnly();
  KvDirTree211->SetPopUpMenuEnabled(false);
  KvDirTree211->SetReadOnly(true);
  FExtracting = true;
  const auto backToPage2 = [&] {
    FExtracting = false;
    KvDirTree211->SetPopUpMenuEnabled(menuEnabled);
    KvDirTree211->SetReadOnly(readOnly);
    ShowPage2Buttons();
  };

  QApplication::setOverrideCursor(Qt::WaitCursor);
  const wizard::TDestinationSurvey survey =
      wizard::SurveyDestination(Arcova1, archive, FDestinationPath);
  QApplication::restoreOverrideCursor();
  if (FCloseRequested) {
    backToPage2();
    close();
    return;
  }
  const int existing = survey.ExistingFiles;
  if (existing > 0) {
    const std::string question =
        existing == 1
            ? "1 file in " + FDestinationPath + " already exists and would be replaced. Replace it?"
            : std::to_string(existing) + " files in " + FDestinationPath +
                  " already exist and would be replaced. Replace them?";
    if (!FServices->AskYesNo(this, question)) {
      backToPage2();
      return;
    }
  }

  QElapsedTimer runTime;
  runTime.start();
  {
    // The extractor of the archive's type runs with the designed extractor's settings and
    // progress handler; the job makes the destination folder.
    wizard::TWizardRun run;
    run.CpuType = UnZip1.CpuType();
    run.OnProgress = UnZip1.OnProgress;
    run.OnVolumeMissing = [this](const std::string& volumeName, const std::string& volumeId) {
      return FServices->AskYesNo(
          this, "Volume " + volumeId + " of the set, " + volumeName +
                    ", is not there. Put it there and click Yes to go on, or No to stop.");
    };
    FRun = &run;
    FLastRun = run.Run({archive, FDestinationPath, Text(Edit4)});
    FRun = nullptr;
  }
  FExtracting = false;
  KvDirTree211->SetPopUpMenuEnabled(menuEnabled);
  KvDirTree211->SetReadOnly(readOnly);

  if (FCloseRequested) {
    // The engine removed the member it cut short; what was whole stays.
    close();
    return;
  }

  const std::string problems = FLastRun.Text();
  const std::string warnings = FLastRun.WarningText();
  const bool nothingCameOut = FLastRun.NothingCameOut();
  // A long run that ended while the person was elsewhere is told by the desktop as well.
  if (runTime.elapsed() >= FNotifyAfterMs && !isActiveWindow()) {
    FServices->NotifyRunEnded(nothingCameOut ? "Nothing was extracted" : "Extraction finished",
                              nothingCameOut ? problems
                                             : FLastRun.ResultSentence(FDestinationPath),
                              nothingCameOut ? std::string() : FDestinationPath);
  }
  // Folders made only for members that were then refused go again; so does the destination when
  // nothing came out of the run.
  wizard::RemoveEmptyNewFolders(survey, nothingCameOut);
  if (nothingCameOut || FLastRun.PasswordFailed()) {
    // The page stays, as it was before the run (no full gauges behind a box that says nothing
    // came out): the person can change the password, the folder or the archive and try again.
    Gauge1->SetProgress(0);
    Gauge2->SetProgress(0);
    ShowPage2Buttons();
    ShowError(problems.empty() ? "Nothing was extracted." : problems);
    if (FLastRun.PasswordFailed()) {
      Edit4->setFocus();
      Edit4->selectAll();
    } else {
      xpButton6->setFocus();
    }
    return;
  }
  if (!problems.empty()) ShowError(problems);
  // What was said while nothing was lost is a warning, not a failure.
  if (!warnings.empty()) FServices->ShowMessage(this, warnings, TMsgDlgType::mtWarning);

  SetResultSentence(FLastRun.ResultSentence(FDestinationPath));
  Panel2->hide();
  SetClientSize(wizard::kClientWidth, wizard::kPage3Height);
  Panel3->show();
  xpButton3->setFocus();
  ShowBanner(true);
  Gauge1->SetProgress(0);
  Gauge2->SetProgress(0);
}

void TForm1::UnZip1Progress(TObject*, uint8_t ProgressByFile, uint8_t ProgressByArchive) {
  Gauge1->SetProgress(ProgressByFile);
  Gauge2->SetProgress(ProgressByArchive);
  // The engine has let the window process its pending messages before this event (once per
  // block): the gauges are painted then.
}

void TForm1::ShowPage2Buttons() {
  Gauge1->hide();
  Gauge2->hide();
  xpButton5->show();
  xpButton6->show();
}

// ---- page 3 -------------------------------------------------------------------------------------

void TForm1::ShowBanner(bool running) {
  if (!FBanner) return;
  if (running) {
    FBanner->start();
  } else {
    FBanner->stop();
  }
}

void TForm1::xpButton3Click(QObject*) {
  if (!host::ShellOpen(FDestinationPath)) SayCannotOpen(FDestinationPath);
}

void TForm1::SayCannotOpen(const std::string& target) {
  if (target == FBannerAddress) {
    ShowError("The page " + FBannerAddress +
              " could not be opened: this desktop has no web browser to show it with.");
    return;
  }
  std::string hostPath;
  const std::string where = host::ToHostPath(target, hostPath) && !hostPath.empty()
                                ? " (" + hostPath + " on this computer)"
                                : std::string();
  ShowError("The folder " + target + where +
            " could not be opened: this desktop has no program to show folders with.");
}

void TForm1::Image1Click(QObject*) {
  if (!host::ShellOpen(FBannerAddress)) SayCannotOpen(FBannerAddress);
}

void TForm1::xpButton4Click(QObject*) {
  Panel3->hide();
  ShowBanner(false);
  SetClientSize(wizard::kClientWidth, wizard::kPage1Height);
  Panel1->show();
  Edit1->clear();
  Edit2->setText("C:\\");
  Edit4->clear();
  KvDirTree211->SetSelectedPath("C:\\");
  HighlightHomeDrive();  // the highlight agrees with "Selected Directory"
  ShowPage2Buttons();
  xpButton1->setFocus();  // the archive box is empty: Browse is the next step
}

void TForm1::xpButton7Click(QObject*) {
  close();
}
