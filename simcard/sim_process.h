// Running qvr-card-sim as a child process, for tests, benchmarks and scripts
// written in C++: start it, wait for its ready line, stop it.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace qvr::simcard {

inline constexpr const char* ReadyLine = "qvr-card-sim: ready";

struct SimProcess {
  pid_t pid = -1;
  int output = -1;  // read end of the child's standard output
};

// Starts `program` with `args` (its standard error stays the caller's) and
// waits until it prints the ready line. The child is sent SIGTERM should the
// calling thread end first. False, with `error` and the child reaped, when
// it ends without the line or `limit` passes.
bool StartSimulator(const std::string& program, const std::vector<std::string>& args, SimProcess& process,
                    std::string& error, std::chrono::milliseconds limit = std::chrono::seconds(20));

// Sends `signal` (SIGTERM by default), then waits; SIGKILL when it has not
// ended after `grace`. Returns the exit code, 128 + the signal when a signal
// ended it, -1 when there was no child.
int StopSimulator(SimProcess& process, std::chrono::milliseconds grace = std::chrono::seconds(10),
                  int signal = SIGTERM);

struct ProgramRun {
  int exitCode = -1;   // as StopSimulator; -1 when it could not be started
  std::string output;  // standard output and standard error together
};

// Runs `program args` to its end (killing it after `limit`) and collects
// what it prints.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace qvr::simcard
