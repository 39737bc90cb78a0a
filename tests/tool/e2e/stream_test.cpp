// Frames streamed to standard output (-o -), as a program reading the pipe
// sees them: ffmpeg's decoding of the stream against the image files of the
// same render, pixel for pixel and frame by frame, ffprobe's rate and count,
// a reader that stops early, and the options a stream refuses.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

constexpr int kFrames = 4;
// One colour per frame, so that a frame out of order or missing shows.
const Rgba kColors[kFrames] = {
    {230, 20, 20, 255}, {20, 200, 40, 255}, {30, 40, 220, 255}, {240, 220, 30, 255}};

class Streams : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    // As from a shell: the tool meets a closed pipe with SIGPIPE's default
    // disposition, which it must set aside itself.
    std::signal(SIGPIPE, SIG_DFL);
    // A disc soft at its edge in a transparent margin: straight alpha shows.
    for (int f = 0; f < kFrames; ++f) {
      std::vector<Rgba> icon;
      for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
          const int d2 = (2 * x - 9) * (2 * x - 9) + (2 * y - 9) * (2 * y - 9);
          const int a = d2 < 36 ? 255 : d2 < 81 ? (81 - d2) * 5 : 0;
          icon.push_back(a ? Rgba{kColors[f].r, kColors[f].g, kColors[f].b, a} : Rgba{});
        }
      }
      char name[32];
      std::snprintf(name, sizeof name, "icon.%04d.png", f);
      writePng(name, 10, 10, 8, icon);
    }
    std::vector<Rgba> ramp;
    for (int y = 0; y < 22; ++y) {
      for (int x = 0; x < 30; ++x) ramp.push_back({x * 8, y * 11, 128, 255});
    }
    writePng("ramp.png", 30, 22, 8, ramp);
  }

  // The render, its frames as many as asked, on three threads so that they
  // finish out of order.
  static std::string Render(const std::string& out, int frames, const std::string& extra) {
    return std::string(TILVANE_TOOL_PATH) +
           " render --icon icon.####.png --displacement ramp.png --units 3 --threads 3 "
           "--frames 0-" +
           std::to_string(frames - 1) + " " + extra + " -o " + out;
  }

  // Runs a shell command in the test directory with its own redirections;
  // its status.
  int pipeline(const std::string& command) const {
    return std::system(("cd '" + dir_.string() + "' && (" + command + ")").c_str());
  }

  // Runs a shell command in the test directory; its standard output.
  std::string capture(const std::string& command) const {
    std::string out;
    FILE* pipe = popen(("cd '" + dir_.string() + "' && " + command).c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    pclose(pipe);
    return out;
  }

  // The tool's exit status and standard error, from the files a command left.
  int status() const { return std::stoi(bytes("status")); }
};

struct PipeCase {
  const char* name;
  int depth;
  const char* pixFmt;  // as ffmpeg names the values read back
  const char* files;   // the same render as image files
  const char* extra;
};

class PipedFrames : public Streams, public ::testing::WithParamInterface<PipeCase> {};

// ffmpeg reads the pipe with no options and gets each frame as the image files
// hold it: straight alpha, the depth's full values, the output colour space.
TEST_P(PipedFrames, AreTheFramesOfTheFilesInOrder) {
  const PipeCase& c = GetParam();
  const std::string extra = std::string("--depth ") + std::to_string(c.depth) + " " + c.extra;
  ASSERT_EQ(shell(Render(c.files, kFrames, extra + " --quiet")), 0);
  ASSERT_EQ(shell("{ " + Render("-", kFrames, extra) +
                  " 2>err.txt; echo $? >status; } | ffmpeg -v error -i - -f rawvideo -pix_fmt " +
                  c.pixFmt + " out.raw"),
            0);
  EXPECT_EQ(status(), 0) << bytes("err.txt");
  const std::string err = bytes("err.txt");
  EXPECT_NE(err.find(std::string("writing standard output as NUT (rawvideo, ") +
                     (c.depth == 16 ? "rgba64le" : "rgba") + ")"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("rendered 4 frames"), std::string::npos) << err;

  const std::string raw = bytes("out.raw");
  const size_t bytesPerValue = c.depth == 16 ? 2 : 1;
  for (int f = 0; f < kFrames; ++f) {
    std::string name = c.files;
    name.replace(name.find("####"), 4, "000" + std::to_string(f));
    const Image want = read(name);
    ASSERT_EQ(want.channels, 4);
    const size_t frameBytes = want.values.size() * bytesPerValue;
    ASSERT_EQ(raw.size(), frameBytes * kFrames) << "frames in the stream";
    const auto* at = reinterpret_cast<const unsigned char*>(raw.data()) + f * frameBytes;
    int differ = 0;
    for (size_t i = 0; i < want.values.size(); ++i) {
      const int got = bytesPerValue == 2 ? at[2 * i] | at[2 * i + 1] << 8 : at[i];
      if (got != static_cast<int>(want.values[i]) && differ++ < 3) {
        ADD_FAILURE() << name << ": value " << i << " (pixel " << i / 4 << ", channel " << i % 4
                      << ") is " << got << " in the stream, " << want.values[i] << " in the file";
      }
    }
    EXPECT_EQ(differ, 0) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Depths, PipedFrames,
    ::testing::Values(PipeCase{"EightBit", 8, "rgba", "seq.####.png", ""},
                      PipeCase{"SixteenBit", 16, "rgba64le", "seq.####.tif", ""},
                      PipeCase{"Linear", 8, "rgba", "seq.####.png", "--output-colorspace linear"}),
    [](const auto& info) { return std::string(info.param.name); });

// The stream keeps the exact rate and one time a frame; standard output holds
// it alone, from its first byte.
TEST_F(Streams, KeepsTheRateAndCountAndNothingElse) {
  ASSERT_EQ(pipeline(Render("-", 5, "--rate 24000/1001") + " >s.nut 2>err.txt"), 0)
      << bytes("err.txt");
  const std::string stream = bytes("s.nut");
  // Progress and the summary, left out by --quiet, are not in the stream.
  ASSERT_EQ(pipeline(Render("-", 5, "--rate 24000/1001 --quiet") + " >quiet.nut"), 0);
  EXPECT_TRUE(stream == bytes("quiet.nut")) << "standard output differs from a quiet render's";
  const char magic[] = "nut/multimedia container";
  ASSERT_GE(stream.size(), sizeof magic);
  EXPECT_EQ(std::memcmp(stream.data(), magic, sizeof magic), 0)
      << "standard output starts with " << stream.substr(0, 40);
  const std::string probe = capture(
      "ffprobe -v error -count_frames -show_entries "
      "stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_read_frames -of default=nw=1 s.nut");
  for (const char* line : {"codec_name=rawvideo", "pix_fmt=rgba", "width=30", "height=22",
                           "r_frame_rate=24000/1001", "nb_read_frames=5"}) {
    EXPECT_NE(probe.find(line), std::string::npos) << line << " in\n" << probe;
  }
  // Frame i at exactly i x 1001/24000 s, in the time base the muxer chose.
  std::istringstream times(capture(
      "ffprobe -v error -show_entries stream=time_base:frame=pts -of csv=p=0 s.nut | tr '/' ' '"));
  std::vector<int64_t> pts(5);
  int64_t num = 0, den = 0;
  for (int64_t& p : pts) times >> p;
  times >> num >> den;
  ASSERT_GT(den, 0) << times.str();
  for (int64_t i = 0; i < 5; ++i) {
    EXPECT_EQ(pts[i] * num * 24000, i * 1001 * den) << "frame " << i << " in " << times.str();
  }
}

// A reader that stops early ends the render with a message and the write
// error's status, not silently by SIGPIPE.
TEST_F(Streams, AReaderThatStopsEndsTheRenderWithAMessage) {
  ASSERT_EQ(shell("{ " + Render("-", 40, "--size 64x48 --loop-icon --quiet") +
                  " 2>err.txt; echo $? >status; } | head -c 100"),
            0);
  EXPECT_EQ(status(), 3) << "not ended by a signal (141), but as a write error";
  const std::string err = bytes("err.txt");
  EXPECT_EQ(err.rfind("tilvane: standard output was closed by the program reading it after ", 0),
            0u)
      << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

// An interrupted stream says so, and nothing of frames on disk: it wrote none.
// (SIGTERM: a shell's background job ignores SIGINT.)
TEST_F(Streams, AnInterruptedStreamSaysItEndsShort) {
  ASSERT_EQ(pipeline(Render("-", 99999, "--size 64x48 --loop-icon --quiet") +
                     " >out.nut 2>err.txt & pid=$!; for i in $(seq 600); do "
                     "[ $(stat -c %s out.nut) -gt 100000 ] && break; sleep 0.05; done; "
                     "kill -TERM $pid; wait $pid 2>/dev/null; echo $? >status"),
            0);
  EXPECT_EQ(status(), 128 + SIGTERM) << "ended by the signal, as the shell expects";
  EXPECT_EQ(bytes("err.txt"), "tilvane: interrupted; the stream on standard output ends short\n");
}

// Options about files are refused by name; a terminal is refused too.
TEST_F(Streams, RefusesWhatAStreamCannotTake) {
  for (const auto& [option, value] :
       std::vector<std::pair<std::string, std::string>>{{"--start-number", "5"},
                                                        {"--codec", "h264"},
                                                        {"--quality", "50"},
                                                        {"--png-compression", "9"},
                                                        {"--png-filter", "paeth"},
                                                        {"--exr-type", "float"},
                                                        {"--jpeg-quality", "90"}}) {
    const RunResult r =
        run({"render", "--icon", "icon.0000.png", "-o", "-", "--size", "8x8", option, value});
    EXPECT_TRUE(OneLineError(r)) << option;
    EXPECT_NE(r.err.find(option + " does not apply to -o -"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << option;
  }
  // script gives the tool a terminal as standard output.
  const std::string said =
      capture("script -qec '" + std::string(TILVANE_TOOL_PATH) +
              " render --icon icon.0000.png --size 8x8 -o -' /dev/null; echo \"status $?\"");
  EXPECT_NE(said.find("which a terminal cannot show; pipe it into a program"), std::string::npos)
      << said;
  EXPECT_NE(said.find("status 2"), std::string::npos) << said;
}

// A look saved from a stream streams again, whichever directory holds it.
TEST_F(Streams, SettingsKeepTheStream) {
  ASSERT_EQ(pipeline("mkdir looks && " + Render("-", 2, "--quiet --save-settings looks/s.json") +
                     " >first.nut"),
            0);
  EXPECT_NE(bytes("looks/s.json").find("\"output\": \"-\""), std::string::npos)
      << bytes("looks/s.json");
  ASSERT_EQ(pipeline(std::string(TILVANE_TOOL_PATH) +
                     " render --quiet --settings looks/s.json >again.nut"),
            0);
  EXPECT_GT(bytes("first.nut").size(), 2u * 30 * 22 * 4);
  EXPECT_EQ(bytes("again.nut"), bytes("first.nut"));
}

}  // namespace
}  // namespace tilvane_test
