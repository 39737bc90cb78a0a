#include "tools/tilvane/job/threads.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "src/render/render_options.h"
#include "tools/tilvane/core/errors.h"

namespace tilvane_tool {

int DefaultFrameThreads() {
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

int FramesAtOnce(int threads, size_t frames) {
  return static_cast<int>(std::clamp<int64_t>(threads, 1, static_cast<int64_t>(frames)));
}

void FixThreadsPerFrame(int framesAtOnce) {
  if (const char* given = std::getenv("TILVANE_THREADS")) {
    // The plug-in ignores what it cannot read; the user meant something by it.
    const std::string text = given;
    long n = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n < 0) {
      throw UsageError("TILVANE_THREADS " + Quoted(text) +
                       " is not valid; give the threads of each frame as a whole number from 1 "
                       "to " +
                       std::to_string(tilvane::kMaxRenderThreads) +
                       " (0: one per core), or unset it");
    }
    return;
  }
  const int perFrame = std::max(1, DefaultFrameThreads() / std::max(1, framesAtOnce));
  setenv("TILVANE_THREADS", std::to_string(perFrame).c_str(), 1);
}

std::string PathAndThreads() {
  const tilvane::RenderOptions options = tilvane::ReadRenderOptions();
  const tilvane::SimdPath best = tilvane::BestSimdPath();
  std::string text = std::string(tilvane::SimdPathName(options.simd)) + " path";
  if (options.simd != best) {
    text += std::string(" (TILVANE_SIMD; this CPU offers ") + tilvane::SimdPathName(best) + ")";
  }
  return text + ", " + std::to_string(options.threads) + " thread" +
         (options.threads == 1 ? "" : "s") + " per frame";
}

}  // namespace tilvane_tool
