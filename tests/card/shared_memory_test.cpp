// Named shared memory against real POSIX shared-memory objects.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cstring>

#include "platform/shared_memory.h"
#include "tests/card/driver_model.h"

namespace qvr::platform {
namespace {

TEST(SharedMemory, ObjectNameIsSlashAndName) {
  EXPECT_EQ(SharedMemoryObjectName("QVRZORVA mapped file"), "/QVRZORVA mapped file");
}

TEST(SharedMemory, MissingObjectDoesNotOpen) {
  EXPECT_EQ(OpenNamedMapping(test::UniqueName("qvr missing")), NoSharedMemory);
}

struct ViewCase {
  std::size_t objectSize;
  bool maps;
};

class SharedMemoryView : public ::testing::TestWithParam<ViewCase> {};

TEST_P(SharedMemoryView, MapsTheWholeObject) {
  test::ScopedSharedMemory object(GetParam().objectSize);
  const SharedMemoryHandle handle = OpenNamedMapping(object.Name());
  ASSERT_NE(handle, NoSharedMemory);
  EXPECT_NE(fcntl(static_cast<int>(handle), F_GETFD) & FD_CLOEXEC, 0);

  std::size_t size = 123;
  auto* view = static_cast<std::uint8_t*>(MapWholeView(handle, size));
  if (!GetParam().maps) {
    EXPECT_EQ(view, nullptr);
    EXPECT_EQ(size, 0u);
  } else {
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(size, GetParam().objectSize);
    // The view is the object itself: both ways, last byte included.
    view[size - 1] = 0x5A;
    EXPECT_EQ(object.View()[size - 1], 0x5A);
    object.View()[0] = 0xA5;
    EXPECT_EQ(view[0], 0xA5);
    UnmapView(view, size);
  }
  CloseMapping(handle);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SharedMemoryView,
                         ::testing::Values(ViewCase{0, false}, ViewCase{1, true}, ViewCase{4096, true},
                                           ViewCase{65536 + 12, true}));

TEST(SharedMemory, InvalidHandleHasNoView) {
  std::size_t size = 9;
  EXPECT_EQ(MapWholeView(NoSharedMemory, size), nullptr);
  EXPECT_EQ(size, 0u);
}

TEST(SharedMemory, RemovedObjectNoLongerOpens) {
  std::string name;
  {
    test::ScopedSharedMemory object(64);
    name = object.Name();
    const SharedMemoryHandle handle = OpenNamedMapping(name);
    EXPECT_NE(handle, NoSharedMemory);
    CloseMapping(handle);
  }
  EXPECT_EQ(OpenNamedMapping(name), NoSharedMemory);
}

}  // namespace
}  // namespace qvr::platform
