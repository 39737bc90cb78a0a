// Shared set-up for the render tests: tiny layer frames, a host with the
// effect's parameters registered, and readers of what the host logged.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "src/params/params.h"
#include "src/render/render_options.h"
#include "standin/host.h"
#include "tests/support/plugin_fixture.h"

namespace tilvane_test {

using enum tilvane::ColorMapping;
using enum tilvane::DisplacementEffect;
using enum tilvane::ParamIndex;
using enum tilvane::TimeMapping;
using enum tilvane::TransparencyMapping;

// Whether this CPU has the path TILVANE_SIMD names ("scalar", "sse2",
// "avx2", "avx512"). A test must not ask for one it lacks: the plug-in would
// quietly draw with another, so such a test is skipped by the path's name.
inline bool CpuHas(const char* simd) {
  const tilvane::SimdPath asked =
      tilvane::ParseRenderOptions(simd, nullptr, tilvane::SimdPath::kAvx512, 1).simd;
  return static_cast<int>(asked) <= static_cast<int>(tilvane::BestSimdPath());
}

// One pixel, channels in the host's order, at either depth.
struct Argb {
  int64_t a = 0, r = 0, g = 0, b = 0;
  bool operator==(const Argb&) const = default;
};
inline void PrintTo(const Argb& p, std::ostream* os) {
  *os << "(a " << p.a << ", r " << p.r << ", g " << p.g << ", b " << p.b << ")";
}
inline constexpr Argb kTransparent{0, 0, 0, 0};

inline Argb At(const standin::World& w, int x, int y) {
  if (w.depth() == 16) {
    const PF_Pixel16& p = w.at16(x, y);
    return {p.alpha, p.red, p.green, p.blue};
  }
  const PF_Pixel& p = w.at8(x, y);
  return {p.alpha, p.red, p.green, p.blue};
}

inline void Set(standin::World& w, int x, int y, const Argb& p) {
  if (w.depth() == 16) {
    w.at16(x, y) = PF_Pixel16{static_cast<A_u_short>(p.a), static_cast<A_u_short>(p.r),
                              static_cast<A_u_short>(p.g), static_cast<A_u_short>(p.b)};
  } else {
    w.at8(x, y) = PF_Pixel{static_cast<A_u_char>(p.a), static_cast<A_u_char>(p.r),
                           static_cast<A_u_char>(p.g), static_cast<A_u_char>(p.b)};
  }
}

using PixelFn = std::function<Argb(int x, int y)>;

inline std::shared_ptr<standin::World> MakeFrame(int w, int h, int depth, const PixelFn& pixel,
                                                 int32_t padding = 0, bool bottomUp = false) {
  auto frame = std::make_shared<standin::World>(w, h, depth, padding, bottomUp);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) Set(*frame, x, y, pixel(x, y));
  }
  return frame;
}

inline std::shared_ptr<standin::World> Solid(int w, int h, int depth, const Argb& p) {
  return MakeFrame(w, h, depth, [p](int, int) { return p; });
}

// An output whose every pixel starts as a marker, so untouched pixels show.
inline standin::World MakeOutput(int w, int h, int depth, const Argb& marker = {9, 9, 9, 9}) {
  standin::World out(w, h, depth);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) Set(out, x, y, marker);
  }
  return out;
}

// A host on the plug-in with every parameter registered at its default. The
// icon is drawn unturned and at its own size unless a test asks otherwise.
inline std::unique_ptr<standin::Host> RenderHost() {
  auto host = MakeHost();
  EXPECT_EQ(host->paramsSetup(), PF_Err_NONE);
  host->setInt(PARAM_DISPLACEMENT_EFFECT, DISPLACEMENT_NONE);
  host->clearLog();  // the log starts with the render
  return host;
}

// A layer that answers its check-outs in order: the first (the set-up one at
// the current time) with `setup`, then cell n in row-major order with cell(n).
inline standin::FrameSourcePtr ByCheckout(standin::WorldPtr setup,
                                          std::function<standin::WorldPtr(int cell)> cell) {
  auto served = std::make_shared<int>(0);
  return standin::FunctionSource(
      [setup, cell, served](const standin::LayerRequest&) -> standin::WorldPtr {
        const int n = (*served)++;
        return n == 0 ? setup : cell(n - 1);
      });
}

// The icon at set-up and in the listed cells only; the other cells get none.
inline standin::FrameSourcePtr OnlyInCells(standin::WorldPtr icon, std::set<int> cells) {
  return ByCheckout(icon, [icon, cells](int n) { return cells.count(n) ? icon : nullptr; });
}

inline std::vector<int64_t> IconCheckoutTimes(const standin::Host& host) {
  std::vector<int64_t> times;
  for (const standin::Call& c : host.callsOf(standin::Op::CheckoutParam)) {
    if (c.a == PARAM_ICON_LAYER) times.push_back(c.b);
  }
  return times;
}

// The icon check-out times of the cells, after the set-up one.
inline std::vector<int64_t> CellIconTimes(const standin::Host& host) {
  std::vector<int64_t> times = IconCheckoutTimes(host);
  if (!times.empty()) times.erase(times.begin());
  return times;
}

using Report = std::pair<int64_t, int64_t>;
inline std::vector<Report> ProgressReports(const standin::Host& host) {
  std::vector<Report> reports;
  for (const standin::Call& c : host.callsOf(standin::Op::Progress)) reports.emplace_back(c.a, c.b);
  return reports;
}

// (0 of 100), then (row of units) after each row, then (100 of 100).
inline std::vector<Report> ExpectedProgress(int units) {
  std::vector<Report> reports{{0, 100}};
  for (int row = 0; row < units; ++row) reports.emplace_back(row, units);
  reports.emplace_back(100, 100);
  return reports;
}

// Every promise of the plug-in's after its last command, judged as the
// fuzzer judges them: every suite released, every layer checked back in, no
// misuse of the host, the first host error returned, and the rest.
inline void ExpectBalanced(const standin::Host& host) {
  const ledger::Verdict verdict = host.promisesKept();
  EXPECT_TRUE(verdict) << verdict.Text();
}

// Compares every pixel and names the first few that differ.
inline void ExpectFrame(const standin::World& out, const PixelFn& expected) {
  int wrong = 0;
  std::ostringstream report;
  for (int y = 0; y < out.height(); ++y) {
    for (int x = 0; x < out.width(); ++x) {
      const Argb want = expected(x, y);
      const Argb got = At(out, x, y);
      if (got == want) continue;
      if (++wrong <= 8) {
        report << "\n  (" << x << ", " << y << "): got ";
        PrintTo(got, &report);
        report << ", want ";
        PrintTo(want, &report);
      }
    }
  }
  EXPECT_EQ(wrong, 0) << "pixels differ:" << report.str();
}

inline void ExpectTransparentBlack(const standin::World& out) {
  ExpectFrame(out, [](int, int) { return kTransparent; });
}

}  // namespace tilvane_test
