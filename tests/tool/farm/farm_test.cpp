// tilvane farm on a real one-node Slurm cluster: each job's outputs are
// held against one `tilvane render` of the same request, byte for byte for
// images and by ffmpeg's framemd5 of the picture and the sound for movies.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "tests/support/slurm_cluster.h"
#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

constexpr int kFrames = 30;

Args operator+(Args a, const Args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// PATH with a folder of stand-ins for Slurm's commands first, for one test.
class FakeSlurmFirst {
 public:
  explicit FakeSlurmFirst(const fs::path& dir) : saved_(std::getenv("PATH")) {
    setenv("PATH", (dir.string() + ":" + saved_).c_str(), 1);
  }
  ~FakeSlurmFirst() { setenv("PATH", saved_.c_str(), 1); }

 private:
  std::string saved_;
};

class FarmTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    ASSERT_TRUE(StartSharedSlurmCluster());
    // A varied icon, and a displacement sequence whose every frame differs.
    std::vector<Rgba> icon;
    for (int i = 0; i < 64; ++i) icon.push_back({i * 4, 255 - i * 3, (i * 37) % 256, 128 + i});
    writePng("icon.png", 8, 8, 8, icon);
    for (int f = 0; f < kFrames; ++f) {
      std::vector<Rgba> pixels;
      for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 32; ++x) pixels.push_back({(x * 8 + f * 9) % 256, y * 10, f * 8, 255});
      }
      char name[32];
      std::snprintf(name, sizeof name, "disp.%04d.png", f);
      writePng(name, 32, 24, 8, pixels);
    }
  }

  Args layers() const {
    return {"--icon", "icon.png", "--displacement", "disp.####.png", "--units", "4"};
  }

  // Submits; the job folder is the one line on standard output.
  std::string submit(const Args& args) const {
    const RunResult r = run(Args{"farm", "submit"} + args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    std::string dir = r.out.substr(0, r.out.find('\n'));
    EXPECT_TRUE(fs::path(dir).is_absolute()) << dir;
    return dir;
  }
  RunResult wait(const std::string& dir) const {
    return run({"farm", "wait", dir, "--interval", "0.2"});
  }

  // Stand-ins for sbatch (records its calls, prints a job id) and sinfo.
  fs::path fakeSlurm(int nodes = 1) const {
    const fs::path bin = dir_ / "fake-slurm";
    fs::create_directories(bin);
    std::ofstream(bin / "sbatch") << "#!/bin/sh\necho \"$@\" >> '" << path("sbatch.calls")
                                  << "'\necho 4242\n";
    std::ofstream sinfo(bin / "sinfo");
    sinfo << "#!/bin/sh\n";
    for (int n = 0; n < nodes; ++n) sinfo << "echo node" << n << "\n";
    sinfo.close();
    fs::permissions(bin / "sbatch", fs::perms::owner_all, fs::perm_options::add);
    fs::permissions(bin / "sinfo", fs::perms::owner_all, fs::perm_options::add);
    return bin;
  }

  // Runs each command of the job's tasks.txt here, as a farm manager would.
  void runTasksByHand(const std::string& dir) const {
    std::ifstream tasks(dir + "/tasks.txt");
    for (std::string line; std::getline(tasks, line);) {
      const ShellResult r = RunShell(line);
      ASSERT_EQ(r.status, 0) << line << "\n" << r.err;
    }
  }

  // The array job id of the job's latest submission.
  std::string arrayId(const std::string& dir) const {
    const std::string job = bytes(dir + "/job.json");
    const std::regex array("\"array\": \"(\\d+)\"");
    std::string last;
    for (auto it = std::sregex_iterator(job.begin(), job.end(), array);
         it != std::sregex_iterator(); ++it) {
      last = (*it)[1];
    }
    return last;
  }

  void expectSameFiles(const std::string& a, const std::string& b, int64_t from, int64_t to) const {
    for (int64_t n = from; n <= to; ++n) {
      char name[16];
      std::snprintf(name, sizeof name, "%04lld", static_cast<long long>(n));
      ASSERT_TRUE(fs::exists(path(a + name + ".png"))) << a << name;
      ASSERT_EQ(bytes(a + name + ".png"), bytes(b + name + ".png")) << name;
    }
  }

  // ffmpeg's framemd5 of a stream of the movie ("v" or "a").
  std::string framemd5(const std::string& movie, const std::string& stream) const {
    const std::string out = movie + "." + stream + ".md5";
    EXPECT_EQ(shell("ffmpeg -v error -y -i " + movie + " -map 0:" + stream +
                    (stream == "a" ? " -c copy" : "") + " -f framemd5 " + out),
              0);
    return bytes(out);
  }
};

TEST_F(FarmTest, APngJobInChunksOfSevenEqualsTheSingleRenderAndARequeuedTaskRewritesItsFrames) {
  const std::string dir = submit(layers() + Args{"-o", "farm/out.####.png", "--chunk", "7"});
  EXPECT_EQ(dir, path("farm/out.farm"));
  const RunResult waited = wait(dir);
  ASSERT_EQ(waited.status, 0) << waited.err;
  ASSERT_EQ(run(Args{"render", "-o", "one/out.####.png", "--quiet"} + layers()).status, 0);
  expectSameFiles("farm/out.", "one/out.", 0, kFrames - 1);
  const RunResult status = run({"farm", "status", dir});
  EXPECT_EQ(status.status, 0) << status.out;
  EXPECT_NE(status.out.find("30 of 30 frames on disk"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("task 4 (frames 28-29): COMPLETED"), std::string::npos) << status.out;
  EXPECT_EQ(std::count(status.out.begin(), status.out.end(), '\n'), 6) << status.out;

  // Requeued, a task writes its frames again: new files, the same bytes.
  struct stat old {};
  ASSERT_EQ(stat(path("farm/out.0003.png").c_str(), &old), 0);
  ASSERT_EQ(SharedSlurmCluster().Run("scontrol requeue " + arrayId(dir) + "_0").status, 0);
  const RunResult again = wait(dir);
  ASSERT_EQ(again.status, 0) << again.err;
  struct stat now {};
  ASSERT_EQ(stat(path("farm/out.0003.png").c_str(), &now), 0);
  EXPECT_NE(now.st_ino, old.st_ino) << "the requeued task did not write frame 3 again";
  expectSameFiles("farm/out.", "one/out.", 0, kFrames - 1);
}

TEST_F(FarmTest, ARangeWithAStartNumberIsNumberedAsOneRenderOfIt) {
  // 23 frames, plate numbers 4-26, files from 100; chunks of 5 end mid-way.
  const Args range = {"--frames", "4-26", "--start-number", "100"};
  const std::string dir =
      submit(layers() + range + Args{"-o", "farm/out.####.png", "--chunk", "5"});
  const RunResult waited = wait(dir);
  ASSERT_EQ(waited.status, 0) << waited.err;
  ASSERT_EQ(run(Args{"render", "-o", "one/out.####.png", "--quiet"} + layers() + range).status, 0);
  expectSameFiles("farm/out.", "one/out.", 100, 122);
  EXPECT_FALSE(fs::exists(path("farm/out.0123.png")));
  EXPECT_FALSE(fs::exists(path("farm/out.0004.png")));
}

TEST_F(FarmTest, MoviesWithSoundEqualTheSingleRenderFrameForFrameAndInSound) {
  ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc=size=32x24:rate=25 -f lavfi -i "
                  "sine=frequency=440:sample_rate=48000 -t 1.2 -c:v libx264 -pix_fmt yuv420p "
                  "-c:a aac plate.mp4"),
            0);
  const Args movieLayers = {"--icon", "icon.png", "--displacement", "plate.mp4", "--units", "4"};
  for (const std::string movie : {"prores.mov", "h264.mp4"}) {
    SCOPED_TRACE(movie);
    const std::string dir = submit(movieLayers + Args{"-o", "farm/" + movie, "--chunk", "7"});
    const RunResult waited = wait(dir);
    ASSERT_EQ(waited.status, 0) << waited.err;
    ASSERT_EQ(run(Args{"render", "-o", "one/" + movie, "--quiet"} + movieLayers).status, 0);
    const std::string picture = framemd5("one/" + movie, "v");
    EXPECT_GT(std::count(picture.begin(), picture.end(), '\n'), 30);
    EXPECT_EQ(framemd5("farm/" + movie, "v"), picture);
    EXPECT_EQ(framemd5("farm/" + movie, "a"), framemd5("one/" + movie, "a"));
    // The intermediate frames go once the movie holds them.
    EXPECT_FALSE(fs::exists(dir + "/frames"));
    EXPECT_EQ(run({"farm", "status", dir}).status, 0);
  }
}

TEST_F(FarmTest, TwoTasksRunAtOnceOnTheTwoCores) {
  // Frames large enough that each task takes a while.
  const std::string dir = submit(layers() + Args{"-o", "farm/out.####.png", "--chunk", "15",
                                                 "--size", "640x480", "--units", "2"});
  const std::string array = arrayId(dir);
  size_t most = 0;
  for (int i = 0; i < 600 && most < 2; ++i) {
    const ShellResult r = SharedSlurmCluster().Run(
        "squeue --noheader --array --states=RUNNING --format=%i --jobs=" + array);
    if (r.status != 0) break;
    most = std::max<size_t>(most, std::count(r.out.begin(), r.out.end(), '\n'));
    if (SharedSlurmCluster().States(array).empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(most, 2u) << "never saw both tasks running at once";
  const RunResult waited = wait(dir);
  EXPECT_EQ(waited.status, 0) << waited.err;
}

TEST_F(FarmTest, ACancelledJobResumedGivesTheSameBytes) {
  // One task at a time, so that the cancel finds some still to run.
  const std::string dir =
      submit(layers() + Args{"-o", "farm/out.####.png", "--chunk", "5", "--max-running", "1"});
  for (int i = 0; i < 600 && !fs::exists(path("farm/out.0000.png")); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(SharedSlurmCluster().Run("scancel " + arrayId(dir)).status, 0);
  const RunResult cancelled = wait(dir);
  EXPECT_EQ(cancelled.status, 4) << cancelled.err;
  EXPECT_NE(cancelled.err.find("are missing; 'tilvane farm resume " + dir + "'"), std::string::npos)
      << cancelled.err;
  EXPECT_NE(cancelled.err.find("29"), std::string::npos) << cancelled.err;
  const RunResult resumed = run({"farm", "resume", dir});
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(resumed.out, dir + "\n");
  const RunResult waited = wait(dir);
  ASSERT_EQ(waited.status, 0) << waited.err;
  ASSERT_EQ(run(Args{"render", "-o", "one/out.####.png", "--quiet"} + layers()).status, 0);
  expectSameFiles("farm/out.", "one/out.", 0, kFrames - 1);
}

TEST_F(FarmTest, ADeletedFrameMakesStatusWaitAndTheJoinFailNamingIt) {
  const std::string dir = submit(layers() + Args{"-o", "farm/out.####.png", "--chunk", "7"});
  ASSERT_EQ(wait(dir).status, 0);
  fs::remove(path("farm/out.0012.png"));
  const RunResult status = run({"farm", "status", dir});
  EXPECT_EQ(status.status, 4);
  EXPECT_NE(status.out.find("29 of 30 frames on disk; missing 12"), std::string::npos)
      << status.out;
  EXPECT_NE(status.out.find("task 1 (frames 7-13): COMPLETED; missing 12"), std::string::npos)
      << status.out;
  const RunResult waited = wait(dir);
  EXPECT_EQ(waited.status, 4);
  EXPECT_NE(waited.err.find("frames 12 are missing"), std::string::npos) << waited.err;

  // A movie's join, run by hand on frames the tasks wrote, refuses one missing.
  const std::string movieDir = [&] {
    const FakeSlurmFirst fake(fakeSlurm());
    return submit(layers() + Args{"-o", "farm/movie.mov", "--chunk", "7"});
  }();
  runTasksByHand(movieDir);
  fs::remove(movieDir + "/frames/000000012.frame");
  const RunResult join = run({"farm", "join", movieDir});
  EXPECT_TRUE(OneLineError(join)) << join.err;
  EXPECT_NE(join.err.find("frames 12 are missing"), std::string::npos) << join.err;
  EXPECT_FALSE(fs::exists(path("farm/movie.mov")));
  // Resumed, only the chunk that holds it runs again, then the join.
  ASSERT_EQ(run({"farm", "resume", movieDir}).status, 0);
  EXPECT_NE(bytes(movieDir + "/job.json").find("\"chunks\": [\n        1\n      ]"),
            std::string::npos);
  const RunResult joined = wait(movieDir);
  ASSERT_EQ(joined.status, 0) << joined.err;
  ASSERT_EQ(run(Args{"render", "-o", "one/movie.mov", "--quiet"} + layers()).status, 0);
  EXPECT_EQ(framemd5("farm/movie.mov", "v"), framemd5("one/movie.mov", "v"));
}

TEST_F(FarmTest, ASettingsFileEditedAfterSubmissionChangesNothing) {
  std::ofstream(path("look.json")) << R"({"render": {"icon": "icon.png", "displacement": )"
                                   << R"("disp.####.png"}, "controls": {"units": 4}})";
  const std::string dir = [&] {
    const FakeSlurmFirst fake(fakeSlurm());
    return submit({"--settings", "look.json", "-o", "farm/out.####.png", "--chunk", "10"});
  }();
  std::ofstream(path("look.json")) << R"({"render": {"icon": "icon.png", "displacement": )"
                                   << R"("disp.####.png"}, "controls": {"units": 9}})";
  // The tasks run only now, after the edit.
  ASSERT_EQ(run({"farm", "resume", dir}).status, 0);
  ASSERT_EQ(wait(dir).status, 0);
  ASSERT_EQ(run(Args{"render", "-o", "one/out.####.png", "--quiet"} + layers()).status, 0);
  expectSameFiles("farm/out.", "one/out.", 0, kFrames - 1);
}

TEST_F(FarmTest, ABadOptionIsRefusedBeforeSbatchIsCalled) {
  const FakeSlurmFirst fake(fakeSlurm());
  const struct {
    Args args;
    const char* says;
  } cases[] = {
      {layers() + Args{"-o", "out.####.png", "--displacement-effect", "sideways"},
       "--displacement-effect"},
      {layers() + Args{"-o", "out.####.png", "--codec", "h264"}, "--codec"},
      {layers() + Args{"-o", "out.####.png", "--chunk", "0"}, "--chunk"},
      {layers() + Args{"-o", "out.png"}, "is one image"},
      {layers() + Args{"-o", "-"}, "standard output"},
      // A layer that cannot be read: the plan opens them, as render does.
      {Args{"--icon", "icon.png", "--displacement", "missing.####.png", "-o", "out.####.png"},
       "missing.####.png"},
  };
  for (const auto& c : cases) {
    const RunResult r = run(Args{"farm", "submit"} + c.args);
    EXPECT_TRUE(OneLineError(r)) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  // Misspelt, a command or an option gets the nearest name and the farm's help.
  const RunResult command = run({"farm", "sumbit"});
  EXPECT_NE(command.err.find("unknown command 'sumbit' (did you mean submit?); see 'tilvane farm "
                             "--help'"),
            std::string::npos)
      << command.err;
  const RunResult option = run(Args{"farm", "submit", "--chunks", "7"} + layers());
  EXPECT_NE(option.err.find("(did you mean --chunk?); see 'tilvane farm submit --help'"),
            std::string::npos)
      << option.err;
  EXPECT_FALSE(fs::exists(path("sbatch.calls")));
  EXPECT_FALSE(fs::exists(path("out.farm")));
}

TEST_F(FarmTest, TheSubmissionAsksForWhatEachTaskUses) {
  const FakeSlurmFirst fake(fakeSlurm());
  const ScopedEnv threads("TILVANE_THREADS", "2");
  submit(layers() + Args{"-o", "farm/out.####.png", "--threads", "2", "--chunk", "16",
                         "--max-running", "3", "--partition", "render", "--job-name", "shot"});
  const std::string calls = bytes("sbatch.calls");
  // Two frames at once on two threads each; 64 MiB of 8-bit frames is far below 1 GiB.
  for (const std::string word : {"--cpus-per-task=4 ", "--array=0-1%3 ", "--partition=render ",
                                 "--job-name=shot ", "--requeue "}) {
    EXPECT_NE(calls.find(word), std::string::npos) << word << " not in " << calls;
  }
  EXPECT_NE(bytes("farm/out.farm/tasks.txt").find("env TILVANE_THREADS=2 "), std::string::npos);
  std::smatch mem;
  ASSERT_TRUE(std::regex_search(calls, mem, std::regex("--mem=(\\d+)M")));
  EXPECT_GT(std::stoi(mem[1]), 140);
  EXPECT_LT(std::stoi(mem[1]), 1024);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), 1) << "an image sequence has no join";
}

TEST_F(FarmTest, PathsOnlyThisMachineHasAreRefusedOnAClusterOfManyNodes) {
  ASSERT_EQ(path("").rfind("/tmp/", 0), 0u) << "the test folder is expected under /tmp";
  const FakeSlurmFirst fake(fakeSlurm(2));
  const RunResult r = run(Args{"farm", "submit"} + layers() + Args{"-o", "out.####.png"});
  EXPECT_TRUE(OneLineError(r));
  EXPECT_NE(r.err.find("is under /tmp, which each machine has its own of, and the cluster has 2 "
                       "nodes"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(path("sbatch.calls")));
}

TEST_F(FarmTest, ANodeWithoutTheToolFailsItsTaskWithOneLineThatWaitReports) {
  // Submitted from a copy of the tool that is gone by the time the tasks run.
  fs::create_directories(path("bin"));
  fs::copy_file(TILVANE_TOOL_PATH, path("bin/tilvane"));
  const std::string dir = [&] {
    const FakeSlurmFirst fake(fakeSlurm());
    const ShellResult r =
        RunShell("cd '" + path("") + "' && bin/tilvane --plugin '" + TILVANE_PLUGIN_PATH +
                 "' farm submit --icon icon.png --displacement disp.####.png "
                 "-o farm/out.####.png --chunk 15");
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out.substr(0, r.out.find('\n'));
  }();
  fs::remove(path("bin/tilvane"));
  ASSERT_EQ(run({"farm", "resume", dir}).status, 0);
  const RunResult waited = wait(dir);
  EXPECT_EQ(waited.status, 4);
  EXPECT_NE(waited.err.find("FAILED, exit 127:0; missing 0-14; log " + dir + "/logs/task-0-job-"),
            std::string::npos)
      << waited.err;
  EXPECT_NE(waited.err.find("has no tilvane at " + path("bin/tilvane") +
                            "; install the tool (the .deb) on every node"),
            std::string::npos)
      << waited.err;
}

}  // namespace
}  // namespace tilvane_test
