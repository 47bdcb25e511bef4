// hook.cpp: the library suite's cgiMain runs whatever the test put in testMain.
#include "support.h"

std::function<int()> testMain;

extern "C" int cgiMain(void) {
  return testMain ? testMain() : 0;
}
