// main.cpp: the test runner's own entry point, so that the library's main is
// never linked into a test program.
#include <gtest/gtest.h>

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
