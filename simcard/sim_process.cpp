#include "simcard/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace qvr::simcard {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> ArgumentVector(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// Forks and runs `program`; the child's stdout (and stderr when asked) go
// into a pipe whose read end is returned in `output`.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, bool withStderr, int& output) {
  std::vector<char*> argv = ArgumentVector(program, args);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    dup2(pipeFds[1], STDOUT_FILENO);
    if (withStderr) dup2(pipeFds[1], STDERR_FILENO);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  if (pid < 0) {
    close(pipeFds[0]);
    return -1;
  }
  output = pipeFds[0];
  return pid;
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Waits for `pid` until `deadline`. True with its exit code when it ended.
bool WaitUntil(pid_t pid, Clock::time_point deadline, int& exitCode) {
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      exitCode = ExitCodeOf(status);
      return true;
    }
    if (done < 0 && errno != EINTR) {
      exitCode = -1;
      return true;
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Reads what is there from `fd` into `text`, waiting until `deadline`. False at the end of the stream.
bool ReadSome(int fd, std::string& text, Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  pollfd watched{fd, POLLIN, 0};
  if (poll(&watched, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0) return true;
  char chunk[4096];
  const ssize_t n = read(fd, chunk, sizeof chunk);
  if (n < 0) return errno == EINTR || errno == EAGAIN;
  if (n == 0) return false;
  text.append(chunk, static_cast<std::size_t>(n));
  return true;
}

}  // namespace

bool StartSimulator(const std::string& program, const std::vector<std::string>& args, SimProcess& process,
                    std::string& error, std::chrono::milliseconds limit) {
  process = SimProcess{};
  process.pid = Spawn(program, args, false, process.output);
  if (process.pid < 0) {
    error = "cannot start " + program + ": " + std::strerror(errno);
    return false;
  }
  const auto deadline = Clock::now() + limit;
  const std::string wanted = std::string(ReadyLine) + "\n";
  std::string text;
  while (text.find(wanted) == std::string::npos) {
    if (!ReadSome(process.output, text, deadline)) {
      const int code = StopSimulator(process);
      error = program + " ended (exit code " + std::to_string(code) + ") without its ready line";
      return false;
    }
    if (Clock::now() >= deadline && text.find(wanted) == std::string::npos) {
      StopSimulator(process);
      error = program + " printed no ready line in time";
      return false;
    }
  }
  return true;
}

int StopSimulator(SimProcess& process, std::chrono::milliseconds grace, int signal) {
  if (process.pid <= 0) return -1;
  kill(process.pid, signal);
  int exitCode = -1;
  if (!WaitUntil(process.pid, Clock::now() + grace, exitCode)) {
    kill(process.pid, SIGKILL);
    WaitUntil(process.pid, Clock::now() + std::chrono::seconds(60), exitCode);
  }
  if (process.output >= 0) close(process.output);
  process = SimProcess{};
  return exitCode;
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      std::chrono::milliseconds limit) {
  ProgramRun run;
  int output = -1;
  const pid_t pid = Spawn(program, args, true, output);
  if (pid < 0) return run;
  const auto deadline = Clock::now() + limit;
  bool ended = false;
  while (!ended && Clock::now() < deadline) ended = !ReadSome(output, run.output, deadline);
  close(output);
  // Its output has ended; the process itself follows at once.
  if (!ended || !WaitUntil(pid, Clock::now() + std::chrono::seconds(10), run.exitCode)) {
    kill(pid, SIGKILL);
    WaitUntil(pid, Clock::now() + std::chrono::seconds(60), run.exitCode);
    run.exitCode = -1;
  }
  return run;
}

}  // namespace qvr::simcard
