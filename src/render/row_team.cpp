#include "src/render/row_team.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace tilvane {

namespace {

// How long an idle member watches for the next job before it sleeps: fifty
// times the host calls between two cells, so that it never sleeps while
// cells keep coming, yet gives its core back soon after they stop.
constexpr int64_t kIdleSpinNs = 100'000;
// How long the caller spins for the members' last chunks before it yields
// at each further look: a member on another core finishes within a chunk,
// and one waiting for the caller's own core needs it given up.
constexpr int64_t kJoinSpinNs = 20'000;

inline void Relax() { __builtin_ia32_pause(); }

int64_t NowNs() { return SharingPolicy::NowNs(); }

// Spins until ready() or for about `ns`, reading the clock now and then
// rather than at every look; returns ready().
template <typename Ready>
bool SpinUntil(int64_t ns, Ready ready) {
  constexpr int kLooksPerClockRead = 64;
  const int64_t end = NowNs() + ns;
  for (;;) {
    for (int look = 0; look < kLooksPerClockRead; ++look) {
      if (ready()) return true;
      Relax();
    }
    if (NowNs() >= end) return ready();
  }
}

uint32_t GenerationOf(uint64_t state) { return static_cast<uint32_t>(state >> 32); }
int ChunksOf(uint64_t state) { return static_cast<int>((state >> 16) & 0xFFFF); }
int NextOf(uint64_t state) { return static_cast<int>(state & 0xFFFF); }

}  // namespace

RowTeam::RowTeam(int members) {
  for (int member = 1; member < members; ++member) {
    starting_.fetch_add(1, std::memory_order_relaxed);
    try {
      workers_.emplace_back([this] { Serve(); });
    } catch (const std::exception&) {
      starting_.fetch_sub(1, std::memory_order_relaxed);
      break;  // no more threads: the team draws with those it has
    }
  }
}

RowTeam::~RowTeam() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_.store(true, std::memory_order_release);
    const uint32_t next = GenerationOf(state_.load(std::memory_order_relaxed)) + 1;
    state_.store(State(next, 0, 0), std::memory_order_release);
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

int RowTeam::TakeChunks(uint32_t generation) {
  int taken = 0;
  uint64_t state = state_.load(std::memory_order_acquire);
  while (GenerationOf(state) == generation && NextOf(state) < ChunksOf(state)) {
    if (!state_.compare_exchange_weak(state, state + 1, std::memory_order_acq_rel,
                                      std::memory_order_acquire)) {
      continue;
    }
    // The job stays in place until every chunk is done, this one included.
    job_(work_, NextOf(state));
    done_.fetch_add(1, std::memory_order_acq_rel);
    ++taken;
    state = state_.load(std::memory_order_acquire);
  }
  return taken;
}

void RowTeam::Serve() {
  starting_.fetch_sub(1, std::memory_order_relaxed);
  uint32_t seen = 0;
  for (;;) {
    uint64_t state = 0;
    const bool arrived = SpinUntil(kIdleSpinNs, [&] {
      state = state_.load(std::memory_order_acquire);
      return GenerationOf(state) != seen;
    });
    if (!arrived) {
      std::unique_lock<std::mutex> lock(mutex_);
      ++sleepers_;
      wake_.wait(lock, [&] {
        state = state_.load(std::memory_order_seq_cst);
        return GenerationOf(state) != seen;
      });
      --sleepers_;
    }
    if (stopping_.load(std::memory_order_acquire)) return;
    seen = GenerationOf(state);
    TakeChunks(seen);
  }
}

RowTeam::Report RowTeam::Run(Job job, const void* work, int chunks) {
  if (chunks < 0 || chunks > kMaxChunks) {
    // A caller's bug, never input: drawing fewer rows than asked would hide it.
    std::fprintf(stderr, "tilvane: RowTeam::Run given %d chunks; a job has 0 to %d\n", chunks,
                 kMaxChunks);
    std::abort();
  }
  Report report;
  report.chunks = chunks;
  const int64_t start = NowNs();
  if (workers_.empty() || chunks <= 1) {
    for (int c = 0; c < chunks; ++c) job(work, c);
    report.callerChunks = chunks;
    report.endNs = NowNs();
    report.totalNs = report.callerNs = report.endNs - start;
    return report;
  }
  const uint32_t generation = Publish(job, work, chunks, &report.membersAsleep);
  const int64_t drawing = NowNs();
  report.callerChunks = TakeChunks(generation);
  report.callerNs = NowNs() - drawing;
  // Only chunks other members are drawing are left: short waits, unless
  // the system has put one of them aside.
  AwaitDone(chunks);
  report.endNs = NowNs();
  report.totalNs = report.endNs - start;
  return report;
}

uint32_t RowTeam::Publish(Job job, const void* work, int chunks, bool* membersAsleep) {
  job_ = job;
  work_ = work;
  done_.store(0, std::memory_order_relaxed);
  const uint32_t generation = GenerationOf(state_.load(std::memory_order_relaxed)) + 1;
  // Sequentially consistent with the sleepers' count: a member that goes to
  // sleep counts itself before its last look at the state, so either it sees
  // this job or it is counted here and woken.
  state_.store(State(generation, chunks, 0), std::memory_order_seq_cst);
  if (sleepers_.load(std::memory_order_seq_cst) > 0) {
    *membersAsleep = true;
    std::lock_guard<std::mutex> lock(mutex_);
    wake_.notify_all();
  }
  if (starting_.load(std::memory_order_relaxed) > 0) *membersAsleep = true;
  return generation;
}

void RowTeam::AwaitDone(int chunks) {
  const auto allDone = [&] { return done_.load(std::memory_order_acquire) >= chunks; };
  if (!SpinUntil(kJoinSpinNs, allDone)) {
    while (!allDone()) std::this_thread::yield();
  }
}

bool RowTeam::Begin(Job job, const void* work, int chunks) {
  if (workers_.empty() || chunks < 1 || chunks > kMaxChunks) {
    // A caller's bug, never input: such a job would never be drawn.
    std::fprintf(stderr, "tilvane: RowTeam::Begin given %d chunks on a team of %d\n", chunks,
                 size());
    std::abort();
  }
  bool membersAsleep = false;
  begun_ = Publish(job, work, chunks, &membersAsleep);
  begunChunks_ = chunks;
  return membersAsleep;
}

int RowTeam::Finish() {
  const int taken = TakeChunks(begun_);
  AwaitDone(begunChunks_);
  return taken;
}

int64_t SharingPolicy::NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t SharingPolicy::ThreadCpuNs() {
#if defined(_WIN32)
  // The thread times Windows keeps advance by whole scheduler ticks (15.6 ms).
  return -1;
#else
  timespec t{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) != 0) return -1;
  return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
#endif
}

SharingMemory& SharingMemory::Process() {
  static SharingMemory memory;
  return memory;
}

void SharingPolicy::Late(int64_t lostNs, int64_t nowNs, TeamTally* tally) {
  ++tally->lateJoins;
  tally->lateNs += lostNs;
  memory_->onTimeRuns.store(0, std::memory_order_relaxed);
  const int shift = memory_->lateShift.load(std::memory_order_relaxed);
  memory_->lateShift.store(std::min(shift + 1, kMaxLateShift), std::memory_order_relaxed);
  const int64_t until = nowNs + std::max(lostNs * kLossFactor, kMinAloneNs << shift);
  // The latest verdict stands; renders at once may write over each other.
  if (until > memory_->aloneUntilNs.load(std::memory_order_relaxed)) {
    memory_->aloneUntilNs.store(until, std::memory_order_relaxed);
  }
}

void SharingPolicy::OnTime() {
  if (memory_->onTimeRuns.fetch_add(1, std::memory_order_relaxed) + 1 >= kForgivingRuns) {
    memory_->lateShift.store(0, std::memory_order_relaxed);
  }
}

void SharingPolicy::Record(const RowTeam::Report& report, int64_t pixels, TeamTally* tally) {
  if (report.chunks <= 0) return;
  const int64_t waitNs = report.totalNs - report.callerNs;
  if (report.callerChunks == report.chunks) {
    // Awake members that drew nothing wait for a core. Woken or starting
    // ones may come only after many small cells, a thread's start or a
    // virtual CPU's wake-up taking up to several tenths of a millisecond, and
    // cost only the wake-up meanwhile: late when they have not come within
    // kWakeNs.
    if (!report.membersAsleep) {
      Late(waitNs, report.endNs, tally);
    } else if (asleepSinceNs_ < 0) {
      asleepSinceNs_ = report.endNs - report.totalNs;
    } else if (report.endNs - asleepSinceNs_ > kWakeNs) {
      asleepSinceNs_ = -1;
      Late(waitNs, report.endNs, tally);
    }
    return;
  }
  asleepSinceNs_ = -1;
  const int64_t chunkPixels = std::max<int64_t>(pixels / report.chunks, 1);
  if (report.callerChunks > 0) {
    const int64_t pace = report.callerNs * kPacePixels / (report.callerChunks * chunkPixels);
    paceNs_ = std::min(paceNs_, pace);
  }
  // The first run of a render the caller drew nothing of tells nothing.
  if (paceNs_ == kNoPace) return;
  const int64_t chunkNs = paceNs_ * chunkPixels / kPacePixels;
  if (waitNs > kLateChunks * chunkNs + kGraceNs) {
    Late(waitNs, report.endNs, tally);
  } else {
    OnTime();
  }
}

void SharingPolicy::RecordQueued(int64_t waitNs, bool membersDrew, int64_t openNs, int64_t nowNs,
                                 TeamTally* tally) {
  if (waitNs > kQueueWaitNs) {
    Late(waitNs, nowNs, tally);
  } else if (!membersDrew) {
    // The caller copied icons for nobody: the copies are what it lost.
    if (nowNs - openNs > kWakeNs) Late(0, nowNs, tally);
  }
}

void SharingPolicy::RecordCallerShare(int64_t cpuNs, int64_t wallNs, int64_t nowNs,
                                      TeamTally* tally) {
  if (static_cast<double>(cpuNs) < kMinCallerShare * static_cast<double>(wallNs)) {
    Late(wallNs - cpuNs, nowNs, tally);
  } else {
    OnTime();
  }
}

void SharingPolicy::RecordStop(int64_t ns, int64_t nowNs, TeamTally* tally) {
  if (ns > kStopGraceNs) Late(ns, nowNs, tally);
}

}  // namespace tilvane
