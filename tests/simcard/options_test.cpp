// The simulator's command line: what each option sets, and the lines it refuses.
#include <gtest/gtest.h>

#include <functional>

#include "simcard/sim/options.h"
#include "tests/simcard/case_name.h"

namespace qvr::simcard {
namespace {

struct AcceptedLine {
  std::vector<std::string> args;
  std::function<void(const SimOptions&)> check;
};

class AcceptedOptions : public ::testing::TestWithParam<AcceptedLine> {};

TEST_P(AcceptedOptions, SetWhatTheyName) {
  const ParsedOptions parsed = ParseOptions(GetParam().args);
  ASSERT_FALSE(parsed.error) << *parsed.error;
  GetParam().check(parsed.options);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, AcceptedOptions,
    ::testing::Values(
        AcceptedLine{{},
                     [](const SimOptions& o) {
                       EXPECT_EQ(o.status, 4);
                       EXPECT_EQ(o.major, 1);
                       EXPECT_EQ(o.minor, 0);
                       EXPECT_EQ(o.patch, 0);
                       EXPECT_EQ(o.cardState, 1u);
                       EXPECT_EQ(o.restartMs, 300u);
                       EXPECT_FALSE(o.refuseBlock);
                       EXPECT_FALSE(o.stopAnsweringAfter);
                       EXPECT_FALSE(o.pci);
                       EXPECT_FALSE(o.statusCommand);
                     }},
        AcceptedLine{{"--status", "3", "--version", "2.10.255"},
                     [](const SimOptions& o) {
                       EXPECT_EQ(o.status, 3);
                       EXPECT_EQ(o.major, 2);
                       EXPECT_EQ(o.minor, 10);
                       EXPECT_EQ(o.patch, 255);
                     }},
        AcceptedLine{{"--version=0.0.7"}, [](const SimOptions& o) { EXPECT_EQ(o.patch, 7); }},
        AcceptedLine{{"--card-state", "0x201"}, [](const SimOptions& o) { EXPECT_EQ(o.cardState, 0x201u); }},
        AcceptedLine{{"--card-state", "0"}, [](const SimOptions& o) { EXPECT_EQ(o.cardState, 0u); }},
        AcceptedLine{{"--refuse-block", "0x1a85"}, [](const SimOptions& o) { EXPECT_EQ(o.refuseBlock, 0x1a85u); }},
        AcceptedLine{{"--refuse-block", "0"}, [](const SimOptions& o) { EXPECT_EQ(o.refuseBlock, 0u); }},
        AcceptedLine{{"--stop-answering-after", "0"},
                     [](const SimOptions& o) { EXPECT_EQ(o.stopAnsweringAfter, 0u); }},
        AcceptedLine{{"--restart-ms", "0", "--reprogram", "2", "--reply-delay-us", "1500"},
                     [](const SimOptions& o) {
                       EXPECT_EQ(o.restartMs, 0u);
                       EXPECT_EQ(o.reprogram, 2u);
                       EXPECT_EQ(o.replyDelayUs, 1500u);
                     }},
        AcceptedLine{{"--flash", "a.q37", "--flash-out", "out.bin"},
                     [](const SimOptions& o) {
                       EXPECT_EQ(o.flashFile, "a.q37");
                       EXPECT_EQ(o.flashOut, "out.bin");
                     }},
        AcceptedLine{{"--pci", "--never-restart", "--no-magic"},
                     [](const SimOptions& o) {
                       EXPECT_TRUE(o.pci);
                       EXPECT_TRUE(o.neverRestart);
                       EXPECT_TRUE(o.noMagic);
                     }},
        AcceptedLine{{"--help"}, [](const SimOptions& o) { EXPECT_TRUE(o.help); }},
        AcceptedLine{{"status"}, [](const SimOptions& o) { EXPECT_TRUE(o.statusCommand); }}),
    [](const auto& info) { return std::to_string(info.index) + "_" + test::CaseName(info.param.args); });

class RefusedOptions : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(RefusedOptions, GiveAReason) {
  const ParsedOptions parsed = ParseOptions(GetParam());
  ASSERT_TRUE(parsed.error);
  EXPECT_FALSE(parsed.error->empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RefusedOptions,
    ::testing::Values(std::vector<std::string>{"--version", "1.2"}, std::vector<std::string>{"--version", "1.2.3.4"},
                      std::vector<std::string>{"--version", "1.256.0"}, std::vector<std::string>{"--version", "a.b.c"},
                      std::vector<std::string>{"--version", "1..2"}, std::vector<std::string>{"--version", "+1.2.3"},
                      std::vector<std::string>{"--status", "256"}, std::vector<std::string>{"--status", "-1"},
                      std::vector<std::string>{"--restart-ms", "12x"}, std::vector<std::string>{"--restart-ms", ""},
                      std::vector<std::string>{"--card-state", "0x"},
                      std::vector<std::string>{"--card-state", "4294967296"},
                      std::vector<std::string>{"--refuse-block", "0x40000"},
                      std::vector<std::string>{"--reply-delay-us"}, std::vector<std::string>{"--frobnicate"},
                      std::vector<std::string>{"frobnicate"}, std::vector<std::string>{"--pci=1"},
                      std::vector<std::string>{"--flash", ""},
                      std::vector<std::string>{"--flash", "a.q37", "--status", "1"},
                      std::vector<std::string>{"--version", "1.0.0", "--flash", "a.q37"},
                      std::vector<std::string>{"status", "--pci"}),
    [](const auto& info) { return std::to_string(info.index) + "_" + test::CaseName(info.param); });

}  // namespace
}  // namespace qvr::simcard
