// Programming a full image (2048 non-empty blocks) into a simulated card.
//
// - WorkerFullImage: the programming worker, start command to end command,
//   through the real interface library.
// - LibraryFullImage: the baseline beside it: the same commands through the
//   same library from the calling thread, polling as the worker does, with
//   no worker around it.
// - LoaderFullImage: the whole loader as the log-on check runs it on an
//   older card: start-up, window (offscreen), the run, the card's restart
//   and the close.
// Each takes the card's reply delay in microseconds as its argument; every
// benchmark starts a simulator of its own (restart delay 0).
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "image/firmware_image.h"
#include "programming/program_card.h"
#include "simcard/interface_library/qvrzorva.h"
#include "simcard/sim_process.h"
#include "tools/image_maker.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr std::int64_t FullImageBlocks = 2048;

// A valid image whose every block holds data: a kernel filling 0 .. 0x8000
// and an application up to the end of the buffer.
std::vector<std::uint8_t> FullImage(std::uint8_t major) {
  qvr::tool::ImageSpec spec;
  spec.kernel = true;
  spec.kernelSize = 0x8000;
  spec.size = qvr::ImageSize;
  spec.major = major;
  return qvr::tool::MakeImage(spec);
}

void HoldImage(const std::vector<std::uint8_t>& image) {
  qvr::ResetImage();
  std::copy(image.begin(), image.end(), qvr::TheImage.Data.begin());
  qvr::TheImage.LoadedLength = static_cast<std::uint32_t>(image.size());
  qvr::TheImage.CurrentRecord = qvr::ApplicationRecordOffset;
}

// A simulator for one benchmark, under a mapping name of its own.
class Card {
 public:
  Card(benchmark::State& state, std::vector<std::string> options) {
    static int serial = 0;
    const std::string name = "qvr-programming-bench-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
    setenv("QVR_MAPPING_NAME", name.c_str(), 1);
    options.insert(options.end(), {"--restart-ms", "0", "--reply-delay-us", std::to_string(state.range(0))});
    std::string error;
    if (!qvr::simcard::StartSimulator(QVR_CARD_SIM_PROGRAM, options, sim_, error)) state.SkipWithError(error.c_str());
  }
  ~Card() {
    if (sim_.pid > 0) qvr::simcard::StopSimulator(sim_);
  }
  bool Ready() const { return sim_.pid > 0; }

 private:
  qvr::simcard::SimProcess sim_;
};

void CountBlocks(benchmark::State& state) {
  state.counters["blocks_per_second"] =
      benchmark::Counter(static_cast<double>(FullImageBlocks * state.iterations()), benchmark::Counter::kIsRate);
}

void WorkerFullImage(benchmark::State& state) {
  HoldImage(FullImage(2));
  Card card(state, {});
  if (!card.Ready()) return;
  { qvr::ProgramCard warmUp; }
  for (auto _ : state) {
    qvr::ProgramCard worker;
    if (worker.TotalBlocks != FullImageBlocks) {
      state.SkipWithError("the image is not full");
      break;
    }
    // Leaving the scope waits for the worker's thread: the run is complete.
  }
  CountBlocks(state);
}

std::int8_t Exchange(const std::uint8_t* block, std::int32_t count) {
  std::array<std::uint8_t, 128> reply{};
  WriteInterfaceBlock(-1, block, count);
  auto answer = static_cast<std::int8_t>(ReadInterfaceBlock(-1, reply.data(), 128));
  while (answer == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    answer = static_cast<std::int8_t>(ReadInterfaceBlock(-1, reply.data(), 128));
  }
  return answer;
}

void LibraryFullImage(benchmark::State& state) {
  HoldImage(FullImage(2));
  Card card(state, {});
  if (!card.Ready()) return;
  std::array<std::uint8_t, 9> command{1, 0, 0, 0, 1, 0, 0, 0, 0};
  std::array<std::uint8_t, 139> data{2, 0, 0, 0, 131, 0, 0, 0};
  const auto run = [&] {
    command[0] = 1;
    Exchange(command.data(), 9);
    bool refused = false;
    for (std::uint32_t offset = 0; offset < qvr::ImageSize; offset += 128) {
      data[8] = static_cast<std::uint8_t>(offset >> 16);
      data[9] = static_cast<std::uint8_t>(offset >> 8);
      data[10] = static_cast<std::uint8_t>(offset);
      std::copy_n(qvr::TheImage.Data.begin() + offset, 128, data.begin() + 11);
      refused = Exchange(data.data(), 139) < 0 || refused;
    }
    command[0] = 3;
    WriteInterfaceBlock(-1, command.data(), 9);
    return !refused;
  };
  run();
  for (auto _ : state) {
    if (!run()) {
      state.SkipWithError("a block was refused");
      break;
    }
  }
  CountBlocks(state);
}

// Two copies of the loader with different versions, run in turn, so that
// each finds the card older than its image.
void LoaderFullImage(benchmark::State& state) {
  const fs::path folder = fs::temp_directory_path() / ("qvr-programming-bench-" + std::to_string(getpid()));
  fs::create_directories(folder);
  std::vector<std::string> loaders;
  for (std::uint8_t major : {2, 3}) {
    loaders.push_back((folder / ("qvrload-" + std::to_string(major))).string());
    std::string error;
    if (!qvr::tool::PackImage(QVR_LOADER_PATH, FullImage(major), qvr::ApplicationRecordOffset, loaders.back(), &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  // No display: the loader runs its window offscreen and closes it by itself.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("DISPLAY", "", 1);
  setenv("WAYLAND_DISPLAY", "", 1);
  Card card(state, {"--version", "1.0.0"});
  if (!card.Ready()) return;
  std::size_t turn = 0;
  const auto run = [&] {
    std::string check = "StartupCheck";
    char* argv[] = {loaders[turn++ % 2].data(), check.data(), nullptr};
    pid_t pid = 0;
    int status = 0;
    return posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) == 0 && waitpid(pid, &status, 0) == pid &&
           WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  run();
  for (auto _ : state) {
    if (!run()) {
      state.SkipWithError("the loader did not end with exit code 0");
      break;
    }
  }
  CountBlocks(state);
  fs::remove_all(folder);
}

}  // namespace

BENCHMARK(LibraryFullImage)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WorkerFullImage)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LoaderFullImage)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);
BENCHMARK_MAIN();
