// Loading a full 256 KB image from S-records and validating it, beside a
// memcpy of 256 KB as the yardstick for validation.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "image/srecord.h"
#include "image/validate.h"
#include "tools/image_maker.h"

namespace {

using qvr::tool::ImageSpec;

// The application fills the whole buffer: the file that scripts/bench-image
// makes with `qvr-image make --size 0x40000`.
const ImageSpec FullApplication{.size = qvr::ImageSize};
// Kernel, application and kernel copy together fill the buffer.
const ImageSpec FullWithKernelCopy{.kernelCopy = true, .size = qvr::ImageSize - 0x8000, .kernelSize = 0x8000};

std::string FullImageFile() {
  static const std::string path = [] {
    const std::string p =
        (std::filesystem::temp_directory_path() / ("qvr-bench-full-" + std::to_string(::getpid()) + ".q37")).string();
    if (!qvr::tool::WriteSRecordFile(p, FullApplication)) std::abort();
    std::atexit([] { std::filesystem::remove(FullImageFile()); });
    return p;
  }();
  return path;
}

void BM_LoadSRecordFile(benchmark::State& state) {
  const std::string path = FullImageFile();
  const auto bytes = std::filesystem::file_size(path);
  for (auto _ : state) {
    qvr::TheImage.LoadedLength = 0;
    qvr::ClearImage();
    if (qvr::LoadSRecordFile(path)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(qvr::TheImage.Data.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_LoadSRecordFile);

void Validate(benchmark::State& state, const ImageSpec& spec) {
  const auto image = qvr::tool::MakeImage(spec);
  qvr::ResetImage();
  std::memcpy(qvr::TheImage.Data.data(), image.data(), image.size());
  qvr::TheImage.LoadedLength = static_cast<std::uint32_t>(image.size());
  // The diagnostic lines go to /dev/null, not the report, while timing.
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  const int null = ::open("/dev/null", O_WRONLY);
  ::dup2(null, STDOUT_FILENO);
  std::optional<std::string> message;
  for (auto _ : state) {
    message = qvr::ValidateImage();
    benchmark::DoNotOptimize(message);
  }
  std::fflush(stdout);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  ::close(null);
  if (message) state.SkipWithError(message->c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * qvr::ImageSize));
}

void BM_ValidateImage(benchmark::State& state) { Validate(state, FullApplication); }
BENCHMARK(BM_ValidateImage);

void BM_ValidateImageWithKernelCopy(benchmark::State& state) { Validate(state, FullWithKernelCopy); }
BENCHMARK(BM_ValidateImageWithKernelCopy);

void BM_Memcpy256K(benchmark::State& state) {
  std::vector<std::uint8_t> from(qvr::ImageSize, 0x5A), to(qvr::ImageSize);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * qvr::ImageSize));
}
BENCHMARK(BM_Memcpy256K);

}  // namespace

BENCHMARK_MAIN();
