// TxpButton: the wizard's flat push button — a light banded gradient inside a dark rounded border,
// an orange ring while the pointer is over it, a pressed look while held — and the click it fires
// on release. PaintXpButton draws one state into any painter (tests paint into a QImage and read
// pixels); the widget only keeps the state and handles input. It knows nothing of the wizard.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "widgets/wgtServices.h"

class QShortcut;

// Everything the painting depends on.
struct TxpButtonState {
  int Width = 75;
  int Height = 25;
  QString Caption;            // without its "&"
  int AcceleratorIndex = -1;  // index in Caption of the underlined letter, -1 for none
  QFont Font;
  QColor FontColor = Qt::black;
  QColor ButtonFace = QColor(240, 240, 240);  // the desktop's button colour (disabled corners)
  bool Enabled = true;
  bool Pressed = false;
  bool MouseInside = false;
  bool Focused = false;
};

// Paints the button into (0, 0)-(Width, Height) of the painter's device.
void PaintXpButton(QPainter& painter, const TxpButtonState& state);

// Fills (left, top)-(right, bottom) with `bands` horizontal bands from `begin` to `end`; the rows
// that do not make a whole band go below in the end colour (the begin colour when `reversed`).
void PaintBandedGradient(QPainter& painter, int left, int top, int right, int bottom,
                         const QColor& begin, const QColor& end, int bands, bool reversed);

// Splits a caption at its "&": the text shown and the index of the accelerator letter (-1 when
// there is none, e.g. when "&" is the last character). "&&" shows one "&".
void SplitCaption(const QString& caption, QString& shown, int& acceleratorIndex);

class TxpButton : public QWidget {
  Q_OBJECT

 public:
  explicit TxpButton(QWidget* parent = nullptr);
  ~TxpButton() override;

  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& value);
  QFont Font() const { return font(); }
  void SetFont(const QFont& value);
  bool Enabled() const { return isEnabled(); }
  void SetEnabled(bool value);
  bool Cancel() const { return FCancel; }
  void SetCancel(bool value);
  bool Default() const { return FDefault; }
  void SetDefault(bool value);
  int ModalResult() const { return FModalResult; }
  void SetModalResult(int value) { FModalResult = value; }
  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool value);

  // The accelerator letter, upper-cased; 0 when the caption has none.
  char Accelerator() const { return FAccelerator; }
  // Internal state, for the wizard's own tests and the gallery.
  bool Pressed() const { return FPressed; }
  bool MouseInside() const { return FMouseInside; }
  bool Focused() const { return FFocused; }
  TxpButtonState State() const;
  // Shows a state without input (the gallery): pressed and pointer-inside as given.
  void ShowState(bool pressed, bool mouseInside);

  // Fires OnClick and hands ModalResult to an owning dialog.
  void Click();

  TWidgetEvent OnClick;
  TWidgetEvent OnEnter;
  TWidgetEvent OnExit;
  TWidgetKeyEvent OnKeyDown;
  TWidgetKeyEvent OnKeyUp;

  QSize sizeHint() const override { return QSize(75, 25); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  bool event(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void SetPressed(bool value);
  void SetMouseInside(bool value);
  void UpdateShortcuts();
  void ShortcutActivated(int key);

  std::string FCaption = "XP Button";
  QString FShownCaption;
  int FAcceleratorIndex = -1;
  char FAccelerator = 0;
  bool FCancel = false;
  bool FDefault = false;
  int FModalResult = 0;
  bool FTabStop = true;
  bool FPressed = false;
  bool FMouseInside = false;
  bool FFocused = false;
  std::vector<QShortcut*> FShortcuts;  // dialog keys and the accelerator
};
