#pragma once

// Leaks of system libraries that LeakSanitizer reports at the exit of every
// Qt test program, suppressed so that ours still fail the run. Include this
// in exactly one file of a program (its main, as qt_gtest_main.cpp does):
// - Qt 5.15's offscreen platform plug-in never deletes its screen;
// - fontconfig keeps its configuration when the application is never torn
//   down (a program that draws without a window keeps its QApplication);
// - c-ares, gRPC's resolver, keeps what it allocated for resolving
//   "localhost", freed only by a gRPC shutdown that has not finished when the
//   program exits.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libqoffscreen.so\nleak:libfontconfig.so\nleak:libcares.so\n";
}
