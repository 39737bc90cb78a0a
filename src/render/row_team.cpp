#include "src/render/row_team.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace tilvane {

namespace {

// How long an idle member watches for the next job before it sleeps: about
// the time between two small cells, so a busy render never sleeps.
constexpr int kIdleSpins = 4096;

inline void Relax() { __builtin_ia32_pause(); }

uint32_t GenerationOf(uint64_t state) { return static_cast<uint32_t>(state >> 32); }
int ChunksOf(uint64_t state) { return static_cast<int>((state >> 16) & 0xFFFF); }
int NextOf(uint64_t state) { return static_cast<int>(state & 0xFFFF); }

}  // namespace

RowTeam::RowTeam(int members) {
  for (int member = 1; member < members; ++member) {
    try {
      workers_.emplace_back([this] { Serve(); });
    } catch (const std::exception&) {
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

void RowTeam::TakeChunks(uint32_t generation) {
  uint64_t state = state_.load(std::memory_order_acquire);
  while (GenerationOf(state) == generation && NextOf(state) < ChunksOf(state)) {
    if (!state_.compare_exchange_weak(state, state + 1, std::memory_order_acq_rel,
                                      std::memory_order_acquire)) {
      continue;
    }
    // The job stays in place until every chunk is done, this one included.
    job_(work_, NextOf(state));
    done_.fetch_add(1, std::memory_order_acq_rel);
    state = state_.load(std::memory_order_acquire);
  }
}

void RowTeam::Serve() {
  uint32_t seen = 0;
  for (;;) {
    uint64_t state = state_.load(std::memory_order_acquire);
    for (int spin = 0; GenerationOf(state) == seen && spin < kIdleSpins; ++spin) {
      Relax();
      state = state_.load(std::memory_order_acquire);
    }
    if (GenerationOf(state) == seen) {
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

bool RowTeam::Run(Job job, const void* work, int chunks) {
  if (chunks < 0 || chunks > kMaxChunks) {
    // A caller's bug, never input: drawing fewer rows than asked would hide it.
    std::fprintf(stderr, "tilvane: RowTeam::Run given %d chunks; a job has 0 to %d\n", chunks,
                 kMaxChunks);
    std::abort();
  }
  if (workers_.empty() || chunks <= 1) {
    for (int c = 0; c < chunks; ++c) job(work, c);
    return true;
  }
  job_ = job;
  work_ = work;
  done_.store(0, std::memory_order_relaxed);
  const uint32_t generation = GenerationOf(state_.load(std::memory_order_relaxed)) + 1;
  // Sequentially consistent with the sleepers' count: a member that goes to
  // sleep counts itself before its last look at the state, so either it sees
  // this job or it is counted here and woken.
  state_.store(State(generation, chunks, 0), std::memory_order_seq_cst);
  if (sleepers_.load(std::memory_order_seq_cst) > 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_.notify_all();
  }
  TakeChunks(generation);
  // Only chunks other members are drawing are left: short waits, unless
  // the system has put one of them aside.
  bool prompt = true;
  for (int spin = 0; done_.load(std::memory_order_acquire) < chunks; ++spin) {
    if (spin < kIdleSpins) {
      Relax();
    } else {
      prompt = false;
      std::this_thread::yield();
    }
  }
  return prompt;
}

}  // namespace tilvane
