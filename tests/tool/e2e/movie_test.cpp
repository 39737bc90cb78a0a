// Movies and GIFs out, held against FFmpeg's own decoding: each codec's frames
// against the PNG sequence of the same render, the rate and count as ffprobe
// reads them, alpha where the codec keeps it, and the file complete or absent.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <thread>

#include "tests/tool/tool_support.h"

extern char** environ;

namespace tilvane_test {
namespace {

namespace fs = std::filesystem;

constexpr int kFrames = 6;
constexpr double kLuma[3] = {0.2126, 0.7152, 0.0722};
// Saturated colours, one per frame: a wrong matrix or range moves them far.
const Rgba kColors[kFrames] = {{230, 20, 20, 255},  {20, 200, 40, 255},  {30, 40, 220, 255},
                               {240, 220, 30, 255}, {200, 30, 210, 255}, {40, 210, 220, 255}};

// How far a decoded movie is from the PNG sequence, in 8-bit steps of
// premultiplied colour (colour over black where the codec keeps no alpha).
struct Difference {
  double mean = 0;
  int max = 0;
  double lumaMean = 0;  // BT.709 luma, which 4:2:0 and 4:2:2 keep at every pixel

  int alphaMax = 0;
  bool alpha = false;  // the decoded frames hold alpha below 255 somewhere
};

class Movies : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    // A 12x12 icon per frame: a disc of the frame's colour, soft at its edge,
    // in a transparent margin; a displacement ramp turns and scales the cells.
    for (int f = 0; f < kFrames; ++f) {
      std::vector<Rgba> icon;
      for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 12; ++x) {
          const double d = std::hypot(x - 5.5, y - 5.5);
          const int a = d < 3.5 ? 255 : d < 5 ? int((5 - d) / 1.5 * 255) : 0;
          const Rgba c = kColors[f];
          icon.push_back(a ? Rgba{c.r, c.g, c.b, a} : Rgba{0, 0, 0, 0});
        }
      }
      char name[32];
      std::snprintf(name, sizeof name, "icon.%04d.png", f);
      writePng(name, 12, 12, 8, icon);
    }
    std::vector<Rgba> ramp;
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 96; ++x) ramp.push_back({x * 8 / 3, x * 8 / 3, x * 8 / 3, 255});
    }
    writePng("ramp.png", 96, 64, 8, ramp);
  }

  static std::vector<std::string> Mosaic(const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args = {"render",         "--quiet",  "--icon",  "icon.####.png",
                                     "--displacement", "ramp.png", "--units", "4",
                                     "--frames",       "0-5",      "-o",      out};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  // Runs a shell command in the test directory; its standard output.
  std::string shell(const std::string& command) const {
    std::string out;
    FILE* pipe = popen(("cd '" + dir_.string() + "' && " + command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    pclose(pipe);
    return out;
  }

  // ffprobe's view of the first video stream, counting the frames by decoding.
  std::map<std::string, std::string> probe(const std::string& movie) const {
    std::map<std::string, std::string> fields;
    const std::string text = shell(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_read_frames,color_space,"
        "color_primaries,color_transfer,color_range:stream_tags=alpha_mode -of default=nw=1 " +
        movie);
    size_t at = 0;
    while (at < text.size()) {
      const size_t end = text.find('\n', at);
      const std::string line = text.substr(at, end - at);
      const size_t eq = line.find('=');
      if (eq != std::string::npos) {
        std::string key = line.substr(0, eq);
        if (key.rfind("TAG:", 0) == 0) key = key.substr(4);
        fields[key] = line.substr(eq + 1);
      }
      at = end == std::string::npos ? text.size() : end + 1;
    }
    return fields;
  }

  // Decodes the movie with ffmpeg (decoder may name one, e.g. libvpx-vp9 for
  // VP9's alpha) to RGBA PNGs and compares them with seq.%04d.png.
  // solidOnly: only where the render is fully transparent or fully opaque.
  Difference compare(const std::string& movie, bool keepsAlpha, const std::string& decoder = "",
                     bool solidOnly = false) {
    const std::string stem = "decoded-" + movie;
    shell("ffmpeg -v error -y " + (decoder.empty() ? "" : "-c:v " + decoder + " ") + "-i " + movie +
          " -pix_fmt rgba -start_number 0 " + stem + ".%04d.png");
    Difference d;
    double sum = 0, lumaSum = 0;
    int64_t count = 0;
    for (int f = 0; f < kFrames; ++f) {
      char seq[32], got[96];
      std::snprintf(seq, sizeof seq, "seq.%04d.png", f);
      std::snprintf(got, sizeof got, "%s.%04d.png", stem.c_str(), f);
      if (!fs::exists(path(got))) {
        ADD_FAILURE() << movie << ": frame " << f << " did not decode";
        return d;
      }
      const Image want = read(seq);
      const Image have = read(got);
      for (int y = 0; y < want.height; ++y) {
        for (int x = 0; x < want.width; ++x) {
          const Rgba w = want.at(x, y);
          const Rgba h = have.at(x, y);
          if (solidOnly && w.a != 0 && w.a != 255) continue;
          const int ha = keepsAlpha ? h.a : 255;
          const int wc[3] = {w.r, w.g, w.b};
          const int hc[3] = {h.r, h.g, h.b};
          double luma = 0;
          for (int c = 0; c < 3; ++c) {
            const int e = wc[c] * w.a / 255 - hc[c] * ha / 255;
            sum += std::abs(e);
            ++count;
            d.max = std::max(d.max, std::abs(e));
            luma += kLuma[c] * e;
          }
          lumaSum += std::abs(luma);

          if (keepsAlpha) d.alphaMax = std::max(d.alphaMax, std::abs(w.a - h.a));
          if (h.a < 255) d.alpha = true;
        }
      }
    }
    d.mean = count ? sum / count : 0;
    d.lumaMean = count ? 3 * lumaSum / count : 0;
    return d;
  }
};

struct Case {
  std::string file;
  std::vector<std::string> codec;
  std::string codecName;  // as ffprobe names it
  bool keepsAlpha;
  // In 8-bit steps of premultiplied colour: the mean over every channel, the
  // mean of BT.709 luma, the largest (lossless and 4:4:4 only: subsampled
  // chroma smears the sharp saturated edges of small cells) and of alpha.
  double mean;
  double lumaMean;
  int max;
  int alphaMax;
  std::string decoder = "";
};

// Every container and codec against the same render as a PNG sequence:
// lossless ones exactly, lossy ones within the stated error, alpha kept where
// the codec carries it, six frames at exactly 30000/1001 per second.
TEST_F(Movies, EachCodecHoldsTheRenderedFrames) {
  ASSERT_EQ(run(Mosaic("seq.####.png", {})).status, 0);
  const std::vector<std::string> rate = {"--time-scale", "30000", "--time-step", "1001"};
  const Case cases[] = {
      {"lossless.mov", {"--codec", "png"}, "png", true, 0, 0, 0, 0},
      // More frames at once than cores: still handed to the encoder in order.
      {"lossless.mkv", {"--threads", "3"}, "ffv1", true, 0, 0, 0, 0},
      {"default.mov", {}, "prores", true, 0.4, 0.4, 3, 2},
      {"hq.mov", {"--codec", "prores-422"}, "prores", false, 4, 1.6, 255, 0},
      // ffmpeg's own H.264 encode of these frames over black is as far off.
      {"review.mp4", {}, "h264", false, 8, 3.5, 255, 0},
      {"review-hevc.mp4", {"--codec", "hevc"}, "hevc", false, 8, 3.5, 255, 0},
      {"web.webm", {}, "vp9", true, 3.5, 1.5, 255, 10, "libvpx-vp9"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> extra = rate;
    extra.insert(extra.end(), c.codec.begin(), c.codec.end());
    const RunResult r = run(Mosaic(c.file, extra));
    ASSERT_EQ(r.status, 0) << c.file << ": " << r.err;
    auto p = probe(c.file);
    EXPECT_EQ(p["codec_name"], c.codecName) << c.file;
    EXPECT_EQ(p["nb_read_frames"], "6") << c.file;
    EXPECT_EQ(p["r_frame_rate"], "30000/1001") << c.file;
    EXPECT_EQ(p["width"] + "x" + p["height"], "96x64") << c.file;
    const Difference d = compare(c.file, c.keepsAlpha, c.decoder);
    EXPECT_LE(d.mean, c.mean) << c.file;
    EXPECT_LE(d.lumaMean, c.lumaMean) << c.file;
    EXPECT_LE(d.max, c.max) << c.file;
    EXPECT_LE(d.alphaMax, c.alphaMax) << c.file;
    EXPECT_EQ(d.alpha, c.keepsAlpha) << c.file;
    if (c.mean > 0) {
      // YUV: tagged BT.709 in limited range, which the decoder above obeyed.
      EXPECT_EQ(p["color_space"], "bt709") << c.file;
      EXPECT_EQ(p["color_primaries"], "bt709") << c.file;
      EXPECT_EQ(p["color_transfer"], "bt709") << c.file;
      EXPECT_EQ(p["color_range"], "tv") << c.file;
    }
  }
  EXPECT_EQ(probe("web.webm")["alpha_mode"], "1");
}

// At 16 bits the lossless codecs keep every bit of the 16-bit PNGs.
TEST_F(Movies, LosslessCodecsKeepSixteenBits) {
  ASSERT_EQ(run(Mosaic("deep.####.png", {"--depth", "16"})).status, 0);
  for (const std::string file : {"deep.mov", "deep.mkv"}) {
    const std::vector<std::string> codec = {"--depth", "16", "--codec",
                                            file == "deep.mov" ? "png" : "ffv1"};
    ASSERT_EQ(run(Mosaic(file, codec)).status, 0);
    shell("ffmpeg -v error -y -i " + file + " -pix_fmt rgba64be -start_number 0 " + file +
          ".%04d.png");
    for (int f = 0; f < kFrames; ++f) {
      char want[32], got[64];
      std::snprintf(want, sizeof want, "deep.%04d.png", f);
      std::snprintf(got, sizeof got, "%s.%04d.png", file.c_str(), f);
      const Image a = read(want);
      const Image b = read(got);
      EXPECT_EQ(b.format, "uint16") << got;
      EXPECT_TRUE(a.values == b.values) << got;
    }
  }
}

// Whole frames of one saturated colour come back as that colour: the RGB to
// YUV matrix and range match the tags (BT.601's matrix moves these by 10-30
// steps, a full-range mix-up by about 16).
TEST_F(Movies, YuvCodecsConvertWithTheMatrixTheyAreTaggedWith) {
  for (int f = 0; f < kFrames; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "flat.%04d.png", f);
    writeUniform(name, 4, 4, 8, kColors[f]);
  }
  for (const std::string file : {"flat.mov", "flat.mp4", "flat.webm"}) {
    ASSERT_EQ(
        run({"render", "--quiet", "--icon", "flat.####.png", "--units", "1",
             "--displacement-effect", "none", "--size", "16x16", "--frames", "0-5", "-o", file})
            .status,
        0);
    shell("ffmpeg -v error -y -i " + file + " -pix_fmt rgba -start_number 0 " + file + ".%04d.png");
    for (int f = 0; f < kFrames; ++f) {
      char name[64];
      std::snprintf(name, sizeof name, "%s.%04d.png", file.c_str(), f);
      const Rgba got = read(name).at(8, 8);
      const Rgba want = kColors[f];
      EXPECT_NEAR(got.r, want.r, 3) << file << " frame " << f;
      EXPECT_NEAR(got.g, want.g, 3) << file << " frame " << f;
      EXPECT_NEAR(got.b, want.b, 3) << file << " frame " << f;
    }
  }
}

// A GIF has every frame, one palette's worth of colours, and keeps the
// transparent margin transparent; 25 per second is exact in its hundredths.
TEST_F(Movies, AGifKeepsItsFramesAndTransparency) {
  ASSERT_EQ(run(Mosaic("seq.####.png", {})).status, 0);
  ASSERT_EQ(run(Mosaic("anim.gif", {"--time-scale", "25"})).status, 0);
  auto p = probe("anim.gif");
  EXPECT_EQ(p["codec_name"], "gif");
  EXPECT_EQ(p["nb_read_frames"], "6");
  EXPECT_EQ(p["r_frame_rate"], "25/1");
  // Alpha is one bit, cut at half: soft edges are left out.
  const Difference d = compare("anim.gif", true, "", true);
  EXPECT_TRUE(d.alpha);
  EXPECT_EQ(d.alphaMax, 0);
  EXPECT_LE(d.mean, 3.0);
}

// Odd sizes: 4:2:0 H.264 is padded to even, with a warning; ProRes takes them.
// Alpha into a codec without it is warned about once.
TEST_F(Movies, OddSizesAndLostAlphaAreSaidOnce) {
  writeUniform("still.png", 12, 12, 8, {200, 100, 50, 128});
  const std::vector<std::string> still = {"render", "--icon",   "still.png", "--units",
                                          "4",      "--size",   "33x21",     "--threads",
                                          "1",      "--frames", "0-2"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = still;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  RunResult r = run(with({"-o", "odd.mp4"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("writing 'odd.mp4' as H.264 (libx264, yuv420p, crf 18)"), std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("H.264 needs an even width and height; the 33x21 frames are padded to "
                       "34x22"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("H.264 keeps no alpha"), std::string::npos) << r.err;
  EXPECT_EQ(probe("odd.mp4")["width"], "34");
  r = run(with({"-o", "odd.mov", "--quality", "95"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("ProRes 4444 (prores_ks, yuva444p10le, profile 4444xq)"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;  // progress lines only
  EXPECT_EQ(probe("odd.mov")["width"] + "x" + probe("odd.mov")["height"], "33x21");
}

TEST_F(Movies, CodecsAndQualitiesThatDoNotFitAreRefusedBeforeRendering) {
  auto refused = [&](std::vector<std::string> extra, const std::string& words) {
    const RunResult r = run(Mosaic(extra.front(), {extra.begin() + 1, extra.end()}));
    EXPECT_TRUE(OneLineError(r));
    EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
  };
  refused({"a.mp4", "--codec", "h265"},
          "--codec 'h265' cannot be written to a .mp4 movie (did you mean h264?); give h264 or "
          "hevc");
  refused({"a.mp4", "--codec", "ffv1"}, "FFV1 goes in .mkv");
  refused({"a.mov", "--quality", "101"}, "--quality '101' is not valid");
  refused({"a.png", "--codec", "png"}, "--codec applies to movies only");
  refused({"a.####.mov"}, "take the frame number");
  EXPECT_EQ(files().size(), 7u);  // the inputs alone
}

// The trust rules of images hold for movies: -n refuses an existing movie, a
// failed write (here a file size limit) leaves the old movie as it was and no
// temporary file, and Ctrl-C leaves nothing under the final name.
TEST_F(Movies, AMovieIsCompleteOrAbsent) {
  ASSERT_EQ(run(Mosaic("keep.mov", {})).status, 0);
  const std::string before = bytes("keep.mov");
  RunResult r = run(Mosaic("keep.mov", {"-n"}));
  EXPECT_TRUE(OneLineError(r));
  r = runUnderLimit("-f 8", Mosaic("keep.mov", {"--size", "256x256", "--units", "40"}));
  EXPECT_TRUE(OneLineError(r, 3));
  EXPECT_NE(r.err.find("'keep.mov' cannot be written: File too large"), std::string::npos) << r.err;
  EXPECT_EQ(bytes("keep.mov"), before);
  EXPECT_EQ(files().size(), 8u);  // the inputs and keep.mov

  // A long job, interrupted once its temporary file is being written.
  const std::string tool = TILVANE_TOOL_PATH;
  std::vector<std::string> args = Mosaic("long.mov", {"--size", "640x480", "--frames", "0-2000"});
  args.insert(args.begin(), tool);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  bool writing = false;
  for (int i = 0; i < 600 && !writing; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (const std::string& name : files()) {
      if (name.rfind(".long.mov.tilvane-", 0) == 0 && fs::file_size(path(name)) > 0) writing = true;
    }
  }
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(writing);
  // Ended by the signal, or exiting with 128 + its number.
  EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) ||
              (WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGINT));
  EXPECT_EQ(files().size(), 8u);  // no long.mov, no temporary file
}

}  // namespace
}  // namespace tilvane_test
