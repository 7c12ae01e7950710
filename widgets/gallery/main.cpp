// The widget gallery: every control of the wizard in each of its states on one fixed-size window,
// for a person to look at (and, with --screenshot FILE, to save as a picture and quit). Not a
// test: it asserts nothing.
#include <QApplication>
#include <QCommandLineParser>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include "widgets/Gauges.h"
#include "widgets/KvFileExplorer28.h"
#include "widgets/xpButton.h"

namespace {

constexpr int kWindowWidth = 620;
constexpr int kWindowHeight = 330;
constexpr int kColumnButtons = 12;
constexpr int kColumnGauges = 200;
constexpr int kColumnTree = 400;

QLabel* Caption(QWidget* parent, const QString& text, int x, int y) {
  auto* label = new QLabel(text, parent);
  label->move(x, y);
  return label;
}

TxpButton* Button(QWidget* parent, const char* caption, int y, const char* note) {
  auto* button = new TxpButton(parent);
  button->SetCaption(caption);
  button->move(kColumnButtons, y);
  Caption(parent, note, kColumnButtons + 85, y + 5);
  return button;
}

TGauge* Gauge(QWidget* parent, int x, int y, int w, int h, int progress, TGaugeKind kind) {
  auto* gauge = new TGauge(parent);
  gauge->setGeometry(x, y, w, h);
  gauge->SetKind(kind);
  gauge->SetProgress(progress);
  return gauge;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName("Parcelo widgets");
  QApplication::setFont(QFont("DejaVu Sans", 8));  // the wizard's small sans font
  QCommandLineParser parser;
  parser.setApplicationDescription("The wizard's controls in each of their states.");
  parser.addHelpOption();
  const QCommandLineOption screenshot("screenshot", "Save a picture of the window and quit.",
                                      "FILE");
  parser.addOption(screenshot);
  const QCommandLineOption menuShot(
      "menu-screenshot", "Save a picture of the folder tree's context menu and quit.", "FILE");
  parser.addOption(menuShot);
  parser.process(app);

  QWidget window;
  window.setWindowTitle("Parcelo widgets");
  window.setFixedSize(kWindowWidth, kWindowHeight);

  Caption(&window, "<b>TxpButton</b>", kColumnButtons, 8);
  Button(&window, "&Browse", 32, "normal");
  Button(&window, "Continue", 64, "pointer over it")->ShowState(false, true);
  Button(&window, "&Unzip", 96, "pressed")->ShowState(true, true);
  TxpButton* focused = Button(&window, "Go &Back", 128, "focused");
  TxpButton* disabled = Button(&window, "Goto Folder", 160, "disabled");
  disabled->SetEnabled(false);
  auto* wide = new TxpButton(&window);
  wide->SetCaption("Another?");
  wide->setGeometry(kColumnButtons, 192, 120, 32);
  Caption(&window, "120 x 32", kColumnButtons + 130, 200);

  Caption(&window, "<b>TGauge</b>", kColumnGauges, 8);
  int y = 32;
  for (const int progress : {0, 37, 50, 100}) {
    Gauge(&window, kColumnGauges, y, 137, 17, progress, gkHorizontalBar);
    y += 26;
  }
  TGauge* colours = Gauge(&window, kColumnGauges, y, 108, 17, 64, gkHorizontalBar);
  colours->SetForeColor(QColor(0, 60, 116));
  colours->SetBackColor(QColor(206, 231, 255));
  Gauge(&window, kColumnGauges, 170, 40, 100, 70, gkVerticalBar);
  Gauge(&window, kColumnGauges + 48, 170, 70, 70, 30, gkPie);
  Gauge(&window, kColumnGauges + 48, 246, 70, 40, 75, gkNeedle);
  TGauge* text = Gauge(&window, kColumnGauges + 126, 170, 50, 24, 42, gkText);
  text->SetBorderStyle(bsNone);

  Caption(&window, "<b>TKvDirTree21</b>", kColumnTree, 8);
  auto* tree = new TKvDirTree21(&window);
  tree->setGeometry(kColumnTree, 32, 205, 285);
  tree->SetIndent(19);
  tree->SetHideSelection(false);
  tree->NavigateTo("C:\\");

  window.show();
  QApplication::setActiveWindow(&window);
  focused->setFocus(Qt::OtherFocusReason);

  if (parser.isSet(screenshot) || parser.isSet(menuShot)) {
    const QString file = parser.value(screenshot);
    const QString menuFile = parser.value(menuShot);
    QTimer::singleShot(100, &window, [&window, tree, file, menuFile] {
      bool saved = file.isEmpty() || window.grab().save(file);
      if (!menuFile.isEmpty()) {
        QMenu* menu = tree->PopupMenu();
        emit menu->aboutToShow();  // the items' states for the selected drive
        menu->popup(tree->mapToGlobal(QPoint(40, 40)));
        saved = menu->grab().save(menuFile) && saved;
        menu->close();
      }
      QApplication::exit(saved ? 0 : 1);
    });
  }
  return QApplication::exec();
}
