#include <gtest/gtest.h>

#include "tests/app/window_fixture.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new qvr::test::ApplicationEnvironment);
  return RUN_ALL_TESTS();
}
