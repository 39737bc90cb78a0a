// One fuzzer iteration, drawn from one 64-bit seed: the command, every
// record and value the host hands over, the layers, and which host calls
// fail. The same seed always gives the same plan, so a finding replays.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/guarded.h"
#include "ledger/ledger.h"
#include "src/host/host_api.h"

namespace fuzz {

// SplitMix64: small, fast and good enough to pick plans.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  int64_t Between(int64_t low, int64_t high);  // both included
  bool OneIn(int n) { return Between(1, n) == 1; }
  double Unit();  // [0, 1)
  template <typename T, size_t N>
  T Pick(const T (&choices)[N]) {
    return choices[Between(0, static_cast<int64_t>(N) - 1)];
  }

 private:
  uint64_t state_;
};

// The host calls the plug-in can make, for failure injection and the log.
using ledger::kOpCount;
using ledger::Op;
using ledger::OpName;

// How one kind of host call fails: never, with a probability per call, or
// exactly at its k-th call.
struct FailPlan {
  enum class Mode { Never, Random, Nth } mode = Mode::Never;
  double probability = 0;
  int64_t nth = 0;
  PF_Err code = 0;
};

// Records and members the host may hand over as null.
enum class Missing {
  InData,
  OutData,
  ParamArray,
  Output,
  Utils,
  BasicSuite,
  CheckoutParam,
  CheckinParam,
  AddParam,
  Progress,
  Fill,
  UtilsStrcpy,
  BasicAcquire,
  BasicRelease,
  AnsiSprintf,
  AnsiStrcpy,
  WorldGetPixelFormat,
  kCount
};
inline constexpr int kMissingCount = static_cast<int>(Missing::kCount);
const char* MissingName(Missing m);

// How the host answers a request for one of the two suites it knows.
enum class SuiteServe { Served, Refused, NullWithNoError };

struct WorldPlan {
  enum class Kind {
    Absent,    // an all-zero world: no layer chosen
    NullData,  // no pixel data, but a size
    NoExtent,  // pixel data (a no-access page) but a width or height below 1
    Pixels,
  } kind = Kind::Absent;
  int32_t width = 0, height = 0;
  RowLayout layout = RowLayout::GuardedRows;
  int32_t padding = 0;  // bytes after each row, Packed only
  bool bottomUp = false;
  bool overfull = false;  // 16-bit channels anywhere up to 65535
  uint64_t contentSeed = 0;
};

struct Plan {
  uint64_t seed = 0;
  PF_Cmd cmd = 0;
  // The plug-in's run-time overrides; empty leaves the variable unset.
  std::string simd, threads;
  // Threads the host fixes for the call through the plug-in's
  // TilvaneEntryWithThreads, as the stand-in host does; kRealHost calls
  // EntryPointFunc, as a real host does, and the plug-in keeps its own choice.
  static constexpr int kRealHost = -1000;
  int hostThreads = kRealHost;

  int32_t currentTime = 0, timeStep = 1, totalTime = 300;
  uint32_t timeScale = 30;

  // The values the host hands over, Units to Seed.
  int32_t units = 8, displacementEffect = 1;
  double effectIntensity = 100, rotationOffset = 0, scaleOffset = 0, timeOffset = 0;
  int32_t border = 0;
  PF_Pixel borderColor{}, colorA{}, colorB{};
  int32_t timeMapping = 1, colorMapping = 1, transparencyMapping = 1, seedValue = 12345;

  // What PF_GetPixelFormat reports; the worlds are laid out at its depth.
  PF_PixelFormat pixelFormat = PF_PixelFormat_ARGB32;
  int PixelSize() const { return pixelFormat == PF_PixelFormat_ARGB64 ? 8 : 4; }

  WorldPlan output, displacement;
  std::vector<WorldPlan> iconFrames;  // empty: no icon layer

  std::array<FailPlan, kOpCount> fail{};
  SuiteServe worldSuite = SuiteServe::Served, ansiSuite = SuiteServe::Served;
  PF_Err worldRefusal = 0, ansiRefusal = 0;
  std::array<bool, kMissingCount> missing{};
  uint32_t missingParams = 0;  // bit i: params[i] is null

  bool Has(Missing m) const { return missing[static_cast<size_t>(m)]; }
  // The icon frame served at a time; frames change with time.
  const WorldPlan* IconAt(int32_t time) const;
};

Plan MakePlan(uint64_t seed);
void PrintPlan(const Plan& plan, std::ostream& out);

}  // namespace fuzz
