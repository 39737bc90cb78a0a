#include "tools/tilvane/core/pixel_rows.h"

#include <algorithm>

namespace tilvane_tool {

void RowFromBytes8(const unsigned char* px, int32_t n, bool straight, PF_Pixel* out) {
  if (!straight) {
    for (int32_t x = 0; x < n; ++x, px += 4) out[x] = PF_Pixel{px[3], px[0], px[1], px[2]};
    return;
  }
  const auto& premultiplied = PremultipliedBytes();
  for (int32_t x = 0; x < n; ++x, px += 4) {
    const unsigned char* under = &premultiplied[size_t{px[3]} * 256];
    out[x] = PF_Pixel{px[3], under[px[0]], under[px[1]], under[px[2]]};
  }
}

void RowFromOpaqueBytes8(const unsigned char* px, int32_t n, PF_Pixel* out) {
  for (int32_t x = 0; x < n; ++x, px += 3) out[x] = PF_Pixel{255, px[0], px[1], px[2]};
}

template <typename Out, typename Pixel>
void FileRow(const Pixel* in, int32_t n, FileAlpha alpha, int channels, Out* out) {
  static_assert(sizeof(Out) == 1 || std::is_same_v<Pixel, PF_Pixel16>,
                "16-bit file values come from 16-bit frames only");
  constexpr int32_t kFull = PixelDepth<Pixel>::kFull;
  if constexpr (std::is_same_v<Pixel, PF_Pixel>) {
    if (alpha == FileAlpha::Straight && channels == 4) {
      const auto& straight = StraightBytes();
      for (int32_t x = 0; x < n; ++x, out += 4) {
        const unsigned char* column = &straight[size_t{in[x].alpha} * 256];
        out[0] = column[in[x].red];
        out[1] = column[in[x].green];
        out[2] = column[in[x].blue];
        out[3] = in[x].alpha;
      }
      return;
    }
  }
  for (int32_t x = 0; x < n; ++x, out += channels) {
    int32_t v[4] = {in[x].red, in[x].green, in[x].blue, in[x].alpha};
    if (alpha == FileAlpha::OverBlack) {
      v[3] = kFull;
    } else if (v[3] != kFull || v[0] > kFull || v[1] > kFull || v[2] > kFull) {
      // Opaque pixels, most of a frame, stay as they are.
      for (int c = 0; c < 3; ++c) v[c] = Unpremultiply(v[c], v[3], kFull);
    }
    for (int c = 0; c < channels; ++c) {
      if constexpr (sizeof(Out) == 2) {
        out[c] = static_cast<Out>(To16BitFile(v[c]));
      } else {
        out[c] = static_cast<Out>(PixelDepth<Pixel>::To8BitFile(v[c]));
      }
    }
  }
}

template void FileRow(const PF_Pixel*, int32_t, FileAlpha, int, unsigned char*);
template void FileRow(const PF_Pixel16*, int32_t, FileAlpha, int, unsigned char*);
template void FileRow(const PF_Pixel16*, int32_t, FileAlpha, int, uint16_t*);

namespace {

// Four channels at once in the compiler's vector types: the same IEEE
// operation on each as one at a time would do, in a quarter of the
// instructions (these conversions run on every pixel of every fitted frame).
using Floats4 = float __attribute__((vector_size(16)));
using Doubles4 = double __attribute__((vector_size(32)));
using Ints4 = int32_t __attribute__((vector_size(16)));

template <typename Pixel>
void FloatsFromPixels(const Pixel* row, int32_t count, float* rgba) {
  const float full = static_cast<float>(PixelDepth<Pixel>::kFull);
  const Floats4 divisor = {full, full, full, full};
  for (int32_t i = 0; i < count; ++i, rgba += 4) {
    const Ints4 v = {row[i].red, row[i].green, row[i].blue, row[i].alpha};
    const Floats4 f = __builtin_convertvector(v, Floats4) / divisor;
    std::memcpy(rgba, &f, sizeof f);
  }
}

template <typename Pixel>
void PixelsFromFloats(const float* rgba, int32_t count, Pixel* row) {
  const double full = PixelDepth<Pixel>::kFull;
  const Floats4 zero = {0.0f, 0.0f, 0.0f, 0.0f}, one = {1.0f, 1.0f, 1.0f, 1.0f};
  for (int32_t x = 0; x < count; ++x, rgba += 4) {
    // FromFloat on each channel: clamped (NaN to 0), scaled, rounded.
    Floats4 f;
    std::memcpy(&f, rgba, sizeof f);
    f = f > zero ? f : zero;
    f = f < one ? f : one;
    const Ints4 v =
        __builtin_convertvector(__builtin_convertvector(f, Doubles4) * full + 0.5, Ints4);
    row[x] =
        MakePixel<Pixel>(std::min(v[0], v[3]), std::min(v[1], v[3]), std::min(v[2], v[3]), v[3]);
  }
}

}  // namespace

void FloatsFromRow(const standin::World& frame, int32_t y, int32_t x, int32_t count, float* rgba) {
  WithPixel(frame.depth(), [&](auto pixel) {
    FloatsFromPixels(RowOf<decltype(pixel)>(frame, y, x), count, rgba);
  });
}

void RowFromFloats(const float* rgba, standin::World& frame, int32_t y) {
  WithPixel(frame.depth(), [&](auto pixel) {
    PixelsFromFloats(rgba, frame.width(), RowOf<decltype(pixel)>(frame, y));
  });
}

std::vector<float> FloatsFromWorld(const standin::World& frame) {
  const size_t w = static_cast<size_t>(frame.width());
  std::vector<float> rgba(w * static_cast<size_t>(frame.height()) * 4);
  for (int32_t y = 0; y < frame.height(); ++y) {
    FloatsFromRow(frame, y, 0, frame.width(), rgba.data() + static_cast<size_t>(y) * w * 4);
  }
  return rgba;
}

standin::WorldPtr WorldFromFloats(const std::vector<float>& rgba, int32_t width, int32_t height,
                                  int depth) {
  auto out = std::make_shared<standin::World>(width, height, depth);
  for (int32_t y = 0; y < height; ++y) {
    RowFromFloats(rgba.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 4, *out, y);
  }
  return out;
}

}  // namespace tilvane_tool
