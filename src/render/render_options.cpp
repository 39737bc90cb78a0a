#include "src/render/render_options.h"

#include <cpuid.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

namespace tilvane {

namespace {

// The register state the system saves on a task switch (XCR0).
uint64_t SavedStateMask() {
  uint32_t low = 0;
  uint32_t high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (uint64_t{high} << 32) | low;
}

SimdPath DetectSimdPath() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return SimdPath::kSse2;
  const bool osSavesState = (ecx & bit_OSXSAVE) != 0;
  const bool avx = (ecx & bit_AVX) != 0;
  if (!osSavesState || !avx) return SimdPath::kSse2;
  const uint64_t saved = SavedStateMask();
  constexpr uint64_t kAvxState = 0x6;      // SSE and AVX registers
  constexpr uint64_t kAvx512State = 0xE6;  // and the opmask and upper ZMM registers
  if ((saved & kAvxState) != kAvxState) return SimdPath::kSse2;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return SimdPath::kSse2;
  if ((ebx & bit_AVX2) == 0) return SimdPath::kSse2;
  constexpr unsigned kAvx512Set = bit_AVX512F | bit_AVX512DQ | bit_AVX512BW | bit_AVX512VL;
  if ((ebx & kAvx512Set) == kAvx512Set && (saved & kAvx512State) == kAvx512State) {
    return SimdPath::kAvx512;
  }
  return SimdPath::kAvx2;
}

bool SameText(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    const char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
    if (x != *b) return false;
  }
  return *a == *b;
}

int CoreCount() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : (cores > kMaxRenderThreads ? kMaxRenderThreads : static_cast<int>(cores));
}

}  // namespace

SimdPath BestSimdPath() {
  // cpuid can trap to a hypervisor: ask once, on the first render.
  static const SimdPath best = DetectSimdPath();
  return best;
}

RenderOptions ParseRenderOptions(const char* simd, const char* threads, SimdPath best, int cores) {
  RenderOptions options{best, cores};
  if (simd != nullptr) {
    SimdPath wanted = best;
    for (int path = 0; path <= static_cast<int>(SimdPath::kAvx512); ++path) {
      if (SameText(simd, kSimdPathNames[path])) wanted = static_cast<SimdPath>(path);
    }
    options.simd = static_cast<int>(wanted) < static_cast<int>(best) ? wanted : best;
  }
  if (threads != nullptr) {
    const std::optional<int> asked = ParseThreadCount(threads);
    if (asked && *asked >= 1) options.threads = *asked;
  }
  return options;
}

RenderOptions ReadRenderOptions(int hostThreads) {
  RenderOptions options = ParseRenderOptions(
      std::getenv("TILVANE_SIMD"), std::getenv("TILVANE_THREADS"), BestSimdPath(), CoreCount());
  if (hostThreads > 0) options.threads = std::min(hostThreads, kMaxRenderThreads);
  const char* sharing = std::getenv("TILVANE_SHARING");
  options.alwaysShare = sharing != nullptr && SameText(sharing, "always");
  return options;
}

}  // namespace tilvane
