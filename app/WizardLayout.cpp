// The wizard window's layout: every control of the three pages at its designed place and size,
// the tab orders, the client size of each page, and the fitting of texts written for a narrower
// dialog font than today's desktop sans. Nothing here reacts to a person: the page flow (Unit1.cpp)
// wires the handlers, the run (WizardRun.cpp) extracts.
#include "app/WizardLayout.h"

#include <QFile>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPainter>
#include <QPlainTextEdit>
#include <algorithm>

#include "app/JpegPicture.h"
#include "app/Unit1.h"

namespace wizard {

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

}  // namespace wizard

namespace {

using wizard::FitLabel;
using wizard::kClientWidth;

const QColor kSilver(192, 192, 192);
constexpr int kEditHeight = 21;
constexpr int kGaugeHeight = 17;

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

QLineEdit* MakeEdit(QWidget* parent, const char* text, int left, int top, int width) {
  auto* edit = new QLineEdit(QString::fromUtf8(text), parent);
  edit->setGeometry(left, top, width, kEditHeight);
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
  gauge->setGeometry(left, top, width, kGaugeHeight);
  gauge->hide();
  return gauge;
}

}  // namespace

void TForm1::SetWindowLook() {
  setWindowTitle("Parcelo");
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPixelSize(11);  // the design's 8-point dialog font
  setFont(font);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, kSilver);
  palette.setColor(QPalette::Button, kSilver);
  setPalette(palette);
  setAutoFillBackground(true);
}

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
  Edit1->setAccessibleName("Archive");  // the label above it names no box; a screen reader does
  xpButton1 = MakeButton(Panel1, "Browse", 312, 104, 65, 21);
  xpButton2 = MakeButton(Panel1, "Continue", 440, 112, 89, 25);
}

void TForm1::CreatePage2() {
  Panel2 = MakePanel(this, 297);
  KvDirTree211 = new TKvDirTree21(Panel2);
  KvDirTree211->setGeometry(16, 8, 180, 273);
  KvDirTree211->SetLanguage(lnEnglish);
  KvDirTree211->SetHideSelection(false);
  KvDirTree211->SetIndent(19);
  KvDirTree211->SetSelectedPath("c:\\");

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
  wizard::FitMemo(Memo2);

  Bevel1 = new TBevel(Panel2);
  Bevel1->setGeometry(208, 64, 313, 9);

  GroupBox3 = MakeGroup(Panel2, "Selected Directory", 208, 72, 313, 49);
  Edit2 = MakeEdit(GroupBox3, "C:\\", 8, 16, 297);
  Edit2->setAccessibleName(GroupBox3->title());
  GroupBox1 = MakeGroup(Panel2, "Destination Folder Name", 208, 128, 313, 49);
  Edit3 = MakeEdit(GroupBox1, "", 8, 16, 97);
  Edit3->setAccessibleName(GroupBox1->title());
  Label6 = MakeWrappedLabel(
      GroupBox1, "Folder name of the folder that will be created in the selected directory", 120,
      12, 173, 26);
  FitLabel(Label6, 49 - 12 - 3);  // inside its group's frame
  GroupBox2 = MakeGroup(Panel2, "Password?", 208, 184, 313, 73);
  Edit4 = MakeEdit(GroupBox2, "", 8, 24, 89);
  Edit4->setAccessibleName("Password");
  Label5 = MakeWrappedLabel(GroupBox2,
                            "Some people send zip files with passwords for protection. If the zip "
                            "came with a password, this is where you put it. Otherwise leave it "
                            "blank.",
                            112, 12, 192, 52);
  FitLabel(Label5, 73 - 12 - 3);

  Gauge1 = MakeGauge(Panel2, 216, 272, 137);
  Gauge2 = MakeGauge(Panel2, 360, 272, 108);
  Gauge1->setAccessibleName("Progress of the current file");
  Gauge2->setAccessibleName("Progress of the whole archive");
  xpButton6 = MakeButton(Panel2, "Go Back", 360, 264, 83, 25);
  xpButton5 = MakeButton(Panel2, "Unzip", 448, 264, 83, 25);
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
  Image1->setAccessibleName("Parcelo banner");
  Image1->setAccessibleDescription("Opens Parcelo's About page");
  FBanner = new QMovie(":/pictures/banner.gif", QByteArray(), this);
  FBanner->setCacheMode(QMovie::CacheAll);
  Image1->setMovie(FBanner);
  FBanner->jumpToFrame(0);
  Label3 = MakeLabel(Panel3, "Parcelo", 16, 96);
  Label4 = MakeLabel(Panel3, "Click on the banner above to visit the site", 16, 112);
  xpButton4 = MakeButton(Panel3, "Another?", 344, 100, 89, 25);
  xpButton7 = MakeButton(Panel3, "Close", 440, 100, 89, 25);
}

void TForm1::SetResultSentence(const std::string& sentence) {
  Label2->setText(QString::fromStdString(sentence));
  Label2->setFont(font());
  Label2->setGeometry(16, 8, 374, 26);
  FitLabel(Label2, 36 - 8);  // above the banner
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
