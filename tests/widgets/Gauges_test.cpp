// TGauge: percent arithmetic, the drawn bar and its exclusive-or text read back from the rendered
// image, clamping, range errors and the repaints the control makes (counted on a shown widget).
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <climits>

#include "widgets/Gauges.h"

namespace {

TGaugeState Bar(int width, int height, int percent, bool showText) {
  TGaugeState state;
  state.Width = width;
  state.Height = height;
  state.PercentDone = percent;
  state.ShowText = showText;
  state.Font = QFont("DejaVu Sans", 8);
  return state;
}

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kWhite = 0xFFFFFFFF;

TEST(GaugePercent, RoundsHalvesToEvenWithoutOverflow) {
  EXPECT_EQ(GaugePercentDone(0, 100, 37), 37);
  EXPECT_EQ(GaugePercentDone(0, 200, 1), 0);  // 0.5
  EXPECT_EQ(GaugePercentDone(0, 200, 3), 2);  // 1.5
  EXPECT_EQ(GaugePercentDone(0, 200, 5), 2);  // 2.5
  EXPECT_EQ(GaugePercentDone(0, 200, 7), 4);  // 3.5
  EXPECT_EQ(GaugePercentDone(0, 300, 2), 1);  // 0.67
  EXPECT_EQ(GaugePercentDone(-50, 50, 0), 50);
  EXPECT_EQ(GaugePercentDone(10, 10, 10), 0);  // an empty range divides by nothing
  EXPECT_EQ(GaugePercentDone(INT_MIN, INT_MAX, 0), 50);
  EXPECT_EQ(GaugePercentDone(INT_MIN, INT_MAX, INT_MAX), 100);
  EXPECT_EQ(GaugePercentDone(INT_MIN, INT_MAX, INT_MIN), 0);
}

// The 137 x 17 gauge of the wizard: a black frame, a 135 x 15 area, the bar from the left.
TEST(GaugeRender, HorizontalBarFillsItsShareOfTheArea) {
  for (const int percent : {0, 1, 50, 99, 100}) {
    const QImage image = RenderGauge(Bar(137, 17, percent, false));
    ASSERT_EQ(image.size(), QSize(137, 17));
    for (int x = 0; x < 137; ++x) {
      ASSERT_EQ(image.pixel(x, 0), kBlack);
      ASSERT_EQ(image.pixel(x, 16), kBlack);
    }
    for (int y = 0; y < 17; ++y) {
      ASSERT_EQ(image.pixel(0, y), kBlack);
      ASSERT_EQ(image.pixel(136, y), kBlack);
    }
    // 50 % of 135 is 67.5, which rounds to the even 68; 1 % is 1.35 -> 1; 99 % is 133.65 -> 134.
    const int filled = percent == 0    ? 0
                       : percent == 1  ? 1
                       : percent == 50 ? 68
                       : percent == 99 ? 134
                                       : 135;
    for (int x = 1; x < 136; ++x) {
      for (int y = 1; y < 16; ++y) {
        ASSERT_EQ(image.pixel(x, y), x <= filled ? kBlack : kWhite) << percent << "% " << x;
      }
    }
  }
}

TEST(GaugeRender, TextIsCentredAndInvertedOverBothParts) {
  for (const int percent : {0, 50, 100}) {
    const QImage bar = RenderGauge(Bar(137, 17, percent, false));
    const QImage withText = RenderGauge(Bar(137, 17, percent, true));
    QRect changed;
    bool overFilled = false, overEmpty = false;
    for (int y = 0; y < 17; ++y) {
      for (int x = 0; x < 137; ++x) {
        const QRgb under = bar.pixel(x, y), shown = withText.pixel(x, y);
        if (under == shown) continue;
        // Each text pixel is the inverse of the bar beneath it, never a blend.
        ASSERT_EQ(shown, under ^ 0x00FFFFFF) << percent << "% at " << x << "," << y;
        changed |= QRect(x, y, 1, 1);
        (under == kBlack ? overFilled : overEmpty) = true;
      }
    }
    ASSERT_FALSE(changed.isEmpty()) << percent;
    EXPECT_TRUE(QRect(1, 1, 135, 15).contains(changed)) << "the frame is never inverted";
    const QFontMetrics metrics(QFont("DejaVu Sans", 8));
    const int textWidth = metrics.horizontalAdvance(QString::number(percent) + "%");
    EXPECT_LE(std::abs(changed.center().x() - (1 + (135 - textWidth) / 2 + textWidth / 2)), 2);
    EXPECT_LE(std::abs(changed.center().y() - 8), 2);
    EXPECT_EQ(overFilled, percent >= 50) << percent;  // at 50 % the text straddles the edge
    EXPECT_EQ(overEmpty, percent <= 50) << percent;
  }
}

TEST(GaugeRender, OtherKindsAndBorderless) {
  // Vertical: filled from the bottom.
  TGaugeState state = Bar(20, 102, 25, false);
  state.Kind = gkVerticalBar;
  QImage image = RenderGauge(state);
  EXPECT_EQ(image.pixel(10, 100), kBlack);
  EXPECT_EQ(image.pixel(10, 76), kBlack);  // 25 rows: 76..100
  EXPECT_EQ(image.pixel(10, 75), kWhite);
  // Text kind: only the background.
  state.Kind = gkText;
  state.PercentDone = 100;
  image = RenderGauge(state);
  EXPECT_EQ(image.pixel(10, 100), kWhite);
  // Pie at 50 %: the slice runs counter-clockwise from twelve o'clock, so the left half is full.
  state = Bar(101, 101, 50, false);
  state.Kind = gkPie;
  state.ForeColor = Qt::blue;
  image = RenderGauge(state);
  EXPECT_EQ(image.pixel(25, 50), QColor(Qt::blue).rgb());
  EXPECT_EQ(image.pixel(75, 50), kWhite);
  // Needle at 0 % lies along the bottom to the left; at 100 % to the right.
  state.Kind = gkNeedle;
  state.PercentDone = 0;
  image = RenderGauge(state);
  EXPECT_NE(image.pixel(20, 98), kWhite);
  EXPECT_EQ(image.pixel(80, 98), kWhite);
  // Without a border the area is the whole control.
  state = Bar(10, 5, 100, false);
  state.BorderStyle = bsNone;
  image = RenderGauge(state);
  EXPECT_EQ(image.pixel(0, 0), kBlack);
  state.ForeColor = Qt::red;
  EXPECT_EQ(RenderGauge(state).pixel(0, 0), QColor(Qt::red).rgb());
}

TEST(GaugeRender, DegenerateSizesDoNotFail) {
  for (const TGaugeKind kind : {gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle}) {
    for (const QSize size : {QSize(0, 0), QSize(1, 1), QSize(2, 2), QSize(3, 1), QSize(1, 40)}) {
      for (const int percent : {0, 50, 100, -20, 250}) {
        TGaugeState state = Bar(size.width(), size.height(), percent, true);
        state.Kind = kind;
        EXPECT_FALSE(RenderGauge(state).isNull());
      }
    }
  }
}

class GaugeControl : public ::testing::Test {
 protected:
  void SetUp() override {
    gauge.resize(137, 17);
    gauge.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&gauge));
    QApplication::processEvents();
  }
  // Paints since the last call.
  int Paints() {
    QApplication::processEvents();
    const int count = gauge.PaintCount() - seen;
    seen = gauge.PaintCount();
    return count;
  }
  TGauge gauge;
  int seen = 0;
};

TEST_F(GaugeControl, DefaultsAndClamping) {
  TGauge fresh;
  EXPECT_EQ(fresh.Kind(), gkHorizontalBar);
  EXPECT_EQ(fresh.MinValue(), 0);
  EXPECT_EQ(fresh.MaxValue(), 100);
  EXPECT_EQ(fresh.Progress(), 0);
  EXPECT_TRUE(fresh.ShowText());
  EXPECT_EQ(fresh.BorderStyle(), bsSingle);
  EXPECT_EQ(fresh.ForeColor(), QColor(Qt::black));
  EXPECT_EQ(fresh.BackColor(), QColor(Qt::white));
  EXPECT_EQ(fresh.size(), QSize(100, 100));
  gauge.SetProgress(150);
  EXPECT_EQ(gauge.Progress(), 100);
  gauge.SetProgress(-5);
  EXPECT_EQ(gauge.Progress(), 0);
}

TEST_F(GaugeControl, RepaintsOnlyWhenTheRoundedPercentChanges) {
  gauge.SetMaxValue(1000);
  Paints();
  gauge.SetProgress(1);  // 0.1 % -> 0
  gauge.SetProgress(5);  // 0.5 % -> 0 (halves to even)
  EXPECT_EQ(Paints(), 0);
  gauge.SetProgress(6);  // 0.6 % -> 1
  EXPECT_EQ(Paints(), 1);
  gauge.SetProgress(6);
  gauge.SetProgress(14);  // 1.4 % -> 1
  EXPECT_EQ(Paints(), 0);
  gauge.SetProgress(1000);
  EXPECT_EQ(Paints(), 1);
  gauge.SetProgress(5000);  // clamped to the same value
  EXPECT_EQ(Paints(), 0);
  // Setters repaint on a change only.
  gauge.SetKind(gkHorizontalBar);
  gauge.SetShowText(true);
  gauge.SetBorderStyle(bsSingle);
  gauge.SetForeColor(Qt::black);
  gauge.SetBackColor(Qt::white);
  EXPECT_EQ(Paints(), 0);
  gauge.SetKind(gkVerticalBar);
  gauge.SetShowText(false);
  gauge.SetBorderStyle(bsNone);
  gauge.SetForeColor(Qt::blue);
  gauge.SetBackColor(Qt::yellow);
  EXPECT_EQ(Paints(), 5);
}

TEST_F(GaugeControl, ShownPixelsAreTheRenderedImage) {
  gauge.SetProgress(50);
  const QImage shown = gauge.grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(shown, RenderGauge(gauge.State()));
}

TEST_F(GaugeControl, RangeErrorsNameTheirBoundsAndChangeNothing) {
  try {
    gauge.SetMinValue(101);
    FAIL() << "no error";
  } catch (const EInvalidOperation& error) {
    EXPECT_STREQ(error.what(), "Value must be between -2147483647 and 99");
  }
  try {
    gauge.SetMaxValue(-1);
    FAIL() << "no error";
  } catch (const EInvalidOperation& error) {
    EXPECT_STREQ(error.what(), "Value must be between 1 and 2147483647");
  }
  EXPECT_EQ(gauge.MinValue(), 0);
  EXPECT_EQ(gauge.MaxValue(), 100);
  // Equal bounds are allowed; a new bound drags Progress along and repaints.
  gauge.SetProgress(40);
  Paints();
  gauge.SetMinValue(60);
  EXPECT_EQ(gauge.Progress(), 60);
  EXPECT_EQ(Paints(), 1);
  gauge.SetMaxValue(60);
  EXPECT_EQ(gauge.Progress(), 60);
  EXPECT_EQ(gauge.PercentDone(), 0);
  gauge.SetMaxValue(200);
  gauge.SetProgress(200);
  gauge.SetMaxValue(150);
  EXPECT_EQ(gauge.Progress(), 150);
  EXPECT_EQ(gauge.PercentDone(), 100);
}

// What a screen reader hears of a gauge: a progress bar with its range, its value and its
// percentage.
TEST_F(GaugeControl, AssistiveTechnologyReadsItsRangeAndValue) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&gauge);
  ASSERT_NE(face, nullptr);
  EXPECT_EQ(face->role(), QAccessible::ProgressBar);
  EXPECT_EQ(face->text(QAccessible::Name), "Progress");
  gauge.setAccessibleName("Progress of the current file");
  EXPECT_EQ(face->text(QAccessible::Name), "Progress of the current file");
  gauge.SetMaxValue(200);
  gauge.SetProgress(50);
  ASSERT_NE(face->valueInterface(), nullptr);
  EXPECT_EQ(face->valueInterface()->currentValue().toInt(), 50);
  EXPECT_EQ(face->valueInterface()->minimumValue().toInt(), 0);
  EXPECT_EQ(face->valueInterface()->maximumValue().toInt(), 200);
  EXPECT_EQ(face->text(QAccessible::Value), "25%");
  EXPECT_TRUE(face->state().readOnly);
  gauge.SetProgress(51);  // 25.5 %, shown as 26 %
  EXPECT_EQ(face->text(QAccessible::Value), "26%");
}

}  // namespace
