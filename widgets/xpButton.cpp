// TxpButton: painting and input.
#include "widgets/xpButton.h"

#include <QPainter>

void PaintXpButton(QPainter&, const TxpButtonState&) {}
void PaintBandedGradient(QPainter&, int, int, int, int, const QColor&, const QColor&, int, bool) {}
void SplitCaption(const QString& caption, QString& shown, int& acceleratorIndex) {
  shown = caption;
  acceleratorIndex = -1;
}

TxpButton::TxpButton(QWidget* parent) : QWidget(parent) {
  resize(75, 25);
}
TxpButton::~TxpButton() = default;
void TxpButton::SetCaption(const std::string& value) {
  FCaption = value;
}
void TxpButton::SetFont(const QFont& value) {
  setFont(value);
}
void TxpButton::SetEnabled(bool value) {
  setEnabled(value);
}
void TxpButton::SetTabStop(bool value) {
  FTabStop = value;
}
TxpButtonState TxpButton::State() const {
  return {};
}
void TxpButton::ShowState(bool, bool) {}
void TxpButton::Click() {
  if (OnClick) OnClick(this);
}
void TxpButton::paintEvent(QPaintEvent*) {}
void TxpButton::enterEvent(QEnterEvent*) {}
void TxpButton::leaveEvent(QEvent*) {}
void TxpButton::mousePressEvent(QMouseEvent*) {}
void TxpButton::mouseReleaseEvent(QMouseEvent*) {}
void TxpButton::mouseDoubleClickEvent(QMouseEvent*) {}
void TxpButton::keyPressEvent(QKeyEvent*) {}
void TxpButton::keyReleaseEvent(QKeyEvent*) {}
void TxpButton::focusInEvent(QFocusEvent*) {}
void TxpButton::focusOutEvent(QFocusEvent*) {}
bool TxpButton::event(QEvent* e) {
  return QWidget::event(e);
}
bool TxpButton::eventFilter(QObject* w, QEvent* e) {
  return QWidget::eventFilter(w, e);
}
void TxpButton::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
}
