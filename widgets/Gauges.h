// TGauge: a progress indicator (text, horizontal or vertical bar, pie, needle) with a centred
// percentage that reads inverted over the filled and the empty part. RenderGauge draws a state
// into an image the size of the control (tests read its pixels); the widget keeps the state,
// clamps and range-checks values and repaints only when what is shown changes.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QWidget>
#include <stdexcept>
#include <string>

enum TGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
enum TBorderStyle { bsNone, bsSingle };

// An operation the control's state does not allow ("Value must be between 1 and 99").
class EInvalidOperation : public std::runtime_error {
 public:
  explicit EInvalidOperation(const std::string& message) : std::runtime_error(message) {}
};

// Percent done: (progress - min) * 100 / (max - min), rounded to the nearest integer with halves to
// even; 0 when max equals min.
int GaugePercentDone(int minValue, int maxValue, int progress);

struct TGaugeState {
  int Width = 100;
  int Height = 100;
  TGaugeKind Kind = gkHorizontalBar;
  int PercentDone = 0;
  bool ShowText = true;
  TBorderStyle BorderStyle = bsSingle;
  QColor ForeColor = Qt::black;
  QColor BackColor = Qt::white;
  QFont Font;
};

// The whole control drawn off-screen, ready to be copied to the screen in one step.
QImage RenderGauge(const TGaugeState& state);

class TGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TGauge(QWidget* parent = nullptr);
  ~TGauge() override;

  TGaugeKind Kind() const { return FKind; }
  void SetKind(TGaugeKind value);
  int MinValue() const { return FMinValue; }
  void SetMinValue(int value);  // above MaxValue: EInvalidOperation
  int MaxValue() const { return FMaxValue; }
  void SetMaxValue(int value);  // below MinValue: EInvalidOperation
  int Progress() const { return FProgress; }
  void SetProgress(int value);  // clamped to MinValue..MaxValue
  bool ShowText() const { return FShowText; }
  void SetShowText(bool value);
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle value);
  QColor ForeColor() const { return FForeColor; }
  void SetForeColor(const QColor& value);
  QColor BackColor() const { return FBackColor; }
  void SetBackColor(const QColor& value);
  int PercentDone() const { return GaugePercentDone(FMinValue, FMaxValue, FProgress); }

  TGaugeState State() const;
  // How many times the control has painted itself (tests count repaints).
  int PaintCount() const { return FPaintCount; }

  QSize sizeHint() const override { return QSize(100, 100); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TGaugeKind FKind = gkHorizontalBar;
  int FMinValue = 0;
  int FMaxValue = 100;
  int FProgress = 0;
  bool FShowText = true;
  TBorderStyle FBorderStyle = bsSingle;
  QColor FForeColor = Qt::black;
  QColor FBackColor = Qt::white;
  int FPaintCount = 0;
};
