// tilvane_fuzz: drives the built plug-in through a hostile host, one
// entry-point call per seed, and checks its promises after every call.
// Batches of calls run in forked children, so that a crash, a sanitizer
// report or a hang names the seed that caused it; `--seed S` replays that
// one call in-process and prints its plan.
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/hostile_host.h"
#include "fuzz/plan.h"
#include "standin/host.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFindingExit = 3;

struct Options {
  std::string plugin = TILVANE_PLUGIN_PATH;
  double seconds = 0;  // 0: no time limit
  uint64_t calls = 0;  // 0: no call limit
  uint64_t start = 0;
  bool startGiven = false;
  uint64_t batch = 2000;
  double hangSeconds = 120;
  int jobs = 1;
  std::optional<uint64_t> replay;
};

constexpr int kMaxJobs = 64;

// What the children tell the parent, in memory shared across fork.
struct Slot {
  std::atomic<uint64_t> current;  // the seed of the call under way
  std::atomic<uint64_t> done;     // calls this slot's batches finished
};
struct Shared {
  std::atomic<uint64_t> done;  // calls finished, all children together
  std::atomic<uint64_t> injected;
  Slot slots[kMaxJobs];
};

const char kUsage[] =
    "usage: tilvane_fuzz [--plugin FILE] [--seconds N] [--calls N] [--start S] [--batch N]\n"
    "                    [--jobs N] [--hang-seconds N]\n"
    "       tilvane_fuzz [--plugin FILE] --seed S\n"
    "Runs calls with seeds S, S+1, ... until N seconds or N calls have passed (without\n"
    "either, until a finding or interrupted), in batches of N calls (2000), each in a\n"
    "forked child, N jobs at once (1). --seed S replays the one call of seed S and\n"
    "prints its plan.\n";

[[noreturn]] void Usage(const std::string& problem) {
  std::cerr << "tilvane_fuzz: " << problem << "\n" << kUsage;
  std::exit(2);
}

uint64_t Number(const char* flag, const char* text) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-') {
    Usage(std::string(flag) + " takes a whole number, not \"" + text + "\"");
  }
  return value;
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      std::exit(0);
    }
    if (arg.rfind("--", 0) != 0) Usage("unknown argument " + arg);
    if (i + 1 >= argc) Usage(arg + " needs a value");
    const char* value = argv[++i];
    if (arg == "--plugin") {
      o.plugin = value;
    } else if (arg == "--seconds") {
      o.seconds = static_cast<double>(Number("--seconds", value));
    } else if (arg == "--calls") {
      o.calls = Number("--calls", value);
    } else if (arg == "--start") {
      o.start = Number("--start", value);
      o.startGiven = true;
    } else if (arg == "--batch") {
      o.batch = Number("--batch", value);
      if (o.batch == 0) Usage("--batch must be at least 1");
    } else if (arg == "--jobs") {
      const uint64_t jobs = Number("--jobs", value);
      if (jobs < 1 || jobs > kMaxJobs) Usage("--jobs takes 1 to " + std::to_string(kMaxJobs));
      o.jobs = static_cast<int>(jobs);
    } else if (arg == "--hang-seconds") {
      o.hangSeconds = static_cast<double>(Number("--hang-seconds", value));
    } else if (arg == "--seed") {
      o.replay = Number("--seed", value);
    } else {
      Usage("unknown argument " + arg);
    }
  }
  return o;
}

// The plug-in's entry that takes the threads of a call, when it has one.
tilvane::TilvaneEntryWithThreadsFunc gEntryWithThreads = nullptr;

// The plug-in, loaded for the whole run; exits with a hint where it cannot be.
PF_EntryPointFunc LoadPlugin(const std::string& path) {
  try {
    static const standin::PluginLibrary library(path);
    gEntryWithThreads = library.entryWithThreads();
    return library.entry();
  } catch (const standin::PluginLoadError& e) {
    if (e.kind() == standin::PluginLoadError::Kind::NoEntryPoint) {
      std::cerr << "tilvane_fuzz: " << path << " exports no EntryPointFunc; is it the plug-in?\n";
    } else {
      std::cerr << "tilvane_fuzz: cannot load the plug-in " << path << ": " << e.loaderText()
                << "\nBuild it first, or name it with --plugin FILE.\n";
    }
    std::exit(2);
  }
}

std::string ReplayCommand(const Options& o, uint64_t seed) {
  return "tilvane_fuzz --plugin " + o.plugin + " --seed " + std::to_string(seed);
}

// One call; its broken promises, or none.
std::vector<std::string> RunOne(PF_EntryPointFunc entry, uint64_t seed, PF_Err* result,
                                int64_t* injected) {
  static fuzz::Records records;
  const fuzz::Plan plan = fuzz::MakePlan(seed);
  fuzz::HostileHost host(plan, records);
  *result = host.Call(entry, gEntryWithThreads);
  *injected = host.InjectedFailures();
  return host.BrokenPromises();
}

void ReportFinding(const Options& o, uint64_t seed, const std::string& what) {
  std::ostringstream text;
  text << "tilvane_fuzz: FINDING at seed " << seed << ": " << what << "\n";
  fuzz::PrintPlan(fuzz::MakePlan(seed), text);
  text << "replay: " << ReplayCommand(o, seed) << "\n";
  std::cerr << text.str() << std::flush;
}

int Replay(const Options& o, PF_EntryPointFunc entry) {
  fuzz::PrintPlan(fuzz::MakePlan(*o.replay), std::cout);
  std::cout << std::flush;
  PF_Err result = 0;
  int64_t injected = 0;
  const auto broken = RunOne(entry, *o.replay, &result, &injected);
  std::cout << "result " << result << ", " << injected << " injected host failures\n";
  for (const std::string& b : broken) std::cout << "BROKEN: " << b << "\n";
  std::cout << (broken.empty() ? "every promise kept\n" : "");
  return broken.empty() ? 0 : 1;
}

// Runs calls [first, last) in this (child) process, in job slot `slot`;
// stops early at a deadline.
[[noreturn]] void RunBatch(const Options& o, PF_EntryPointFunc entry, Shared* shared, int slot,
                           uint64_t first, uint64_t last, Clock::time_point deadline, bool timed) {
  Slot& mine = shared->slots[slot];
  for (uint64_t seed = first; seed != last; ++seed) {
    if (timed && Clock::now() >= deadline) break;
    mine.current.store(seed);
    PF_Err result = 0;
    int64_t injected = 0;
    const auto broken = RunOne(entry, seed, &result, &injected);
    if (!broken.empty()) {
      std::string what = "result " + std::to_string(result);
      for (const std::string& b : broken) what += "; " + b;
      ReportFinding(o, seed, what);
      _exit(kFindingExit);
    }
    shared->injected.fetch_add(static_cast<uint64_t>(injected));
    shared->done.fetch_add(1);
    mine.done.fetch_add(1);
  }
  _exit(0);
}

struct Job {
  pid_t pid;
  int slot;
  uint64_t seen;  // the slot's calls when last looked at
  Clock::time_point lastProgress;
};

// Whether a finished batch found something; reports what the child could not.
bool Finding(const Options& o, int status, uint64_t seed) {
  if (WIFSIGNALED(status)) {
    ReportFinding(o, seed, std::string("the call crashed with ") + strsignal(WTERMSIG(status)));
    return true;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == kFindingExit) return true;  // reported
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ReportFinding(o, seed,
                  "the call ended the process with status " + std::to_string(WEXITSTATUS(status)) +
                      " (a sanitizer report above?)");
    return true;
  }
  return false;
}

// The parent's side of a run: keeps every job slot busy with the next batch
// of seeds, each in a forked child, and watches the children until the
// seeds or the time run out, or one finds something.
class Runner {
 public:
  Runner(const Options& o, PF_EntryPointFunc entry, Shared* shared, uint64_t start)
      : o_(o),
        entry_(entry),
        shared_(shared),
        began_(Clock::now()),
        lastReport_(began_),
        timed_(o.seconds > 0),
        deadline_(began_ + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(o.seconds))),
        nextSeed_(start),
        endSeed_(o.calls != 0 ? start + o.calls : start - 1),  // start - 1: no end
        slotBusy_(static_cast<size_t>(o.jobs), false) {}

  // True when a child found something.
  bool Run() {
    for (;;) {
      StartBatches();
      if (jobs_.empty()) return finding_;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ReportProgress();
      Watch();
      if (finding_) {
        for (const Job& job : jobs_) kill(job.pid, SIGKILL);
        for (const Job& job : jobs_) waitpid(job.pid, nullptr, 0);
        return true;
      }
    }
  }

  double Elapsed() const { return std::chrono::duration<double>(Clock::now() - began_).count(); }

 private:
  void StartBatches() {
    const bool more = nextSeed_ != endSeed_ && !(timed_ && Clock::now() >= deadline_);
    while (!finding_ && more && static_cast<int>(jobs_.size()) < o_.jobs) {
      const int slot = static_cast<int>(std::find(slotBusy_.begin(), slotBusy_.end(), false) -
                                        slotBusy_.begin());
      const uint64_t first = nextSeed_;
      const uint64_t last =
          endSeed_ - first < o_.batch && o_.calls != 0 ? endSeed_ : first + o_.batch;
      nextSeed_ = last;
      std::cout.flush();
      const pid_t child = fork();
      if (child < 0) {
        std::perror("tilvane_fuzz: fork");
        std::exit(2);
      }
      if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // no batch outlives an interrupted run
        RunBatch(o_, entry_, shared_, slot, first, last, deadline_, timed_);
      }
      slotBusy_[static_cast<size_t>(slot)] = true;
      jobs_.push_back(Job{child, slot, shared_->slots[slot].done.load(), Clock::now()});
      if (nextSeed_ == endSeed_) break;
    }
  }

  void ReportProgress() {
    if (Clock::now() - lastReport_ <= std::chrono::minutes(1)) return;
    lastReport_ = Clock::now();
    std::cout << "tilvane_fuzz: " << shared_->done.load() << " calls after "
              << static_cast<int64_t>(std::chrono::duration<double>(lastReport_ - began_).count())
              << " s" << std::endl;
  }

  // Reaps the children that ended; a batch that makes no progress for too
  // long hangs.
  void Watch() {
    for (auto job = jobs_.begin(); job != jobs_.end();) {
      Slot& slot = shared_->slots[job->slot];
      int status = 0;
      bool ended = waitpid(job->pid, &status, WNOHANG) == job->pid;
      if (ended) finding_ = Finding(o_, status, slot.current.load()) || finding_;
      if (!ended && slot.done.load() != job->seen) {
        job->seen = slot.done.load();
        job->lastProgress = Clock::now();
      } else if (!ended &&
                 Clock::now() - job->lastProgress > std::chrono::duration<double>(o_.hangSeconds)) {
        kill(job->pid, SIGKILL);
        waitpid(job->pid, &status, 0);
        ReportFinding(o_, slot.current.load(),
                      "no progress for " + std::to_string(o_.hangSeconds) + " s (a hang)");
        finding_ = ended = true;
      }
      if (!ended) {
        ++job;
        continue;
      }
      slotBusy_[static_cast<size_t>(job->slot)] = false;
      job = jobs_.erase(job);
    }
  }

  const Options& o_;
  PF_EntryPointFunc entry_;
  Shared* shared_;
  const Clock::time_point began_;
  Clock::time_point lastReport_;
  const bool timed_;
  const Clock::time_point deadline_;
  uint64_t nextSeed_;
  const uint64_t endSeed_;
  bool finding_ = false;
  std::vector<Job> jobs_;
  std::vector<bool> slotBusy_;
};

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  const PF_EntryPointFunc entry = LoadPlugin(o.plugin);
  if (o.replay) return Replay(o, entry);

  const uint64_t start = o.startGiven
                             ? o.start
                             : static_cast<uint64_t>(Clock::now().time_since_epoch().count()) ^
                                   (static_cast<uint64_t>(getpid()) << 32);
  std::cout << "tilvane_fuzz: " << o.plugin << ", seeds from " << start << ", " << o.jobs
            << (o.jobs == 1 ? " job" : " jobs") << std::endl;

  void* memory =
      mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    std::perror("tilvane_fuzz: shared memory");
    return 2;
  }
  auto* shared = new (memory) Shared{};
  Runner runner(o, entry, shared, start);
  const bool finding = runner.Run();

  const double elapsed = runner.Elapsed();
  const uint64_t calls = shared->done.load();
  std::cout << "tilvane_fuzz: " << calls << " calls in " << elapsed << " s ("
            << static_cast<uint64_t>(elapsed > 0 ? calls / elapsed : 0) << " a second), "
            << shared->injected.load() << " injected host failures, seeds from " << start << ": "
            << (finding ? "FINDING (see above)" : "no finding") << std::endl;
  return finding ? 1 : 0;
}
