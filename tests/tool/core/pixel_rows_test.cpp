// Rows between frames and file values: the looked-up 8-bit paths against the
// arithmetic they stand for, and what a frame written and read back keeps, at
// both depths.
#include "tools/tilvane/core/pixel_rows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tilvane_tool {
namespace {

// Every premultiplied pixel a frame can hold with these alphas: colour from
// 0 to its alpha in steps, each channel a different value.
template <typename Pixel>
std::vector<Pixel> PremultipliedPixels() {
  constexpr int32_t kFull = PixelDepth<Pixel>::kFull;
  const int32_t step = kFull == 255 ? 1 : 61;
  std::vector<Pixel> pixels;
  for (int32_t a = 0; a <= kFull; a += a < 300 ? 1 : step) {
    for (int32_t v = 0; v <= a; v += a < 300 ? 1 : step) {
      pixels.push_back(MakePixel<Pixel>(v, a - v, v / 2, a));
    }
  }
  pixels.push_back(MakePixel<Pixel>(kFull, kFull, kFull, kFull));
  return pixels;
}

template <typename Pixel>
class PixelRows : public ::testing::Test {
 protected:
  static constexpr int32_t kFull = PixelDepth<Pixel>::kFull;
  const std::vector<Pixel> pixels = PremultipliedPixels<Pixel>();
  int32_t count() const { return static_cast<int32_t>(pixels.size()); }
};
using Depths = ::testing::Types<PF_Pixel, PF_Pixel16>;
TYPED_TEST_SUITE(PixelRows, Depths);

bool operator==(const PF_Pixel& a, const PF_Pixel& b) {
  return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}
bool operator==(const PF_Pixel16& a, const PF_Pixel16& b) {
  return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// A straight 8-bit file holds each pixel's colour divided by its alpha, to the
// nearest step; over black it holds the premultiplied colour, opaque.
TYPED_TEST(PixelRows, EightBitFileValuesAreTheFormulasOwn) {
  for (const FileAlpha alpha : {FileAlpha::Straight, FileAlpha::OverBlack}) {
    for (const int channels : {3, 4}) {
      std::vector<unsigned char> out(this->pixels.size() * channels);
      FileRow(this->pixels.data(), this->count(), alpha, channels, out.data());
      for (size_t i = 0; i < this->pixels.size(); ++i) {
        const TypeParam& p = this->pixels[i];
        const int32_t v[4] = {p.red, p.green, p.blue, p.alpha};
        for (int c = 0; c < channels; ++c) {
          int32_t kept = v[c];
          if (c == 3 && alpha == FileAlpha::OverBlack) kept = this->kFull;
          if (c < 3 && alpha == FileAlpha::Straight) kept = Unpremultiply(v[c], v[3], this->kFull);
          const int32_t want = static_cast<int32_t>(std::floor(kept * 255.0 / this->kFull + 0.5));
          ASSERT_EQ(out[i * channels + c], want)
              << "pixel " << i << " channel " << c << " of " << channels;
        }
      }
    }
  }
}

// What a straight file keeps comes back as the same premultiplied pixel:
// at 8 bits through the byte tables, at 16 through 16-bit file values.
TYPED_TEST(PixelRows, AStraightFileReadBackGivesThePixelsAgain) {
  std::vector<TypeParam> back(this->pixels.size());
  if constexpr (std::is_same_v<TypeParam, PF_Pixel>) {
    std::vector<unsigned char> file(this->pixels.size() * 4);
    FileRow(this->pixels.data(), this->count(), FileAlpha::Straight, 4, file.data());
    RowFromBytes8(file.data(), this->count(), true, back.data());
  } else {
    std::vector<uint16_t> file(this->pixels.size() * 4);
    FileRow(this->pixels.data(), this->count(), FileAlpha::Straight, 4, file.data());
    for (size_t i = 0; i < back.size(); ++i) {
      int32_t v[4];
      for (int c = 0; c < 4; ++c) v[c] = From16BitFile(file[i * 4 + c]);
      back[i] = Premultiplied<TypeParam>(v, true);
    }
  }
  for (size_t i = 0; i < back.size(); ++i) ASSERT_TRUE(back[i] == this->pixels[i]) << i;
}

// Floats hold every step exactly; floats out of range, or colour above its
// alpha, come back clamped.
TYPED_TEST(PixelRows, FloatsHoldEveryStepAndAreClampedOnTheWayBack) {
  standin::World frame(this->count(), 1, PixelDepth<TypeParam>::kBits);
  std::copy(this->pixels.begin(), this->pixels.end(), RowOf<TypeParam>(frame, 0));
  std::vector<float> rgba(this->pixels.size() * 4);
  FloatsFromRow(frame, 0, 0, this->count(), rgba.data());
  for (size_t i = 0; i < rgba.size(); ++i) ASSERT_LE(rgba[i], 1.0f);
  standin::World back(this->count(), 1, PixelDepth<TypeParam>::kBits);
  RowFromFloats(rgba.data(), back, 0);
  EXPECT_TRUE(back.samePixels(frame));

  const float odd[3][4] = {{1.5f, -0.5f, NAN, 2.0f}, {0.75f, 0.25f, 0.5f, 0.5f}, {0, 0, 0, 0}};
  standin::World clamped(3, 1, PixelDepth<TypeParam>::kBits);
  RowFromFloats(&odd[0][0], clamped, 0);
  const TypeParam* row = RowOf<TypeParam>(clamped, 0);
  const bool deep = this->kFull == 32768;
  const int32_t half = deep ? 16384 : 128;   // 127.5 rounds up
  const int32_t quarter = deep ? 8192 : 64;  // 63.75
  EXPECT_TRUE(row[0] == MakePixel<TypeParam>(this->kFull, 0, 0, this->kFull));
  EXPECT_TRUE(row[1] == MakePixel<TypeParam>(half, quarter, half, half));  // red held to alpha
  EXPECT_TRUE(row[2] == MakePixel<TypeParam>(0, 0, 0, 0));
}

TEST(PixelRowsInput, BytesArePremultipliedOnlyWhenStraight) {
  for (const bool straight : {true, false}) {
    std::vector<unsigned char> file;
    for (int a = 0; a < 256; ++a) {
      for (int v = 0; v < 256; ++v) {
        for (const int c : {v, 255 - v, v / 3, a}) file.push_back(static_cast<unsigned char>(c));
      }
    }
    std::vector<PF_Pixel> out(file.size() / 4);
    RowFromBytes8(file.data(), static_cast<int32_t>(out.size()), straight, out.data());
    for (size_t i = 0; i < out.size(); ++i) {
      const int32_t v[4] = {file[i * 4], file[i * 4 + 1], file[i * 4 + 2], file[i * 4 + 3]};
      const int32_t a = v[3];
      const auto want = [&](int c) {
        return straight ? static_cast<int32_t>(std::floor(v[c] * a / 255.0 + 0.5)) : v[c];
      };
      ASSERT_TRUE(out[i] ==
                  (PF_Pixel{static_cast<A_u_char>(a), static_cast<A_u_char>(want(0)),
                            static_cast<A_u_char>(want(1)), static_cast<A_u_char>(want(2))}))
          << i << (straight ? " straight" : " premultiplied");
    }
  }
}

}  // namespace
}  // namespace tilvane_tool
