// The window tests run with an application object, always offscreen (also
// when the test list is read, outside the test environment).
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/window/application.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qvr::EnsureApplication(argc, argv);
  return RUN_ALL_TESTS();
}
