#include "tests/support/slurm_cluster.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/scoped_env.h"

extern char** environ;

namespace tilvane_test {

namespace fs = std::filesystem;

ShellResult RunShell(const std::string& command, const std::vector<std::string>& extra_env) {
  std::vector<std::string> env_strings(extra_env);
  for (char** e = environ; *e; ++e) {
    const std::string entry(*e);
    const auto equals = entry.find('=');
    const std::string name = entry.substr(0, equals == std::string::npos ? 0 : equals + 1);
    bool replaced = false;
    for (const auto& extra : extra_env) replaced |= !name.empty() && extra.rfind(name, 0) == 0;
    if (!replaced) env_strings.push_back(entry);
  }
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string sh = "/bin/sh", dash_c = "-c", cmd = command;
  char* argv[] = {sh.data(), dash_c.data(), cmd.data(), nullptr};

  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("could not make a pipe: " + std::string(std::strerror(errno)));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);
  ShellResult result;
  if (spawned != 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    throw std::runtime_error("could not run /bin/sh: " + std::string(std::strerror(spawned)));
  }
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_fds = 2;
  while (open_fds > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, size_t(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

namespace {

std::string Script() { return TILVANE_SLURM_CLUSTER_SCRIPT; }

pid_t ReadPid(const fs::path& file) {
  std::ifstream in(file);
  pid_t pid = 0;
  in >> pid;
  return pid;
}

// The process's state letter and parent from /proc/PID/stat; '\0' if none.
std::pair<char, pid_t> StateAndParent(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name in parentheses may hold spaces; the fields after it do not.
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return {'\0', 0};
  std::istringstream fields(stat.substr(close + 1));
  char state = '\0';
  pid_t parent = 0;
  fields >> state >> parent;
  return {state, parent};
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// Reaps a process that this one has adopted, once it has ended.
void Reap(pid_t pid, std::chrono::milliseconds patience) {
  const auto end = std::chrono::steady_clock::now() + patience;
  while (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

void SlurmCluster::Start() {
  if (running()) return;
  // The daemons outlive the script that starts them; adopted by this process
  // rather than by init, they can be reaped once stopped.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  // In /tmp, not TMPDIR: munge's and the steps' socket paths must stay short.
  std::string dir = "/tmp/tilvane-slurm.XXXXXX";
  if (!mkdtemp(dir.data())) {
    throw std::runtime_error("could not make a folder for the Slurm cluster in /tmp: " +
                             std::string(std::strerror(errno)));
  }
  const ShellResult started =
      RunShell(Script() + " start " + dir + " " + std::to_string(getpid()), {});
  if (started.status != 0) {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    throw std::runtime_error("the Slurm cluster did not start (" + Script() + " start " + dir +
                             "):\n" + started.err);
  }
  dir_ = dir;
  for (const char* name : {"munged", "slurmctld", "slurmd"}) {
    daemons_.push_back(ReadPid(dir_ / "pids" / name));
  }
  watchdog_ = ReadPid(dir_ / "pids" / "watchdog");
}

void SlurmCluster::Stop() {
  if (!running()) return;
  const ShellResult stopped = RunShell(Script() + " stop " + dir_.string(), {});
  if (stopped.status != 0) {
    ADD_FAILURE() << "the Slurm cluster in " << dir_ << " did not stop cleanly:\n" << stopped.err;
  }
  for (pid_t pid : daemons_) Reap(pid, std::chrono::seconds(5));
  Reap(watchdog_, std::chrono::seconds(5));
  // Step daemons the script ended, adopted here when their slurmd went.
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    std::ifstream comm(entry.path() / "comm");
    std::string command;
    std::getline(comm, command);
    const auto [state, parent] = StateAndParent(pid);
    if (command == "slurmstepd" && state == 'Z' && parent == getpid()) Reap(pid, {});
  }
  dir_.clear();
  daemons_.clear();
  watchdog_ = 0;
}

ShellResult SlurmCluster::Run(const std::string& command) const { return RunShell(command, env()); }

std::string SlurmCluster::Sbatch(const std::string& options) const {
  const ShellResult r = Run("sbatch --parsable " + options);
  if (r.status != 0) {
    ADD_FAILURE() << "sbatch " << options << " failed (" << r.status << "): " << r.err;
    return "";
  }
  // --parsable prints "id" or "id;cluster".
  return Trim(r.out.substr(0, r.out.find(';')));
}

std::map<std::string, std::string> SlurmCluster::Job(const std::string& id) const {
  const ShellResult r = Run("scontrol show job --oneliner " + id);
  std::map<std::string, std::string> fields;
  if (r.status != 0) return fields;
  std::istringstream words(r.out.substr(0, r.out.find('\n')));
  std::string word;
  while (words >> word) {
    const auto equals = word.find('=');
    if (equals != std::string::npos) fields[word.substr(0, equals)] = word.substr(equals + 1);
  }
  return fields;
}

std::vector<std::string> SlurmCluster::States(const std::string& id) const {
  const ShellResult r = Run("squeue --noheader --array --states=all --format=%T --jobs=" + id);
  std::vector<std::string> states;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) states.push_back(Trim(line));
  }
  return states;
}

bool SlurmCluster::WaitUntilEnded(const std::string& id, std::chrono::seconds timeout) const {
  static const std::set<std::string> ended = {
      "COMPLETED", "FAILED",    "CANCELLED",     "TIMEOUT",  "NODE_FAIL",
      "PREEMPTED", "BOOT_FAIL", "OUT_OF_MEMORY", "DEADLINE", "SPECIAL_EXIT"};
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto states = States(id);
    bool all_ended = !states.empty();
    for (const auto& state : states) all_ended &= ended.count(state) > 0;
    if (all_ended) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

bool ProcessGone(pid_t pid) {
  if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
  if (kill(pid, 0) != 0 && errno == ESRCH) return true;
  const auto [state, parent] = StateAndParent(pid);
  return state == '\0' || (state == 'Z' && parent != getpid());
}

namespace {

struct Shared {
  SlurmCluster cluster;
  std::string error;  // why it did not start; it is not tried again
};

Shared& TheShared() {
  static Shared shared;
  return shared;
}

class StopSharedCluster : public ::testing::Environment {
 public:
  void TearDown() override {
    Shared& shared = TheShared();
    if (!shared.cluster.running()) return;
    shared.cluster.Stop();
    SetEnv("SLURM_CONF", std::nullopt);
  }
};

[[maybe_unused]] const ::testing::Environment* const kStopSharedCluster =
    ::testing::AddGlobalTestEnvironment(new StopSharedCluster);

}  // namespace

SlurmCluster& SharedSlurmCluster() {
  Shared& shared = TheShared();
  if (!shared.cluster.running() && shared.error.empty()) {
    try {
      shared.cluster.Start();
      SetEnv("SLURM_CONF", shared.cluster.conf().string());
    } catch (const std::exception& e) {
      shared.error = e.what();
    }
  }
  return shared.cluster;
}

::testing::AssertionResult StartSharedSlurmCluster() {
  if (SharedSlurmCluster().running()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << TheShared().error;
}

}  // namespace tilvane_test
