// The one-node Slurm cluster the farm's tests run on: it runs jobs side by
// side, requeues and cancels them, and leaves no process behind when it
// stops, even when the test binary that owns it dies.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/slurm_cluster.h"

namespace tilvane_test {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

// A fresh folder for a test's job outputs, removed at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    std::string dir = "/tmp/tilvane-slurm-test.XXXXXX";
    if (mkdtemp(dir.data())) path_ = dir;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::vector<std::string> Lines(const std::string& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Waits until the file has at least the given number of lines.
std::vector<std::string> WaitForLines(const std::string& file, size_t count,
                                      seconds timeout = seconds(60)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  auto lines = Lines(file);
  while (lines.size() < count && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    lines = Lines(file);
  }
  return lines;
}

bool WaitUntilGone(pid_t pid, seconds timeout = seconds(15)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!ProcessGone(pid)) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

// The field after "run" in a job's line "run RESTARTS PID".
pid_t PidOf(const std::string& line) {
  std::istringstream words(line);
  std::string run, restarts;
  pid_t pid = 0;
  words >> run >> restarts >> pid;
  return pid;
}

std::string Squeue(const SlurmCluster& cluster) { return cluster.Run("squeue --states=all").out; }

using SlurmClusterJobs = SlurmClusterTest;

TEST_F(SlurmClusterJobs, TwoOneCoreTasksOfAnArrayRunAtOnceAndFinish) {
  ScratchDir out;
  const std::string id =
      cluster().Sbatch("--array=0-1 --cpus-per-task=1 --mem=64M --output=" + (out / "%a.out") +
                       " --wrap 'date +%s.%N; sleep 2; date +%s.%N; echo done'");
  ASSERT_FALSE(id.empty());
  ASSERT_TRUE(cluster().WaitUntilEnded(id)) << Squeue(cluster());
  EXPECT_EQ(cluster().States(id), std::vector<std::string>({"COMPLETED", "COMPLETED"}));
  double latest_start = 0, earliest_end = 1e300;
  for (const char* task : {"0.out", "1.out"}) {
    const auto lines = Lines(out / task);
    ASSERT_EQ(lines.size(), 3u) << task;
    EXPECT_EQ(lines[2], "done");
    latest_start = std::max(latest_start, std::stod(lines[0]));
    earliest_end = std::min(earliest_end, std::stod(lines[1]));
  }
  EXPECT_LT(latest_start, earliest_end) << "the two tasks ran one after the other";
}

TEST_F(SlurmClusterJobs, ARequeuedJobRunsAgainAndACancelledOneLeavesNoProcess) {
  ScratchDir out;
  const std::string runs = out / "runs";
  const std::string id =
      cluster().Sbatch("--output=/dev/null --wrap 'echo run " +
                       std::string("$SLURM_RESTART_COUNT $$ >>") + runs + "; exec sleep 300'");
  ASSERT_FALSE(id.empty());
  auto lines = WaitForLines(runs, 1);
  ASSERT_EQ(lines.size(), 1u) << Squeue(cluster());
  const pid_t first = PidOf(lines[0]);

  const ShellResult requeued = cluster().Run("scontrol requeue " + id);
  ASSERT_EQ(requeued.status, 0) << requeued.err;
  EXPECT_TRUE(WaitUntilGone(first)) << "the first run's process outlived its requeue";
  lines = WaitForLines(runs, 2);
  ASSERT_EQ(lines.size(), 2u) << "the requeued job did not run again\n" << Squeue(cluster());
  EXPECT_EQ(lines[0].substr(0, 4), "run ");
  EXPECT_EQ(lines[1].substr(0, 6), "run 1 ");
  EXPECT_EQ(cluster().Job(id)["Restarts"], "1");

  const ShellResult cancelled = cluster().Run("scancel " + id);
  ASSERT_EQ(cancelled.status, 0) << cancelled.err;
  ASSERT_TRUE(cluster().WaitUntilEnded(id)) << Squeue(cluster());
  EXPECT_EQ(cluster().States(id), std::vector<std::string>({"CANCELLED"}));
  EXPECT_TRUE(WaitUntilGone(PidOf(lines[1]))) << "the cancelled job's process is still there";
}

TEST(SlurmCluster, StopsEveryDaemonAndTheJobsStillRunning) {
  ScratchDir out;
  pid_t job = 0;
  std::vector<pid_t> daemons;
  std::string dir;
  {
    SlurmCluster cluster;
    ASSERT_NO_THROW(cluster.Start());
    dir = cluster.dir().string();
    daemons = cluster.daemons();
    ASSERT_EQ(daemons.size(), 3u);
    for (pid_t pid : daemons) EXPECT_FALSE(ProcessGone(pid)) << pid;
    EXPECT_EQ(cluster.Run("sinfo --noheader --Node --format=%T").out, "idle\n");
    ASSERT_FALSE(cluster
                     .Sbatch("--output=/dev/null --wrap 'echo run 0 $$ >" + (out / "pid") +
                             "; exec sleep 300'")
                     .empty());
    const auto lines = WaitForLines(out / "pid", 1);
    ASSERT_EQ(lines.size(), 1u) << Squeue(cluster);
    job = PidOf(lines[0]);
    ASSERT_GT(job, 0);
    cluster.Stop();
    EXPECT_FALSE(cluster.running());
    cluster.Stop();
  }
  for (pid_t pid : daemons) EXPECT_TRUE(ProcessGone(pid)) << "daemon " << pid << " still runs";
  EXPECT_TRUE(WaitUntilGone(job, seconds(5))) << "the job's process outlived the cluster";
  EXPECT_FALSE(fs::exists(dir));
}

TEST(SlurmCluster, StopsItselfWhenItsOwnerDies) {
  // The owner stands in for a test binary that crashed before its tear-down.
  char sleep[] = "sleep", forever[] = "600";
  char* argv[] = {sleep, forever, nullptr};
  pid_t owner = 0;
  ASSERT_EQ(posix_spawnp(&owner, "sleep", nullptr, nullptr, argv, nullptr), 0);
  // Adopts the daemons, as SlurmCluster does, to reap them here.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  ScratchDir out;
  const std::string dir = out / "cluster";
  const ShellResult started = RunShell(std::string(TILVANE_SLURM_CLUSTER_SCRIPT) + " start " + dir +
                                       " " + std::to_string(owner));
  std::vector<pid_t> daemons;
  for (const char* name : {"munged", "slurmctld", "slurmd", "watchdog"}) {
    std::ifstream in(fs::path(dir) / "pids" / name);
    pid_t pid = 0;
    if (in >> pid) daemons.push_back(pid);
  }
  kill(owner, SIGKILL);
  waitpid(owner, nullptr, 0);
  ASSERT_EQ(started.status, 0) << started.err;
  ASSERT_EQ(daemons.size(), 4u);
  // The watchdog last: it removes the folder once the daemons are gone.
  for (pid_t pid : daemons) EXPECT_TRUE(WaitUntilGone(pid)) << "process " << pid << " still runs";
  EXPECT_FALSE(fs::exists(dir));
}

}  // namespace
}  // namespace tilvane_test
