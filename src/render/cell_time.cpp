#include "src/render/cell_time.h"

#include "src/params/params.h"

namespace tilvane {

namespace {

thread_local uint32_t jitterState = 0;

// The remainder rule for a divisor d of at least 1: t mod d
// for t ≥ 0, and 0 for every negative t (pinned, not wrapped).
int64_t PinnedRemainder(int64_t t, int64_t d) {
  const int64_t r = t % d;  // below d, and not above 0 for a negative t
  return r < 0 ? 0 : r;
}

// The window offset a displacement sample adds to a cell origin.
float QuarterWindow(int32_t half) { return static_cast<float>(half / 2); }

// The sample clamp: "greater than 0 stays, else 0" lets NaN become 0; then
// "limit greater than the value, else the limit".
int32_t ClampIntoLayer(float value, int32_t size) {
  const float lower = value > 0.0f ? value : 0.0f;
  const float limit = static_cast<float>(int64_t{size} - 1);
  return TruncToInt32(limit > lower ? lower : limit);
}

}  // namespace

void JitterRandom::Seed(int32_t seed) { jitterState = static_cast<uint32_t>(seed); }

int32_t JitterRandom::Draw() {
  jitterState = jitterState * 214013u + 2531011u;
  return static_cast<int32_t>((jitterState >> 16) & 0x7FFFu);
}

int32_t CellJitter(int32_t draw, double timeOffset, const CallTime& time) {
  if (time.step == 0) return 0;
  const float u = static_cast<float>(draw % 32767) / 32767.0f;
  const int64_t h = int64_t{time.total} + time.step / 2;
  const double jitter =
      static_cast<double>(u) * timeOffset * static_cast<double>(h) / static_cast<double>(time.step);
  return TruncToInt32(jitter);
}

int32_t IconTime(TimeMapping timeMapping, int32_t cellRow, int32_t cellColumn, int32_t jitter,
                 float cellLuminance, const CallTime& time) {
  const int64_t d = int64_t{time.total} - 1;
  if (d < 1) return 0;
  const int64_t n = time.current;
  const int64_t shift = int64_t{jitter} * time.step;
  int64_t t = 0;
  switch (timeMapping) {
    case TIME_HORIZONTAL_UNITS:
      t = n + (int64_t{cellColumn} + jitter) * time.step;
      break;
    case TIME_VERTICAL_UNITS:
      t = n + (int64_t{cellRow} + jitter) * time.step;
      break;
    case TIME_DISPLACEMENT:
      t = TruncToInt32(static_cast<float>(time.total) * cellLuminance + static_cast<float>(shift));
      break;
    case TIME_INVERSE_DISPLACEMENT:
      t = TruncToInt32(static_cast<double>(time.total) *
                           (1.0 - static_cast<double>(cellLuminance)) +
                       static_cast<double>(shift));
      break;
    default:  // TIME_CONSTANT
      t = n + shift;
      break;
  }
  // The result lies in 0 to d − 1, below 2^31 − 1: it fits 32 bits.
  return static_cast<int32_t>(PinnedRemainder(t, d));
}

SamplePoint DisplacementSamplePoint(const GridGeometry& g, int32_t cellRow, int32_t cellColumn,
                                    int32_t layerWidth, int32_t layerHeight) {
  const float row =
      static_cast<float>(int64_t{g.iconHeight} - 1) * g.cellScale * static_cast<float>(cellRow) +
      QuarterWindow(g.halfHeight);
  const float column =
      static_cast<float>(int64_t{g.iconWidth} - 1) * g.cellScale * static_cast<float>(cellColumn) +
      QuarterWindow(g.halfWidth);
  return {ClampIntoLayer(column, layerWidth), ClampIntoLayer(row, layerHeight)};
}

}  // namespace tilvane
