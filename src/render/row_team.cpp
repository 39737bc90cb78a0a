#include "src/render/row_team.h"

#include <exception>

namespace tilvane {

namespace {

// How long a member spins for the next job before it sleeps; about the time
// of one small cell's drawing.
constexpr int kSpins = 1 << 14;

inline void Relax() { __builtin_ia32_pause(); }

}  // namespace

RowTeam::RowTeam(int members) {
  for (int member = 1; member < members; ++member) {
    try {
      workers_.emplace_back([this, member] { Serve(member); });
    } catch (const std::exception&) {
      break;  // no more threads: the team draws with those it has
    }
  }
}

RowTeam::~RowTeam() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_.store(true, std::memory_order_release);
    generation_.fetch_add(1, std::memory_order_release);
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void RowTeam::WaitForWork(uint64_t seen) {
  for (int spin = 0; spin < kSpins; ++spin) {
    if (generation_.load(std::memory_order_acquire) != seen) return;
    Relax();
  }
  std::unique_lock<std::mutex> lock(mutex_);
  ++sleepers_;
  wake_.wait(lock, [&] { return generation_.load(std::memory_order_acquire) != seen; });
  --sleepers_;
}

void RowTeam::Serve(int member) {
  uint64_t seen = 0;
  for (;;) {
    WaitForWork(seen);
    seen = generation_.load(std::memory_order_acquire);
    if (stopping_.load(std::memory_order_acquire)) return;
    job_(work_, member, size());
    if (unfinished_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      std::lock_guard<std::mutex> lock(mutex_);
      done_.notify_one();
    }
  }
}

void RowTeam::Run(Job job, const void* work) {
  if (workers_.empty()) {
    job(work, 0, 1);
    return;
  }
  // Every member takes part, so none can still be reading the job when the
  // next one is published.
  job_ = job;
  work_ = work;
  unfinished_.store(static_cast<int>(workers_.size()), std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    generation_.fetch_add(1, std::memory_order_release);
    if (sleepers_ > 0) wake_.notify_all();
  }
  job(work, 0, size());
  for (int spin = 0; spin < kSpins; ++spin) {
    if (unfinished_.load(std::memory_order_acquire) == 0) return;
    Relax();
  }
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return unfinished_.load(std::memory_order_acquire) == 0; });
}

}  // namespace tilvane
