// The simulator under the name the loader uses by default. Runs alone
// (RESOURCE_LOCK qvr_card_memory): the object name is the machine's one.
#include <fcntl.h>
#include <sys/mman.h>

#include <cerrno>

#include "card/card_interface.h"
#include "card/interface_header.h"
#include "tests/simcard/sim_harness.h"

namespace qvr::test {
namespace {

class DefaultName : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    unsetenv("QVR_MAPPING_NAME");
  }
  void TearDown() override {
    const bool ours = !sims_.empty();
    SimTest::TearDown();
    // Whatever a simulator of this test left under the machine's name goes too.
    if (ours) shm_unlink(("/" + std::string(DefaultMappingName)).c_str());
  }
};

TEST_F(DefaultName, ServesTheLoadersMappingName) {
  Start({"--version", "5.6.7"});
  TheCard.MappingName = DefaultMappingName;
  ASSERT_EQ(ConnectInterface(), StatusOk);
  EXPECT_EQ(ReadInterfaceWord(InterfaceHeader::FirmwareVersion), 0x04050607u);
  EXPECT_EQ(ExchangeBlock(StartBlock()), 1);
  DisconnectInterface();

  EXPECT_EQ(Stop(), 0);
  errno = 0;
  EXPECT_LT(shm_open(("/" + std::string(DefaultMappingName)).c_str(), O_RDONLY, 0), 0);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
}  // namespace qvr::test
