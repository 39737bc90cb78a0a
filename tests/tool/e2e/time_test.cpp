// The media's time kept, held against ffmpeg and ffprobe: an output movie at
// its displacement movie's rate and length, a variable-rate icon sampled as
// ffmpeg's fps filter samples it, a plate's frame numbers kept in the files
// read and written.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

class MediaTime : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    writeUniform("white.png", 16, 16, 8, {255, 255, 255, 255});
  }
  // A shell command's standard output, run in the test directory.
  std::string output(const std::string& command) const {
    std::string out;
    FILE* pipe = popen(("cd '" + dir_.string() + "' && " + command + " 2>/dev/null").c_str(), "r");
    char buffer[256];
    while (pipe && fgets(buffer, sizeof buffer, pipe)) out += buffer;
    if (pipe) pclose(pipe);
    return out;
  }
  // The video stream's rate, frame count and duration as ffprobe reads them.
  std::string probe(const std::string& movie) const {
    return output(
        "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
        "stream=r_frame_rate,nb_read_frames,duration -of csv=p=0 " +
        movie);
  }
  // Raw RGBA frames as ffmpeg decodes them: through filters, or each picture once.
  std::vector<std::string> rawFrames(const std::string& movie, const std::string& filters,
                                     int width, int height, bool pictures = false) const {
    EXPECT_EQ(
        shell("ffmpeg -v error -y -i " + movie + (filters.empty() ? "" : " -vf " + filters) +
              (pictures ? " -fps_mode passthrough" : "") + " -f rawvideo -pix_fmt rgba ref.rgba"),
        0);
    const std::string all = bytes("ref.rgba");
    const size_t frame = size_t(width) * height * 4;
    std::vector<std::string> frames;
    for (size_t at = 0; at + frame <= all.size(); at += frame)
      frames.push_back(all.substr(at, frame));
    return frames;
  }
  // An 8-bit RGBA image's values as bytes, to compare with raw frames.
  std::string rgba(const std::string& name) const {
    const Image image = read(name);
    std::string out;
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) {
        const Rgba p = image.at(x, y);
        out += {char(p.r), char(p.g), char(p.b), char(p.a)};
      }
    }
    return out;
  }
};

// A movie render with no rate or range takes both from its displacement
// movie: ffprobe reads the same rate, count and duration in and out.
class MovieRates : public MediaTime, public ::testing::WithParamInterface<const char*> {};

TEST_P(MovieRates, TheOutputKeepsTheDisplacementMoviesRateAndLength) {
  ASSERT_EQ(shell(std::string("ffmpeg -v error -y -f lavfi -i testsrc=s=32x24:d=1.2:r=") +
                  GetParam() + " -pix_fmt yuv420p in.mp4"),
            0);
  const RunResult r = run({"render", "--quiet", "--icon", "white.png", "--displacement", "in.mp4",
                           "--units", "4", "-o", "out.mp4"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string in = probe("in.mp4");
  ASSERT_FALSE(in.empty());
  EXPECT_EQ(probe("out.mp4"), in);
}

INSTANTIATE_TEST_SUITE_P(Rates, MovieRates,
                         ::testing::Values("25", "24000/1001", "30000/1001", "50"));

// One second at 30 fps, then one at 10 (every third picture kept, with its
// time): each frame of a 30 fps render shows the picture ffmpeg's fps filter
// gives at that frame, not the picture of that count.
TEST_F(MediaTime, AVariableRateIconKeepsItsTimes) {
  ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc=s=32x24:r=30:d=2 -vf "
                  "\"select='lt(n\\,30)+not(mod(n\\,3))'\" -fps_mode passthrough "
                  "-video_track_timescale 30 -c:v png vfr.mov"),
            0);
  const std::vector<std::string> ffmpeg = rawFrames("vfr.mov", "fps=30", 32, 24);
  ASSERT_GE(ffmpeg.size(), 58u);
  // Checked by hand: frame 31 is at 31/30 s, where the picture of 30/30 s still shows.
  const std::vector<std::string> decoded = rawFrames("vfr.mov", "", 32, 24, true);
  ASSERT_EQ(decoded.size(), 40u);
  EXPECT_EQ(ffmpeg[31], decoded[30]);
  EXPECT_EQ(ffmpeg[33], decoded[31]);

  const RunResult r =
      run({"render", "--quiet", "--icon", "vfr.mov", "--units", "1", "--displacement-effect",
           "none", "--size", "32x24", "--rate", "30",
           // The effect wraps icon time just before the duration: kept out of reach.
           "--duration", "1000", "--frames", "0-" + std::to_string(ffmpeg.size() - 1), "-o",
           "out.####.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (size_t f = 0; f < ffmpeg.size(); ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "out.%04zu.png", f);
    EXPECT_TRUE(rgba(name) == ffmpeg[f]) << "frame " << f;
  }
}

// A plate numbered 1001-1020: frames 1001-1010 read and write files
// 1001-1010, each as that file alone renders; --start-number renumbers the
// outputs only; a range past the plate's end says so once.
TEST_F(MediaTime, APlateKeepsItsFrameNumbers) {
  for (int n = 1001; n <= 1020; ++n) {
    writeUniform("plate." + std::to_string(n) + ".png", 8, 8, 8,
                 {(n - 1000) * 12, 80, 255 - n % 7 * 30, 255});
  }
  const std::vector<std::string> look = {
      "render", "--quiet", "--units", "1", "--displacement-effect", "none"};
  const auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = look;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  ASSERT_EQ(
      run(with({"--icon", "plate.####.png", "--frames", "1001-1010", "-o", "out.####.png"})).status,
      0);
  ASSERT_EQ(run(with({"--icon", "plate.####.png", "--frames", "1001-1010", "--start-number", "1",
                      "-o", "renumbered.####.png"}))
                .status,
            0);
  for (int n = 1001; n <= 1010; ++n) {
    const std::string number = std::to_string(n);
    ASSERT_EQ(
        run(with({"--icon", "plate." + number + ".png", "-o", "still." + number + ".png"})).status,
        0);
    EXPECT_EQ(bytes("out." + number + ".png"), bytes("still." + number + ".png")) << n;
    char renumbered[32];
    std::snprintf(renumbered, sizeof renumbered, "renumbered.%04d.png", n - 1000);
    EXPECT_EQ(bytes(renumbered), bytes("still." + number + ".png")) << renumbered;
  }
  for (const std::string& name : files()) {
    EXPECT_TRUE(name.rfind("out.", 0) != 0 || (name >= "out.1001.png" && name <= "out.1010.png"))
        << name;
  }

  const RunResult past =
      run(with({"--icon", "plate.####.png", "--frames", "1018-1025", "-o", "past.####.png"}));
  ASSERT_EQ(past.status, 0) << past.err;
  EXPECT_EQ(past.err,
            "tilvane: warning: --icon 'plate.####.png' ends at frame 1020; frames 1021-1025 show "
            "its last picture\n");
}

// Without --frames, a numbered output takes a sequence's own numbers and a
// single image one frame; the duration the effect sees runs a frame past the icon's end.
TEST_F(MediaTime, RangeAndDurationComeFromTheLayers) {
  for (int n = 5; n <= 8; ++n) {
    writeUniform("seq." + std::to_string(n) + ".png", 8, 8, 8, {n * 20, 0, 0, 255});
  }
  const RunResult all = run({"render", "--icon", "seq.#.png", "--units", "2", "-o", "all.#.png",
                             "--save-settings", "all.json"});
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(files(), (std::vector<std::string>{"all.5.png", "all.6.png", "all.7.png", "all.8.png",
                                               "all.json", "seq.5.png", "seq.6.png", "seq.7.png",
                                               "seq.8.png", "white.png"}));
  EXPECT_NE(all.err.find("tilvane: frames 5-8 at 30 fps (rate: the default; range: the length of "
                         "--icon 'seq.#.png')\n"),
            std::string::npos)
      << all.err;
  EXPECT_NE(bytes("all.json").find("\"duration\": 10"), std::string::npos) << bytes("all.json");
  ASSERT_EQ(run({"render", "--quiet", "--icon", "seq.#.png", "-o", "one.png"}).status, 0);
  EXPECT_TRUE(std::filesystem::exists(path("one.png")));
}

// A layer rate only retimes a numbered sequence: given for a movie or a
// still it would change nothing, and says so rather than pass unnoticed.
TEST_F(MediaTime, ALayerRateForAMovieOrAStillIsSaidToHaveNoEffect) {
  ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc=s=16x16:d=0.2:r=25 -c:v png in.mov"), 0);
  const RunResult movie =
      run({"render", "--quiet", "--icon", "in.mov", "--icon-rate", "12", "--displacement",
           "white.png", "--displacement-rate", "12", "-o", "o.png"});
  ASSERT_EQ(movie.status, 0) << movie.err;
  EXPECT_EQ(movie.err,
            "tilvane: warning: --icon-rate has no effect: --icon 'in.mov' is a movie, whose "
            "pictures keep their own times; a rate applies to a numbered sequence only\n"
            "tilvane: warning: --displacement-rate has no effect: --displacement 'white.png' is "
            "a still; a rate applies to a numbered sequence only\n");
  writeUniform("seq.1.png", 8, 8, 8, {9, 9, 9, 255});
  const RunResult sequence =
      run({"render", "--quiet", "--icon", "seq.#.png", "--icon-rate", "12", "-o", "s.png"});
  ASSERT_EQ(sequence.status, 0) << sequence.err;
  EXPECT_EQ(sequence.err, "");
}

TEST_F(MediaTime, RateAndHostTimeUnitsExcludeEachOther) {
  const RunResult r =
      run({"render", "--icon", "white.png", "--rate", "25", "--time-scale", "25", "-o", "o.png"});
  EXPECT_TRUE(OneLineError(r));
  EXPECT_NE(r.err.find("--rate cannot be given with --time-scale or --time-step"),
            std::string::npos)
      << r.err;
  const RunResult decimal =
      run({"render", "--icon", "white.png", "--time-scale", "23.976", "-o", "o.png"});
  EXPECT_TRUE(OneLineError(decimal));
  EXPECT_NE(decimal.err.find("give --rate 23.976"), std::string::npos) << decimal.err;
}

}  // namespace
}  // namespace tilvane_test
