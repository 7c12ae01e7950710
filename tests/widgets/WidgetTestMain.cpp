// main() of the widget suites: a QApplication on the offscreen platform (CTest sets
// QT_QPA_PLATFORM=offscreen for each test; a suite started by hand gets it too, so it never needs
// a display), a fixed font so pixel positions do not depend on the desktop, then GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setFont(QFont("DejaVu Sans", 8));
  return RUN_ALL_TESTS();
}
