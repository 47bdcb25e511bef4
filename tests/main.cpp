// main.cpp: the test runner's own entry point, so that the library's main is
// never linked into a test program.
#include <gtest/gtest.h>

#include "support.h"

// Releases whatever form entries a test left behind, so that the leak checker
// reports only real leaks.
class ReleaseEntries : public testing::EmptyTestEventListener {
  void OnTestEnd(const testing::TestInfo &) override { cgiFreeResources(); }
};

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new ReleaseEntries);
  return RUN_ALL_TESTS();
}
