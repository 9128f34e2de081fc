#include "app/startup.h"

#include <cstdio>
#include <cstdlib>

#include "app/run_mode.h"
#include "card/card_interface.h"
#include "card/interface_header.h"
#include "image/carried_image.h"
#include "image/firmware_image.h"
#include "image/validate.h"
#include "platform/executable_path.h"
#include "platform/gui_module.h"
#include "platform/message_box.h"

namespace qvr {
namespace {

constexpr std::uint32_t StartupBoxFlags = platform::MbServiceNotification;

StartupDecision End(StartupOutcome outcome, int exitCode) { return {outcome, exitCode}; }

// True when the record at `recordOffset` names the firmware the card runs and
// the card reports itself up to date.
bool CardRunsImage(std::uint32_t recordOffset) {
  const RecordVersion image = RecordVersionAt(recordOffset);
  const std::uint32_t firmware = ReadInterfaceWord(InterfaceHeader::FirmwareVersion);
  const std::uint32_t cardState = ReadInterfaceWord(InterfaceHeader::CardState);
  return image.status == ((firmware >> 24) & 0xFF) && image.major == ((firmware >> 16) & 0xFF) &&
         image.minor == ((firmware >> 8) & 0xFF) && image.patch == (firmware & 0xFF) && cardState == 1;
}

}  // namespace

std::string StartupMappingName() {
  const char* name = std::getenv(MappingNameVariable);
  return name != nullptr && *name != '\0' ? std::string(name) : std::string(DefaultMappingName);
}

StartupDecision DecideStartup(const std::string& executablePath, int parameterCount) {
  TheCard.MappingName = StartupMappingName();
  if (ConnectInterface() != StatusOk) {
    platform::ShowMessageBox("No PCI Card present", "no PCI Card", StartupBoxFlags);
    return End(StartupOutcome::NoCard, 0);
  }

  ResetImage();
  const CarriedImageResult carried = ReadCarriedImage(executablePath);
  if (carried.outcome == CarriedImageOutcome::CannotOpen) {
    platform::ShowMessageBox("Can't re-open own file", "Logic Error", StartupBoxFlags);
    return End(StartupOutcome::CannotOpenOwnFile, 1);
  }
  // A trailer whose length or record offset does not fit counts as no image.
  CarriesImage = carried.outcome == CarriedImageOutcome::Loaded;

  if (CarriesImage && carried.trailer.recordOffset == ApplicationRecordOffset) {
    if (auto message = ValidateImage()) {
      platform::ShowMessageBox(*message, "Image Error", StartupBoxFlags);
      return End(StartupOutcome::InvalidImage, 1);
    }
  }

  if (!TheImage.CurrentRecord) {
    ProgramNow = false;
    AutoClose = false;
  } else if (!CardRunsImage(*TheImage.CurrentRecord)) {
    ProgramNow = true;
    AutoClose = true;
  } else if (parameterCount > 0) {
    return End(StartupOutcome::UpToDate, 0);
  } else {
    ProgramNow = false;
    AutoClose = RecordVersionAt(*TheImage.CurrentRecord).status >= 3;
  }
  return End(StartupOutcome::Window, 0);
}

int RunStartup(int argc, char** argv) {
  const StartupDecision decision = DecideStartup(platform::OwnExecutablePath(), argc > 1 ? argc - 1 : 0);
  if (decision.outcome != StartupOutcome::Window) return decision.exitCode;

  const bool headless = !platform::HaveDisplay();
  if (headless && !ProgramNow && !AutoClose) {
    std::fputs(NoDisplayText, stderr);
    return 0;
  }
  std::string error;
  auto run = reinterpret_cast<platform::GuiRunEntry>(platform::GuiModuleSymbol(platform::GuiRunSymbol, error));
  if (run == nullptr) {
    std::fprintf(stderr, "qvrload: cannot open the window module: %s\n", error.c_str());
    return 1;
  }
  return run(argc, argv, headless ? 1 : 0);
}

}  // namespace qvr
