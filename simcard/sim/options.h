// The command line of qvr-card-sim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvr::simcard {

struct SimOptions {
  bool help = false;
  bool statusCommand = false;  // "qvr-card-sim status"

  // The initial firmware: a version, or an image file to start from.
  std::uint8_t status = 4;
  std::uint8_t major = 1, minor = 0, patch = 0;
  std::optional<std::string> flashFile;

  std::uint32_t cardState = 1;
  std::uint32_t restartMs = 300;
  std::uint32_t reprogram = 0;                     // further runs to ask for
  std::optional<std::uint32_t> refuseBlock;        // image offset within the refused block
  std::uint32_t replyDelayUs = 0;
  std::optional<std::uint32_t> stopAnsweringAfter; // data blocks answered per run
  bool neverRestart = false;
  bool noMagic = false;
  std::optional<std::string> flashOut;
  bool pci = false;
};

struct ParsedOptions {
  SimOptions options;
  std::optional<std::string> error;  // for the user, without a line feed
};

// `args` without the program name.
ParsedOptions ParseOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace qvr::simcard
