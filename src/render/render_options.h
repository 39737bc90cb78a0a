// How a render runs, as opposed to what it draws: the vector instruction set
// and the number of threads. Neither changes a single output bit; both can be
// overridden from the environment for tests and support, and are read afresh
// at every render.
#pragma once

#include "src/render/thread_count.h"

namespace tilvane {

enum class SimdPath : int { kScalar = 0, kSse2 = 1, kAvx2 = 2, kAvx512 = 3 };

// Each path's name, as TILVANE_SIMD spells it and reports print it.
inline constexpr const char* kSimdPathNames[] = {"scalar", "sse2", "avx2", "avx512"};
constexpr const char* SimdPathName(SimdPath path) { return kSimdPathNames[static_cast<int>(path)]; }

struct RenderOptions {
  SimdPath simd;
  int threads;  // 1 to kMaxRenderThreads, the calling thread included
  // The team shares every cell large enough, without timing itself against
  // the calling thread alone: for tests and support, never the default.
  bool alwaysShare = false;
};

// The best path this CPU and its operating system support (AVX state saved
// by the system included). Detected once, on first use.
SimdPath BestSimdPath();

// TILVANE_SIMD=scalar|sse2|avx2|avx512 asks for a path; one the CPU lacks
// falls back to the best it has, and anything else means the best.
// TILVANE_THREADS asks for threads as ParseThreadCount reads it; unset, 0 or
// unreadable means one per core, at most kMaxRenderThreads.
// TILVANE_SHARING=always sets alwaysShare; anything else leaves it unset.
// `hostThreads`, when above 0, are the threads the stand-in host fixed for
// this render (TilvaneEntryWithThreads): they take the place of
// TILVANE_THREADS, capped to kMaxRenderThreads.
RenderOptions ReadRenderOptions(int hostThreads = 0);

// The same decisions from given texts (null for unset), for the tests.
RenderOptions ParseRenderOptions(const char* simd, const char* threads, SimdPath best, int cores);

}  // namespace tilvane
