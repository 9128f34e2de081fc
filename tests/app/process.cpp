#include "tests/app/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace qvr::test {

ProcessResult RunProcess(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
                         const std::string& workingDirectory) {
  std::map<std::string, std::string> variables;
  for (char** e = environ; *e != nullptr; ++e) {
    const char* equals = std::strchr(*e, '=');
    if (equals != nullptr) variables[std::string(*e, static_cast<std::size_t>(equals - *e))] = equals + 1;
  }
  for (const auto& [name, value] : environment) {
    if (value == Unset) variables.erase(name);
    else variables[name] = value;
  }
  std::vector<std::string> entries;
  for (const auto& [name, value] : variables) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = arguments;
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  char errorPath[] = "/tmp/qvr-app-stderr-XXXXXX";
  const int errorFile = mkstemp(errorPath);
  if (errorFile < 0) throw std::runtime_error("mkstemp");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, errorFile, STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (!workingDirectory.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(errorFile);

  ProcessResult result;
  if (spawned == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  }
  std::ifstream errors(errorPath, std::ios::binary);
  result.standardError.assign(std::istreambuf_iterator<char>(errors), {});
  std::remove(errorPath);
  if (spawned != 0) throw std::runtime_error("cannot run " + arguments.front());
  return result;
}

}  // namespace qvr::test
