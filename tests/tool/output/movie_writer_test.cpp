// The movie writer on its own, held against ffprobe and ffmpeg: the quality
// scale each codec is given, the tag players look for, and the padding of
// sizes a codec cannot take.
#include "tools/tilvane/output/movie_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/tool/tool_support.h"

namespace tilvane_tool {
namespace {

using tilvane_test::ToolTest;

class MovieWriters : public ToolTest {
 protected:
  // Writes `frames` frames of one straight colour, opaque, at 8 bits.
  void writeMovie(const std::string& name, MovieOptions options, PF_Pixel color) {
    standin::World frame(options.width, options.height, 8);
    for (int32_t y = 0; y < options.height; ++y) {
      for (int32_t x = 0; x < options.width; ++x) frame.at8(x, y) = color;
    }

    MovieWriter writer(path(name), options);
    for (int64_t i = 0; i < options.frames; ++i) writer.write(frame);
    writer.finish();
  }
  // A command's standard output, run in the test directory.
  std::string output(const std::string& command) const {
    std::string out;
    FILE* pipe = popen(("cd '" + dir_.string() + "' && " + command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    pclose(pipe);
    return out;
  }
};

struct Quality {
  const char* file;
  const char* codec;
  int quality;
  const char* described;  // the constant rate factor on the codec's own scale
  const char* tag;        // the sample entry ffprobe reads from the container
};

// 100 is the scale's best (0) and 0 its worst (51 for x264 and x265, 63 for VP9).
const Quality kQualities[] = {
    {"a.mp4", "h264", 90, "H.264 (libx264, yuv420p, crf 5)", "avc1"},
    {"b.mp4", "h264", 10, "H.264 (libx264, yuv420p, crf 46)", "avc1"},
    {"c.mp4", "hevc", 90, "HEVC (libx265, yuv420p, crf 5)", "hvc1"},
    {"d.mp4", "hevc", 30, "HEVC (libx265, yuv420p, crf 36)", "hvc1"},
    {"e.webm", "vp9", 90, "VP9 (libvpx-vp9, yuva420p, crf 6)", ""},
    {"f.webm", "vp9", 100, "VP9 (libvpx-vp9, yuva420p, crf 0)", ""},
};

class MovieQualities : public MovieWriters, public ::testing::WithParamInterface<Quality> {};

// The quality asked for is the codec's, and HEVC in MP4 is tagged hvc1:
// players on Apple systems refuse hev1.
TEST_P(MovieQualities, ScaleOntoTheCodecAndTagTheStream) {
  const Quality& q = GetParam();
  MovieOptions options;
  options.codec = q.codec;
  options.quality = q.quality;
  options.width = 64;
  options.height = 48;
  options.frames = 2;
  {
    MovieWriter writer(path(q.file), options);
    EXPECT_EQ(writer.describe(), q.described);
  }
  if (*q.tag == '\0') return;
  writeMovie(q.file, options, PF_Pixel{255, 40, 120, 200});
  EXPECT_EQ(output(std::string("ffprobe -v error -select_streams v:0 -show_entries "
                               "stream=codec_tag_string -of default=nw=1:nk=1 ") +
                   q.file),
            std::string(q.tag) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Codecs, MovieQualities, ::testing::ValuesIn(kQualities),
                         [](const auto& info) {
                           return std::string(info.param.file).substr(0, 1);
                         });

// An odd height is padded by repeating the last row, so 4:2:0 chroma, shared
// by two rows, is the last row's own: a frame of one colour decodes to one
// colour down to its last row.
TEST_F(MovieWriters, OddSizesArePaddedWithTheirOwnLastRowAndColumn) {
  MovieOptions options;
  options.width = 33;
  options.height = 21;
  options.frames = 1;
  writeMovie("odd.mp4", options, PF_Pixel{255, 230, 20, 20});
  const std::string rgba =
      output("ffmpeg -v error -i odd.mp4 -f rawvideo -pix_fmt rgba -frames:v 1 -");
  ASSERT_EQ(rgba.size(), size_t{34} * 22 * 4);
  const auto at = [&](int x, int y, int c) {
    return static_cast<unsigned char>(rgba[(size_t(y) * 34 + x) * 4 + c]);
  };
  for (int y = 0; y < 22; ++y) {
    for (int x = 0; x < 34; ++x) {
      for (int c = 0; c < 3; ++c) {
        ASSERT_LE(std::abs(at(x, y, c) - at(0, 0, c)), 3) << x << "," << y << " channel " << c;
      }
    }
  }
  EXPECT_GE(at(0, 0, 0), 200);
  EXPECT_LE(at(0, 0, 1), 50);
}

}  // namespace
}  // namespace tilvane_tool
