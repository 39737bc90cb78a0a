// The stream on standard output, written here to a file: what ffprobe reads
// of it (the container, the pixels' format, the exact rate, every frame) and
// ffmpeg's decode of its pixels.
#include "tools/tilvane/output/stream_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/tool/tool_support.h"

namespace tilvane_tool {
namespace {

std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  pclose(pipe);
  return out;
}

class StreamWriters : public tilvane_test::ToolTest {
 protected:
  // Writes `frames` opaque frames of 5x3 pixels at the depth and rate given.
  std::string write(const std::string& name, int depth, int32_t step, uint32_t scale, int frames) {
    StreamOptions options;
    options.width = 5;
    options.height = 3;
    options.depth = depth;
    options.time = *TimeBase::FromStepAndScale(step, scale);
    const int fd = open(path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    StreamWriter writer(fd, options);
    EXPECT_FALSE(writer.onDisk());
    standin::World frame(5, 3, depth);
    for (int32_t y = 0; y < 3; ++y) {
      for (int32_t x = 0; x < 5; ++x) {
        if (depth == 8) {
          frame.at8(x, y) = PF_Pixel{255, static_cast<A_u_char>(10 * x), 20, 30};
        } else {
          frame.at16(x, y) = PF_Pixel16{32768, static_cast<A_u_short>(32768 * x / 4), 0, 32768};
        }
      }
    }
    for (int i = 0; i < frames; ++i) writer.write(frame);
    const std::string described = writer.describe();
    writer.finish();
    return described;
  }
  std::string probe(const std::string& name) const {
    return Output(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_read_frames -of "
        "default=nw=1 '" +
        path(name) + "'");
  }
};

TEST_F(StreamWriters, ffprobeReadsTheFormatTheExactRateAndEveryFrame) {
  EXPECT_EQ(write("a.nut", 8, 1001, 24000, 4), "NUT (rawvideo, rgba)");
  EXPECT_EQ(probe("a.nut"),
            "codec_name=rawvideo\nwidth=5\nheight=3\npix_fmt=rgba\nr_frame_rate=24000/1001\n"
            "nb_read_frames=4\n");
  EXPECT_EQ(write("b.nut", 16, 1, 30, 2), "NUT (rawvideo, rgba64le)");
  EXPECT_EQ(probe("b.nut"),
            "codec_name=rawvideo\nwidth=5\nheight=3\npix_fmt=rgba64le\nr_frame_rate=30/1\n"
            "nb_read_frames=2\n");
}

// Opaque pixels in the effect's sRGB encoding go out as they are: the first
// row of frame 0 as ffmpeg decodes it, worked out by hand.
TEST_F(StreamWriters, OpaquePixelsGoOutAsRendered) {
  write("a.nut", 8, 1, 30, 1);
  const std::string rgba =
      Output("ffmpeg -v error -i '" + path("a.nut") + "' -f rawvideo -pix_fmt rgba -");
  ASSERT_EQ(rgba.size(), 5u * 3 * 4);
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(static_cast<unsigned char>(rgba[4 * x]), 10 * x) << x;
    EXPECT_EQ(static_cast<unsigned char>(rgba[4 * x + 1]), 20);
    EXPECT_EQ(static_cast<unsigned char>(rgba[4 * x + 2]), 30);
    EXPECT_EQ(static_cast<unsigned char>(rgba[4 * x + 3]), 255);
  }
}

}  // namespace
}  // namespace tilvane_tool
