// TxpButton: the painting of one state into a painter and the input that changes the state.
// Coordinates follow the button's own pixel grid: a rectangle (l, t)-(r, b) covers the columns l
// to r - 1 and the rows t to b - 1, and a line (x0, y)-(x1, y) leaves out its last pixel.
#include "widgets/xpButton.h"

#include <QAccessible>
#include <QDialog>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QShortcut>
#include <algorithm>
#include <cmath>

#include "widgets/wgtAccessible.h"

namespace {

// The look's colours.
const QColor kFaceFill(214, 211, 211);
const QColor kOutline(0, 60, 116);
const QColor kGradientTop(253, 253, 253);
const QColor kGradientBottom(205, 204, 223);
const QColor kTopLine(206, 231, 255);
const QColor kBottomLine(105, 130, 238);
const QColor kInnerFrame(188, 212, 246);
const QColor kHoverRing(248, 179, 48);
const QColor kDisabledFill(241, 241, 237);
const QColor kDisabledOutline(196, 195, 191);
const QColor kDisabledText(161, 161, 146);

// The gradient and the caption's clip lie this far inside the border.
constexpr int kInset = 4;

// a * b / c rounded to the nearest integer, halves away from zero, as the classic multiply-divide.
int MulDiv(int a, int b, int c) {
  const int64_t product = static_cast<int64_t>(a) * b;
  const int64_t half = c / 2;
  return static_cast<int>(((product < 0) != (c < 0)) ? (product - half) / c : (product + half) / c);
}

// A rounded rectangle (l, t)-(r, b) whose corners are ellipse quarters `corner` pixels across,
// outlined with `pen` and, when `fill` is valid, filled with it.
void RoundRect(QPainter& painter, int l, int t, int r, int b, int corner, const QColor& pen,
               const QColor& fill) {
  painter.setPen(QPen(pen, 0));
  painter.setBrush(fill.isValid() ? QBrush(fill) : QBrush(Qt::NoBrush));
  const qreal radius = corner / 2.0;
  painter.drawRoundedRect(QRectF(l, t, r - l - 1, b - t - 1), radius, radius);
}

// A line from (x0, y0) to (x1, y1) without its last pixel; only horizontal and vertical lines.
void Line(QPainter& painter, int x0, int y0, int x1, int y1, const QColor& color) {
  if (x0 == x1 && y0 == y1) return;
  const int stepX = (x1 > x0) - (x1 < x0);
  const int stepY = (y1 > y0) - (y1 < y0);
  painter.setPen(QPen(color, 0));
  painter.drawLine(x0, y0, x1 - stepX, y1 - stepY);
}

// The dotted focus frame: every other pixel of the rectangle's edge inverted.
void FocusRect(QPainter& painter, int l, int t, int r, int b) {
  if (r - l < 1 || b - t < 1) return;
  painter.save();
  painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  painter.setPen(QPen(Qt::white, 0));
  for (int x = l; x < r; ++x) {
    if ((x - l) % 2 == 0) {
      painter.drawPoint(x, t);
      if (b - 1 != t) painter.drawPoint(x, b - 1);
    }
  }
  for (int y = t + 1; y < b - 1; ++y) {
    if ((y - t) % 2 == 0) {
      painter.drawPoint(l, y);
      if (r - 1 != l) painter.drawPoint(r - 1, y);
    }
  }
  painter.restore();
}

}  // namespace

void SplitCaption(const QString& caption, QString& shown, int& acceleratorIndex) {
  shown.clear();
  acceleratorIndex = -1;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] != u'&') {
      shown.append(caption[i]);
    } else if (i + 1 < caption.size() && caption[i + 1] == u'&') {
      shown.append(u'&');  // "&&" shows one "&"
      ++i;
    } else if (i + 1 < caption.size() && acceleratorIndex < 0) {
      acceleratorIndex = static_cast<int>(shown.size());
    }
  }
}

void PaintBandedGradient(QPainter& painter, int left, int top, int right, int bottom,
                         const QColor& begin, const QColor& end, int bands, bool reversed) {
  const int height = bottom - top;
  const int width = right - left;
  if (height <= 0 || width <= 0) return;
  const QColor& from = reversed ? end : begin;
  const QColor& to = reversed ? begin : end;
  if (bands < 2) {
    painter.fillRect(left, top, width, height, from);
    return;
  }
  const int count = std::max(2, std::min(bands, height));
  const int bandHeight = height / count;
  for (int i = 0; i < count; ++i) {
    const QColor color(from.red() + MulDiv(i, to.red() - from.red(), count - 1),
                       from.green() + MulDiv(i, to.green() - from.green(), count - 1),
                       from.blue() + MulDiv(i, to.blue() - from.blue(), count - 1));
    painter.fillRect(left, top + i * bandHeight, width, bandHeight, color);
  }
  // Rows that do not make a whole band continue the last band's colour.
  const int rest = height - count * bandHeight;
  if (rest > 0) painter.fillRect(left, bottom - rest, width, rest, to);
}

void PaintXpButton(QPainter& painter, const TxpButtonState& state) {
  const int w = state.Width;
  const int h = state.Height;
  if (w <= 0 || h <= 0) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  painter.setFont(state.Font);
  const QFontMetrics metrics(state.Font);
  const int textWidth = metrics.horizontalAdvance(state.Caption);
  const int textHeight = metrics.height();
  const int offset = (state.Enabled && state.Pressed) ? 1 : 0;
  const int textLeft = (w - textWidth) / 2 + offset;
  const int textTop = (h - textHeight) / 2 + offset;
  const QRect clip(kInset, kInset, w - 2 * kInset, h - 2 * kInset);

  QColor textColor = state.FontColor;
  if (state.Enabled) {
    RoundRect(painter, 0, 0, w, h, 3, kFaceFill, kFaceFill);
    RoundRect(painter, 1, 1, w - 1, h - 1, 5, kOutline, QColor());
    const bool down = state.Pressed && state.MouseInside;
    PaintBandedGradient(painter, kInset, kInset, w - kInset, h - kInset, kGradientTop,
                        kGradientBottom, down ? h / 2 : h / 3, down);
    Line(painter, 3, 2, w - 3, 2, kTopLine);
    Line(painter, 3, h - 3, w - 3, h - 3, kBottomLine);
    painter.setPen(QPen(kInnerFrame, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(2, 3, w - 5, h - 7);  // (2, 3)-(w - 2, h - 3)
    Line(painter, 3, 4, 3, h - 4, Qt::white);
    Line(painter, w - 4, 4, w - 4, h - 4, Qt::white);
    Line(painter, 3, h - 1, w - 3, h - 1, Qt::white);
    Line(painter, w - 1, h - 4, w - 1, 2, Qt::white);
    if (state.MouseInside) RoundRect(painter, 3, 3, w - 3, h - 3, 2, kHoverRing, QColor());
  } else {
    RoundRect(painter, 0, 0, w, h, 3, kDisabledFill, kDisabledFill);
    painter.setPen(QPen(state.ButtonFace, 0));
    painter.drawPoint(0, 0);
    painter.drawPoint(w - 1, 0);
    painter.drawPoint(0, h - 1);
    painter.drawPoint(w - 1, h - 1);
    RoundRect(painter, 1, 1, w - 1, h - 1, 5, kDisabledOutline, QColor());
    textColor = kDisabledText;
  }

  painter.save();
  painter.setClipRect(clip);
  painter.setPen(textColor);
  painter.drawText(QRect(textLeft, textTop, textWidth + 1, textHeight),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, state.Caption);
  if (state.AcceleratorIndex >= 0 && state.AcceleratorIndex < state.Caption.size()) {
    const int from = metrics.horizontalAdvance(state.Caption.left(state.AcceleratorIndex));
    const int to = metrics.horizontalAdvance(state.Caption.left(state.AcceleratorIndex + 1));
    const int y = textTop + textHeight - 1;
    Line(painter, textLeft + from, y, textLeft + to, y, textColor);
  }
  painter.restore();

  if (state.Enabled && state.Focused) FocusRect(painter, kInset, kInset, w - kInset, h - kInset);
  painter.restore();
}

// ---- TxpButton ----------------------------------------------------------------------------------

TxpButton::TxpButton(QWidget* parent) : QWidget(parent) {
  widgets::InstallAccessibility();
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_Hover, false);
  resize(75, 25);
  SetCaption(FCaption);
}

TxpButton::~TxpButton() = default;

void TxpButton::SetCaption(const std::string& value) {
  FCaption = value;
  SplitCaption(QString::fromStdString(value), FShownCaption, FAcceleratorIndex);
  FAccelerator = 0;
  if (FAcceleratorIndex >= 0) {
    const QChar letter = FShownCaption[FAcceleratorIndex].toUpper();
    if (letter.unicode() < 0x80) FAccelerator = static_cast<char>(letter.unicode());
  }
  UpdateShortcuts();
  update();
  QAccessibleEvent event(this, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&event);
}

void TxpButton::SetFont(const QFont& value) {
  setFont(value);
  update();
}

void TxpButton::SetEnabled(bool value) {
  if (value == isEnabled()) return;
  setEnabled(value);
  if (!value) FPressed = false;
  update();
}

void TxpButton::SetCancel(bool value) {
  FCancel = value;
  UpdateShortcuts();
}

void TxpButton::SetDefault(bool value) {
  FDefault = value;
  UpdateShortcuts();
}

void TxpButton::SetTabStop(bool value) {
  FTabStop = value;
  setFocusPolicy(value ? Qt::StrongFocus : Qt::ClickFocus);
}

TxpButtonState TxpButton::State() const {
  TxpButtonState state;
  state.Width = width();
  state.Height = height();
  state.Caption = FShownCaption;
  state.AcceleratorIndex = FAcceleratorIndex;
  state.Font = font();
  state.ButtonFace = palette().color(QPalette::Button);
  state.Enabled = isEnabled();
  state.Pressed = FPressed;
  state.MouseInside = FMouseInside;
  state.Focused = FFocused;
  return state;
}

void TxpButton::ShowState(bool pressed, bool mouseInside) {
  FPressed = pressed;
  FMouseInside = mouseInside;
  update();
}

void TxpButton::Click() {
  QPointer<TxpButton> alive(this);
  if (OnClick) OnClick(this);
  if (!alive || FModalResult == 0) return;
  QWidget* form = window();
  if (form == this) return;
  if (auto* dialog = qobject_cast<QDialog*>(form)) {
    dialog->done(FModalResult);
  } else {
    form->setProperty("ModalResult", FModalResult);
  }
}

void TxpButton::SetPressed(bool value) {
  if (FPressed == value) return;
  FPressed = value;
  repaint();
  QAccessible::State changed;
  changed.pressed = true;
  QAccessibleStateChangeEvent event(this, changed);
  QAccessible::updateAccessibility(&event);
}

void TxpButton::SetMouseInside(bool value) {
  if (FMouseInside == value) return;
  FMouseInside = value;
  repaint();
}

// The dialog keys (Esc on a Cancel button, Enter on a Default one) and Alt+letter work anywhere in
// the button's window; a focused button keeps Enter and Space for itself (see event()).
void TxpButton::UpdateShortcuts() {
  for (QShortcut* shortcut : FShortcuts) delete shortcut;
  FShortcuts.clear();
  const auto add = [this](QKeyCombination keys, int key) {
    auto* shortcut = new QShortcut(QKeySequence(keys), this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, key] { ShortcutActivated(key); });
    connect(shortcut, &QShortcut::activatedAmbiguously, this,
            [this, key] { ShortcutActivated(key); });
    FShortcuts.push_back(shortcut);
  };
  if (FCancel) add(QKeyCombination(Qt::Key_Escape), Qt::Key_Escape);
  if (FDefault) {
    add(QKeyCombination(Qt::Key_Return), Qt::Key_Return);
    add(QKeyCombination(Qt::KeypadModifier, Qt::Key_Enter), Qt::Key_Return);
  }
  const bool letterOrDigit =
      (FAccelerator >= 'A' && FAccelerator <= 'Z') || (FAccelerator >= '0' && FAccelerator <= '9');
  if (letterOrDigit) {
    add(QKeyCombination(Qt::AltModifier, static_cast<Qt::Key>(FAccelerator)), FAccelerator);
  }
}

void TxpButton::ShortcutActivated(int key) {
  if (!isEnabled() || !isVisible()) return;
  if (key == Qt::Key_Escape && !FCancel) return;
  if (key == Qt::Key_Return && !FDefault) return;
  Click();
}

void TxpButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintXpButton(painter, State());
}

void TxpButton::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  SetMouseInside(true);
}

void TxpButton::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  SetMouseInside(false);
}

void TxpButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  if (FPressed) return;
  FPressed = true;
  if (!hasFocus() && isEnabled()) setFocus(Qt::MouseFocusReason);
  repaint();
}

void TxpButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  if (!FPressed) return;
  SetPressed(false);
  Click();  // wherever the pointer is now
}

void TxpButton::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  Click();
}

void TxpButton::keyPressEvent(QKeyEvent* event) {
  int key = event->key();
  if (OnKeyDown) {
    QPointer<TxpButton> alive(this);
    OnKeyDown(this, key, static_cast<int>(event->modifiers()));
    if (!alive) return;
  }
  if (key == 0) return;
  const bool pressKey = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
  if (pressKey && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    if (!FPressed && !event->isAutoRepeat()) SetPressed(true);
    return;
  }
  QWidget::keyPressEvent(event);
}

void TxpButton::keyReleaseEvent(QKeyEvent* event) {
  if (event->isAutoRepeat()) return;
  int key = event->key();
  if (OnKeyUp) {
    QPointer<TxpButton> alive(this);
    OnKeyUp(this, key, static_cast<int>(event->modifiers()));
    if (!alive) return;
  }
  if (key == 0) return;
  if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
    if (FPressed) {
      SetPressed(false);
      Click();
    }
    return;
  }
  QWidget::keyReleaseEvent(event);
}

void TxpButton::focusInEvent(QFocusEvent* event) {
  FFocused = true;
  repaint();
  // Coming back to the window is not entering the button.
  if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason &&
      OnEnter) {
    OnEnter(this);
  }
}

void TxpButton::focusOutEvent(QFocusEvent* event) {
  FFocused = false;
  // Keys released elsewhere never reach us; a key press must not stay stuck.
  if (FPressed && !QWidget::mouseGrabber()) FPressed = false;
  repaint();
  if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason &&
      OnExit) {
    OnExit(this);
  }
}

bool TxpButton::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    // A focused button answers Enter and Space itself, before any Default button's shortcut.
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    const int key = keyEvent->key();
    const auto mods = keyEvent->modifiers() & ~Qt::KeypadModifier;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) &&
        mods == Qt::NoModifier) {
      event->accept();
      return true;
    }
  }
  return QWidget::event(event);
}

void TxpButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) {
    if (!isEnabled()) FPressed = false;
    update();
  } else if (event->type() == QEvent::FontChange) {
    update();
  }
  QWidget::changeEvent(event);
}
