// TForm1: the wizard's window, its pages and handlers (see Unit1.h).
#include "app/Unit1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMovie>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <algorithm>

#include "app/JpegPicture.h"
#include "app/WizardPaths.h"
#include "archive/common/arvGbls.h"
#include "archive/messages/Err_Msgs.h"
#include "platform/host.h"

const char* const kMsgNoFilesInZip =
    "ZIP file contains no files or is corrupt. Please select 'Browse' and the file you want to "
    "Unzip";
const char* const kMsgZipMissing =
    "ZIP file doesn't exist. Please select 'Browse' and the file you want to Unzip";
const char* const kMsgNoDirectory =
    "Please select the directory to extract into: click a folder in the tree on the left, or "
    "type its path into \"Selected Directory\".";

namespace {

constexpr int kClientWidth = 537;
constexpr int kStartHeight = 511;  // the designed client area, until the first page switch
constexpr int kPage1Height = 146;
constexpr int kPage2Height = 300;
constexpr int kPage3Height = 129;
const QColor kSilver(192, 192, 192);

const char* const kMemoLines =
    "You need to tell me where to extract the files to. Please highlight a \n"
    "folder on the left, and on the right type in what you would like the \n"
    "destination folder to be named. This folder will be created inside the \n"
    "folder you highlighted and the extracted files will be placed there.";

// The separator under the memo: a sunken line along the top edge of its box.
class TBevel : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(QColor(128, 128, 128));
    painter.drawLine(0, 0, width() - 1, 0);
    painter.setPen(Qt::white);
    painter.drawLine(0, 1, width() - 1, 1);
  }
};

// A group box as the design draws it: an etched frame that starts half a line down, with the
// caption on the frame's top line, so the controls at their designed places lie inside it.
class TGroupBox : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int top = metrics.height() / 2;
    const QRect frame(0, top, width() - 2, height() - top - 2);
    painter.setPen(QColor(128, 128, 128));
    painter.drawRect(frame);
    painter.setPen(Qt::white);
    painter.drawRect(frame.translated(1, 1));
    const QString caption = title();
    const QRect text(8, 0, metrics.horizontalAdvance(caption) + 4, metrics.height());
    painter.fillRect(text, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(text, Qt::AlignCenter, caption);
  }
};

QWidget* MakePanel(QWidget* parent, int height) {
  auto* panel = new QWidget(parent);
  panel->setGeometry(0, 0, kClientWidth, height);
  panel->setAutoFillBackground(true);
  return panel;
}

QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->move(left, top);
  label->adjustSize();
  return label;
}

QLabel* MakeWrappedLabel(QWidget* parent, const char* text, int left, int top, int width,
                         int height) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setGeometry(left, top, width, height);
  return label;
}

// The design's pixel geometry was made for a narrower dialog font than today's desktop sans. A
// word-wrapped label keeps its place and width and grows downwards as far as `maxHeight` allows
// (as a self-sizing label does); when its text still does not fit, its font steps down a pixel
// at a time, trying the family's condensed cut first at each size (not below
// kSmallestPixelSize), so no word is ever cut off.
constexpr int kSmallestPixelSize = 8;

void FitLabel(QLabel* label, int maxHeight) {
  QFont font = label->font();
  for (int size = font.pixelSize(); size >= kSmallestPixelSize; --size) {
    font.setPixelSize(size);
    font.setStretch(QFont::Unstretched);
    label->setFont(font);
    if (label->heightForWidth(label->width()) <= maxHeight) break;
    font.setStretch(QFont::Condensed);  // a narrower cut of the same family reads better
    label->setFont(font);
    if (label->heightForWidth(label->width()) <= maxHeight) break;
  }
  const int needed = label->heightForWidth(label->width());
  if (needed > label->height()) label->resize(label->width(), std::min(needed, maxHeight));
}

// The memo's lines are kept as they are (no wrapping); the font steps down until the longest
// line and all lines fit the memo's box.
void FitMemo(QPlainTextEdit* memo) {
  QFont font = memo->font();
  const QStringList lines = memo->toPlainText().split('\n');
  auto fits = [&](const QFont& candidate) {
    const QFontMetrics metrics(candidate);
    int widest = 0;
    for (const QString& line : lines) widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest + 4 <= memo->width() && metrics.lineSpacing() * lines.size() <= memo->height();
  };
  for (int size = font.pixelSize(); size >= kSmallestPixelSize; --size) {
    font.setPixelSize(size);
    font.setStretch(QFont::Unstretched);
    if (fits(font)) break;
    font.setStretch(QFont::Condensed);  // a narrower cut of the same family reads better
    if (fits(font)) break;
  }
  memo->setFont(font);
}

QLineEdit* MakeEdit(QWidget* parent, const char* text, int left, int top, int width) {
  auto* edit = new QLineEdit(QString::fromUtf8(text), parent);
  edit->setGeometry(left, top, width, 21);
  return edit;
}

TxpButton* MakeButton(QWidget* parent, const char* caption, int left, int top, int width,
                      int height) {
  auto* button = new TxpButton(parent);
  button->SetCaption(caption);
  button->setGeometry(left, top, width, height);
  return button;
}

QGroupBox* MakeGroup(QWidget* parent, const char* caption, int left, int top, int width,
                     int height) {
  auto* group = new TGroupBox(QString::fromUtf8(caption), parent);
  group->setGeometry(left, top, width, height);
  return group;
}

TGauge* MakeGauge(QWidget* parent, int left, int top, int width) {
  auto* gauge = new TGauge(parent);
  gauge->setGeometry(left, top, width, 17);
  gauge->hide();
  return gauge;
}

std::string Text(const QLineEdit* edit) {
  return edit->text().toStdString();
}

// The path below the destination folder that a person recognises.
std::string ShownName(const std::string& outputPath, const std::string& extractDir) {
  if (!extractDir.empty() && outputPath.size() > extractDir.size() &&
      SameTextAscii(outputPath.substr(0, extractDir.size()), extractDir))
    return outputPath.substr(extractDir.size());
  return outputPath;
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
  setWindowTitle("Parcelo");
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPixelSize(11);  // the design's 8-point dialog font
  setFont(font);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, kSilver);
  palette.setColor(QPalette::Button, kSilver);
  setPalette(palette);
  setAutoFillBackground(true);
  setAcceptDrops(true);

  CreatePage1();
  CreatePage2();
  CreatePage3();
  SetTabOrders();
  SetClientSize(kClientWidth, kStartHeight);

  UnZip1.SetCpuType(cptAuto);
  UnZip1.SetCreateStoredDirs(true);
  UnZip1.OnProgress = [this](TObject* sender, uint8_t byFile, uint8_t byArchive) {
    UnZip1Progress(sender, byFile, byArchive);
  };
  // Listeners only: what the engine decides stays its own; the window learns what failed.
  UnZip1.OnBegin = [this](TObject*, const std::string& fileName, int, bool&) {
    const std::string extractDir = UnZip1.ExtractDir();
    if (FEarlyReport >= 0 &&
        SameTextAscii(ShownName(FRun.Members[static_cast<size_t>(FEarlyReport)].Name, extractDir),
                      ShownName(fileName, extractDir))) {
      // What was said about the member before it began did not stop it: it is extracted now.
      FRun.Members[static_cast<size_t>(FEarlyReport)] = {fileName, wizard::TFailure::None};
      FCurrent = FEarlyReport;
    } else {
      FRun.Members.push_back({fileName, wizard::TFailure::None});
      FCurrent = static_cast<int>(FRun.Members.size()) - 1;
    }
    FEarlyReport = -1;
  };
  UnZip1.OnError = [this](TObject*, const std::string& fileName, const std::string& extendedMsg,
                          const std::string&,
                          int code) { OnExtractError(fileName, extendedMsg, code); };
  Arcova1.SetRecurseDirs(true);
  FBannerAddress = FindAboutPage();
}

TForm1::~TForm1() = default;

void TForm1::CreatePage1() {
  Panel1 = MakePanel(this, 145);
  Label1 = MakeLabel(Panel1, "Welcome to Parcelo. ", 16, 16);
  Image3 = new QLabel(Panel1);
  QFile picture(":/pictures/parcel.jpg");
  if (picture.open(QIODevice::ReadOnly)) {
    const QImage image = wizard::DecodeJpeg(picture.readAll());
    Image3->setPixmap(QPixmap::fromImage(image));
  }
  Image3->setAlignment(Qt::AlignCenter);
  Image3->setGeometry(16, 40, 21, 33);
  Label7 = MakeWrappedLabel(Panel1,
                            "This program was designed to take the effort out of unzipping "
                            "programs and files. Click the browse button below, and select the "
                            "zip file you want to extract. Once done, click Continue.",
                            48, 46, 463, 26);
  FitLabel(Label7, 104 - 46 - 4);  // down to the archive box
  Edit1 = MakeEdit(Panel1, "C:\\", 16, 104, 289);
  xpButton1 = MakeButton(Panel1, "Browse", 312, 104, 65, 21);
  xpButton2 = MakeButton(Panel1, "Continue", 440, 112, 89, 25);
  xpButton1->OnClick = [this](QObject* sender) { xpButton1Click(sender); };
  xpButton2->OnClick = [this](QObject* sender) { xpButton2Click(sender); };
  // A path typed or pasted in host form is shown in the window's own syntax.
  connect(Edit1, &QLineEdit::editingFinished, this, [this] {
    const std::string path = wizard::SystemPathFromTyped(Text(Edit1));
    if (path != Text(Edit1)) Edit1->setText(QString::fromStdString(path));
  });
}

void TForm1::CreatePage2() {
  Panel2 = MakePanel(this, 297);
  KvDirTree211 = new TKvDirTree21(Panel2);
  KvDirTree211->setGeometry(16, 8, 180, 273);
  KvDirTree211->SetLanguage(lnEnglish);
  KvDirTree211->SetHideSelection(false);
  KvDirTree211->SetIndent(19);
  KvDirTree211->SetSelectedPath("c:\\");
  KvDirTree211->SetServices(FServices);
  KvDirTree211->OnClick = [this](QObject* sender) { KvDirTree211Click(sender); };

  Memo2 = new QPlainTextEdit(Panel2);
  Memo2->setGeometry(208, 8, 321, 57);
  Memo2->setFrameShape(QFrame::NoFrame);
  Memo2->setTabChangesFocus(true);
  Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo2->document()->setDocumentMargin(0);
  QFont memoFont = font();
  memoFont.setPixelSize(12);
  Memo2->setFont(memoFont);
  QPalette memoPalette = Memo2->palette();
  memoPalette.setColor(QPalette::Base, kSilver);
  Memo2->setPalette(memoPalette);
  Memo2->setPlainText(QString::fromUtf8(kMemoLines));
  FitMemo(Memo2);

  Bevel1 = new TBevel(Panel2);
  Bevel1->setGeometry(208, 64, 313, 9);

  GroupBox3 = MakeGroup(Panel2, "Selected Directory", 208, 72, 313, 49);
  Edit2 = MakeEdit(GroupBox3, "C:\\", 8, 16, 297);
  connect(Edit2, &QLineEdit::editingFinished, this, [this] {
    const std::string path = wizard::SystemPathFromTyped(Text(Edit2));
    if (path != Text(Edit2)) Edit2->setText(QString::fromStdString(path));
  });
  GroupBox1 = MakeGroup(Panel2, "Destination Folder Name", 208, 128, 313, 49);
  Edit3 = MakeEdit(GroupBox1, "", 8, 16, 97);
  Label6 = MakeWrappedLabel(
      GroupBox1, "Folder name of the folder that will be created in the selected directory", 120,
      12, 173, 26);
  FitLabel(Label6, 49 - 12 - 3);  // inside its group's frame
  GroupBox2 = MakeGroup(Panel2, "Password?", 208, 184, 313, 73);
  Edit4 = MakeEdit(GroupBox2, "", 8, 24, 89);
  Label5 = MakeWrappedLabel(GroupBox2,
                            "Some people send zip files with passwords for protection. If the zip "
                            "came with a password, this is where you put it. Otherwise leave it "
                            "blank.",
                            112, 12, 192, 52);
  FitLabel(Label5, 73 - 12 - 3);

  Gauge1 = MakeGauge(Panel2, 216, 272, 137);
  Gauge2 = MakeGauge(Panel2, 360, 272, 108);
  xpButton6 = MakeButton(Panel2, "Go Back", 360, 264, 83, 25);
  xpButton5 = MakeButton(Panel2, "Unzip", 448, 264, 83, 25);
  xpButton6->OnClick = [this](QObject* sender) { xpButton6Click(sender); };
  xpButton5->OnClick = [this](QObject* sender) { xpButton5Click(sender); };
}

void TForm1::CreatePage3() {
  Panel3 = MakePanel(this, 129);
  Label2 = new TPathLabel(Panel3);  // the result sentence names the destination
  Label2->setWordWrap(true);
  Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label2->setGeometry(16, 8, 374, 26);
  xpButton3 = MakeButton(Panel3, "Goto Folder", 432, 8, 89, 25);
  Image1 = new QLabel(Panel3);
  Image1->setGeometry(8, 36, 468, 60);
  Image1->setCursor(Qt::PointingHandCursor);
  FBanner = new QMovie(":/pictures/banner.gif", QByteArray(), this);
  FBanner->setCacheMode(QMovie::CacheAll);
  Image1->setMovie(FBanner);
  FBanner->jumpToFrame(0);
  Image1->installEventFilter(this);
  Label3 = MakeLabel(Panel3, "Parcelo", 16, 96);
  Label4 = MakeLabel(Panel3, "Click on the banner above to visit the site", 16, 112);
  xpButton4 = MakeButton(Panel3, "Another?", 344, 100, 89, 25);
  xpButton7 = MakeButton(Panel3, "Close", 440, 100, 89, 25);
  xpButton3->OnClick = [this](QObject* sender) { xpButton3Click(sender); };
  xpButton4->OnClick = [this](QObject* sender) { xpButton4Click(sender); };
  xpButton7->OnClick = [this](QObject* sender) { xpButton7Click(sender); };
}

void TForm1::SetTabOrders() {
  // Page by page, each page's controls in the designed order; hidden pages are skipped by Tab.
  QWidget* const order[] = {xpButton2, xpButton1, Edit1,     KvDirTree211, Edit3,
                            Edit4,     xpButton5, xpButton6, Memo2,        Edit2,
                            xpButton3, xpButton4, xpButton7};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void TForm1::SetClientSize(int width, int height) {
  setFixedSize(width, height);  // a single border: the person cannot resize it
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
    UnZip1.SetCancel(true);
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
  if (FExtracting || CurrentPage() != 1 || !event->mimeData()->hasUrls()) return;
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
  const std::string chosen = FServices->ChooseArchive(this, OpenDialog1);
  if (chosen.empty()) return;
  ChooseArchive(chosen);
}

void TForm1::ChooseArchive(const std::string& typedPath) {
  const std::string path = wizard::SystemPathFromTyped(typedPath);
  if (path.empty() || !host::FileExists(path)) return;
  TStringList list;
  Arcova1.SetArchiveFile(path);
  Arcova1.FileSpec().Add("*.*");
  Arcova1.FillFileList(list);
  if (list.Count() == 0) {
    ShowError(kMsgNoFilesInZip);
    return;
  }
  // A text set by the program shows its beginning, as a person reads it, not its end.
  Edit1->setText(QString::fromStdString(path));
  Edit1->setCursorPosition(0);
  Edit3->setText(QString::fromStdString(wizard::DefaultFolderName(path)));
  Edit3->setCursorPosition(0);
}

void TForm1::xpButton2Click(QObject*) {
  const std::string path = wizard::SystemPathFromTyped(Text(Edit1));
  if (path != Text(Edit1)) Edit1->setText(QString::fromStdString(path));
  if (path.empty() || !host::FileExists(path)) {
    ShowError(kMsgZipMissing);
    return;
  }
  Panel1->hide();
  SetClientSize(kClientWidth, kPage2Height);
  Panel2->show();
  KvDirTree211->setFocus();
}

// ---- page 2 -------------------------------------------------------------------------------------

void TForm1::KvDirTree211Click(QObject*) {
  Edit2->setText(QString::fromStdString(KvDirTree211->SelectedPath()));
  Edit2->setCursorPosition(0);
}

void TForm1::xpButton6Click(QObject*) {
  Panel2->hide();
  SetClientSize(kClientWidth, kPage1Height);
  Panel1->show();
  xpButton2->setFocus();
}

int TForm1::CountExisting(const std::string& archive, const std::string& destination) {
  std::vector<std::string> files;
  Arcova1.SetArchiveFile(archive);
  Arcova1.OnRead = [&](TObject*, int64_t, int) {
    const TArcovaEntry& entry = Arcova1.Entry();
    if (!entry.IsDirectory) files.push_back(entry.FileName);
  };
  Arcova1.Scan();
  Arcova1.OnRead = nullptr;
  UnZip1.SetExtractDir(destination);
  int existing = 0;
  for (const std::string& name : files) {
    UnZip1.BuildOutputName(name);
    const std::string& outputPath = UnZip1.OutputPath();
    if (!outputPath.empty() && host::FileExists(outputPath)) ++existing;
  }
  return existing;
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

  const int existing = CountExisting(archive, FDestinationPath);
  if (existing > 0) {
    const std::string question =
        existing == 1
            ? "1 file in " + FDestinationPath + " already exists and would be replaced. Replace it?"
            : std::to_string(existing) + " files in " + FDestinationPath +
                  " already exist and would be replaced. Replace them?";
    if (!FServices->AskYesNo(this, question)) return;
  }

  MakeDirPath(FDestinationPath);  // an existing folder is fine; a failure shows in the run
  xpButton5->hide();
  xpButton6->hide();
  Gauge1->show();
  Gauge2->show();

  UnZip1.SetArchiveFile(archive);
  UnZip1.FileSpec().Clear();
  UnZip1.FileSpec().Add("*.*");
  UnZip1.SetExtractDir(FDestinationPath);
  UnZip1.Passwords().Clear();
  UnZip1.Passwords().Add(Text(Edit4));

  FRun = wizard::TRunReport();
  FRun.PasswordTyped = !Text(Edit4).empty();
  FCurrent = -1;
  FEarlyReport = -1;
  // Extract passes over a file that is no zip of any kind without a word; the person is told.
  if (!IsZipFamily(UnZip1.ArcType())) FRun.ArchiveErrors.push_back("it is not a zip archive");
  // The tree's menu renames, moves and deletes folders; none of that while files are being
  // written below them, or the run could write into a folder the person just moved away.
  const bool menuEnabled = KvDirTree211->PopUpMenuEnabled();
  const bool readOnly = KvDirTree211->ReadOnly();
  KvDirTree211->SetPopUpMenuEnabled(false);
  KvDirTree211->SetReadOnly(true);
  FExtracting = true;
  const int count = UnZip1.Extract();
  FExtracting = false;
  KvDirTree211->SetPopUpMenuEnabled(menuEnabled);
  KvDirTree211->SetReadOnly(readOnly);
  FRun.Extracted = count;

  if (FCloseRequested) {
    // The engine removed the member it cut short; what was whole stays.
    close();
    return;
  }

  const std::string extractDir = UnZip1.ExtractDir();
  for (auto& member : FRun.Members) member.Name = ShownName(member.Name, extractDir);

  const std::string problems = FRun.Text();
  if (FRun.PasswordFailed()) {
    // Another password can be tried at once: the page is back as it was before the run (no
    // full gauges behind a box that says nothing came out), then the password is selected.
    Gauge1->SetProgress(0);
    Gauge2->SetProgress(0);
    ShowPage2Buttons();
    ShowError(problems);
    Edit4->setFocus();
    Edit4->selectAll();
    return;
  }
  if (!problems.empty()) ShowError(problems);

  Label2->setText(QString::fromStdString("Congratulations, you have successfully extracted " +
                                         std::to_string(count) + " file(s) to the folder " +
                                         FDestinationPath +
                                         ". Click the Goto Folder button to view your extracted "
                                         "files."));
  Label2->setFont(font());
  Label2->setGeometry(16, 8, 374, 26);
  FitLabel(Label2, 36 - 8);  // above the banner
  Panel2->hide();
  SetClientSize(kClientWidth, kPage3Height);
  Panel3->show();
  xpButton3->setFocus();
  ShowBanner(true);
  Gauge1->SetProgress(0);
  Gauge2->SetProgress(0);
}

void TForm1::OnExtractError(const std::string& fileName, const std::string& extendedMsg, int code) {
  if (FCloseRequested || code == kErrUserCanceled) return;
  const wizard::TFailure failure = wizard::FailureOfCode(code, extendedMsg);
  if (FCurrent >= 0) {
    wizard::TMemberResult& member = FRun.Members[static_cast<size_t>(FCurrent)];
    // The engine names each member that fails once, with its reason (an encrypted member
    // without its password included); the first reason is the one the person is told.
    if (SameTextAscii(fileName, member.Name)) {
      if (member.Failure == wizard::TFailure::None) member.Failure = failure;
      return;
    }
  }
  if (NamesAMember(fileName)) {
    // A member that failed before it began (a damaged header, a name that leaves nothing to
    // write, a link planted where it goes): a file that was not extracted, not a fault of the
    // whole archive.
    FRun.Members.push_back({fileName, failure});
    FEarlyReport = static_cast<int>(FRun.Members.size()) - 1;
    return;
  }
  std::string text = LoadStr(code);
  if (text.empty()) text = "error " + std::to_string(code);
  FRun.ArchiveErrors.push_back(text);
}

bool TForm1::NamesAMember(const std::string& fileName) const {
  const std::string archive = UnZip1.ArchiveFile();
  if (fileName.empty() || SameTextAscii(fileName, archive)) return false;
  const bool fullPath = fileName[0] == '\\' || (fileName.size() >= 2 && fileName[1] == ':');
  if (!fullPath) return true;  // the name the archive lists
  if (!StartsTextAscii(AppendBackslash(UnZip1.ExtractDir()), fileName)) return false;
  // The set's other volumes (archive.z01...) lie beside the archive, which may be in the
  // destination itself.
  const auto stem = [](const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t separator = path.find_last_of('\\');
    return dot != std::string::npos && (separator == std::string::npos || dot > separator)
               ? path.substr(0, dot)
               : path;
  };
  return !SameTextAscii(stem(fileName), stem(archive));
}

void TForm1::UnZip1Progress(TObject*, uint8_t ProgressByFile, uint8_t ProgressByArchive) {
  Gauge1->SetProgress(ProgressByFile);
  Gauge2->SetProgress(ProgressByArchive);
  wizard::PumpEvents();
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
  if (host::ShellOpen(FDestinationPath)) return;
  std::string hostPath;
  const std::string where = host::ToHostPath(FDestinationPath, hostPath) && !hostPath.empty()
                                ? " (" + hostPath + " on this computer)"
                                : std::string();
  ShowError("The folder " + FDestinationPath + where +
            " could not be opened: this desktop has no program to show folders with.");
}

void TForm1::Image1Click(QObject*) {
  if (host::ShellOpen(FBannerAddress)) return;
  ShowError("The page " + FBannerAddress +
            " could not be opened: this desktop has no web browser to show it with.");
}

void TForm1::xpButton4Click(QObject*) {
  Panel3->hide();
  ShowBanner(false);
  SetClientSize(kClientWidth, kPage1Height);
  Panel1->show();
  Edit1->clear();
  Edit2->setText("C:\\");
  Edit4->clear();
  KvDirTree211->SetSelectedPath("C:\\");
  ShowPage2Buttons();
  xpButton1->setFocus();  // the archive box is empty: Browse is the next step
}

void TForm1::xpButton7Click(QObject*) {
  close();
}
