// qvr-card-sim: plays the card and the software that publishes its interface
// memory, until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_io.h"
#include "platform/device_protocol.h"
#include "simcard/card_memory.h"
#include "simcard/memory_layout.h"
#include "simcard/sim/card.h"
#include "simcard/sim/options.h"
#include "simcard/sim/pci_devices.h"
#include "simcard/sim/publish.h"
#include "simcard/sim/status_report.h"

namespace qvr::simcard {
namespace {

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int ExitBusy = 3;

CardSettings SettingsFrom(const SimOptions& options) {
  CardSettings settings;
  settings.cardState = options.cardState;
  settings.restartTime = std::chrono::milliseconds(options.restartMs);
  settings.reprogram = options.reprogram;
  settings.refuseBlock = options.refuseBlock;
  settings.replyDelay = std::chrono::microseconds(options.replyDelayUs);
  settings.stopAnsweringAfter = options.stopAnsweringAfter;
  settings.neverRestart = options.neverRestart;
  settings.noMagic = options.noMagic;
  settings.flashOut = options.flashOut;
  settings.pciRoute = options.pci;
  return settings;
}

// Serves the card's and the bridge's devices, each on its own thread, and
// waits until both accept connections. False when one cannot be served.
class DeviceServers {
 public:
  bool Start(const CardDevice& device, const std::atomic<bool>& stop) {
    Serve(platform::DevicePath(CardDeviceName(0)),
          [device](std::uint32_t code, std::uint8_t* buffer) { return AnswerCardRequest(device, code, buffer); }, stop);
    Serve(platform::DevicePath(BridgeDeviceName), AnswerBridgeRequest, stop);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return failed_ || ready_ == threads_.size(); });
    return !failed_;
  }
  void Join() {
    for (auto& thread : threads_) thread.join();
    threads_.clear();
  }

 private:
  void Serve(const std::string& path, platform::DeviceHandler handler, const std::atomic<bool>& stop) {
    threads_.emplace_back([this, path, handler = std::move(handler), &stop] {
      const bool served = platform::ServeDevice(path, handler, stop, [this] { Note(false); });
      if (!served) {
        std::fprintf(stderr, "qvr-card-sim: cannot serve %s\n", path.c_str());
        Note(true);
      }
    });
  }
  void Note(bool failure) {
    std::lock_guard lock(mutex_);
    failure ? failed_ = true : ++ready_;
    changed_.notify_all();
  }

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t ready_ = 0;
  bool failed_ = false;
};

int RunSimulator(const SimOptions& options) {
  Card card;
  card.settings = SettingsFrom(options);
  if (options.flashFile) {
    if (const auto message = LoadFlashImage(card.flash, *options.flashFile)) {
      std::fprintf(stderr, "qvr-card-sim: cannot load %s: %s", options.flashFile->c_str(), message->c_str());
      return ExitFailed;
    }
  } else {
    WriteFirmwareRecord(card.flash, options.status, options.major, options.minor, options.patch);
  }

  // The signals are taken by sigwait below; every thread started from here on
  // inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A reader that has gone away must not end the card without its clean-up.
  signal(SIGPIPE, SIG_IGN);

  PublishedMemory memory;
  const PublishResult published =
      options.pci ? PublishDeviceMemory(DeviceLockPath(platform::DeviceDirectory()), MemorySize, memory)
                  : PublishNamedMemory(MappingNameFromEnvironment(), MemorySize, memory);
  if (published.outcome != PublishOutcome::Published) {
    std::fprintf(stderr, "qvr-card-sim: %s\n", published.message.c_str());
    return published.outcome == PublishOutcome::Busy ? ExitBusy : ExitFailed;
  }
  LayOutMemory(card, memory.base, FirmwareVersionOf(card.flash), static_cast<std::uint32_t>(getpid()));

  std::atomic<bool> stop{false};
  std::thread cardThread(ServeCard, std::ref(card), std::cref(stop));
  DeviceServers servers;
  const bool serving = !options.pci || servers.Start(CardDevice{memory.base, memory.fd, memory.size}, stop);
  if (serving) {
    std::printf("qvr-card-sim: ready\n");
    std::fflush(stdout);
    int signal = 0;
    sigwait(&signals, &signal);
  }
  stop = true;
  servers.Join();
  cardThread.join();
  TakeDownMemory(card);
  Unpublish(memory);
  return serving ? 0 : ExitFailed;
}

}  // namespace
}  // namespace qvr::simcard

int main(int argc, char** argv) {
  using namespace qvr::simcard;
  const ParsedOptions parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.error) {
    std::fprintf(stderr, "qvr-card-sim: %s\nTry 'qvr-card-sim --help'.\n", parsed.error->c_str());
    return ExitUsage;
  }
  if (parsed.options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (parsed.options.statusCommand) return RunStatusCommand();
  return RunSimulator(parsed.options);
}
