// A real one-node Slurm cluster for tests: munged, slurmctld and slurmd on
// this machine, started and stopped by scripts/slurm-cluster.sh, which holds
// the cluster's whole configuration. Runs as root.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tilvane_test {

struct ShellResult {
  int status = -1;  // the exit status, or 128 + the signal that ended the command
  std::string out;
  std::string err;
};

// Runs `sh -c command` with the extra environment entries ("NAME=value")
// over this process's own.
ShellResult RunShell(const std::string& command, const std::vector<std::string>& extra_env = {});

class SlurmCluster {
 public:
  SlurmCluster() = default;
  ~SlurmCluster() { Stop(); }
  SlurmCluster(const SlurmCluster&) = delete;
  SlurmCluster& operator=(const SlurmCluster&) = delete;

  // Starts the cluster in a new folder under /tmp and returns once its node
  // is idle. Throws std::runtime_error saying why it did not start, with the
  // daemons' last log lines. Should this process die first, the cluster
  // stops itself within a second or so.
  void Start();
  // Cancels its jobs, ends its daemons by their process ids (and reaps
  // them: this process adopts them) and removes its folder. Does nothing
  // when the cluster is not running.
  void Stop();

  bool running() const { return !dir_.empty(); }
  const std::filesystem::path& dir() const { return dir_; }
  // The generated slurm.conf: SLURM_CONF for every Slurm command.
  std::filesystem::path conf() const { return dir_ / "slurm.conf"; }
  // The environment entries a process needs to use this cluster.
  std::vector<std::string> env() const { return {"SLURM_CONF=" + conf().string()}; }
  // munged, slurmctld and slurmd, as started.
  const std::vector<pid_t>& daemons() const { return daemons_; }

  // Runs a shell command with SLURM_CONF set to this cluster.
  ShellResult Run(const std::string& command) const;
  // Submits with `sbatch --parsable OPTIONS`; the job id, or "" with a test
  // failure naming sbatch's complaint.
  std::string Sbatch(const std::string& options) const;
  // A job's fields from `scontrol show job` (for an array, its first task),
  // e.g. at("JobState"); empty once Slurm has forgotten the job.
  std::map<std::string, std::string> Job(const std::string& id) const;
  // The states of a job's tasks (one for a plain job), from squeue.
  std::vector<std::string> States(const std::string& id) const;
  // Waits until every task of the job has ended; false after the timeout.
  bool WaitUntilEnded(const std::string& id,
                      std::chrono::seconds timeout = std::chrono::seconds(60)) const;

 private:
  std::filesystem::path dir_;
  std::vector<pid_t> daemons_;
  pid_t watchdog_ = 0;
};

// Whether the process is gone: no such process, or one that has ended (and
// is reaped here if it was this process's child, or else waits for a parent
// that never reaps, as init does in some containers).
bool ProcessGone(pid_t pid);

// The cluster shared by every test of a binary, so it starts once: started
// by the first test that asks, stopped after the binary's last test (a
// global test environment). While it runs, SLURM_CONF in this process's
// environment names it, so every command a test runs (sbatch, tilvane farm)
// uses it. Register such a binary with add_test, not gtest_discover_tests,
// which would start a cluster for every case.
SlurmCluster& SharedSlurmCluster();
// Starts the shared cluster unless it runs; a failure says why it could not
// start (it is not tried again). For a fixture's SetUp:
//   ASSERT_TRUE(StartSharedSlurmCluster());
::testing::AssertionResult StartSharedSlurmCluster();

// A test on the shared cluster.
class SlurmClusterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(StartSharedSlurmCluster()); }
  SlurmCluster& cluster() const { return SharedSlurmCluster(); }
};

}  // namespace tilvane_test
