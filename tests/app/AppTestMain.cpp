// The main of the wizard's test programs: one QApplication for all tests (CTest sets
// QT_QPA_PLATFORM=offscreen for each test), none while GoogleTest only lists the tests.
#include <QApplication>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  bool listing = false;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--gtest_list_tests") == 0) listing = true;
  std::unique_ptr<QApplication> application;
  if (!listing) application = std::make_unique<QApplication>(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
