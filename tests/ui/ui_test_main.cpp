// Window tests: one QApplication on the offscreen platform for the whole run.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tessel");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
