// The log-on check on an up-to-date card, as a whole process, side by side
// with the baseline program. Paths come from the environment (run-bench sets
// them): QVR_BENCH_LOADER (a copy of qvrload carrying the card's image) and
// QVR_BENCH_MINIMAL (the baseline, carrying the same image).
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

extern char** environ;

namespace {

void Spawn(benchmark::State& state, const char* variable, bool parameter) {
  const char* path = std::getenv(variable);
  if (path == nullptr) {
    state.SkipWithError((std::string(variable) + " not set").c_str());
    return;
  }
  std::string program = path, check = "StartupCheck";
  char* argv[] = {program.data(), parameter ? check.data() : nullptr, nullptr};
  for (auto _ : state) {
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
      state.SkipWithError("cannot start the program");
      return;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("the program did not end with exit code 0");
      return;
    }
  }
}

void MinimalProgram(benchmark::State& state) { Spawn(state, "QVR_BENCH_MINIMAL", false); }
void LoaderStartupCheck(benchmark::State& state) { Spawn(state, "QVR_BENCH_LOADER", true); }

}  // namespace

BENCHMARK(MinimalProgram)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(LoaderStartupCheck)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_MAIN();
