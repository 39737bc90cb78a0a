// Each image format's own output options, read back with oiiotool: the
// compression and type it reports, and the pixels against a PNG of the same
// render, or against oiiotool's own encoding of that PNG.
#include <cmath>
#include <string>
#include <vector>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

class ImageOptions : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    // Opaque, so that formats without alpha hold the same colours as the PNG.
    ASSERT_EQ(shell("oiiotool --pattern fill:topleft=1,0,0:topright=0,1,0:bottomleft=0,0,1:"
                    "bottomright=1,0.5,0.2 32x24 3 -d uint8 -o icon.png"),
              0);
  }
  // The icon filling the frame, at depth, to out with extra options.
  RunResult render(const std::string& out, std::vector<std::string> extra = {},
                   const std::string& depth = "8") const {
    std::vector<std::string> args = {
        "render", "--quiet", "--icon", "icon.png", "--units", "1", "--displacement-effect",
        "none",   "--depth", depth,    "-o",       out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args);
  }
  std::string info(const std::string& name) const {
    EXPECT_EQ(shell("{ oiiotool --info -v " + name + " > " + name + ".info; }"), 0);
    return bytes(name + ".info");
  }
  // The largest difference of two images' values, each on the 0-1 scale.
  static double MaxDifference(const Image& a, const Image& b, double scaleA, double scaleB) {
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    double worst = 0;
    for (int y = 0; y < a.height && y < b.height; ++y) {
      for (int x = 0; x < a.width && x < b.width; ++x) {
        for (int c = 0; c < 3; ++c) {
          worst = std::max(worst, std::fabs(a.value(x, y, c) / scaleA - b.value(x, y, c) / scaleB));
        }
      }
    }
    return worst;
  }
};

// Every compression EXR and TIFF take is the one the file reports; the
// lossless ones keep the default file's values exactly, the lossy ones nearly.
TEST_F(ImageOptions, CompressionsAreTheOnesTheFileReports) {
  ASSERT_EQ(render("ref.exr").status, 0);
  ASSERT_EQ(render("ref.tif").status, 0);
  EXPECT_NE(info("ref.exr").find("compression: \"zip\""), std::string::npos);
  EXPECT_NE(info("ref.tif").find("compression: \"zip\""), std::string::npos);
  struct Case {
    const char* out;
    const char* option;
    const char* name;
    double tolerance;
  };
  for (const Case c : {Case{"none.exr", "--exr-compression", "none", 0},
                       {"zips.exr", "--exr-compression", "ZIPS", 0},
                       {"piz.exr", "--exr-compression", "piz", 0},
                       {"pxr24.exr", "--exr-compression", "pxr24", 0.01},
                       {"b44.exr", "--exr-compression", "b44", 0.01},
                       {"dwaa.exr", "--exr-compression", "dwaa", 0.05},
                       {"dwab.exr", "--exr-compression", "dwab", 0.05},
                       {"none.tif", "--tiff-compression", "none", 0},
                       {"lzw.tif", "--tiff-compression", "lzw", 0},
                       {"packbits.tiff", "--tiff-compression", "packbits", 0}}) {
    const RunResult r = render(c.out, {c.option, c.name});
    ASSERT_EQ(r.status, 0) << c.out << ": " << r.err;
    std::string lower = c.name;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(ch));
    EXPECT_NE(info(c.out).find("compression: \"" + lower + "\""), std::string::npos)
        << c.out << ":\n"
        << info(c.out);
    const bool exr = std::string(c.out).ends_with(".exr");
    const double scale = exr ? 1.0 : 255.0;
    EXPECT_LE(MaxDifference(read(c.out), read(exr ? "ref.exr" : "ref.tif"), scale, scale),
              c.tolerance)
        << c.out;
  }
}

// --exr-type float stores 32-bit floats, which half rounds to the default file's values.
TEST_F(ImageOptions, ExrTypeFloatKeepsWhatHalfRounds) {
  for (const std::string depth : {"8", "16"}) {
    ASSERT_EQ(render("half.exr", {}, depth).status, 0);
    ASSERT_EQ(render("float.exr", {"--exr-type", "float"}, depth).status, 0);
    EXPECT_NE(info("float.exr").find("4 channel, float openexr"), std::string::npos) << depth;
    EXPECT_NE(info("half.exr").find("4 channel, half openexr"), std::string::npos) << depth;
    EXPECT_LE(MaxDifference(read("float.exr"), read("half.exr"), 1.0, 1.0), 1.0 / 1024) << depth;
  }
}

// The quality reaches the encoder: the file decodes to what oiiotool's own
// encoding of the same pixels at that quality decodes to; the default is 98.
TEST_F(ImageOptions, JpegQualityIsTheEncodersQuality) {
  ASSERT_EQ(render("ref.png").status, 0);
  ASSERT_EQ(render("q40.jpg", {"--jpeg-quality", "40"}).status, 0);
  ASSERT_EQ(render("default.jpg").status, 0);
  ASSERT_EQ(shell("oiiotool ref.png --ch R,G,B --compression jpeg:40 -o o40.jpg"), 0);
  ASSERT_EQ(shell("oiiotool ref.png --ch R,G,B --compression jpeg:98 -o o98.jpg"), 0);
  EXPECT_EQ(MaxDifference(read("q40.jpg"), read("o40.jpg"), 255, 255), 0);
  EXPECT_EQ(MaxDifference(read("default.jpg"), read("o98.jpg"), 255, 255), 0);
  EXPECT_GT(MaxDifference(read("q40.jpg"), read("default.jpg"), 255, 255), 0);
}

// DPX at 10 and 16 bits holds the PNG's colours, sRGB-encoded, to the file's precision.
TEST_F(ImageOptions, DpxHoldsThePngsColoursAtItsBits) {
  for (const std::string depth : {"8", "16"}) {
    ASSERT_EQ(render("ref.png", {}, depth).status, 0);
    ASSERT_EQ(render("ten.dpx", {}, depth).status, 0);
    ASSERT_EQ(render("sixteen.dpx", {"--dpx-bits", "16"}, depth).status, 0);
    EXPECT_NE(info("ten.dpx").find("3 channel, uint10 dpx"), std::string::npos) << info("ten.dpx");
    EXPECT_NE(info("sixteen.dpx").find("3 channel, uint16 dpx"), std::string::npos);
    const Image png = read("ref.png");
    const double pngScale = depth == "8" ? 255 : 65535;
    // Within a step of 10 bits: OpenImageIO's writer packs, and its reader scales back.
    EXPECT_LE(MaxDifference(read("ten.dpx"), png, 65535, pngScale), 1.0 / 1023) << depth;
    EXPECT_LE(MaxDifference(read("sixteen.dpx"), png, 65535, pngScale), 1e-9) << depth;
  }
}

// Each option is refused by name for another format, and a bad value by its range;
// nothing is written either way.
TEST_F(ImageOptions, WrongFormatsAndValuesAreRefusedByName) {
  struct Case {
    const char* out;
    std::vector<std::string> extra;
    const char* said;
  };
  for (const Case& c : {
           Case{"a.png", {"--exr-compression", "piz"}, "--exr-compression applies to .exr "},
           {"a.tif", {"--exr-type", "float"}, "--exr-type applies to .exr outputs only"},
           {"a.png", {"--jpeg-quality", "50"}, "--jpeg-quality applies to .jpg/.jpeg outputs only"},
           {"a.exr", {"--tiff-compression", "lzw"}, "--tiff-compression applies to .tif/.tiff "},
           {"a.mov", {"--dpx-bits", "16"}, "--dpx-bits applies to .dpx outputs only"},
           {"a.exr",
            {"--exr-compression", "rle9"},
            "--exr-compression 'rle9' is not valid; give "
            "none, zip, zips, piz, pxr24, b44, dwaa or dwab"},
           {"a.exr",
            {"--exr-type", "double"},
            "--exr-type 'double' is not valid; give half or float"},
           {"a.jpg", {"--jpeg-quality", "0"}, "--jpeg-quality '0' is not valid"},
           {"a.jpg", {"--jpeg-quality", "101"}, "--jpeg-quality '101' is not valid"},
           {"a.tif", {"--tiff-compression", "jpeg"}, "give none, lzw, zip or packbits"},
           {"a.dpx", {"--dpx-bits", "12"}, "--dpx-bits '12' is not valid; give 10 or 16"},
       }) {
    const RunResult r = render(c.out, c.extra);
    EXPECT_TRUE(OneLineError(r)) << c.out << " " << c.extra[0];
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
  }
  EXPECT_EQ(files(), (std::vector<std::string>{"icon.png"}));
}

// A settings file keeps each option set, applies it to its own format and
// waits, unapplied, through a render of another.
TEST_F(ImageOptions, SettingsFilesKeepThemForTheirFormat) {
  ASSERT_EQ(render("a.exr", {"--exr-compression", "piz", "--exr-type", "float", "--save-settings",
                             "exr.json"})
                .status,
            0);
  ASSERT_EQ(render("a.tif", {"--tiff-compression", "lzw", "--save-settings", "tif.json"}).status,
            0);
  ASSERT_EQ(render("default.png", {"--save-settings", "default.json"}).status, 0);
  EXPECT_NE(bytes("exr.json").find("\"exr-compression\": \"piz\""), std::string::npos)
      << bytes("exr.json");
  EXPECT_NE(bytes("exr.json").find("\"exr-type\": \"float\""), std::string::npos);
  EXPECT_EQ(bytes("default.json").find("compression\": \"zip"), std::string::npos);
  EXPECT_EQ(bytes("default.json").find("exr-"), std::string::npos);

  const RunResult png = run({"render", "--quiet", "--settings", "exr.json", "-o", "b.png"});
  EXPECT_EQ(png.status, 0) << png.err;
  const RunResult exr = run({"render", "--quiet", "--settings", "exr.json", "-o", "b.exr"});
  ASSERT_EQ(exr.status, 0) << exr.err;
  EXPECT_NE(info("b.exr").find("float openexr"), std::string::npos);
  EXPECT_NE(info("b.exr").find("compression: \"piz\""), std::string::npos);
  const RunResult tif = run({"render", "--quiet", "--settings", "tif.json", "-o", "b.tif"});
  ASSERT_EQ(tif.status, 0) << tif.err;
  EXPECT_NE(info("b.tif").find("compression: \"lzw\""), std::string::npos);
}

}  // namespace
}  // namespace tilvane_test
