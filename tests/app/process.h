#pragma once

// Starting the demonstration programs from tests, with their output captured.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace nubrik::testing {

struct Process {
  pid_t pid = -1;
  std::string outputPath;

  // Waits up to `seconds` for the process to end; its exit code, or -1 when
  // it had to be killed.
  int wait(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pid, &status, WNOHANG) == pid)
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }

  std::string output() const {
    std::ifstream in(outputPath);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

// Runs `argv` in `folder` with `environment` added to ours (NAME=value; a
// bare NAME removes the variable); stdout and stderr go to one file. When
// `fd3` is given, the child gets it as its descriptor 3.
inline Process spawn(const std::vector<std::string>& argv, const std::string& folder,
                     const std::vector<std::string>& environment = {}, int fd3 = -1) {
  Process process;
  process.outputPath =
      "/tmp/nubrik_test_output_" + std::to_string(getpid()) + "_" + std::to_string(std::rand());
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& change : environment) {
      const std::string name = change.substr(0, change.find('='));
      if (entry.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
    }
    if (!replaced) env.push_back(entry);
  }
  for (const auto& change : environment) {
    if (change.find('=') != std::string::npos) env.push_back(change);
  }
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, process.outputPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  if (fd3 >= 0) posix_spawn_file_actions_adddup2(&actions, fd3, 3);
  if (posix_spawn(&process.pid, argv[0].c_str(), &actions, nullptr, args.data(), envp.data()) !=
      0) {
    process.pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return process;
}

}  // namespace nubrik::testing
