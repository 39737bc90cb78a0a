#include "src/render/sharing_policy.h"

#include <time.h>

#include <algorithm>

namespace tilvane {

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

void SharingPolicy::QueueOpened(int64_t nowNs, int64_t laneCells) {
  queueOpenNs_ = nowNs;
  laneCellsAtOpen_ = laneCells;
  shareWindowNs_ = nowNs;
  shareWindowCpuNs_ = ThreadCpuNs();
}

void SharingPolicy::RecordPush(int64_t waitNs, int64_t laneCells, int64_t nowNs, TeamTally* tally) {
  RecordQueued(waitNs, laneCells > laneCellsAtOpen_, queueOpenNs_, nowNs, tally);
  if (shareWindowCpuNs_ >= 0 && nowNs - shareWindowNs_ >= kShareWindowNs) {
    const int64_t cpu = ThreadCpuNs();
    RecordCallerShare(cpu - shareWindowCpuNs_, nowNs - shareWindowNs_, nowNs, tally);
    shareWindowNs_ = nowNs;
    shareWindowCpuNs_ = cpu;
  }
}

void SharingPolicy::RecordDrain(int64_t waitNs, int64_t nowNs, TeamTally* tally) {
  // Members holding lanes have come: only the wait can be late.
  RecordQueued(waitNs, true, queueOpenNs_, nowNs, tally);
}

}  // namespace tilvane
