#include "tools/tilvane/farm/programs.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/text.h"

extern char** environ;

namespace tilvane_tool {

ProgramResult RunProgram(const std::vector<std::string>& argv) {
  ProgramResult result;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return result;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]), close(out[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  std::array<pollfd, 2> fds{{{out[0], POLLIN, 0}, {err[0], POLLIN, 0}}};
  std::string* into[2] = {&result.out, &result.err};
  int open = 2;
  while (spawned == 0 && open > 0) {
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        into[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }
  if (spawned != 0) {
    result.status = 127;
    result.err = std::strerror(spawned);
    return result;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::string RunSlurm(const std::vector<std::string>& argv) {
  const ProgramResult r = RunProgram(argv);
  if (r.status == 127 && r.out.empty()) {
    throw UsageError(Quoted(argv[0]) + " cannot be run (" + OneLine(r.err) +
                     "); install Slurm's commands (Debian: slurm-client) and put them on PATH");
  }
  if (r.status != 0) {
    std::string words;
    for (const std::string& a : argv) words += (words.empty() ? "" : " ") + a;
    throw UsageError(argv[0] + " failed (status " + std::to_string(r.status) + "): " +
                     OneLine(r.err.empty() ? r.out : r.err) + "; the command was: " + words);
  }
  return r.out;
}

}  // namespace tilvane_tool
