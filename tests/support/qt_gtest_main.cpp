// main() for GoogleTest programs that need a Qt application: widgets on the
// offscreen platform unless another one is asked for.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

// Leaks of system libraries that LeakSanitizer reports at the exit of every
// Qt test program, suppressed so that ours still fail the run:
// - Qt 5.15's offscreen platform plug-in never deletes its screen;
// - c-ares, gRPC's resolver, keeps what it allocated for resolving
//   "localhost", freed only by a gRPC shutdown that has not finished when the
//   program exits.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libqoffscreen.so\nleak:libcares.so\n";
}

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
