// Layers read from files: what premultiplied values each kind of file gives
// the effect, at each depth, and stills turned as their orientation asks.
#include "tools/tilvane/input/layer.h"

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include "tests/tool/tool_support.h"
#include "tools/tilvane/core/pixels.h"

namespace tilvane_tool {
namespace {

using tilvane_test::ToolTest;

struct Stored {
  const char* file;
  int channels;
  bool associated;  // the file says its colour is multiplied by alpha
  unsigned char values[4];
  // The premultiplied 8-bit pixel the effect gets: red, green, blue, alpha.
  int expected[4];
};

// Straight files are premultiplied on reading, rounded to the nearest
// (200 * 128 / 255 = 100.4); files that say their alpha is associated hold
// premultiplied values already, and keep them.
const Stored kStored[] = {
    {"straight.png", 4, false, {200, 100, 50, 128}, {100, 50, 25, 128}},
    {"straight.tif", 4, false, {200, 100, 50, 128}, {100, 50, 25, 128}},
    {"associated.tif", 4, true, {100, 50, 25, 128}, {100, 50, 25, 128}},
    {"opaque.tif", 4, true, {200, 100, 50, 255}, {200, 100, 50, 255}},
    {"grey.png", 2, false, {200, 128}, {100, 100, 100, 128}},
    {"rgb.png", 3, false, {200, 100, 50}, {200, 100, 50, 255}},
};

class StoredAlpha : public ToolTest, public ::testing::WithParamInterface<std::tuple<Stored, int>> {
 protected:
  // A 3x2 image of one pixel, written as the file's own format stores it.
  void write(const Stored& s) const {
    OIIO::ImageSpec spec(3, 2, s.channels, OIIO::TypeDesc::UINT8);
    spec.alpha_channel = s.channels == 2 ? 1 : s.channels == 4 ? 3 : -1;
    if (!s.associated) spec.attribute("oiio:UnassociatedAlpha", 1);
    std::vector<unsigned char> data;
    for (int i = 0; i < 6; ++i) data.insert(data.end(), s.values, s.values + s.channels);
    auto out = OIIO::ImageOutput::create(path(s.file));
    ASSERT_TRUE(out && out->open(path(s.file), spec) &&
                out->write_image(OIIO::TypeDesc::UINT8, data.data()) && out->close());
  }
};

TEST_P(StoredAlpha, IsPremultipliedOnceAtEachDepth) {
  const auto& [stored, depth] = GetParam();
  write(stored);
  const auto layer = Layer::Open("--icon", path(stored.file));
  ASSERT_EQ(layer->width(), 3);
  const standin::WorldPtr frame = layer->decode(0, depth);
  ASSERT_EQ(frame->depth(), depth);
  const auto scaled = [&](int v) { return depth == 16 ? From8To16(v) : v; };
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      int got[4];
      if (depth == 16) {
        const PF_Pixel16& p = frame->at16(x, y);
        got[0] = p.red, got[1] = p.green, got[2] = p.blue, got[3] = p.alpha;
      } else {
        const PF_Pixel& p = frame->at8(x, y);
        got[0] = p.red, got[1] = p.green, got[2] = p.blue, got[3] = p.alpha;
      }
      for (int c = 0; c < 4; ++c) {
        // At 16 bits the straight colour is premultiplied on the finer scale.
        const int want = depth == 16 && !stored.associated && c < 3
                             ? Premultiply(From8To16(stored.values[stored.channels == 2 ? 0 : c]),
                                           scaled(stored.expected[3]), 32768)
                             : scaled(stored.expected[c]);
        ASSERT_EQ(got[c], want) << stored.file << " at " << x << "," << y << " channel " << c;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Files, StoredAlpha,
                         ::testing::Combine(::testing::ValuesIn(kStored), ::testing::Values(8, 16)),
                         [](const auto& info) {
                           std::string name = std::get<0>(info.param).file;
                           name = name.substr(0, name.find('.')) + "_" +
                                  name.substr(name.find('.') + 1);
                           return name + "_" + std::to_string(std::get<1>(info.param));
                         });

// A still or sequence frame tagged with an EXIF/TIFF orientation, set by
// exiftool, is read as oiiotool --reorient shows the same file: size and pixels.
struct Oriented {
  const char* layer;  // as given to the tool
  const char* file;   // the one file written
  int orientation;
};

void PrintTo(const Oriented& o, std::ostream* os) { *os << o.layer << " " << o.orientation; }

class Orientation : public ToolTest, public ::testing::WithParamInterface<Oriented> {};

TEST_P(Orientation, StillsAreReadAsOiiotoolReorientShowsThem) {
  const Oriented& o = GetParam();
  const std::string file = o.file;
  // 6x4 pixels, each different from its mirror images, so that every turn and flip shows.
  ASSERT_EQ(shell("oiiotool --pattern fill:topleft=1,0,0:topright=0,1,0:bottomleft=0,0,1:"
                  "bottomright=1,1,1 6x4 3 -d uint8 -o " +
                  file),
            0);
  ASSERT_EQ(shell("exiftool -q -overwrite_original -n -Orientation=" +
                  std::to_string(o.orientation) + " " + file),
            0);
  ASSERT_EQ(shell("oiiotool " + file + " --reorient -d uint8 -o shown.tif"), 0);
  const tilvane_test::Image shown = read("shown.tif");
  ASSERT_EQ(shown.channels, 3);

  const auto layer = Layer::Open("--icon", path(o.layer));
  ASSERT_EQ(layer->width(), shown.width);
  ASSERT_EQ(layer->height(), shown.height);
  const standin::WorldPtr frame = layer->decode(0, 8);
  ASSERT_EQ(frame->width(), shown.width);
  ASSERT_EQ(frame->height(), shown.height);
  for (int y = 0; y < shown.height; ++y) {
    for (int x = 0; x < shown.width; ++x) {
      const PF_Pixel& p = frame->at8(x, y);
      const tilvane_test::Rgba want = shown.at(x, y);
      ASSERT_EQ((tilvane_test::Rgba{p.red, p.green, p.blue, p.alpha}),
                (tilvane_test::Rgba{want.r, want.g, want.b, 255}))
          << "at " << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, Orientation,
    ::testing::Values(Oriented{"p.jpg", "p.jpg", 1}, Oriented{"p.jpg", "p.jpg", 2},
                      Oriented{"p.jpg", "p.jpg", 3}, Oriented{"p.jpg", "p.jpg", 4},
                      Oriented{"p.jpg", "p.jpg", 5}, Oriented{"p.jpg", "p.jpg", 6},
                      Oriented{"p.jpg", "p.jpg", 7}, Oriented{"p.jpg", "p.jpg", 8},
                      Oriented{"p.tif", "p.tif", 6}, Oriented{"p.tif", "p.tif", 7},
                      Oriented{"seq.####.jpg", "seq.0001.jpg", 6}),
    [](const auto& info) {
      const std::string layer = info.param.layer;
      return (layer[0] == 's' ? "sequence" : layer.substr(layer.find('.') + 1)) + std::string("_") +
             std::to_string(info.param.orientation);
    });

}  // namespace
}  // namespace tilvane_tool
