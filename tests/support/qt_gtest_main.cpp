// main() for GoogleTest programs that need a Qt application: widgets on the
// offscreen platform unless another one is asked for.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "qt_leak_suppressions.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
