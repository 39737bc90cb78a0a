#include "src/render/cell_draw.h"

#include <cmath>

#include "src/params/params.h"
#include "src/render/conversions.h"

namespace tilvane {

namespace {

// A neighbour coordinate clamped into 0 to size − 1 ("not greater than 0"
// first, then "not less than the limit"); size is at least 1.
int32_t ClampIndex(int64_t value, int32_t size) {
  const int64_t lower = value > 0 ? value : 0;
  const int64_t limit = int64_t{size} - 1;
  return static_cast<int32_t>(lower < limit ? lower : limit);
}

// Whether a window offset lands on the output's last column or row: the
// output clamp takes the limit for a value not less than it (NaN too).
bool ReachesLimit(float origin, int64_t offset, float limit) {
  return !(origin + static_cast<float>(offset) < limit);
}

// The output clamp: a value not less than the limit takes the limit,
// then a negative one takes 0.
int32_t OutputCoordinate(float origin, int64_t offset, float limit) {
  const float value = origin + static_cast<float>(offset);
  const float below = value < limit ? value : limit;
  return TruncToInt32(below < 0.0f ? 0.0f : below);
}

// The two-colour mix of one channel, in double precision and in this order;
// the colorA term is weighted by the luminance alone.
template <typename Pixel>
typename PixelTraits<Pixel>::Channel MixChannel(double s, double p, double q, double l, double t) {
  constexpr double kScale = PixelTraits<Pixel>::kFullScaleDouble;
  const double first = s / kScale * p / kScale * l;
  const double second = s / kScale * q / kScale * t * (1.0 - l);
  return TruncToChannel<typename PixelTraits<Pixel>::Channel>(kScale * (first + second));
}

// Four unrounded, unclamped double-precision channels on the depth's scale,
// indexed by PackedChannel (alpha, red, green, blue).
struct IconSample {
  double channel[4];
};

// One channel of the four neighbours, interpolated in double precision.
template <typename Pixel, int C>
double Interpolate(typename PixelTraits<Pixel>::Packed p00, typename PixelTraits<Pixel>::Packed p10,
                   typename PixelTraits<Pixel>::Packed p01, typename PixelTraits<Pixel>::Packed p11,
                   double fx, double fy) {
  const double v00 = ChannelOf<Pixel>(p00, C);
  const double v10 = ChannelOf<Pixel>(p10, C);
  const double v01 = ChannelOf<Pixel>(p01, C);
  const double v11 = ChannelOf<Pixel>(p11, C);
  const double upper = v00 + (v10 - v00) * fx;
  const double lower = v01 + (v11 - v01) * fx;
  return upper + (lower - upper) * fy;
}

// The bilinear read of the icon: neighbours clamped into the
// icon separately, after the + 1; fractions never clamped. The icon is at
// least 1 × 1; a source point beyond the 32-bit range saturates.
template <typename Pixel>
IconSample SampleIcon(const PF_EffectWorld* icon, int32_t iconWidth, int32_t iconHeight,
                      double sourceX, double sourceY) {
  using Traits = PixelTraits<Pixel>;
  const Floor floorX = FloorOf(sourceX);
  const Floor floorY = FloorOf(sourceY);
  const int64_t x0 = floorX.index;
  const int64_t y0 = floorY.index;
  const double fx = sourceX - floorX.value;
  const double fy = sourceY - floorY.value;
  // The + 1 comes before the clamp, never after it.
  const int32_t left = ClampIndex(x0, iconWidth);
  const int32_t right = ClampIndex(x0 + 1, iconWidth);
  const int32_t top = ClampIndex(y0, iconHeight);
  const int32_t bottom = ClampIndex(y0 + 1, iconHeight);
  const typename Traits::Packed p00 = Traits::Read(icon, left, top);
  const typename Traits::Packed p10 = Traits::Read(icon, right, top);
  const typename Traits::Packed p01 = Traits::Read(icon, left, bottom);
  const typename Traits::Packed p11 = Traits::Read(icon, right, bottom);
  IconSample sample;
  sample.channel[CHANNEL_ALPHA] = Interpolate<Pixel, CHANNEL_ALPHA>(p00, p10, p01, p11, fx, fy);
  sample.channel[CHANNEL_RED] = Interpolate<Pixel, CHANNEL_RED>(p00, p10, p01, p11, fx, fy);
  sample.channel[CHANNEL_GREEN] = Interpolate<Pixel, CHANNEL_GREEN>(p00, p10, p01, p11, fx, fy);
  sample.channel[CHANNEL_BLUE] = Interpolate<Pixel, CHANNEL_BLUE>(p00, p10, p01, p11, fx, fy);
  return sample;
}

// One window pixel's colour: the sample coloured and made transparent by the
// mappings, before any border.
template <typename Pixel>
Pixel ShadeCellPixel(const DrawContext<Pixel>& context, const CellPlacement& placement,
                     const IconSample& sample) {
  using Channel = typename PixelTraits<Pixel>::Channel;
  const bool iconColors = context.settings->colorMapping == COLOR_ICON_LAYER;
  const double l = placement.cellLuminance;
  const double t = placement.transparencyFactor;
  const auto color = [&](int channel, int component) -> Channel {
    const double s = sample.channel[channel];
    if (iconColors) {
      // Truncated to an integer first, then scaled in single precision.
      return TruncToChannel<Channel>(static_cast<float>(TruncToInt32(s)) *
                                     placement.transparencyFactor);
    }
    return MixChannel<Pixel>(s, context.colorA[component], context.colorB[component], l, t);
  };
  Pixel pixel;
  pixel.red = color(CHANNEL_RED, 0);
  pixel.green = color(CHANNEL_GREEN, 1);
  pixel.blue = color(CHANNEL_BLUE, 2);
  pixel.alpha = TruncToChannel<Channel>(sample.channel[CHANNEL_ALPHA]);
  return pixel;
}

// The sample of one window pixel: its source point in the icon, read
// bilinearly. vSin and vCos are the row's terms v × sin θ and v × cos θ.
template <typename Pixel>
IconSample SampleWindowPixel(const CellWalk& walk, int64_t windowX, double vSin, double vCos) {
  const CellTransform& t = walk.transform;
  const double u = static_cast<double>(windowX - walk.halfWidth);
  const double sourceX = (u * t.cosTheta - vSin + walk.centreX) / t.divisor;
  const double sourceY = (u * t.sinTheta + vCos + walk.centreY) / t.divisor;
  return SampleIcon<Pixel>(walk.icon, walk.iconWidth, walk.iconHeight, sourceX, sourceY);
}

// One window pixel's output: places the sample, colours it, writes it and
// paints the border. The window offsets are 64-bit so that a window of more
// than 2^31 columns cannot overflow; within 32 bits nothing changes.
template <typename Pixel>
void WriteCellPixel(const DrawContext<Pixel>& context, const CellPlacement& placement,
                    const IconSample& sample, int64_t windowX, int64_t windowY) {
  using Traits = PixelTraits<Pixel>;
  const int32_t outputY = OutputCoordinate(placement.originY, windowY, context.lastRowValue);
  const int32_t outputX = OutputCoordinate(placement.originX, windowX, context.lastColumnValue);
  Pixel* pixel = Traits::Address(context.output, outputX, outputY);
  *pixel = OnBorder(context, windowX, windowY) ? context.borderPixel
                                               : ShadeCellPixel<Pixel>(context, placement, sample);
  if (BorderEndsRows(context)) {
    *Traits::Address(context.output, context.lastColumn, outputY) = context.borderPixel;
  }
}

// The first offset in [0, last) that the output clamp puts on the limit, or
// last when none does. ReachesLimit only ever turns from false to true as the
// offset grows, so a binary search finds it.
int64_t OpenOffsets(float origin, int64_t last, float limit) {
  int64_t low = 0;
  int64_t high = last;
  while (low < high) {
    const int64_t middle = low + (high - low) / 2;
    if (ReachesLimit(origin, middle, limit)) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return low;
}

}  // namespace

template <typename Pixel>
DrawContext<Pixel> MakeDrawContext(const RenderSettings& settings, const GridGeometry& geometry,
                                   PF_EffectWorld* output) {
  using Traits = PixelTraits<Pixel>;
  using Channel = typename Traits::Channel;
  DrawContext<Pixel> c{};
  c.settings = &settings;
  c.geometry = geometry;
  c.output = output;
  c.lastColumnValue = static_cast<float>(output->width - 1);
  c.lastRowValue = static_cast<float>(output->height - 1);
  c.lastColumn = output->width - 1;
  const PF_Pixel& a = settings.colorA;
  const PF_Pixel& b = settings.colorB;
  const PF_Pixel& border = settings.borderColor;
  const A_u_char componentsA[3] = {a.red, a.green, a.blue};
  const A_u_char componentsB[3] = {b.red, b.green, b.blue};
  for (int i = 0; i < 3; ++i) {
    c.colorA[i] = static_cast<double>(Traits::FromColor8(componentsA[i]));
    c.colorB[i] = static_cast<double>(Traits::FromColor8(componentsB[i]));
  }
  c.borderPixel.red = static_cast<Channel>(Traits::FromColor8(border.red));
  c.borderPixel.green = static_cast<Channel>(Traits::FromColor8(border.green));
  c.borderPixel.blue = static_cast<Channel>(Traits::FromColor8(border.blue));
  c.borderPixel.alpha = static_cast<Channel>(Traits::kFullScale);
  return c;
}

CellTransform ComputeCellTransform(const RenderSettings& settings, float cellScale,
                                   float cellLuminance) {
  const double brightness = static_cast<double>(cellLuminance) * settings.effectIntensity;
  const double r = settings.rotationOffset;
  const double s = settings.scaleOffset;
  double angleInput = 0.0;
  double k = 0.0;
  switch (settings.displacementEffect) {
    case DISPLACEMENT_SCALE:
      // Not just r: an infinite intensity makes the angle NaN, so every
      // sample is NaN and the cell draws transparent (all channels 0).
      angleInput = brightness * 0.0 + r;
      k = brightness + s;
      break;
    case DISPLACEMENT_BOTH:
      angleInput = brightness * 360.0 + r;
      k = brightness + s;
      break;
    case DISPLACEMENT_NONE:
      angleInput = brightness * 0.0 + r;  // NaN for an infinite intensity, as above
      k = 1.0 + s;
      break;
    default:  // DISPLACEMENT_ROTATION
      angleInput = brightness * 360.0 + r;
      k = 1.0 + s;
      break;
  }
  const double theta = kFullTurn * angleInput / 360.0;
  CellTransform t{};
  t.cosTheta = std::cos(theta);
  t.sinTheta = std::sin(theta);
  t.clampedScale = k < 0.0 ? 0.0 : k;
  // From k, not kc; never below 0.01.
  double divisor = static_cast<double>(cellScale) * k;
  if (divisor < 0.01) divisor = 0.01;
  t.divisor = divisor;
  return t;
}

CellPlacement ComputeCellPlacement(const RenderSettings& settings, float cellScale,
                                   const CellState& cell, int32_t cellRow, int32_t cellColumn) {
  CellPlacement p{};
  // The cell's own icon size, not the one the geometry came from.
  p.originX = static_cast<float>(cell.iconWidth - 1) * cellScale * static_cast<float>(cellColumn);
  p.originY = static_cast<float>(cell.iconHeight - 1) * cellScale * static_cast<float>(cellRow);
  p.cellLuminance = cell.cellLuminance;
  switch (settings.transparencyMapping) {
    case TRANSPARENCY_DISPLACEMENT:
      p.transparencyFactor = cell.cellLuminance;
      break;
    case TRANSPARENCY_INVERSE_DISPLACEMENT:
      // Computed in double precision, stored in single.
      p.transparencyFactor = static_cast<float>(1.0 - static_cast<double>(cell.cellLuminance));
      break;
    default:  // TRANSPARENCY_CONSTANT
      p.transparencyFactor = 1.0f;
      break;
  }
  return p;
}

template <typename Pixel>
CellWalk PrepareCellWalk(const DrawContext<Pixel>& context, const CellState& cell, int32_t cellRow,
                         int32_t cellColumn) {
  const GridGeometry& g = context.geometry;
  CellWalk w{};
  w.transform = ComputeCellTransform(*context.settings, g.cellScale, cell.cellLuminance);
  w.placement = ComputeCellPlacement(*context.settings, g.cellScale, cell, cellRow, cellColumn);
  w.centreX = static_cast<double>(g.halfWidth) * w.transform.clampedScale;
  w.centreY = static_cast<double>(g.halfHeight) * w.transform.clampedScale;
  w.halfWidth = g.halfWidth;
  w.halfHeight = g.halfHeight;
  w.lastWindowX = 2 * int64_t{g.halfWidth};
  w.lastWindowY = 2 * int64_t{g.halfHeight};
  w.openColumns = OpenOffsets(w.placement.originX, w.lastWindowX, context.lastColumnValue);
  w.openRows = OpenOffsets(w.placement.originY, w.lastWindowY, context.lastRowValue);
  w.icon = cell.icon;
  w.iconWidth = cell.iconWidth;
  w.iconHeight = cell.iconHeight;
  return w;
}

template <typename Pixel>
int32_t OutputRowOf(const DrawContext<Pixel>& context, const CellWalk& walk, int64_t windowY) {
  return OutputCoordinate(walk.placement.originY, windowY, context.lastRowValue);
}

template <typename Pixel>
void DrawWindowRows(const DrawContext<Pixel>& context, const CellWalk& walk, int64_t firstRow,
                    int64_t endRow) {
  const CellTransform& t = walk.transform;
  for (int64_t row = firstRow; row < endRow; ++row) {
    const int64_t windowY = walk.RowAt(row);
    const double v = static_cast<double>(windowY - walk.halfHeight);
    const double vSin = v * t.sinTheta;
    const double vCos = v * t.cosTheta;
    for (int64_t column = 0; column < walk.ColumnCount(); ++column) {
      const int64_t windowX = walk.ColumnAt(column);
      const IconSample sample = SampleWindowPixel<Pixel>(walk, windowX, vSin, vCos);
      WriteCellPixel<Pixel>(context, walk.placement, sample, windowX, windowY);
    }
  }
}

template <typename Pixel>
ShadedPixel<Pixel> ShadeWindowPixel(const DrawContext<Pixel>& context, const CellWalk& walk,
                                    int64_t windowX, int64_t windowY) {
  const CellTransform& t = walk.transform;
  const double v = static_cast<double>(windowY - walk.halfHeight);
  const IconSample sample = SampleWindowPixel<Pixel>(walk, windowX, v * t.sinTheta, v * t.cosTheta);
  ShadedPixel<Pixel> shaded;
  shaded.outputX = OutputCoordinate(walk.placement.originX, windowX, context.lastColumnValue);
  shaded.value = ShadeCellPixel<Pixel>(context, walk.placement, sample);
  return shaded;
}

#define TILVANE_INSTANTIATE_DRAW(Pixel)                                                           \
  template DrawContext<Pixel> MakeDrawContext<Pixel>(const RenderSettings&, const GridGeometry&,  \
                                                     PF_EffectWorld*);                            \
  template CellWalk PrepareCellWalk<Pixel>(const DrawContext<Pixel>&, const CellState&, int32_t,  \
                                           int32_t);                                              \
  template int32_t OutputRowOf<Pixel>(const DrawContext<Pixel>&, const CellWalk&, int64_t);       \
  template void DrawWindowRows<Pixel>(const DrawContext<Pixel>&, const CellWalk&, int64_t,        \
                                      int64_t);                                                   \
  template ShadedPixel<Pixel> ShadeWindowPixel<Pixel>(const DrawContext<Pixel>&, const CellWalk&, \
                                                      int64_t, int64_t);
TILVANE_INSTANTIATE_DRAW(PF_Pixel)
TILVANE_INSTANTIATE_DRAW(PF_Pixel16)
#undef TILVANE_INSTANTIATE_DRAW

}  // namespace tilvane
