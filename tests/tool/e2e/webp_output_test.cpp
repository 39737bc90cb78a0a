// WebP outputs read back with libwebp's own command-line decoder (dwebp), not
// the library that wrote them: lossless files hold the PNG of the same render
// value for value, lossy ones nearly, and what WebP cannot hold is refused.
#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

class WebpOutput : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    // Smooth colours with a little noise, as a photograph has, over a column
    // of transparent pixels, a ramp of partial alpha and an opaque part.
    std::vector<Rgba> pixels;
    unsigned seed = 1;
    const auto noise = [&] {
      return static_cast<int>((seed = seed * 1103515245u + 12345u) >> 16) % 17 - 8;
    };
    const auto channel = [&](double v) {
      return std::clamp(static_cast<int>(128 + 90 * v) + noise(), 0, 255);
    };
    for (int y = 0; y < kIconHeight; ++y) {
      for (int x = 0; x < kIconWidth; ++x) {
        const int a = x < 30 ? 255 : x < 38 ? 0 : std::min(255, (x - 38) * 9);
        pixels.push_back({channel(std::sin(x * 0.21 + y * 0.05)),
                          channel(std::sin(y * 0.17 - x * 0.07)), channel(std::cos((x + y) * 0.11)),
                          a});
      }
    }
    writePng("icon.png", kIconWidth, kIconHeight, 8, pixels);
  }
  RunResult render(const std::string& out, std::vector<std::string> extra = {}) const {
    std::vector<std::string> args = {
        "render", "--quiet", "--icon", "icon.png", "--displacement-effect", "none", "-o", out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args);
  }
  std::string webpinfo(const std::string& name) const {
    EXPECT_EQ(shell("{ webpinfo " + name + " > " + name + ".info; }"), 0);
    return bytes(name + ".info");
  }
  // The file decoded by dwebp as straight 8-bit RGBA.
  Image decode(const std::string& name) const {
    Image image;
    EXPECT_EQ(shell("dwebp -pam " + name + " -o " + name + ".pam"), 0) << name;
    const std::string pam = bytes(name + ".pam");
    const size_t end = pam.find("ENDHDR\n");
    if (end == std::string::npos) {
      ADD_FAILURE() << name << ": no PAM header";
      return image;
    }
    std::istringstream header(pam.substr(0, end));
    for (std::string key; header >> key;) {
      if (key == "WIDTH") header >> image.width;
      if (key == "HEIGHT") header >> image.height;
      if (key == "DEPTH") header >> image.channels;
    }
    EXPECT_EQ(image.channels, 4) << name;
    for (size_t i = end + 7; i < pam.size(); ++i) {
      image.values.push_back(static_cast<float>(static_cast<unsigned char>(pam[i])));
    }
    EXPECT_EQ(image.values.size(), size_t(image.width) * image.height * 4) << name;
    return image;
  }
  static constexpr int kIconWidth = 96;
  static constexpr int kIconHeight = 72;
};

// Every value, colour under zero alpha included, through each way frames reach
// the writer: one frame, a sequence, a colour space other than the default,
// and a 16-bit render, rounded to the 16-bit PNG's nearest 8-bit step.
TEST_F(WebpOutput, LosslessHoldsThePngsValuesExactly) {
  struct Case {
    const char* out;       // without its extension
    const char* compared;  // the file of it compared
    std::vector<std::string> extra;
  };
  for (const Case& c : {Case{"a", "a", {"--units", "3"}},
                        {"s.####", "s.0001", {"--units", "3", "--frames", "0-1"}},
                        {"l", "l", {"--units", "1", "--output-colorspace", "linear"}},
                        {"d", "d", {"--units", "3", "--depth", "16"}}}) {
    const std::string webp = c.compared + std::string(".webp");
    ASSERT_EQ(render(c.out + std::string(".webp"), c.extra).status, 0) << webp;
    ASSERT_EQ(render(c.out + std::string(".png"), c.extra).status, 0) << webp;
    EXPECT_NE(webpinfo(webp).find("Format: Lossless"), std::string::npos) << webpinfo(webp);
    const Image png = read(c.compared + std::string(".png"));
    const Image got = decode(webp);
    ASSERT_EQ(png.width, got.width);
    ASSERT_EQ(png.height, got.height);
    ASSERT_EQ(png.channels, 4);
    const double step = png.format == "uint16" ? 257 : 1;  // the PNG's values per 8-bit step
    int transparent = 0, partial = 0, differing = 0;
    for (int y = 0; y < png.height; ++y) {
      for (int x = 0; x < png.width; ++x) {
        transparent += png.at(x, y).a == 0;
        partial += png.at(x, y).a > 0 && png.at(x, y).a < 255 * step;
        bool nearest = true;
        for (int ch = 0; ch < 4; ++ch) {
          nearest &= std::fabs(got.value(x, y, ch) * step - png.value(x, y, ch)) <= step / 2;
        }
        if (!nearest && ++differing <= 3) {
          ADD_FAILURE() << webp << " at " << x << "," << y << ": "
                        << testing::PrintToString(got.at(x, y)) << " for "
                        << testing::PrintToString(png.at(x, y));
        }
      }
    }
    EXPECT_EQ(differing, 0) << webp;
    EXPECT_GT(transparent, 0) << webp;
    EXPECT_GT(partial, 0) << webp;
  }
}

// A quality makes the colour lossy: a smaller file, close to the lossless one
// as seen (premultiplied), its alpha still exact.
TEST_F(WebpOutput, QualityMakesASmallerLossyFileWithExactAlpha) {
  ASSERT_EQ(render("exact.webp", {"--units", "1"}).status, 0);
  const RunResult r = render("q80.webp", {"--units", "1", "--webp-quality", "80"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string info = webpinfo("q80.webp");
  EXPECT_NE(info.find("Chunk ALPH"), std::string::npos) << info;
  EXPECT_NE(info.find("Format: Lossy"), std::string::npos) << info;
  EXPECT_LT(bytes("q80.webp").size() * 2, bytes("exact.webp").size());
  const Image exact = decode("exact.webp");
  const Image lossy = decode("q80.webp");
  ASSERT_EQ(exact.values.size(), lossy.values.size());
  double squares = 0;
  for (int y = 0; y < exact.height; ++y) {
    for (int x = 0; x < exact.width; ++x) {
      const Rgba e = exact.at(x, y), l = lossy.at(x, y);
      ASSERT_EQ(e.a, l.a) << x << "," << y;
      for (const auto& [ec, lc] : {std::pair{e.r, l.r}, {e.g, l.g}, {e.b, l.b}}) {
        squares += std::pow((ec - lc) * e.a / 255.0, 2);
      }
    }
  }
  const double psnr = 10 * std::log10(255.0 * 255.0 * exact.width * exact.height * 3 / squares);
  EXPECT_GT(psnr, 30) << "PSNR " << psnr;
}

// What WebP cannot take is refused by name before anything renders or is written.
TEST_F(WebpOutput, RefusalsNameTheOptionOrTheLimit) {
  struct Case {
    const char* out;
    std::vector<std::string> extra;
    const char* said;
  };
  for (const Case& c : {
           Case{"a.png", {"--webp-quality", "80"}, "--webp-quality applies to .webp outputs only"},
           {"a.webp",
            {"--jpeg-quality", "80"},
            "--jpeg-quality applies to .jpg/.jpeg outputs only"},
           {"a.webp", {"--webp-quality", "101"}, "--webp-quality '101' is not valid; give a whole"},
           {"a.webp", {"--webp-quality", "high"}, "--webp-quality 'high' is not valid"},
           {"a.webp",
            {"--size", "16384x8"},
            "-o 'a.webp': a WebP file holds at most 16383 pixels a side, and the frame is 16384x8"},
           // In a folder yet to be made: made only once the render has passed its checks.
           {"new/a.####.webp",
            {"--size", "8x20000", "--frames", "0-2"},
            "-o 'new/a.####.webp': a WebP file holds"},
       }) {
    const RunResult r = render(c.out, c.extra);
    EXPECT_TRUE(OneLineError(r)) << c.out << " " << c.extra[0];
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
  }
  EXPECT_EQ(files(), (std::vector<std::string>{"icon.png"}));
}

// A settings file keeps the quality only when it was set, and applies it to WebP outputs alone.
TEST_F(WebpOutput, SettingsKeepTheQualityWhenSet) {
  ASSERT_EQ(render("a.webp", {"--save-settings", "lossless.json"}).status, 0);
  ASSERT_EQ(render("b.webp", {"--webp-quality", "70", "--save-settings", "lossy.json"}).status, 0);
  EXPECT_EQ(bytes("lossless.json").find("webp-quality"), std::string::npos);
  EXPECT_NE(bytes("lossy.json").find("\"webp-quality\": 70"), std::string::npos)
      << bytes("lossy.json");
  EXPECT_EQ(run({"render", "--quiet", "--settings", "lossy.json", "-o", "c.png"}).status, 0);
  ASSERT_EQ(run({"render", "--quiet", "--settings", "lossy.json", "-o", "c.webp"}).status, 0);
  EXPECT_NE(webpinfo("c.webp").find("Format: Lossy"), std::string::npos);
}

}  // namespace
}  // namespace tilvane_test
