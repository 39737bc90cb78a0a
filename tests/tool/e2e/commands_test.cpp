// info, demo, --version, --help and the closing summary.
#include <algorithm>
#include <cstdlib>
#include <thread>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

class Commands : public ToolTest {};

// The best vector path, by the compiler's own reading of this CPU (which
// also asks whether the system saves the wider registers).
std::string BestPathHere() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl")) {
    return "avx512";
  }
  return __builtin_cpu_supports("avx2") ? "avx2" : "sse2";
}

TEST_F(Commands, InfoPrintsTheRegisteredParameterTable) {
  const RunResult r = run({"info"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* text :
       {"Tilvane", "Version:   1.0.0", "Generate a mosaic using a displacement layer.",
        "16  Seed                   slider        0 to 32768       12345",
        "3  Units                  slider        0 to 100         8",
        "items: Constant|Horizontal Units|Vertical Units|Displacement|Inverse Displacement",
        "10  Border Color           color         any colour       808080"}) {
    EXPECT_NE(r.out.find(text), std::string::npos) << text << " not in:\n" << r.out;
  }
}

TEST_F(Commands, InfoNamesThePathAndThreadsTheEffectTakesHere) {
  {
    const ScopedEnv threads("TILVANE_THREADS", "3");
    const RunResult r = run({"info"});
    EXPECT_NE(r.out.find("Render:    " + BestPathHere() + " path, 3 threads per frame\n"),
              std::string::npos)
        << r.out;
  }
  const ScopedEnv simd("TILVANE_SIMD", "scalar");
  const ScopedEnv threads("TILVANE_THREADS", "1");
  const RunResult r = run({"info"});
  EXPECT_NE(r.out.find("Render:    scalar path (TILVANE_SIMD; this CPU offers " + BestPathHere() +
                       "), 1 thread per frame\n"),
            std::string::npos)
      << r.out;
}

TEST_F(Commands, VersionAndHelp) {
  const RunResult version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tilvane 1.0", 0), 0u) << version.out;
  const RunResult help = run({"render", "--help"});
  EXPECT_EQ(help.status, 0);
  for (const auto& args :
       {std::vector<std::string>{"--help"}, std::vector<std::string>{"render", "--help"}}) {
    EXPECT_NE(run(args).out.find("Exit status: 0 success, 1 effect error, 2 usage or input error, "
                                 "3 write error; 130 or 143 when stopped by SIGINT"),
              std::string::npos);
  }
  // The control options come from the plug-in's registered names and ranges.
  for (const char* text : {"--time-offset", "--no-border", "--transparency-mapping", "-100 to 100",
                           "horizontal-units", "--no-overwrite"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
}

TEST_F(Commands, RenderPrintsASummaryUnlessQuiet) {
  writeUniform("icon.png", 4, 4, 8, {1, 2, 3, 255});
  const RunResult loud = run({"render", "--icon", "icon.png", "--frames", "0-2", "-o", "a.#.png"});
  ASSERT_EQ(loud.status, 0) << loud.err;
  // On stderr, with the progress: stdout is for what scripts read.
  EXPECT_EQ(loud.out, "");
  EXPECT_NE(loud.err.find("tilvane: rendered 3 frames in "), std::string::npos) << loud.err;
  EXPECT_NE(loud.err.find("frames per second"), std::string::npos);
  // One frame at a time renders on every core (the effect takes at most 64).
  const int cores =
      std::min(64, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
  const RunResult alone = run({"render", "--icon", "icon.png", "--threads", "1", "-o", "c.png"});
  EXPECT_NE(alone.err.find("second), " + BestPathHere() + " path, " + std::to_string(cores) +
                           " thread" + (cores == 1 ? "" : "s") + " per frame\n"),
            std::string::npos)
      << alone.err;
  {
    const ScopedEnv simd("TILVANE_SIMD", "sse2");
    const RunResult asked = run({"render", "--icon", "icon.png", "-o", "d.png"});
    EXPECT_NE(asked.err.find(", sse2 path"), std::string::npos) << asked.err;
  }
  {
    // Threads per frame the user set are kept, however the frames share the cores.
    const ScopedEnv threads("TILVANE_THREADS", "7");
    const RunResult asked =
        run({"render", "--icon", "icon.png", "--frames", "0-1", "-o", "e.#.png"});
    EXPECT_NE(asked.err.find(" path, 7 threads per frame\n"), std::string::npos) << asked.err;
  }
  const RunResult quiet = run({"render", "--quiet", "--icon", "icon.png", "-o", "b.png"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "");
}

TEST_F(Commands, DemoWritesAndListsItsPictures) {
  const RunResult r = run({"demo", "-o", "pictures", "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> listed;
  for (size_t start = 0, end; (end = r.out.find('\n', start)) != std::string::npos;
       start = end + 1) {
    listed.push_back(r.out.substr(start, end - start));
  }
  ASSERT_EQ(listed.size(), 4u + 24u);
  EXPECT_EQ(listed[0], "pictures/demo-rotation.png");
  EXPECT_EQ(listed[1], "pictures/demo-scale-colour.png");
  EXPECT_EQ(listed[2], "pictures/demo-contact-sheet.png");
  EXPECT_EQ(listed[3], "pictures/demo-sequence.gif");
  EXPECT_EQ(read(listed[0]).format, "uint8");
  EXPECT_EQ(read(listed[1]).format, "uint16");
  for (const std::string& file : listed) {
    const Image image = read(file);
    // Large enough to show the effect, in 16:9 with the whole grid visible.
    EXPECT_GE(image.width, 960) << file;
    EXPECT_GE(image.height, 540) << file;
    if (image.channels < 4) continue;
    // Something was drawn: the mosaic is not transparent everywhere.
    float alpha = 0;
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) alpha += image.value(x, y, 3);
    }
    EXPECT_GT(alpha, 0) << file;
  }
  // The bottom row of cells is whole: its icons show in the last 32 rows, but
  // their transparent margin leaves the last two rows empty (a row cut in half
  // would show icons right to the edge).
  const Image still = read(listed[0]);
  const auto drawn = [&](int first, int last) {
    float alpha = 0;
    for (int y = first; y <= last; ++y) {
      for (int x = 0; x < still.width; ++x) alpha += still.value(x, y, 3);
    }
    return alpha;
  };
  EXPECT_GT(drawn(still.height - 32, still.height - 1), 0);
  EXPECT_EQ(drawn(still.height - 2, still.height - 1), 0);
  // The sequence moves: neighbouring frames differ. The GIF stays small.
  EXPECT_NE(read(listed[4]).values, read(listed[5]).values);
  EXPECT_LT(std::filesystem::file_size(path(listed[3])), 2u << 20);
}

// The frames rendered at once share the cores for the whole run: on 8 cores,
// 4 frames at once render on 2 threads each, stills included, so no more
// threads run at once than there are cores.
TEST_F(Commands, TheDemoSharesTheCoresAmongTheFramesAtOnce) {
  const ScopedEnv cores("TILVANE_TEST_CORES", "8");
  const ScopedEnv peak("TILVANE_TEST_THREAD_PEAK", path("peak.txt").c_str());
  const RunResult r = runWithFault("none", {"demo", "--quiet", "--threads", "4", "-o", "pictures"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string threads = bytes("peak.txt");
  ASSERT_FALSE(threads.empty());
  EXPECT_LE(std::stoi(threads), 8);
}

}  // namespace
}  // namespace tilvane_test
