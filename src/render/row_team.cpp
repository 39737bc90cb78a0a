#include "src/render/row_team.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "src/render/spin.h"

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

}  // namespace tilvane
