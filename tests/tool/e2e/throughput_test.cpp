// What makes a job fast changes no pixel. --png-compression and --png-filter
// change only the size of a PNG. A job keeps fitted displacement frames and each thread's
// buffers from frame to frame, yet every frame is the one a fresh render of it
// alone gives, and a fitted frame is what oiiotool's resize gives; 8-bit layers
// are read on a shorter path that gives what the general one gives.
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <string>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

class Reuse : public ToolTest {};

bool SamePixels(const Image& a, const Image& b) {
  return a.width == b.width && a.height == b.height && a.channels == b.channels &&
         a.values == b.values;
}

float MaxDifference(const Image& a, const Image& b) {
  if (a.values.size() != b.values.size()) return INFINITY;
  float worst = 0;
  for (size_t i = 0; i < a.values.size(); ++i) {
    worst = std::max(worst, std::fabs(a.values[i] - b.values[i]));
  }
  return worst;
}

// A diagonal ramp, its slope set by k, so every frame of a sequence differs.
std::vector<Rgba> Ramp(int w, int h, int k) {
  std::vector<Rgba> ramp;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int v = std::min(255, (x * (100 + 40 * k) / w) + (y * 95 / h));
      ramp.push_back({v, v, v, 255});
    }
  }
  return ramp;
}

// Frames of the fitted layer at 24x24, on two threads.
std::vector<std::string> ShowDisplacement(const std::string& layer, const std::string& fit,
                                          const std::string& frames, const std::string& output) {
  std::vector<std::string> args = tilvane_test::ShowDisplacement(layer, "24x24", fit);
  args.insert(args.end(), {"--frames", frames, "--threads", "2", "-o", output});
  return args;
}

// A still fitted once serves every frame of the job, on every thread, and
// each frame matches the layer oiiotool resized and cut; a sequence is
// fitted once per frame, each frame from its own layer frame.
TEST_F(Reuse, EachDisplacementFrameIsFittedOnceAndMatchesOiiotool) {
  writeUniform("icon.png", 8, 8, 8, {255, 255, 255, 255});
  writePng("still.png", 48, 16, 8, Ramp(48, 16, 0));
  ASSERT_EQ(shell("oiiotool still.png --resize:filter=blackman-harris 72x24 --cut 24,0,47,23 "
                  "-o fitted.png"),
            0);
  const RunResult still = run(ShowDisplacement("still.png", "fill", "0-5", "still.####.png"));
  ASSERT_EQ(still.status, 0) << still.err;
  EXPECT_NE(still.err.find("fitted 1 displacement frame to the output"), std::string::npos)
      << still.err;
  const RunResult reference = run(ShowDisplacement("fitted.png", "none", "0-0", "ref.####.png"));
  ASSERT_EQ(reference.status, 0) << reference.err;
  EXPECT_EQ(reference.err.find("fitted"), std::string::npos) << reference.err;
  for (const char* frame : {"0000", "0003", "0005"}) {
    EXPECT_LE(MaxDifference(read(std::string("still.") + frame + ".png"), read("ref.0000.png")), 2)
        << frame;
  }

  for (int k = 0; k < 3; ++k) {
    writePng("seq.000" + std::to_string(k) + ".png", 48, 16, 8, Ramp(48, 16, k));
    ASSERT_EQ(shell("oiiotool seq.000" + std::to_string(k) +
                    ".png --resize:filter=blackman-harris 72x24 --cut 24,0,47,23 -o fit" +
                    std::to_string(k) + ".png"),
              0);
  }
  const RunResult seq = run(ShowDisplacement("seq.####.png", "fill", "0-2", "seq-out.####.png"));
  ASSERT_EQ(seq.status, 0) << seq.err;
  EXPECT_NE(seq.err.find("fitted 3 displacement frames"), std::string::npos) << seq.err;
  for (int k = 0; k < 3; ++k) {
    const std::string ref = "fit-ref" + std::to_string(k) + ".####.png";
    ASSERT_EQ(run(ShowDisplacement("fit" + std::to_string(k) + ".png", "none", "0-0", ref)).status,
              0);
    EXPECT_LE(MaxDifference(read("seq-out.000" + std::to_string(k) + ".png"),
                            read("fit-ref" + std::to_string(k) + ".0000.png")),
              2)
        << "frame " << k;
  }
}

// One thread renders two different frames in a row into the same buffers:
// the second keeps nothing of the first. Frame 0's displacement is white
// (full-size opaque icons), frame 1's a ramp from black (small, faint icons,
// transparent around them), so what frame 0 drew would show through.
TEST_F(Reuse, AFrameRenderedAfterAnotherIsTheSameAsRenderedAlone) {
  std::vector<Rgba> disc;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const bool inside = (x - 7.5) * (x - 7.5) + (y - 7.5) * (y - 7.5) < 49;
      disc.push_back({220, 90 + x * 8, 40 + y * 10, inside ? 255 : 0});
    }
  }
  writePng("icon.png", 16, 16, 8, disc);
  writeUniform("disp.0000.png", 64, 48, 8, {255, 255, 255, 255});
  writePng("disp.0001.png", 64, 48, 8, Ramp(64, 48, 1));
  for (const std::string depth : {"8", "16"}) {
    const auto render = [&](const std::string& frames, const std::string& out) {
      return run({"render",
                  "--quiet",
                  "--icon",
                  "icon.png",
                  "--displacement",
                  "disp.####.png",
                  "--units",
                  "8",
                  "--displacement-effect",
                  "scale",
                  "--transparency-mapping",
                  "displacement",
                  "--depth",
                  depth,
                  "--threads",
                  "1",
                  "--frames",
                  frames,
                  "-o",
                  out});
    };
    ASSERT_EQ(render("0-1", "both.####.png").status, 0);
    ASSERT_EQ(render("0-0", "alone0.####.png").status, 0);
    ASSERT_EQ(render("1-1", "alone1.####.png").status, 0);
    const Image first = read("both.0000.png");
    const Image second = read("both.0001.png");
    EXPECT_FALSE(SamePixels(first, second)) << "the frames must differ for the test to hold";
    EXPECT_TRUE(SamePixels(first, read("alone0.0000.png"))) << depth << " bits";
    EXPECT_TRUE(SamePixels(second, read("alone1.0001.png"))) << depth << " bits";
    // Somewhere frame 0 is opaque and frame 1 transparent: a leak would show there.
    bool uncovered = false;
    for (int y = 0; y < first.height && !uncovered; ++y) {
      for (int x = 0; x < first.width && !uncovered; ++x) {
        uncovered = first.value(x, y, 3) > 0 && second.value(x, y, 3) == 0;
      }
    }
    EXPECT_TRUE(uncovered);
  }
}

// An 8-bit layer read for an 8-bit render takes a path of its own; the same
// picture in a 16-bit file (each value 257-fold, so the same at 8 bits) takes
// the general one. Every alpha from 0 to 255, under varied colour, renders
// and is written alike.
TEST_F(Reuse, EightBitLayersReadAsTheGeneralPathReadsThem) {
  std::vector<Rgba> eight, sixteen;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const Rgba p{(x * 37 + y * 11) % 256, 255 - (y * 16 + x), (x * y * 7) % 256, y * 16 + x};
      eight.push_back(p);
      sixteen.push_back({p.r * 257, p.g * 257, p.b * 257, p.a * 257});
    }
  }
  writePng("icon8.png", 16, 16, 8, eight);
  writePng("icon16.png", 16, 16, 16, sixteen);
  for (const char* name : {"icon8", "icon16"}) {
    const RunResult r =
        run({"render", "--quiet", "--units", "1", "--displacement-effect", "none", "--icon",
             std::string(name) + ".png", "-o", std::string(name) + "-out.png"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  const Image a = read("icon8-out.png");
  EXPECT_TRUE(SamePixels(a, read("icon16-out.png")));
  // The one cell shows the icon as it is: opaque pixels keep their colour.
  EXPECT_EQ(a.at(15, 15), (Rgba{(15 * 37 + 15 * 11) % 256, 0, (15 * 15 * 7) % 256, 255}));
  EXPECT_EQ(a.at(0, 0).a, 0);
}

class Throughput : public ToolTest {
 protected:
  // ramp.png: 64 × 48, every row and column different.
  void writeRamp() {
    std::vector<Rgba> ramp;
    for (int i = 0; i < 64 * 48; ++i)
      ramp.push_back({(i % 64) * 4, (i / 64) * 5, (i * 7) % 256, 255});
    writePng("ramp.png", 64, 48, 8, ramp);
  }
};

TEST_F(Throughput, PngCompressionChangesTheSizeNotThePixels) {
  writeRamp();
  const auto render = [&](const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args = {"render",   "--quiet", "--icon", "ramp.png", "--displacement",
                                     "ramp.png", "--units", "3",      "-o",       out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args).status;
  };
  ASSERT_EQ(render("none.png", {"--png-compression", "0"}), 0);
  ASSERT_EQ(render("default.png", {}), 0);
  ASSERT_EQ(render("three.png", {"--png-compression", "3"}), 0);
  ASSERT_EQ(render("best.png", {"--png-compression", "9"}), 0);
  const auto size = [&](const std::string& name) { return std::filesystem::file_size(path(name)); };
  EXPECT_GT(size("none.png"), size("default.png"));
  EXPECT_GE(size("default.png"), size("best.png"));
  EXPECT_EQ(bytes("default.png"), bytes("three.png"));  // the default is level 3
  const Image a = read("none.png");
  EXPECT_EQ(a.values, read("default.png").values);
  EXPECT_EQ(a.values, read("best.png").values);

  const RunResult r =
      run({"render", "--icon", "ramp.png", "--png-compression", "10", "-o", "x.png"});
  EXPECT_TRUE(OneLineError(r));
  EXPECT_NE(r.err.find("--png-compression '10' is not valid; give a whole number from 0 (fastest, "
                       "largest) to 9 (smallest, slowest)"),
            std::string::npos)
      << r.err;
}

// The filter byte that starts each row of a PNG as stored (none 0, sub 1, up
// 2, average 3, paeth 4): its IDAT chunks inflated. An 8-bit RGBA file.
std::vector<int> RowFilters(const std::string& bytes) {
  const auto word = [&](size_t at) {
    return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
           uint32_t(uint8_t(bytes[at + 2])) << 8 | uint32_t(uint8_t(bytes[at + 3]));
  };
  uint32_t width = 0, height = 0;
  std::string packed;
  for (size_t at = 8; at + 12 <= bytes.size();) {
    const uint32_t length = word(at);
    const std::string type = bytes.substr(at + 4, 4);
    if (type == "IHDR") {
      width = word(at + 8);
      height = word(at + 12);
      EXPECT_EQ(int(bytes[at + 16]), 8);  // bits
      EXPECT_EQ(int(bytes[at + 17]), 6);  // RGBA
    }
    if (type == "IDAT") packed += bytes.substr(at + 8, length);
    at += 12 + size_t(length);
  }
  const size_t stride = 1 + size_t(width) * 4;
  std::vector<unsigned char> rows(stride * height);
  uLongf size = rows.size();
  EXPECT_EQ(
      uncompress(rows.data(), &size, reinterpret_cast<const Bytef*>(packed.data()), packed.size()),
      Z_OK);
  EXPECT_EQ(size, rows.size());
  std::vector<int> filters;
  for (uint32_t y = 0; y < height; ++y) filters.push_back(rows[y * stride]);
  return filters;
}

// Each row is stored with the filter asked for (none by default), and the
// pixels read back are the same whichever it is.
TEST_F(Throughput, PngRowsAreStoredWithTheFilterAskedFor) {
  writeRamp();
  const auto render = [&](const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args = {"render",  "--quiet", "--icon", "ramp.png",
                                     "--units", "1",       "-o",     out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args).status;
  };
  ASSERT_EQ(render("default.png", {}), 0);
  const Image pixels = read("default.png");
  const auto filters = [&](const std::string& name) { return RowFilters(bytes(name)); };
  EXPECT_EQ(filters("default.png"), std::vector<int>(48, 0));
  const struct {
    const char* name;
    int stored;
  } single[] = {{"none", 0}, {"sub", 1}, {"average", 3}, {"paeth", 4}};
  for (const auto& f : single) {
    const std::string out = std::string(f.name) + ".png";
    ASSERT_EQ(render(out, {"--png-filter", f.name}), 0) << f.name;
    EXPECT_EQ(filters(out), std::vector<int>(48, f.stored)) << f.name;
    EXPECT_EQ(read(out).values, pixels.values) << f.name;
  }
  // Up has nothing above the first row, which libpng then stores unfiltered.
  ASSERT_EQ(render("up.png", {"--png-filter", "UP"}), 0);
  const std::vector<int> up = filters("up.png");
  EXPECT_EQ(std::count(up.begin() + 1, up.end(), 2), 47);
  EXPECT_EQ(read("up.png").values, pixels.values);
  // Adaptive picks per row: on a ramp, more than one kind.
  ASSERT_EQ(render("adaptive.png", {"--png-filter", "adaptive"}), 0);
  const std::vector<int> adaptive = filters("adaptive.png");
  EXPECT_GT(std::set<int>(adaptive.begin(), adaptive.end()).size(), 1u);
  EXPECT_EQ(read("adaptive.png").values, pixels.values);

  const RunResult r =
      run({"render", "--icon", "ramp.png", "--png-filter", "diagonal", "-o", "x.png"});
  EXPECT_TRUE(OneLineError(r));
  EXPECT_NE(r.err.find("--png-filter 'diagonal' is not valid; give none, sub, up, average, paeth "
                       "or adaptive"),
            std::string::npos)
      << r.err;
}

// Frame 0 is opaque red everywhere, frame 1 transparent everywhere: rendered
// one after the other in one worker, each equals the frame rendered alone.
TEST_F(Throughput, AReusedFrameBufferHoldsNothingOfTheFrameBefore) {
  writeUniform("icon.0000.png", 8, 6, 8, {255, 0, 0, 255});
  writeUniform("icon.0001.png", 8, 6, 8, {0, 0, 0, 0});
  const std::vector<std::string> base = {
      "render", "--quiet",   "--icon", "icon.####.png", "--units", "1", "--displacement-effect",
      "none",   "--threads", "1"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args).status;
  };
  ASSERT_EQ(with({"--frames", "0-1", "-o", "pair.####.png"}), 0);
  ASSERT_EQ(with({"--frame", "0", "-o", "alone0.png"}), 0);
  ASSERT_EQ(with({"--frame", "1", "-o", "alone1.png"}), 0);
  EXPECT_EQ(read("pair.0000.png").at(4, 3), (Rgba{255, 0, 0, 255}));
  EXPECT_EQ(bytes("pair.0000.png"), bytes("alone0.png"));
  EXPECT_EQ(bytes("pair.0001.png"), bytes("alone1.png"));
  EXPECT_EQ(read("pair.0001.png").at(4, 3), (Rgba{0, 0, 0, 0}));
}

// Decoded layer frames are given back and their buffers taken by the frames
// that follow. A sequence of opaque white every third frame and between them
// ramps transparent in their left half (so that a ramp takes over a white
// frame's buffer), rendered by one thread, gives each frame as it is rendered
// alone: no recycled frame shows what it held before.
TEST_F(Throughput, RecycledLayerFramesHoldNothingOfTheFrameBefore) {
  writeUniform("icon.png", 8, 8, 8, {255, 255, 255, 255});
  for (int k = 0; k < 8; ++k) {
    std::vector<Rgba> frame;
    for (int y = 0; y < 12; ++y) {
      for (int x = 0; x < 16; ++x) {
        const int v = (x * 16 + y * 5 + k * 20) % 256;
        frame.push_back(k % 3 == 0 ? Rgba{255, 255, 255, 255} : Rgba{v, v, v, x < 8 ? 0 : 255});
      }
    }
    writePng("disp.000" + std::to_string(k) + ".png", 16, 12, 8, frame);
  }
  const auto show = [&](const std::string& frames, const std::string& out) {
    std::vector<std::string> args =
        tilvane_test::ShowDisplacement("disp.####.png", "16x12", "none");
    args.insert(args.end(), {"--quiet", "--threads", "1", "--frames", frames, "-o", out});
    return run(args).status;
  };
  ASSERT_EQ(show("0-7", "all.####.png"), 0);
  for (int k = 0; k < 8; ++k) {
    const std::string n = std::to_string(k);
    ASSERT_EQ(show(n + "-" + n, "alone" + n + ".####.png"), 0);
    EXPECT_EQ(bytes("all.000" + n + ".png"), bytes("alone" + n + ".000" + n + ".png"))
        << "frame " << k;
  }
}

// A long sequence keeps a few decoded displacement frames, not all of them:
// 40 frames of 1024 × 1024 (4 MB each, decoded) take about the memory 4 do.
TEST_F(Throughput, MemoryStaysFlatThroughALongSequence) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers hold freed memory back, so the process size tells nothing";
#endif
  writeUniform("icon.png", 8, 8, 8, {255, 255, 255, 255});
  // A missing number repeats the file before it: 40 frames from two files.
  writeUniform("disp.0000.png", 1024, 1024, 8, {128, 128, 128, 255});
  writeUniform("disp.0039.png", 1024, 1024, 8, {200, 200, 200, 255});
  const auto peakKb = [&](const std::string& frames) {
    const std::string out = "peak-" + frames + ".txt";
    EXPECT_EQ(shell("/usr/bin/time -f %M -o " + out +
                    " " TILVANE_TOOL_PATH
                    " render --quiet --threads 2 --icon icon.png --displacement disp.####.png "
                    "--units 4 --frames " +
                    frames + " -o out.####.png"),
              0);
    return std::stol(bytes(out));
  };
  const long few = peakKb("0-3");
  const long many = peakKb("0-39");
  EXPECT_LT(many - few, 48 * 1024) << "4 frames: " << few << " KB; 40 frames: " << many << " KB";
}

}  // namespace
}  // namespace tilvane_test
