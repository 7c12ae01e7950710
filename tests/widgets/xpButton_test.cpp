// TxpButton: the painted look read back pixel by pixel from a QImage, and input driven through
// QTest on the offscreen platform (mouse, keys, dialog keys, accelerators, focus, modal results).
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <memory>

#include "widgets/xpButton.h"

namespace {

QImage Paint(const TxpButtonState& state) {
  QImage image(state.Width, state.Height, QImage::Format_RGB32);
  image.fill(Qt::magenta);  // anything left unpainted shows up
  QPainter painter(&image);
  PaintXpButton(painter, state);
  return image;
}

TxpButtonState Button(const QString& caption = "OK") {
  TxpButtonState state;
  state.Font = QFont("DejaVu Sans", 8);
  QString shown;
  SplitCaption(caption, shown, state.AcceleratorIndex);
  state.Caption = shown;
  return state;
}

QRgb Rgb(int r, int g, int b) {
  return qRgb(r, g, b);
}

// The bounding box of the pixels darker than any part of the button's face inside the caption's
// clip: the caption's ink.
QRect InkBox(const QImage& image, int threshold = 120) {
  QRect box;
  for (int y = 4; y < image.height() - 4; ++y) {
    for (int x = 4; x < image.width() - 4; ++x) {
      if (qGray(image.pixel(x, y)) < threshold) box |= QRect(x, y, 1, 1);
    }
  }
  return box;
}

TEST(xpButtonPaint, EnabledFrameLinesAndGradientAtTheirPixels) {
  const QImage image = Paint(Button(""));  // no caption: every inner pixel is the gradient
  const int w = 75, h = 25;
  // Dark outline on the second ring, face grey at the first ring's straight edges.
  EXPECT_EQ(image.pixel(37, 1), Rgb(0, 60, 116));
  EXPECT_EQ(image.pixel(1, 12), Rgb(0, 60, 116));
  EXPECT_EQ(image.pixel(w - 2, 12), Rgb(0, 60, 116));
  EXPECT_EQ(image.pixel(37, h - 2), Rgb(0, 60, 116));
  EXPECT_EQ(image.pixel(37, 0), Rgb(214, 211, 211));
  EXPECT_EQ(image.pixel(0, 12), Rgb(214, 211, 211));
  // Light line on row 2, blue line on row h - 3, the inner frame at (2, 3)-(w - 2, h - 3).
  EXPECT_EQ(image.pixel(3, 2), Rgb(206, 231, 255));
  EXPECT_EQ(image.pixel(w - 4, 2), Rgb(206, 231, 255));
  EXPECT_EQ(image.pixel(37, h - 3), Rgb(105, 130, 238));
  EXPECT_EQ(image.pixel(37, 3), Rgb(188, 212, 246));
  EXPECT_EQ(image.pixel(2, 12), Rgb(188, 212, 246));
  EXPECT_EQ(image.pixel(w - 3, 12), Rgb(188, 212, 246));
  EXPECT_EQ(image.pixel(37, h - 4), Rgb(188, 212, 246));
  // White lines at x = 3 and x = w - 4, along the bottom row and up the right column.
  EXPECT_EQ(image.pixel(3, 12), Rgb(255, 255, 255));
  EXPECT_EQ(image.pixel(w - 4, 12), Rgb(255, 255, 255));
  EXPECT_EQ(image.pixel(37, h - 1), Rgb(255, 255, 255));
  EXPECT_EQ(image.pixel(w - 1, 12), Rgb(255, 255, 255));
  // 25 div 3 = 8 bands of 2 rows over rows 4..20; the 17th row is the end colour.
  EXPECT_EQ(image.pixel(20, 4), Rgb(253, 253, 253));
  EXPECT_EQ(image.pixel(20, 5), Rgb(253, 253, 253));
  EXPECT_EQ(image.pixel(20, 18), Rgb(205, 204, 223));
  EXPECT_EQ(image.pixel(20, 20), Rgb(205, 204, 223));
  EXPECT_NE(image.pixel(20, 6), image.pixel(20, 5));  // the second band starts on row 6
  EXPECT_EQ(image.pixel(20, 6), image.pixel(20, 7));
  // No orange anywhere while the pointer is outside.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_NE(image.pixel(x, y), Rgb(248, 179, 48)) << x << "," << y;
}

TEST(xpButtonPaint, HoverRingOnlyWhilePointerInside) {
  TxpButtonState state = Button("");
  state.MouseInside = true;
  const QImage image = Paint(state);
  EXPECT_EQ(image.pixel(37, 3), Rgb(248, 179, 48));
  EXPECT_EQ(image.pixel(3, 12), Rgb(248, 179, 48));
  EXPECT_EQ(image.pixel(71, 12), Rgb(248, 179, 48));
  EXPECT_EQ(image.pixel(37, 21), Rgb(248, 179, 48));
  EXPECT_EQ(image.pixel(37, 1), Rgb(0, 60, 116));  // the outline is still there
}

TEST(xpButtonPaint, PressedInsideReversesTheGradientWithHalfHeightBands) {
  TxpButtonState state = Button("");
  state.Pressed = true;
  state.MouseInside = true;
  QImage image = Paint(state);
  // 25 div 2 = 12 bands of one row over rows 4..15, then 5 rows of the light colour.
  EXPECT_EQ(image.pixel(20, 4), Rgb(205, 204, 223));
  EXPECT_EQ(image.pixel(20, 15), Rgb(253, 253, 253));
  EXPECT_EQ(image.pixel(20, 20), Rgb(253, 253, 253));
  EXPECT_NE(image.pixel(20, 5), image.pixel(20, 4));
  // Pressed with the pointer outside keeps the normal gradient.
  state.MouseInside = false;
  image = Paint(state);
  EXPECT_EQ(image.pixel(20, 4), Rgb(253, 253, 253));
  EXPECT_EQ(image.pixel(20, 20), Rgb(205, 204, 223));
}

TEST(xpButtonPaint, BandArithmeticAndRemainderRows) {
  const QColor begin(0, 100, 200), end(90, 10, 20);
  const auto column = [&](int height, int bands, bool reversed) {
    QImage image(4, height, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    PaintBandedGradient(painter, 0, 0, 4, height, begin, end, bands, reversed);
    painter.end();
    std::vector<QRgb> rows;
    for (int y = 0; y < height; ++y) rows.push_back(image.pixel(1, y));
    return rows;
  };
  const QRgb b = begin.rgb(), e = end.rgb(), mid = qRgb(45, 55, 110);
  // Three bands of three rows over ten rows: begin, middle, end, and one remainder row of end.
  EXPECT_EQ(column(10, 3, false), (std::vector<QRgb>{b, b, b, mid, mid, mid, e, e, e, e}));
  // Two bands of two rows over five rows.
  EXPECT_EQ(column(5, 2, false), (std::vector<QRgb>{b, b, e, e, e}));
  // Reversed: from the end colour to the begin colour, remainder in the begin colour.
  EXPECT_EQ(column(5, 2, true), (std::vector<QRgb>{e, e, b, b, b}));
  // Fewer than two bands: all the begin colour. More bands than rows: one row each.
  EXPECT_EQ(column(3, 1, false), (std::vector<QRgb>{b, b, b}));
  EXPECT_EQ(column(3, 50, false), (std::vector<QRgb>{b, mid, e}));
}

TEST(xpButtonPaint, CaptionCentredAndShiftedByOnePixelWhilePressed) {
  TxpButtonState state = Button("Continue");
  const QRect normal = InkBox(Paint(state));
  ASSERT_FALSE(normal.isEmpty());
  const QFontMetrics metrics(state.Font);
  const int textLeft = (75 - metrics.horizontalAdvance("Continue")) / 2;
  EXPECT_GE(normal.left(), textLeft);
  EXPECT_LE(normal.left(), textLeft + 2);
  EXPECT_LE(std::abs((normal.left() + normal.right()) - 74), 3);  // centred within a pixel or so
  state.Pressed = true;
  EXPECT_EQ(InkBox(Paint(state)), normal.translated(1, 1));
  state.MouseInside = true;
  EXPECT_EQ(InkBox(Paint(state)), normal.translated(1, 1));
}

TEST(xpButtonPaint, DisabledLookWithCornerPixelsAndGreyCaption) {
  TxpButtonState state = Button("Unzip");
  state.Enabled = false;
  state.Pressed = true;  // no pressed look while disabled
  state.ButtonFace = QColor(10, 20, 30);
  const QImage image = Paint(state);
  EXPECT_EQ(image.pixel(0, 0), Rgb(10, 20, 30));
  EXPECT_EQ(image.pixel(74, 0), Rgb(10, 20, 30));
  EXPECT_EQ(image.pixel(0, 24), Rgb(10, 20, 30));
  EXPECT_EQ(image.pixel(74, 24), Rgb(10, 20, 30));
  EXPECT_EQ(image.pixel(37, 1), Rgb(196, 195, 191));
  EXPECT_EQ(image.pixel(1, 12), Rgb(196, 195, 191));
  EXPECT_EQ(image.pixel(5, 5), Rgb(241, 241, 237));
  EXPECT_EQ(image.pixel(37, 0), Rgb(241, 241, 237));
  bool greyText = false;
  for (int y = 0; y < 25; ++y) {
    for (int x = 0; x < 75; ++x) {
      const QRgb pixel = image.pixel(x, y);
      ASSERT_NE(pixel, Rgb(0, 60, 116));
      ASSERT_NE(pixel, Rgb(253, 253, 253));
      greyText |= pixel == Rgb(161, 161, 146);
    }
  }
  EXPECT_TRUE(greyText);
  TxpButtonState unpressed = state;
  unpressed.Pressed = false;
  EXPECT_EQ(Paint(unpressed), image);
}

TEST(xpButtonPaint, FocusRectangleInvertsEveryOtherEdgePixel) {
  TxpButtonState state = Button("");
  const QImage plain = Paint(state);
  state.Focused = true;
  const QImage focused = Paint(state);
  for (int x = 4; x < 71; ++x) {
    const QRgb expected = (x % 2 == 0) ? (plain.pixel(x, 4) ^ 0x00FFFFFF) : plain.pixel(x, 4);
    ASSERT_EQ(focused.pixel(x, 4), expected) << x;
  }
  EXPECT_EQ(focused.pixel(4, 4), Rgb(2, 2, 2));
  EXPECT_NE(focused.pixel(4, 12), plain.pixel(4, 12));
  EXPECT_EQ(focused.pixel(20, 12), plain.pixel(20, 12));  // the inside is untouched
}

TEST(xpButtonPaint, AcceleratorUnderlinesItsLetterOnly) {
  QString shown;
  int index = 0;
  SplitCaption("&Unzip", shown, index);
  EXPECT_EQ(shown, "Unzip");
  EXPECT_EQ(index, 0);
  SplitCaption("Unzip&", shown, index);
  EXPECT_EQ(shown, "Unzip");
  EXPECT_EQ(index, -1);
  SplitCaption("Go &Back", shown, index);
  EXPECT_EQ(shown, "Go Back");
  EXPECT_EQ(index, 3);
  SplitCaption("Save && &Quit", shown, index);
  EXPECT_EQ(shown, "Save & Quit");
  EXPECT_EQ(index, 7);

  // The underlined caption differs from the plain one only on one row, under its letter.
  const QImage plain = Paint(Button("Go Back"));
  const QImage marked = Paint(Button("Go &Back"));
  const QFontMetrics metrics(QFont("DejaVu Sans", 8));
  const int left = (75 - metrics.horizontalAdvance("Go Back")) / 2;
  const int from = left + metrics.horizontalAdvance("Go ");
  const int to = left + metrics.horizontalAdvance("Go B");
  QRect changed;
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 75; ++x)
      if (plain.pixel(x, y) != marked.pixel(x, y)) changed |= QRect(x, y, 1, 1);
  ASSERT_FALSE(changed.isEmpty());
  EXPECT_EQ(changed.height(), 1);
  EXPECT_EQ(changed.left(), from);
  EXPECT_EQ(changed.right(), to - 1);
  EXPECT_EQ(marked.pixel(from, changed.top()), Rgb(0, 0, 0));
  // A trailing "&" draws exactly the plain caption.
  EXPECT_EQ(Paint(Button("Go Back&")), plain);
}

TEST(xpButtonPaint, TinyAndOddSizesDoNotFail) {
  for (const QSize size : {QSize(1, 1), QSize(3, 3), QSize(8, 8), QSize(9, 40), QSize(300, 9)}) {
    TxpButtonState state = Button("&Long caption that does not fit");
    state.Width = size.width();
    state.Height = size.height();
    for (const bool enabled : {true, false}) {
      state.Enabled = enabled;
      state.Pressed = state.MouseInside = state.Focused = true;
      EXPECT_EQ(Paint(state).size(), size);
    }
  }
}

// ---- input ----

struct Clicks {
  int count = 0;
  void Attach(TxpButton& button) {
    button.OnClick = [this](QObject*) { ++count; };
  }
};

class xpButtonInput : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<QWidget>();
    window->resize(300, 100);
    button = new TxpButton(window.get());
    button->move(10, 10);
    other = new TxpButton(window.get());
    other->move(100, 10);
    edit = new QLineEdit(window.get());
    edit->move(10, 50);
    clicks.Attach(*button);
    otherClicks.Attach(*other);
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }
  std::unique_ptr<QWidget> window;
  TxpButton* button = nullptr;
  TxpButton* other = nullptr;
  QLineEdit* edit = nullptr;
  Clicks clicks, otherClicks;
};

TEST_F(xpButtonInput, DefaultsAndCaption) {
  TxpButton fresh;
  EXPECT_EQ(fresh.Caption(), "XP Button");
  EXPECT_EQ(fresh.size(), QSize(75, 25));
  EXPECT_TRUE(fresh.Enabled());
  EXPECT_TRUE(fresh.TabStop());
  EXPECT_FALSE(fresh.Cancel());
  EXPECT_FALSE(fresh.Default());
  EXPECT_EQ(fresh.ModalResult(), 0);
  EXPECT_EQ(fresh.Accelerator(), 0);
  fresh.SetCaption("&unzip");
  EXPECT_EQ(fresh.Caption(), "&unzip");
  EXPECT_EQ(fresh.Accelerator(), 'U');
  fresh.SetCaption("Unzip&");
  EXPECT_EQ(fresh.Accelerator(), 0);
}

TEST_F(xpButtonInput, LeftButtonClicksOnReleaseEvenOutside) {
  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_TRUE(button->Pressed());
  EXPECT_TRUE(button->hasFocus());
  EXPECT_EQ(clicks.count, 0);
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(250, 80));
  EXPECT_FALSE(button->Pressed());
  EXPECT_EQ(clicks.count, 1);
  // A release without a press does nothing.
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(clicks.count, 1);
}

TEST_F(xpButtonInput, RightAndMiddleButtonsDoNothing) {
  for (const Qt::MouseButton which : {Qt::RightButton, Qt::MiddleButton}) {
    QTest::mousePress(button, which, {}, QPoint(10, 10));
    EXPECT_FALSE(button->Pressed());
    QTest::mouseRelease(button, which, {}, QPoint(10, 10));
    QTest::mouseDClick(button, which, {}, QPoint(10, 10));
  }
  EXPECT_EQ(clicks.count, 0);
}

TEST_F(xpButtonInput, DoubleClickClicksTwice) {
  // What the system delivers for a double click: press, release, double click, release.
  const auto send = [this](QEvent::Type type) {
    QMouseEvent event(type, QPointF(10, 10), button->mapToGlobal(QPointF(10, 10)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(button, &event);
  };
  send(QEvent::MouseButtonPress);
  send(QEvent::MouseButtonRelease);
  send(QEvent::MouseButtonDblClick);
  send(QEvent::MouseButtonRelease);
  EXPECT_EQ(clicks.count, 2);
  EXPECT_FALSE(button->Pressed());
}

TEST_F(xpButtonInput, EnterAndSpacePressOnDownAndClickOnUp) {
  button->setFocus();
  for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) {
    const int before = clicks.count;
    QTest::keyPress(button, key);
    EXPECT_TRUE(button->Pressed());
    EXPECT_EQ(clicks.count, before);
    QTest::keyRelease(button, key);
    EXPECT_FALSE(button->Pressed());
    EXPECT_EQ(clicks.count, before + 1);
  }
  // Other keys neither press nor click; a key-up without its key-down does nothing.
  QTest::keyClick(button, Qt::Key_A);
  QTest::keyRelease(button, Qt::Key_Space);
  EXPECT_EQ(clicks.count, 2);
}

TEST_F(xpButtonInput, KeyEventsSeeKeysAndCanSwallowThem) {
  button->setFocus();
  std::vector<int> downs, ups;
  button->OnKeyDown = [&](QObject* sender, int& key, int) {
    EXPECT_EQ(sender, button);
    downs.push_back(key);
    if (key == Qt::Key_Space) key = 0;
  };
  button->OnKeyUp = [&](QObject*, int& key, int) { ups.push_back(key); };
  QTest::keyClick(button, Qt::Key_Space);
  EXPECT_EQ(clicks.count, 0);  // the press was swallowed, so the release does not click
  EXPECT_EQ(downs, std::vector<int>{Qt::Key_Space});
  EXPECT_EQ(ups, std::vector<int>{Qt::Key_Space});
}

TEST_F(xpButtonInput, EscapeClicksTheCancelButtonAndEnterTheDefaultOne) {
  button->SetCancel(true);
  other->SetDefault(true);
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_Escape);
  EXPECT_EQ(clicks.count, 1);
  EXPECT_EQ(otherClicks.count, 0);
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(otherClicks.count, 1);
  QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(otherClicks.count, 2);
  // A focused button answers Enter itself; the Default button does not fire.
  button->setFocus();
  QTest::keyClick(button, Qt::Key_Return);
  EXPECT_EQ(clicks.count, 2);
  EXPECT_EQ(otherClicks.count, 2);
  // Without the properties the keys do nothing.
  button->SetCancel(false);
  other->SetDefault(false);
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_Escape);
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(clicks.count, 2);
  EXPECT_EQ(otherClicks.count, 2);
}

TEST_F(xpButtonInput, AltLetterClicksAndFollowsTheCaption) {
  button->SetCaption("&Unzip");
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_U, Qt::AltModifier);
  EXPECT_EQ(clicks.count, 1);
  QTest::keyClick(edit, Qt::Key_U);  // without Alt it is typing
  EXPECT_EQ(clicks.count, 1);
  EXPECT_EQ(edit->text(), "u");
  button->SetCaption("Go &Back");
  QTest::keyClick(edit, Qt::Key_U, Qt::AltModifier);
  EXPECT_EQ(clicks.count, 1);
  QTest::keyClick(edit, Qt::Key_B, Qt::AltModifier);
  EXPECT_EQ(clicks.count, 2);
  button->SetCaption("Close&");
  QTest::keyClick(edit, Qt::Key_B, Qt::AltModifier);
  EXPECT_EQ(clicks.count, 2);
}

TEST_F(xpButtonInput, DisabledButtonIgnoresEverything) {
  button->SetCaption("&Unzip");
  button->SetCancel(true);
  button->SetDefault(true);
  button->SetEnabled(false);
  EXPECT_FALSE(button->Enabled());
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseDClick(button, Qt::LeftButton, {}, QPoint(10, 10));
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_Escape);
  QTest::keyClick(edit, Qt::Key_Return);
  QTest::keyClick(edit, Qt::Key_U, Qt::AltModifier);
  EXPECT_EQ(clicks.count, 0);
  EXPECT_FALSE(button->Pressed());
  EXPECT_FALSE(button->hasFocus());
  button->SetEnabled(true);
  QTest::keyClick(edit, Qt::Key_U, Qt::AltModifier);
  EXPECT_EQ(clicks.count, 1);
}

TEST_F(xpButtonInput, PointerEnterAndLeaveToggleTheRing) {
  QEnterEvent enter(QPointF(5, 5), QPointF(15, 15), QPointF(15, 15));
  QApplication::sendEvent(button, &enter);
  EXPECT_TRUE(button->MouseInside());
  EXPECT_EQ(button->grab().toImage().pixel(37, 3), qRgb(248, 179, 48));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(button, &leave);
  EXPECT_FALSE(button->MouseInside());
  EXPECT_EQ(button->grab().toImage().pixel(37, 3), qRgb(188, 212, 246));
}

TEST_F(xpButtonInput, FocusEventsAndFocusedLook) {
  edit->setFocus(Qt::TabFocusReason);
  std::vector<std::string> log;
  button->OnEnter = [&](QObject*) { log.push_back("enter"); };
  button->OnExit = [&](QObject*) { log.push_back("exit"); };
  button->setFocus(Qt::TabFocusReason);
  EXPECT_TRUE(button->Focused());
  other->setFocus(Qt::TabFocusReason);
  EXPECT_FALSE(button->Focused());
  EXPECT_EQ(log, (std::vector<std::string>{"enter", "exit"}));
  button->SetTabStop(false);
  EXPECT_EQ(button->focusPolicy(), Qt::ClickFocus);
}

TEST(xpButtonModal, ModalResultGoesToTheOwningDialog) {
  QDialog dialog;
  auto* ok = new TxpButton(&dialog);
  ok->SetModalResult(QDialog::Accepted);
  auto* cancel = new TxpButton(&dialog);
  cancel->SetModalResult(7);
  int fired = 0;
  cancel->OnClick = [&](QObject*) { ++fired; };
  dialog.show();
  cancel->Click();
  EXPECT_EQ(fired, 1);  // the event comes first
  EXPECT_EQ(dialog.result(), 7);
  EXPECT_FALSE(dialog.isVisible());
  dialog.show();
  ok->Click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  // A click whose handler deletes the button is survived.
  QDialog other;
  auto* doomed = new TxpButton(&other);
  doomed->SetModalResult(3);
  doomed->OnClick = [&](QObject* sender) { delete sender; };
  other.show();
  doomed->Click();
  EXPECT_EQ(other.result(), 0);
}

// What a screen reader hears of a button: its role, its caption without the "&", its Alt key, its
// states, and a press action that clicks it.
TEST_F(xpButtonInput, AssistiveTechnologyReadsAndPressesIt) {
  button->SetCaption("&Browse");
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(button);
  ASSERT_NE(face, nullptr);
  EXPECT_EQ(face->role(), QAccessible::Button);
  EXPECT_EQ(face->text(QAccessible::Name), "Browse");
  EXPECT_EQ(face->text(QAccessible::Accelerator),
            QKeySequence(Qt::ALT | Qt::Key_B).toString(QKeySequence::NativeText));
  EXPECT_TRUE(face->state().focusable);
  EXPECT_FALSE(face->state().pressed);
  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(face->state().pressed);
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(clicks.count, 1);
  ASSERT_NE(face->actionInterface(), nullptr);
  face->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(clicks.count, 2);
  button->SetEnabled(false);
  EXPECT_TRUE(face->state().disabled);
  face->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(clicks.count, 2);  // a disabled button is not pressed by a robot either
  button->setAccessibleName("Choose the archive");
  EXPECT_EQ(face->text(QAccessible::Name), "Choose the archive");
}

}  // namespace
