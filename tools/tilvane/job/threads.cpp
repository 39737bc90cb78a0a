#include "tools/tilvane/job/threads.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <thread>

#include "src/render/render_options.h"
#include "src/render/thread_count.h"
#include "tools/tilvane/core/errors.h"

namespace tilvane_tool {

int DefaultFrameThreads() {
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

int FramesAtOnce(int threads, size_t frames) {
  return static_cast<int>(std::clamp<int64_t>(threads, 1, static_cast<int64_t>(frames)));
}

int ThreadsPerFrame(int framesAtOnce) {
  if (const char* given = std::getenv("TILVANE_THREADS")) {
    const std::optional<int> asked = tilvane::ParseThreadCount(given);
    // The plug-in would ignore what it cannot read; the user meant something by it.
    if (!asked) {
      throw UsageError("TILVANE_THREADS " + Quoted(given) +
                       " is not valid; give the threads of each frame as a whole number from 1 "
                       "to " +
                       std::to_string(tilvane::kMaxRenderThreads) +
                       " (0: one per core), or unset it");
    }
    if (*asked > 0) return *asked;
    return std::min(DefaultFrameThreads(), tilvane::kMaxRenderThreads);
  }
  return std::max(1, DefaultFrameThreads() / std::max(1, framesAtOnce));
}

std::string PathAndThreads(int threadsPerFrame) {
  const tilvane::RenderOptions options = tilvane::ReadRenderOptions(threadsPerFrame);
  const tilvane::SimdPath best = tilvane::BestSimdPath();
  std::string text = std::string(tilvane::SimdPathName(options.simd)) + " path";
  if (options.simd != best) {
    text += std::string(" (TILVANE_SIMD; this CPU offers ") + tilvane::SimdPathName(best) + ")";
  }
  return text + ", " + std::to_string(options.threads) + " thread" +
         (options.threads == 1 ? "" : "s") + " per frame";
}

}  // namespace tilvane_tool
