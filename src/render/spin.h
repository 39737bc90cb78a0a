// Waiting without sleeping, for the render's threads: the team's joins and
// the queue's lanes are held for microseconds, far less than a sleep in the
// system costs, so a waiting thread spins, relaxing its core between looks.
#pragma once

#include <chrono>
#include <cstdint>

namespace tilvane {

// One look's pause: it lets a hyper-thread sharing the core run, and spares
// the memory order machine a flush when the awaited word changes.
inline void Relax() { __builtin_ia32_pause(); }

// The steady clock, in nanoseconds, that the team and the queue time by.
inline int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

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

}  // namespace tilvane
