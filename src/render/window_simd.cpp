// One body of the vector window walk (window_simd.inl), compiled once for
// each instruction set with the target set for that region alone, so the
// library runs on any x86-64 CPU and uses what the CPU has.
#include "src/render/window_simd.h"

#include <immintrin.h>

#include <cstddef>
#include <cstring>

#include "src/params/params.h"
#include "src/render/pixel_traits.h"

#pragma GCC push_options
#pragma GCC target("sse2")
#define TILVANE_SIMD_NAMESPACE sse2
#define TILVANE_SIMD_PATH SimdPath::kSse2
#define TILVANE_SIMD_LANES 2
#include "src/render/window_simd.inl"
#undef TILVANE_SIMD_NAMESPACE
#undef TILVANE_SIMD_PATH
#undef TILVANE_SIMD_LANES
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2")
#define TILVANE_SIMD_NAMESPACE avx2
#define TILVANE_SIMD_PATH SimdPath::kAvx2
#define TILVANE_SIMD_LANES 4
#include "src/render/window_simd.inl"
#undef TILVANE_SIMD_NAMESPACE
#undef TILVANE_SIMD_PATH
#undef TILVANE_SIMD_LANES
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512bw,avx512vl")
#define TILVANE_SIMD_NAMESPACE avx512
#define TILVANE_SIMD_PATH SimdPath::kAvx512
#define TILVANE_SIMD_LANES 8
#include "src/render/window_simd.inl"
#undef TILVANE_SIMD_NAMESPACE
#undef TILVANE_SIMD_PATH
#undef TILVANE_SIMD_LANES
#pragma GCC pop_options

namespace tilvane {

template <typename Pixel>
RowDrawer<Pixel> RowDrawerFor(SimdPath path) {
  switch (path) {
    case SimdPath::kSse2:
      return sse2::Drawer<Pixel>();
    case SimdPath::kAvx2:
      return avx2::Drawer<Pixel>();
    case SimdPath::kAvx512:
      return avx512::Drawer<Pixel>();
    default:
      return {SimdPath::kScalar, &DrawWindowRows<Pixel>};
  }
}

template RowDrawer<PF_Pixel> RowDrawerFor<PF_Pixel>(SimdPath);
template RowDrawer<PF_Pixel16> RowDrawerFor<PF_Pixel16>(SimdPath);

}  // namespace tilvane
