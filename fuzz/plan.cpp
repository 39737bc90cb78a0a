#include "fuzz/plan.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <limits>

#include "ledger/host_skeleton.h"
#include "src/params/params.h"

using tilvane::kColorMappingChoices;
using tilvane::kDisplacementEffectChoices;
using tilvane::kSeedMax;
using tilvane::kSeedMin;
using tilvane::kTimeMappingChoices;
using tilvane::kTransparencyMappingChoices;
using tilvane::kUnitsMax;
using tilvane::kUnitsMin;
using tilvane::PARAM_COUNT;

namespace fuzz {
namespace {

constexpr int32_t kIntExtremes[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX};
constexpr int32_t kTimes[] = {INT32_MIN, -1, 0, 1, INT32_MAX};
constexpr PF_Err kCodes[] = {
    1, PF_Err_OUT_OF_MEMORY, 512, 513, 514, 515, 516, 517, -1, INT32_MIN, INT32_MAX};
constexpr int kPageRows = 400;  // taller worlds use packed rows
// Upper bound of window pixels one render may walk; keeps every call short.
constexpr double kWalkBudget = 2e6;

int32_t AnyInt(Rng& rng) { return static_cast<int32_t>(static_cast<uint32_t>(rng.Next())); }

// Mostly inside the control's range, otherwise anything a host could send.
int32_t IntValue(Rng& rng, int32_t low, int32_t high) {
  switch (rng.Between(0, 9)) {
    case 0:
      return rng.Pick(kIntExtremes);
    case 1:
      return rng.OneIn(2) ? low - 1 : high + 1;
    case 2:
      return AnyInt(rng);
    default:
      return static_cast<int32_t>(rng.Between(low, high));
  }
}

double FloatValue(Rng& rng, double low, double high) {
  static const double kExtremes[] = {
      std::numeric_limits<double>::quiet_NaN(),
      -std::numeric_limits<double>::quiet_NaN(),
      std::numeric_limits<double>::infinity(),
      -std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::max(),
      -std::numeric_limits<double>::max(),
      1e308,
      -1e308,
      1e15,
      -1e15,
      std::numeric_limits<double>::denorm_min(),
      -std::numeric_limits<double>::denorm_min(),
      1e-310,
      std::numeric_limits<double>::min(),
      0.0,
      -0.0,
      2147483648.0,
      -2147483649.0,
  };
  switch (rng.Between(0, 9)) {
    case 0:
    case 1:
      return rng.Pick(kExtremes);
    case 2:
      return std::bit_cast<double>(rng.Next());
    case 3:
      return static_cast<double>(
          rng.Between(static_cast<int64_t>(low), static_cast<int64_t>(high)));
    default:
      return low + (high - low) * rng.Unit();
  }
}

int32_t PopupValue(Rng& rng, int32_t choices) {
  return rng.Between(0, 4) == 0 ? IntValue(rng, 1, choices)
                                : static_cast<int32_t>(rng.Between(1, choices));
}

PF_Pixel Color(Rng& rng) {
  const uint64_t bits = rng.Next();
  return PF_Pixel{static_cast<A_u_char>(bits), static_cast<A_u_char>(bits >> 8),
                  static_cast<A_u_char>(bits >> 16), static_cast<A_u_char>(bits >> 24)};
}

int32_t TimeValue(Rng& rng, int32_t low, int32_t high) {
  return rng.Between(0, 2) == 0 ? rng.Pick(kTimes) : static_cast<int32_t>(rng.Between(low, high));
}

// A width and height from the shapes edge cases live in.
void PickSize(Rng& rng, int32_t* w, int32_t* h) {
  const int32_t n = static_cast<int32_t>(rng.Between(2, 300));
  switch (rng.Between(0, 9)) {
    case 0:
      *w = *h = 1;
      break;
    case 1:
      *w = 1, *h = n;
      break;
    case 2:
      *w = n, *h = 1;
      break;
    case 3:  // odd both ways
      *w = static_cast<int32_t>(rng.Between(0, 50)) * 2 + 1;
      *h = static_cast<int32_t>(rng.Between(0, 50)) * 2 + 1;
      break;
    case 4:  // the tallest and widest, seldom: they take the most time
      if (!rng.OneIn(4)) {
        *w = static_cast<int32_t>(rng.Between(1, 64));
        *h = static_cast<int32_t>(rng.Between(1, 64));
      } else if (rng.OneIn(2)) {
        *w = 3, *h = 100000;
      } else {
        *w = 100000, *h = 3;
      }
      break;
    case 5:  // far taller than wide, or the reverse
      *w = static_cast<int32_t>(rng.Between(2, 4)),
      *h = static_cast<int32_t>(rng.Between(100, 600));
      if (rng.OneIn(2)) std::swap(*w, *h);
      break;
    default:
      *w = static_cast<int32_t>(rng.Between(1, 64));
      *h = static_cast<int32_t>(rng.Between(1, 64));
      break;
  }
}

WorldPlan World(Rng& rng, int pixelSize, bool mayBeAbsent) {
  WorldPlan w;
  const int64_t kind = rng.Between(0, 19);
  if (mayBeAbsent && kind == 0) return w;  // Absent
  PickSize(rng, &w.width, &w.height);
  if (kind == 1) {
    w.kind = WorldPlan::Kind::NullData;
  } else if (kind == 2) {
    w.kind = WorldPlan::Kind::NoExtent;
    const int32_t odd[] = {0, 0, -1, INT32_MIN};
    if (rng.OneIn(2)) w.width = rng.Pick(odd);
    if (w.width >= 1 || rng.OneIn(2)) w.height = rng.Pick(odd);
  } else {
    w.kind = WorldPlan::Kind::Pixels;
  }
  w.layout = w.height > kPageRows || rng.OneIn(3) ? RowLayout::Packed : RowLayout::GuardedRows;
  if (w.layout == RowLayout::Packed && !rng.OneIn(3)) {
    w.padding = static_cast<int32_t>(rng.Between(1, 5)) * pixelSize;
  }
  w.bottomUp = rng.OneIn(3);
  w.overfull = pixelSize == 8 && rng.OneIn(3);
  w.contentSeed = rng.Next();
  return w;
}

bool HasPixels(const WorldPlan& w) {
  return w.kind == WorldPlan::Kind::Pixels || w.kind == WorldPlan::Kind::NoExtent;
}

// Window pixels walked at most, with the grid the renderer derives, given
// that window rows and columns past the output's edge are walked once.
double WalkEstimate(const Plan& p) {
  const WorldPlan* icon = p.IconAt(p.currentTime);
  if (icon == nullptr || !HasPixels(*icon) || icon->width < 2 ||
      p.output.kind != WorldPlan::Kind::Pixels) {
    return 0;  // no grid, nothing drawn
  }
  const double units = std::clamp(p.units, kUnitsMin, kUnitsMax);
  if (units == 0) return 0;
  const double outW = p.output.width, outH = p.output.height;
  const double scale = std::abs((outW - 1) / ((icon->width - 1.0) * units));
  const double windowW = std::isfinite(scale) ? (icon->width - 1.0) * scale + 3 : 1e300;
  const double windowH = std::isfinite(scale) ? std::abs(icon->height - 1.0) * scale + 3 : 1e300;
  return units * units * std::min(windowW, outW + 1) * std::min(windowH, outH + 1);
}

}  // namespace

uint64_t Rng::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

int64_t Rng::Between(int64_t low, int64_t high) {
  const uint64_t span = static_cast<uint64_t>(high) - static_cast<uint64_t>(low) + 1;
  const uint64_t offset = span == 0 ? Next() : Next() % span;
  return static_cast<int64_t>(static_cast<uint64_t>(low) + offset);
}

double Rng::Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

const char* MissingName(Missing m) {
  static const char* const kNames[] = {
      "in_data",     "out_data",           "params",        "output",       "utils",
      "pica_basicP", "checkout_param",     "checkin_param", "add_param",    "progress",
      "fill",        "utils->ansi.strcpy", "AcquireSuite",  "ReleaseSuite", "ANSI sprintf",
      "ANSI strcpy", "PF_GetPixelFormat"};
  static_assert(std::size(kNames) == kMissingCount);
  return kNames[static_cast<int>(m)];
}

const WorldPlan* Plan::IconAt(int32_t time) const {
  if (iconFrames.empty()) return nullptr;
  const uint64_t mixed = static_cast<uint64_t>(static_cast<uint32_t>(time)) * 0x9E3779B97F4A7C15ull;
  return &iconFrames[(mixed >> 32) % iconFrames.size()];
}

namespace {

// Each part of a plan, drawn in this order from the one generator: a seed
// must keep giving the same plan.
void PickCommand(Rng& rng, Plan& p) {
  // Mostly renders; the rest any command, known or not.
  const int64_t command = rng.Between(0, 19);
  if (command < 14) {
    p.cmd = PF_Cmd_RENDER;
  } else if (command < 17) {
    const PF_Cmd known[] = {PF_Cmd_ABOUT, PF_Cmd_GLOBAL_SETUP, PF_Cmd_PARAMS_SETUP};
    p.cmd = rng.Pick(known);
  } else if (command < 19) {
    p.cmd = static_cast<PF_Cmd>(rng.Between(-3, 40));
  } else {
    p.cmd = rng.OneIn(2) ? rng.Pick(kIntExtremes) : AnyInt(rng);
  }

  const char* const simd[] = {"", "", "scalar", "sse2", "avx2", "avx512", "bogus"};
  const char* const threads[] = {"", "", "1", "2", "7", "64", "0", "-1", "100000", "many"};
  p.simd = rng.Pick(simd);
  p.threads = rng.Pick(threads);

  p.totalTime = TimeValue(rng, 2, 300);
  p.timeStep = TimeValue(rng, 1, 4);
  p.currentTime = TimeValue(rng, 0, 300);
  p.timeScale = static_cast<uint32_t>(TimeValue(rng, 1, 30));
}

void PickValues(Rng& rng, Plan& p) {
  p.units = IntValue(rng, kUnitsMin, rng.OneIn(4) ? kUnitsMax : 12);
  p.displacementEffect = PopupValue(rng, kDisplacementEffectChoices);
  p.effectIntensity = FloatValue(rng, 0, 200);
  p.rotationOffset = FloatValue(rng, 0, 360);
  p.scaleOffset = FloatValue(rng, -100, 100);
  p.timeOffset = FloatValue(rng, -100, 100);
  const int32_t checkbox[] = {0, 0, 1, 1, 2, -1, INT32_MIN, INT32_MAX};
  p.border = rng.Pick(checkbox);
  p.borderColor = Color(rng);
  p.colorA = Color(rng);
  p.colorB = Color(rng);
  p.timeMapping = PopupValue(rng, kTimeMappingChoices);
  p.colorMapping = PopupValue(rng, kColorMappingChoices);
  p.transparencyMapping = PopupValue(rng, kTransparencyMappingChoices);
  p.seedValue = IntValue(rng, kSeedMin, kSeedMax);
}

void PickWorlds(Rng& rng, Plan& p) {
  const PF_PixelFormat formats[] = {PF_PixelFormat_ARGB32,  PF_PixelFormat_ARGB32,
                                    PF_PixelFormat_ARGB64,  PF_PixelFormat_ARGB64,
                                    PF_PixelFormat_ARGB128, PF_PixelFormat_INVALID};
  p.pixelFormat = rng.OneIn(20) ? AnyInt(rng) : rng.Pick(formats);
  const int pixelSize = p.PixelSize();
  p.output = World(rng, pixelSize, false);
  if (p.output.kind != WorldPlan::Kind::Pixels && rng.Between(0, 9) < 8) {
    p.output.kind = WorldPlan::Kind::Pixels;
    PickSize(rng, &p.output.width, &p.output.height);
    if (p.output.height > kPageRows) p.output.layout = RowLayout::Packed;
  }
  p.displacement = World(rng, pixelSize, true);
  if (!rng.OneIn(10)) {
    for (int64_t n = rng.Between(1, 3); n > 0; --n)
      p.iconFrames.push_back(World(rng, pixelSize, true));
  }
  // Keep every call short: fewer units where the frame would take long.
  while (WalkEstimate(p) > kWalkBudget) p.units = std::clamp(p.units, kUnitsMin, kUnitsMax) / 2;
}

void PickFaults(Rng& rng, Plan& p) {
  // Faults, in about half the iterations.
  if (rng.OneIn(2)) {
    for (int64_t n = rng.Between(1, 3); n > 0; --n) {
      FailPlan& f = p.fail[static_cast<size_t>(rng.Between(0, kOpCount - 1))];
      f.code = rng.OneIn(4) ? AnyInt(rng) | 1 : rng.Pick(kCodes);
      if (rng.OneIn(2)) {
        f.mode = FailPlan::Mode::Random;
        const double probabilities[] = {0.001, 0.01, 0.1, 0.5, 1.0};
        f.probability = rng.Pick(probabilities);
      } else {
        f.mode = FailPlan::Mode::Nth;
        f.nth = rng.OneIn(2) ? rng.Between(1, 4) : rng.Between(1, 200);
      }
    }
  }
  const auto serve = [&rng](PF_Err* refusal) {
    const int64_t how = rng.Between(0, 29);
    *refusal = rng.OneIn(2) ? ledger::kSuiteNotFound : rng.Pick(kCodes);
    return how == 0   ? SuiteServe::Refused
           : how == 1 ? SuiteServe::NullWithNoError
                      : SuiteServe::Served;
  };
  p.worldSuite = serve(&p.worldRefusal);
  p.ansiSuite = serve(&p.ansiRefusal);
  if (rng.OneIn(6)) {
    for (int64_t n = rng.Between(1, 2); n > 0; --n) {
      if (rng.OneIn(4)) {
        p.missingParams |= 1u << rng.Between(0, PARAM_COUNT - 1);
      } else {
        p.missing[static_cast<size_t>(rng.Between(0, kMissingCount - 1))] = true;
      }
    }
  }
}

}  // namespace

Plan MakePlan(uint64_t seed) {
  Rng rng(seed);
  Plan p;
  p.seed = seed;
  PickCommand(rng, p);
  PickValues(rng, p);
  PickWorlds(rng, p);
  PickFaults(rng, p);
  // Drawn last, so that every other choice of a seed stays what it was.
  const int hostThreads[] = {Plan::kRealHost, Plan::kRealHost, 0, 1, 3, 64, 100000, -5, INT32_MIN};
  p.hostThreads = rng.Pick(hostThreads);
  return p;
}

namespace {

void PrintWorld(const char* name, const WorldPlan& w, std::ostream& out) {
  static const char* const kKinds[] = {"absent", "no pixel data", "pixel data without extent",
                                       "pixels"};
  out << "  " << name << ": " << kKinds[static_cast<int>(w.kind)];
  if (w.kind != WorldPlan::Kind::Absent) {
    out << " " << w.width << " x " << w.height << ", "
        << (w.layout == RowLayout::GuardedRows ? "every row between no-access pages"
                                               : "packed rows")
        << ", padding " << w.padding << ", " << (w.bottomUp ? "bottom-up" : "top-down")
        << (w.overfull ? ", 16-bit values above full scale" : "") << ", content " << w.contentSeed;
  }
  out << "\n";
}

const char* ServeName(SuiteServe s) {
  return s == SuiteServe::Served    ? "served"
         : s == SuiteServe::Refused ? "refused"
                                    : "0 with a null suite";
}

}  // namespace

void PrintPlan(const Plan& p, std::ostream& out) {
  out.precision(17);  // slider values exactly as handed over
  out << "seed " << p.seed << "\n  command " << p.cmd << "\n  TILVANE_SIMD "
      << (p.simd.empty() ? "(unset)" : p.simd) << ", TILVANE_THREADS "
      << (p.threads.empty() ? "(unset)" : p.threads) << ", host's threads "
      << (p.hostThreads == Plan::kRealHost ? "none (a real host)" : std::to_string(p.hostThreads))
      << "\n  time: current " << p.currentTime << ", step " << p.timeStep << ", total "
      << p.totalTime << ", scale " << p.timeScale << "\n  Units " << p.units
      << ", Displacement Effect " << p.displacementEffect << ", Effect Intensity "
      << p.effectIntensity << ", Rotation Offset " << p.rotationOffset << ", Scale Offset "
      << p.scaleOffset << ", Time Offset " << p.timeOffset << "\n  Border " << p.border
      << ", Time Mapping " << p.timeMapping << ", Color Mapping " << p.colorMapping
      << ", Transparency Mapping " << p.transparencyMapping << ", Seed " << p.seedValue
      << "\n  colours (a,r,g,b): border " << +p.borderColor.alpha << "," << +p.borderColor.red
      << "," << +p.borderColor.green << "," << +p.borderColor.blue << "  A " << +p.colorA.alpha
      << "," << +p.colorA.red << "," << +p.colorA.green << "," << +p.colorA.blue << "  B "
      << +p.colorB.alpha << "," << +p.colorB.red << "," << +p.colorB.green << "," << +p.colorB.blue
      << "\n  pixel format 0x" << std::hex << p.pixelFormat << std::dec << "\n";
  PrintWorld("output", p.output, out);
  PrintWorld("displacement layer", p.displacement, out);
  if (p.iconFrames.empty()) out << "  icon layer: absent\n";
  for (size_t i = 0; i < p.iconFrames.size(); ++i) {
    PrintWorld(("icon frame " + std::to_string(i)).c_str(), p.iconFrames[i], out);
  }
  out << "  PF World Suite 2: " << ServeName(p.worldSuite)
      << ", PF ANSI Suite 1: " << ServeName(p.ansiSuite) << "\n";
  for (int i = 0; i < kOpCount; ++i) {
    const FailPlan& f = p.fail[static_cast<size_t>(i)];
    if (f.mode == FailPlan::Mode::Random) {
      out << "  " << OpName(static_cast<Op>(i)) << " fails with " << f.code << " at random, p "
          << f.probability << "\n";
    } else if (f.mode == FailPlan::Mode::Nth) {
      out << "  " << OpName(static_cast<Op>(i)) << " fails with " << f.code << " at call " << f.nth
          << "\n";
    }
  }
  for (int i = 0; i < kMissingCount; ++i) {
    if (p.missing[static_cast<size_t>(i)])
      out << "  null: " << MissingName(static_cast<Missing>(i)) << "\n";
  }
  for (int i = 0; i < PARAM_COUNT; ++i) {
    if (p.missingParams & (1u << i)) out << "  null: params[" << i << "]\n";
  }
}

}  // namespace fuzz
