#include "src/render/row_team.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace tilvane {

namespace {

// How long an idle member watches for the next job before it sleeps: about
// the time between two small cells, so a busy render never sleeps.
constexpr int kIdleSpins = 4096;

inline void Relax() { __builtin_ia32_pause(); }

int64_t NowNs() { return SharingPolicy::NowNs(); }

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
  const int64_t drawing = NowNs();
  report.callerChunks = TakeChunks(generation);
  report.callerNs = NowNs() - drawing;
  // Only chunks other members are drawing are left: short waits, unless
  // the system has put one of them aside.
  for (int spin = 0; done_.load(std::memory_order_acquire) < chunks; ++spin) {
    if (spin < kIdleSpins) {
      Relax();
    } else {
      std::this_thread::yield();
    }
  }
  report.endNs = NowNs();
  report.totalNs = report.endNs - start;
  return report;
}

int64_t SharingPolicy::NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

SharingMemory& SharingMemory::Process() {
  static SharingMemory memory;
  return memory;
}

SharingPolicy::SharingPolicy(SharingMemory* memory, int64_t nowNs) : memory_(memory) {
  keepTeam_ = memory->keepTeam.load(std::memory_order_relaxed) != 0;
  keepShift_ = memory->keepShift.load(std::memory_order_relaxed);
  const int64_t until = memory->keepUntilNs.load(std::memory_order_relaxed);
  if (nowNs < until) {
    timing_ = false;
    phaseEndNs_ = until;
  }
}

SharingPolicy::~SharingPolicy() {
  memory_->keepTeam.store(keepTeam_ ? 1 : 0, std::memory_order_relaxed);
  memory_->keepShift.store(keepShift_, std::memory_order_relaxed);
  memory_->keepUntilNs.store(timing_ ? 0 : phaseEndNs_, std::memory_order_relaxed);
}

void SharingPolicy::Keep(bool team, int64_t nowNs, TeamTally* tally) {
  ++tally->rounds;
  if (!team) ++tally->aloneWins;
  if (keepShift_ >= 0 && team == keepTeam_) {
    if (keepShift_ < kMaxKeepShift) ++keepShift_;
  } else {
    keepShift_ = 0;
  }
  keepTeam_ = team;
  timing_ = false;
  stalled_ = false;
  paces_[0] = paces_[1] = Pace{};
  int64_t keepNs = (kRoundNs * 8) << keepShift_;
  if (!team && keepNs < lostNs_ * kLossFactor) keepNs = lostNs_ * kLossFactor;
  lostNs_ = 0;
  phaseEndNs_ = nowNs + keepNs;
}

void SharingPolicy::ChargeTeam(int64_t ns) {
  if (!timing_ && !keepTeam_) phaseEndNs_ += ns * kLossFactor;
}

bool SharingPolicy::ShareNext(int64_t nowNs, int64_t pixels, TeamTally* tally) {
  if (phaseEndNs_ < 0) {
    phaseEndNs_ = nowNs + kRoundNs;
  } else if (timing_) {
    Pace& pace = paces_[lastShared_ ? 0 : 1];
    pace.ns += nowNs - lastNs_;
    pace.pixels += lastPixels_;
  }
  if (timing_ && stalled_) {
    Keep(false, nowNs, tally);
  } else if (nowNs >= phaseEndNs_) {
    if (timing_) {
      const Pace& team = paces_[0];
      const Pace& alone = paces_[1];
      // What the team's cells would have taken alone, at the caller's pace.
      const double teamCellsAlone = alone.pixels > 0 ? static_cast<double>(alone.ns) *
                                                           static_cast<double>(team.pixels) /
                                                           static_cast<double>(alone.pixels)
                                                     : static_cast<double>(team.ns);
      const double lost = static_cast<double>(team.ns) - teamCellsAlone;
      if (lost > 0) lostNs_ += static_cast<int64_t>(lost);
      Keep(lost <= 0, nowNs, tally);
    } else {
      timing_ = true;
      phaseEndNs_ = nowNs + kRoundNs;
    }
  }
  lastNs_ = nowNs;
  lastPixels_ = pixels;
  // In a round, the team takes every other cell, starting where it last stopped.
  lastShared_ = timing_ ? !lastShared_ : keepTeam_;
  return lastShared_;
}

void SharingPolicy::Record(const RowTeam::Report& report, TeamTally* tally) {
  // A run the caller drew nothing of tells nothing of its own pace.
  if (report.callerChunks == 0) return;
  const int64_t aloneNs = report.callerNs * report.chunks / report.callerChunks;
  const int64_t waitNs = report.totalNs - report.callerNs;
  if (waitNs > aloneNs + kGraceNs) {
    ++tally->stalls;
    lostNs_ += waitNs;
    // Kept or timed, the team's way ends with the next cell.
    timing_ = true;
    stalled_ = true;
  }
}

}  // namespace tilvane
