// A second path to every frame: a literal model of the render that
// recomputes every term for every window pixel and walks every window pixel,
// compared with the plug-in with zero tolerance over seeded random scenes.
// It guards what small hand-worked frames cannot: that the per-cell terms,
// the per-row terms, the skipped clamped window rows and columns, and the
// fast floor give exactly the intended frame for every combination of
// settings, at both depths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "src/host/pixel_access.h"
#include "src/params/params.h"
#include "standin/frame_source.h"
#include "standin/host.h"
#include "tests/support/plugin_fixture.h"

namespace tilvane_test {
namespace {

using standin::FrameSource;
using standin::HostTime;
using standin::World;
using standin::WorldPtr;

struct Settings {
  int units = 8;
  int displacementEffect = 1;
  double effectIntensity = 100, rotationOffset = 0, scaleOffset = 0, timeOffset = 0;
  int border = 0;
  PF_Pixel borderColor{255, 128, 128, 128}, colorA{255, 170, 255, 255}, colorB{255, 255, 0, 0};
  int timeMapping = 1, colorMapping = 1, transparencyMapping = 1, seed = 12345;
};

// Channel c (0 alpha, 1 red, 2 green, 3 blue) of a frame pixel.
double Channel(const World& w, int x, int y, int c) {
  if (w.depth() == 16)
    return static_cast<double>((GetPixel16(w.record(), x, y) >> (16 * c)) & 0xFFFF);
  return static_cast<double>((GetPixel8(w.record(), x, y) >> (8 * c)) & 0xFF);
}

void Put(World& w, int x, int y, int a, int r, int g, int b) {
  if (w.depth() == 16) {
    PF_Pixel16* p = GetPixelAddr16(w.record(), x, y);
    p->red = r, p->green = g, p->blue = b, p->alpha = a;
  } else {
    PF_Pixel* p = GetPixelAddr8(w.record(), x, y);
    p->red = r, p->green = g, p->blue = b, p->alpha = a;
  }
}

// The render, step by step, for scenes whose 32-bit arithmetic cannot
// overflow (a positive time step, T of at least 2, small frames).
void ModelRender(const Settings& s, const HostTime& time, FrameSource* iconLayer,
                 FrameSource* displacementLayer, World& out) {
  const int depth = out.depth();
  const bool deep = depth == 16;
  const double full = deep ? 32768.0 : 255.0;
  const auto to16 = [](int c) { return (c * 32768 + 128) / 255; };
  out.fill(PF_Pixel16{0, 0, 0, 0});

  // The pass: settings, seeding, the exchange, the set-up check-outs, the grid.
  const double intensity = s.effectIntensity * 0.01, rotation = s.rotationOffset * -1.0;
  const double scale = s.scaleOffset * 0.01, timeOffset = s.timeOffset * 0.01;
  PF_Pixel colorA = s.colorA, colorB = s.colorB;
  if (s.colorMapping == 3) std::swap(colorA, colorB);
  uint32_t state = static_cast<uint32_t>(s.seed);
  const int n = time.current, step = time.step, total = time.total;
  const auto frameAt = [&](FrameSource* layer, int t) {
    return layer ? layer->frameAt({t, step, time.scale, depth}) : nullptr;
  };
  const WorldPtr icon0 = frameAt(iconLayer, n);
  const WorldPtr displacement = frameAt(displacementLayer, n);
  const bool geometry = icon0 && s.units >= 1 && icon0->width() >= 2;
  float cellScale = 0;
  int halfWidth = 0, halfHeight = 0, w0 = 0, h0 = 0;
  if (geometry) {
    w0 = icon0->width();
    h0 = icon0->height();
    cellScale = (float)(out.width() - 1) / ((float)(w0 - 1) * (float)s.units);
    halfWidth = (int)std::ceil(((float)(w0 - 1) * cellScale) / 2.0f);
    halfHeight = (int)std::ceil(((float)(h0 - 1) * cellScale) / 2.0f);
  }

  for (int cellRow = 0; cellRow < s.units; ++cellRow) {
    for (int cellColumn = 0; cellColumn < s.units; ++cellColumn) {
      // The cell: jitter, brightness, icon time.
      state = state * 214013u + 2531011u;
      const int r = (state >> 16) & 0x7FFF;
      const float u = (float)(r % 32767) / 32767.0f;
      const int h = total + step / 2;
      const int jitter = (int)(((double)u * timeOffset * (double)h) / (double)step);
      float lum = 1.0f;
      if (geometry && displacement) {
        float row = ((float)(h0 - 1) * cellScale) * (float)cellRow + (float)(halfHeight / 2);
        float column = ((float)(w0 - 1) * cellScale) * (float)cellColumn + (float)(halfWidth / 2);
        row = row > 0 ? row : 0;
        row = (float)(displacement->height() - 1) > row ? row : (float)(displacement->height() - 1);
        column = column > 0 ? column : 0;
        column = (float)(displacement->width() - 1) > column ? column
                                                             : (float)(displacement->width() - 1);
        const int x = (int)column, y = (int)row;
        const int sum = (int)(Channel(*displacement, x, y, 1) + Channel(*displacement, x, y, 2) +
                              Channel(*displacement, x, y, 3));
        lum = (float)sum / (deep ? 98304.0f : 765.0f);
      }
      int t = 0;
      switch (s.timeMapping) {
        case 2:
          t = n + (cellColumn + jitter) * step;
          break;
        case 3:
          t = n + (cellRow + jitter) * step;
          break;
        case 4:
          t = (int)((float)total * lum + (float)(jitter * step));
          break;
        case 5:
          t = (int)((double)total * (1.0 - (double)lum) + (double)(jitter * step));
          break;
        default:
          t = n + jitter * step;
          break;
      }
      const int d = total - 1;
      const int rem = t % d;
      const int m = rem < d ? rem : d;
      const WorldPtr icon = frameAt(iconLayer, m < 0 ? 0 : m);
      if (!icon || !geometry) continue;
      const int iconWidth = icon->width(), iconHeight = icon->height();

      for (int windowY = 0; windowY <= 2 * halfHeight; ++windowY) {
        for (int windowX = 0; windowX <= 2 * halfWidth; ++windowX) {
          // The icon transform and sample, every term afresh for this window pixel.
          const double l = (double)lum;
          double angle = 0, k = 0;
          switch (s.displacementEffect) {
            case 2:
              angle = (l * intensity) * 0.0 + rotation, k = (l * intensity) + scale;
              break;
            case 3:
              angle = (l * intensity) * 360.0 + rotation, k = (l * intensity) + scale;
              break;
            case 4:
              angle = (l * intensity) * 0.0 + rotation, k = 1.0 + scale;
              break;
            default:
              angle = (l * intensity) * 360.0 + rotation, k = 1.0 + scale;
              break;
          }
          const double theta = 6.2831854820251465 * angle / 360.0;
          const double c = std::cos(theta), sn = std::sin(theta);
          const double kc = k < 0 ? 0 : k;
          double divisor = (double)cellScale * k;
          if (divisor < 0) divisor = 0;
          if (divisor < 0.01) divisor = 0.01;
          const int du = windowX - halfWidth, dv = windowY - halfHeight;
          const double sx = ((double)du * c - (double)dv * sn + (double)halfWidth * kc) / divisor;
          const double sy = ((double)du * sn + (double)dv * c + (double)halfHeight * kc) / divisor;
          const int x0 = (int)std::floor(sx), y0 = (int)std::floor(sy);
          const double fx = sx - std::floor(sx), fy = sy - std::floor(sy);
          const auto clamp = [](int v, int limit) {
            v = v > 0 ? v : 0;
            return v < limit ? v : limit;
          };
          const int left = clamp(x0, iconWidth - 1), right = clamp(x0 + 1, iconWidth - 1);
          const int top = clamp(y0, iconHeight - 1), bottom = clamp(y0 + 1, iconHeight - 1);
          double sample[4];
          for (int ch = 0; ch < 4; ++ch) {
            const double p00 = Channel(*icon, left, top, ch), p10 = Channel(*icon, right, top, ch);
            const double p01 = Channel(*icon, left, bottom, ch);
            const double p11 = Channel(*icon, right, bottom, ch);
            const double upper = p00 + (p10 - p00) * fx;
            const double lower = p01 + (p11 - p01) * fx;
            sample[ch] = upper + (lower - upper) * fy;
          }

          // The output pixel and the border.
          float row = ((float)(iconHeight - 1) * cellScale) * (float)cellRow + (float)windowY;
          float column = ((float)(iconWidth - 1) * cellScale) * (float)cellColumn + (float)windowX;
          row = row < (float)(out.height() - 1) ? row : (float)(out.height() - 1);
          row = row < 0 ? 0 : row;
          column = column < (float)(out.width() - 1) ? column : (float)(out.width() - 1);
          column = column < 0 ? 0 : column;
          const int outputX = (int)column, outputY = (int)row;
          const float factor = s.transparencyMapping == 2   ? lum
                               : s.transparencyMapping == 3 ? (float)(1.0 - (double)lum)
                                                            : 1.0f;
          const int a[3] = {colorA.red, colorA.green, colorA.blue};
          const int b[3] = {colorB.red, colorB.green, colorB.blue};
          int rgb[3];
          for (int i = 0; i < 3; ++i) {
            const double sv = sample[1 + i];
            if (s.colorMapping == 1) {
              rgb[i] = (int)((float)(int)sv * factor);
            } else {
              const double p = deep ? to16(a[i]) : a[i], q = deep ? to16(b[i]) : b[i];
              const double first = sv / full * p / full * (double)lum;
              const double second = sv / full * q / full * (double)factor * (1.0 - (double)lum);
              rgb[i] = (int)(full * (first + second));
            }
          }
          Put(out, outputX, outputY, (int)sample[0], rgb[0], rgb[1], rgb[2]);
          if (s.border == 1) {
            const PF_Pixel& bc = s.borderColor;
            const int br = deep ? to16(bc.red) : bc.red, bg = deep ? to16(bc.green) : bc.green;
            const int bb = deep ? to16(bc.blue) : bc.blue, ba = deep ? 32768 : 255;
            if (windowX == 0 || windowY == 0) Put(out, outputX, outputY, ba, br, bg, bb);
            Put(out, out.width() - 1, outputY, ba, br, bg, bb);
          }
        }
      }
    }
  }
}

class Scenes {
 public:
  explicit Scenes(uint32_t seed) : engine_(seed) {}
  int Between(int low, int high) {  // both included
    return low + static_cast<int>(engine_() % static_cast<uint32_t>(high - low + 1));
  }
  PF_Pixel Colour() { return PF_Pixel{Byte(), Byte(), Byte(), Byte()}; }
  WorldPtr Frame(int w, int h, int depth) {
    auto frame = std::make_shared<World>(w, h, depth, Between(0, 2) * 4, Between(0, 1) == 1);
    const int full = depth == 16 ? 32768 : 255;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        Put(*frame, x, y, Between(0, full), Between(0, full), Between(0, full), Between(0, full));
      }
    }
    return frame;
  }

 private:
  A_u_char Byte() { return static_cast<A_u_char>(Between(0, 255)); }
  std::mt19937 engine_;
};

struct Sizes {
  int outputMax;  // output width and height from 1 to this
  int iconMax;    // icon width and height from 1 to this
  int borderOneIn;
};

// Renders count random scenes through the host and through the model.
void CompareRandomScenes(uint32_t seed, int count, const Sizes& sizes) {
  Scenes pick(seed);
  int drawn = 0;
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(testing::Message() << "scene " << i << " of seed " << seed);
    auto host = MakeHost();
    ASSERT_EQ(host->paramsSetup(), PF_Err_NONE);
    const int depth = pick.Between(0, 1) ? 16 : 8;
    Settings s;
    s.units = pick.Between(0, 12);
    s.displacementEffect = pick.Between(1, 4);
    // Real-valued, non-round slider values: x × 0.01 and x / 100 differ for
    // many of them, and the frame shows which one the render used.
    const auto real = [&pick](double low, double high) {
      return low + (high - low) * (pick.Between(0, 1 << 30) / 1073741824.0);
    };
    s.effectIntensity = real(0, 200);
    s.rotationOffset = real(0, 360);
    s.scaleOffset = real(-100, 100);
    s.timeOffset = real(-100, 100);
    s.border = pick.Between(1, sizes.borderOneIn) == 1 ? 1 : 0;
    s.borderColor = pick.Colour();
    s.colorA = pick.Colour();
    s.colorB = pick.Colour();
    s.timeMapping = pick.Between(1, 5);
    s.colorMapping = pick.Between(1, 3);
    s.transparencyMapping = pick.Between(1, 3);
    s.seed = pick.Between(0, 32768);
    HostTime time;
    time.step = pick.Between(1, 3);
    time.total = pick.Between(2, 40) * time.step;
    time.current = pick.Between(0, time.total);
    host->time() = time;
    host->setInt(PARAM_UNITS, s.units);
    host->setInt(PARAM_DISPLACEMENT_EFFECT, s.displacementEffect);
    host->setFloat(PARAM_EFFECT_INTENSITY, s.effectIntensity);
    host->setFloat(PARAM_ROTATION_OFFSET, s.rotationOffset);
    host->setFloat(PARAM_SCALE_OFFSET, s.scaleOffset);
    host->setFloat(PARAM_TIME_OFFSET, s.timeOffset);
    host->setInt(PARAM_BORDER, s.border);
    host->setColor(PARAM_BORDER_COLOR, s.borderColor);
    host->setColor(PARAM_COLOR_A, s.colorA);
    host->setColor(PARAM_COLOR_B, s.colorB);
    host->setInt(PARAM_TIME_MAPPING, s.timeMapping);
    host->setInt(PARAM_COLOR_MAPPING, s.colorMapping);
    host->setInt(PARAM_TRANSPARENCY_MAPPING, s.transparencyMapping);
    host->setInt(PARAM_SEED, s.seed);

    // An animated icon whose frame size sometimes changes, sometimes none;
    // sometimes no displacement layer.
    std::vector<WorldPtr> frames;
    int iconWidth = pick.Between(1, sizes.iconMax), iconHeight = pick.Between(1, sizes.iconMax);
    for (int f = pick.Between(1, 4); f > 0; --f) {
      if (pick.Between(0, 3) == 0) {
        iconWidth = pick.Between(1, sizes.iconMax);
        iconHeight = pick.Between(1, sizes.iconMax);
      }
      frames.push_back(pick.Frame(iconWidth, iconHeight, depth));
    }
    const auto icon = pick.Between(0, 9) ? standin::FrameListSource(frames) : nullptr;
    const auto displacement =
        pick.Between(0, 5)
            ? standin::StillSource(pick.Frame(pick.Between(1, 100), pick.Between(1, 100), depth))
            : nullptr;
    if (icon) host->setLayer(PARAM_ICON_LAYER, icon);
    if (displacement) host->setLayer(PARAM_DISPLACEMENT_LAYER, displacement);

    const int width = pick.Between(1, sizes.outputMax), height = pick.Between(1, sizes.outputMax);
    World got(width, height, depth, pick.Between(0, 2) * 8, pick.Between(0, 1) == 1);
    got.fill(PF_Pixel16{7, 7, 7, 7});
    World want(width, height, depth);
    ASSERT_EQ(host->render(got), PF_Err_NONE);
    ModelRender(s, time, icon.get(), displacement.get(), want);
    ASSERT_TRUE(got.samePixels(want));
    EXPECT_TRUE(host->suiteBalance().empty());
    EXPECT_EQ(host->outstandingCheckouts(), 0);
    if (!want.samePixels(World(width, height, depth))) ++drawn;
  }
  // The scenes must draw, or the comparison proves little.
  EXPECT_GT(drawn, count / 2);
}

TEST(RenderPassCrossCheck, RandomScenesMatchTheLiteralModelPixelForPixel) {
  CompareRandomScenes(20240601, 400, Sizes{90, 24, 2});
}

TEST(RenderPassCrossCheck, ScenesWhereMostWindowPixelsAreClampedMatchTheModel) {
  // Outputs of 1 to 6 pixels under icons of up to 24: nearly every window
  // row and column lands on the output's last row or column, border on.
  CompareRandomScenes(77, 400, Sizes{6, 24, 1});
}

TEST(RenderPassCrossCheck, AWindowFarTallerThanTheOutputGivesTheModelsFrame) {
  // A 2 × 400 icon across 40 pixels at one unit: cell scale 39, a window of
  // 79 × 15563 pixels of which all but 30 rows land on the last output row.
  for (const int depth : {8, 16}) {
    SCOPED_TRACE(depth);
    Scenes pick(5);
    auto host = MakeHost();
    ASSERT_EQ(host->paramsSetup(), PF_Err_NONE);
    Settings s;
    s.units = 1;
    s.border = 1;
    s.displacementEffect = DISPLACEMENT_BOTH;
    host->setInt(PARAM_UNITS, s.units);
    host->setInt(PARAM_BORDER, s.border);
    host->setInt(PARAM_DISPLACEMENT_EFFECT, s.displacementEffect);
    const auto icon = standin::StillSource(pick.Frame(2, 400, depth));
    const auto displacement = standin::StillSource(pick.Frame(40, 30, depth));
    host->setLayer(PARAM_ICON_LAYER, icon);
    host->setLayer(PARAM_DISPLACEMENT_LAYER, displacement);
    World got(40, 30, depth);
    World want(40, 30, depth);
    ASSERT_EQ(host->render(got), PF_Err_NONE);
    ModelRender(s, host->time(), icon.get(), displacement.get(), want);
    EXPECT_TRUE(got.samePixels(want));
  }
}

}  // namespace
}  // namespace tilvane_test
