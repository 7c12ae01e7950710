// TGauge: the percentage arithmetic, the range checks, and the drawing of one state into an image:
// the shape first, then the percentage drawn white on black in an image of its own and combined
// with the shape by exclusive-or, so each digit pixel shows the inverse of what lies beneath it.
#include "widgets/Gauges.h"

#include <QAccessible>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "widgets/wgtAccessible.h"

namespace {

const QColor kFrameColor(0, 0, 0);

std::string RangeMessage(int low, int high) {
  char text[80];
  std::snprintf(text, sizeof text, "Value must be between %d and %d", low, high);
  return text;
}

// numerator / denominator rounded to the nearest integer, halves to the even neighbour.
int64_t DivideRoundHalfEven(int64_t numerator, int64_t denominator) {
  if (denominator < 0) {
    numerator = -numerator;
    denominator = -denominator;
  }
  const bool negative = numerator < 0;
  const int64_t magnitude = negative ? -numerator : numerator;
  int64_t quotient = magnitude / denominator;
  const int64_t twiceRest = 2 * (magnitude % denominator);
  if (twiceRest > denominator || (twiceRest == denominator && (quotient & 1) != 0)) ++quotient;
  return negative ? -quotient : quotient;
}

// x rounded to the nearest integer, halves to even.
int RoundHalfEven(double x) {
  return static_cast<int>(std::nearbyint(x));  // the default rounding mode is to nearest even
}

void PaintShape(QPainter& painter, const QRect& area, const TGaugeState& state) {
  const int percent = std::clamp(state.PercentDone, 0, 100);
  painter.fillRect(area, state.BackColor);
  switch (state.Kind) {
    case gkText:
      break;
    case gkHorizontalBar: {
      const int filled = std::min(RoundHalfEven(percent * 0.01 * area.width()), area.width());
      if (filled >= 1)
        painter.fillRect(area.left(), area.top(), filled, area.height(), state.ForeColor);
      break;
    }
    case gkVerticalBar: {
      const int filled = std::min(RoundHalfEven(percent * 0.01 * area.height()), area.height());
      if (filled >= 1) {
        painter.fillRect(area.left(), area.bottom() + 1 - filled, area.width(), filled,
                         state.ForeColor);
      }
      break;
    }
    case gkPie: {
      // An ellipse filling the area, with a slice from twelve o'clock counter-clockwise.
      painter.setRenderHint(QPainter::Antialiasing, true);
      const QRectF box = QRectF(area).adjusted(0.5, 0.5, -0.5, -0.5);
      painter.setPen(QPen(state.ForeColor, 1));
      painter.setBrush(state.BackColor);
      painter.drawEllipse(box);
      if (percent > 0) {
        painter.setBrush(state.ForeColor);
        if (percent >= 100) {
          painter.drawEllipse(box);
        } else {
          // Angles in sixteenths of a degree: start at 90 degrees, sweep percent * 3.6 degrees.
          painter.drawPie(box, 90 * 16, RoundHalfEven(percent * 3.6 * 16));
        }
      }
      painter.setRenderHint(QPainter::Antialiasing, false);
      break;
    }
    case gkNeedle: {
      // A half dial standing on the bottom edge; the needle points left at 0 % and right at 100 %.
      painter.setRenderHint(QPainter::Antialiasing, true);
      const double centreX = area.left() + area.width() / 2.0;
      const double centreY = area.bottom() + 0.5;
      const double radiusX = area.width() / 2.0 - 0.5;
      const double radiusY = area.height() - 1.0;
      if (radiusX > 0 && radiusY > 0) {
        painter.setPen(QPen(state.ForeColor, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(centreX - radiusX, centreY - radiusY, 2 * radiusX, 2 * radiusY), 0,
                        180 * 16);
        const double angle = std::numbers::pi * (1.0 - percent / 100.0);
        painter.setPen(QPen(state.ForeColor, 2));
        painter.drawLine(QPointF(centreX, centreY), QPointF(centreX + radiusX * std::cos(angle),
                                                            centreY - radiusY * std::sin(angle)));
      }
      painter.setRenderHint(QPainter::Antialiasing, false);
      break;
    }
  }
}

}  // namespace

int GaugePercentDone(int minValue, int maxValue, int progress) {
  if (maxValue == minValue) return 0;
  // 64-bit: a range of the whole int span times 100 still fits.
  const int64_t done = (static_cast<int64_t>(progress) - minValue) * 100;
  return static_cast<int>(DivideRoundHalfEven(done, static_cast<int64_t>(maxValue) - minValue));
}

QImage RenderGauge(const TGaugeState& state) {
  QImage image(std::max(state.Width, 1), std::max(state.Height, 1), QImage::Format_RGB32);
  image.fill(state.BackColor);
  if (state.Width <= 0 || state.Height <= 0) return image;
  QPainter painter(&image);
  QRect area(0, 0, state.Width, state.Height);
  if (state.BorderStyle == bsSingle) {
    painter.setPen(QPen(kFrameColor, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, state.Width - 1, state.Height - 1);
    area.adjust(1, 1, -1, -1);
  }
  if (area.isEmpty()) return image;
  PaintShape(painter, area, state);

  if (state.ShowText) {
    const QString text = QString::number(state.PercentDone) + u'%';
    QFont font = state.Font;
    font.setStyleStrategy(QFont::NoAntialias);  // a smoothed edge would invert to stray colours
    const QFontMetrics metrics(font);
    const int textWidth = metrics.horizontalAdvance(text);
    const int textHeight = metrics.height();
    const int x = area.left() + (area.width() - textWidth) / 2;
    const int y = area.top() + (area.height() - textHeight) / 2;
    QImage textImage(image.size(), QImage::Format_RGB32);
    textImage.fill(Qt::black);
    {
      QPainter textPainter(&textImage);
      textPainter.setFont(font);
      textPainter.setPen(Qt::white);
      textPainter.setClipRect(area);
      textPainter.drawText(QRect(x, y, textWidth + 1, textHeight),
                           Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    }
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.drawImage(0, 0, textImage);
  }
  return image;
}

// ---- TGauge -------------------------------------------------------------------------------------

TGauge::TGauge(QWidget* parent) : QWidget(parent) {
  widgets::InstallAccessibility();
  setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel comes from the off-screen image
  resize(100, 100);
}

TGauge::~TGauge() = default;

void TGauge::SetKind(TGaugeKind value) {
  if (value == FKind) return;
  FKind = value;
  repaint();
}

void TGauge::SetMinValue(int value) {
  if (value == FMinValue) return;
  if (value > FMaxValue) throw EInvalidOperation(RangeMessage(INT_MIN + 1, FMaxValue - 1));
  FMinValue = value;
  if (FProgress < value) FProgress = value;
  repaint();
}

void TGauge::SetMaxValue(int value) {
  if (value == FMaxValue) return;
  if (value < FMinValue) throw EInvalidOperation(RangeMessage(FMinValue + 1, INT_MAX));
  FMaxValue = value;
  if (FProgress > value) FProgress = value;
  repaint();
}

void TGauge::SetProgress(int value) {
  value = std::clamp(value, FMinValue, FMaxValue);
  if (value == FProgress) return;
  const int before = PercentDone();
  FProgress = value;
  if (PercentDone() != before) {
    repaint();
    QAccessibleValueChangeEvent event(this, FProgress);
    QAccessible::updateAccessibility(&event);
  }
}

void TGauge::SetShowText(bool value) {
  if (value == FShowText) return;
  FShowText = value;
  repaint();
}

void TGauge::SetBorderStyle(TBorderStyle value) {
  if (value == FBorderStyle) return;
  FBorderStyle = value;
  repaint();
}

void TGauge::SetForeColor(const QColor& value) {
  if (value == FForeColor) return;
  FForeColor = value;
  repaint();
}

void TGauge::SetBackColor(const QColor& value) {
  if (value == FBackColor) return;
  FBackColor = value;
  repaint();
}

TGaugeState TGauge::State() const {
  TGaugeState state;
  state.Width = width();
  state.Height = height();
  state.Kind = FKind;
  state.PercentDone = PercentDone();
  state.ShowText = FShowText;
  state.BorderStyle = FBorderStyle;
  state.ForeColor = FForeColor;
  state.BackColor = FBackColor;
  state.Font = font();
  return state;
}

void TGauge::paintEvent(QPaintEvent*) {
  ++FPaintCount;
  QPainter painter(this);
  painter.drawImage(0, 0, RenderGauge(State()));  // one copy: no flicker
}
