// Layers read from files: what premultiplied values each kind of file gives
// the effect, at each depth.
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

}  // namespace
}  // namespace tilvane_tool
