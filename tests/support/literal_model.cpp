#include "tests/support/literal_model.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "ledger/host_skeleton.h"
#include "src/host/pixel_access.h"

namespace tilvane_test {

using standin::FrameSource;
using standin::HostTime;
using standin::World;
using standin::WorldPtr;
using tilvane::GetPixel16;
using tilvane::GetPixel8;
using tilvane::GetPixelAddr16;
using tilvane::GetPixelAddr8;

namespace {

// Channel c (0 alpha, 1 red, 2 green, 3 blue) of a frame pixel.
double Channel(const World& w, int x, int y, int c) {
  if (w.depth() == 16)
    return static_cast<double>((GetPixel16(w.record(), x, y) >> (16 * c)) & 0xFFFF);
  return static_cast<double>((GetPixel8(w.record(), x, y) >> (8 * c)) & 0xFF);
}

}  // namespace

void Put(World& w, int x, int y, int a, int r, int g, int b) {
  if (w.depth() == 16) {
    PF_Pixel16* p = GetPixelAddr16(w.record(), x, y);
    p->red = r, p->green = g, p->blue = b, p->alpha = a;
  } else {
    PF_Pixel* p = GetPixelAddr8(w.record(), x, y);
    p->red = r, p->green = g, p->blue = b, p->alpha = a;
  }
}

void ModelRender(const Settings& s, const HostTime& time, FrameSource* iconLayer,
                 FrameSource* displacementLayer, World& out) {
  const int depth = out.depth();
  const bool deep = depth == 16;
  const double full = deep ? 32768.0 : 255.0;
  const auto to16 = [](int c) { return ledger::Channel8To16(static_cast<A_u_char>(c)); };
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

}  // namespace tilvane_test
