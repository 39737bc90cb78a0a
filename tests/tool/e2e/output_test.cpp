// Outputs are complete or absent, inputs are never touched: full disks, write
// failures, outputs that are inputs, links, permissions and --no-overwrite.
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>
#include <random>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

namespace fs = std::filesystem;

constexpr int kSide = 96;

class Outputs : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    // Noise hardly compresses: a frame is about 37 KB as PNG, 14 KB as JPEG,
    // 66 KB as EXR.
    std::mt19937 random(7);
    std::vector<Rgba> noise;
    for (int i = 0; i < kSide * kSide; ++i) {
      noise.push_back({int(random() % 256), int(random() % 256), int(random() % 256), 255});
    }
    writePng("noise.png", kSide, kSide, 8, noise);
  }
  void TearDown() override {
    if (!mounted_.empty()) umount2(mounted_.c_str(), MNT_DETACH);
    ToolTest::TearDown();
  }
  // One still of the noise at its own size, to `out`.
  static std::vector<std::string> Render(const std::string& out,
                                         std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {
        "render", "--quiet", "--icon", "noise.png", "--units", "1", "--displacement-effect",
        "none",   "-o",      out};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  // Every entry below the test directory with its bytes, or its link target.
  std::map<std::string, std::string> snapshot() const {
    std::map<std::string, std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(dir_)) {
      const std::string name = e.path().lexically_relative(dir_).string();
      if (e.is_symlink()) {
        entries[name] = "-> " + fs::read_symlink(e.path()).string();
      } else if (e.is_regular_file()) {
        entries[name] = bytes(name) + " mode " + std::to_string(Mode(name));
      }
    }
    return entries;
  }
  int Mode(const std::string& name) const {
    struct stat st {};
    lstat(path(name).c_str(), &st);
    return static_cast<int>(st.st_mode & 07777);
  }
  // A complete image of the rendered size: the header and every pixel read.
  bool Complete(const std::string& name) const {
    auto in = OIIO::ImageInput::open(path(name));
    if (!in || in->spec().width != kSide || in->spec().height != kSide) return false;
    std::vector<float> pixels(size_t(kSide) * kSide * in->spec().nchannels);
    const bool ok =
        in->read_image(0, 0, 0, in->spec().nchannels, OIIO::TypeDesc::FLOAT, pixels.data());
    in->geterror();
    return ok;
  }
  std::string mounted_;
};

// A failed write is reported with the system's reason, status 3; the frames
// finished before it stay, and no partial or temporary file is left anywhere.
TEST_F(Outputs, AFullFileSystemKeepsOnlyCompleteFrames) {
  const std::string full = path("full");
  fs::create_directory(full);
  // Room for one EXR frame and its temporary copy, two PNGs or five JPEGs.
  if (mount("tmpfs", full.c_str(), "tmpfs", 0, "size=80k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
  }
  mounted_ = full;
  for (const std::string ext : {"png", "jpg", "exr", "tif"}) {
    const RunResult r = run(Render("full/o.####." + ext, {"--frames", "0-5", "--threads", "1"}));
    EXPECT_TRUE(OneLineError(r, 3)) << ext;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("'full/o.000"), std::string::npos) << r.err;
    int frames = 0;
    for (const auto& e : fs::directory_iterator(full)) {
      const std::string name = "full/" + e.path().filename().string();
      EXPECT_EQ(name.find("full/o.000"), 0u) << "left behind: " << name;
      EXPECT_TRUE(Complete(name)) << name;
      ++frames;
      fs::remove(e.path());
    }
    EXPECT_GE(frames, 1) << ext;
    EXPECT_LT(frames, 6) << ext;
  }
}

// A missing output folder is made, as mkdir -p makes it, once the job has
// passed its checks: a refused job leaves none behind.
TEST_F(Outputs, AMissingOutputFolderIsMade) {
  EXPECT_TRUE(
      OneLineError(run(Render("new/deeper/o.####.png", {"--frames", "0-1", "--depth", "3"}))));
  EXPECT_FALSE(fs::exists(path("new")));
  const RunResult r = run(Render("new/deeper/o.####.png", {"--frames", "0-1"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Complete("new/deeper/o.0000.png"));
  EXPECT_TRUE(Complete("new/deeper/o.0001.png"));
}

// A failed write in a range says which frames are on disk. Frame 1's output
// is a link into a folder that does not exist, so its write fails.
TEST_F(Outputs, AFailedWriteSaysWhichFramesAreOnDisk) {
  fs::create_symlink("nowhere/o.png", path("o.0001.png"));
  const RunResult r = run(Render("o.####.png", {"--frames", "0-3", "--threads", "1"}));
  EXPECT_TRUE(OneLineError(r, 3));
  EXPECT_NE(r.err.find("; frame 0 is on disk, 1-3 are not\n"), std::string::npos) << r.err;
  EXPECT_TRUE(Complete("o.0000.png"));
}

// Ctrl-C or a SIGTERM stops the job with the default action of the signal
// (exit status 130 or 143 in a shell), after one line saying which frames
// are on disk; no temporary file is left. The SIGTERM job, not quiet, runs
// past 5 s first: its log has received a progress line by then. The range
// is long enough that no job ends before the signal comes.
TEST_F(Outputs, AnInterruptedJobSaysWhichFramesAreOnDisk) {
  for (const int sig : {SIGINT, SIGTERM}) {
    const bool quiet = sig == SIGINT;
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const int err = open(path("err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (chdir(dir_.c_str()) == 0 && err >= 0 && dup2(err, 2) == 2) {
        execl(TILVANE_TOOL_PATH, TILVANE_TOOL_PATH, "render",
              quiet ? "--quiet" : "--no-border",  // the border is off anyway
              "--icon", "noise.png", "--units", "64", "--frames", "0-99999", "--threads", "1", "-o",
              "i.####.png", nullptr);
      }
      _exit(127);
    }
    const auto ready = [&] {
      return quiet ? fs::exists(path("i.0003.png"))
                   : bytes("err.txt").find(" frames per second") != std::string::npos;
    };
    for (int wait = 0; wait < 600 && !ready(); ++wait) usleep(50000);
    ASSERT_TRUE(ready()) << bytes("err.txt");
    kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    std::string err = bytes("err.txt");
    if (!quiet) {
      EXPECT_EQ(err.rfind("tilvane: frame ", 0), 0u) << err;
      err.erase(0, err.find('\n') + 1);
    }
    EXPECT_EQ(err.rfind("tilvane: interrupted; frames 0-", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    size_t written = 0;
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string name = e.path().filename().string();
      EXPECT_NE(name[0], '.') << "left behind: " << name;
      if (name.rfind("i.", 0) == 0) {
        EXPECT_TRUE(Complete(name)) << name;
        ++written;
        fs::remove(e.path());
      }
    }
    // The frame being written as the signal came may have landed.
    const std::string n = std::to_string(written);
    const std::string before = std::to_string(written - 1);
    EXPECT_TRUE(err.find("frames 0-" + before + " are on disk, " + n + " may be, ") !=
                    std::string::npos ||
                err.find("frames 0-" + before + " are on disk, " + n + "-99999 are not") !=
                    std::string::npos ||
                err.find("frames 0-" + std::to_string(written - 2) + " are on disk, " + before +
                         " may be, ") != std::string::npos)
        << err << written;
  }
}

// Runs everywhere: a file size limit fails the write the same way.
TEST_F(Outputs, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  writeUniform("out.png", 4, 4, 8, {1, 2, 3, 255});
  const auto before = snapshot();
  for (const std::string out : {"out.png", "new.jpg", "new.exr", "new.tif"}) {
    const RunResult r = runUnderLimit("-f 8", Render(out));  // 4 KB
    EXPECT_TRUE(OneLineError(r, 3)) << out;
    EXPECT_NE(r.err.find("'" + out + "' cannot be written: File too large"), std::string::npos)
        << r.err;
    EXPECT_EQ(snapshot(), before) << out;
  }
}

// Failures no real disk shows on demand, from a preloaded shim: a flush to
// disk that fails is a failed write, and a rename that fails after the
// temporary file is closed still removes it.
TEST_F(Outputs, AFailedFlushOrRenameLeavesTheOldFileAndNoTemporaryFile) {
  writeUniform("out.png", 4, 4, 8, {1, 2, 3, 255});
  const auto before = snapshot();
  for (const std::string fault : {"fsync", "rename"}) {
    for (const std::string out : {"out.png", "new.png"}) {
      const RunResult r = runWithFault(fault, Render(out));
      EXPECT_TRUE(OneLineError(r, 3)) << fault << " " << out;
      EXPECT_NE(r.err.find("'" + out + "' cannot be written: Input/output error"),
                std::string::npos)
          << r.err;
      EXPECT_EQ(snapshot(), before) << fault << " " << out;
    }
  }
  ASSERT_EQ(runWithFault("none", Render("new.png")).status, 0);  // the shim alone changes nothing
  EXPECT_TRUE(Complete("new.png"));
}

TEST_F(Outputs, AnOutputThatIsAnInputIsRefusedBeforeAnythingRenders) {
  fs::copy_file(path("noise.png"), path("same.png"));
  fs::create_symlink("noise.png", path("link.png"));
  fs::create_hard_link(path("noise.png"), path("hard.png"));
  writeUniform("in.0002.png", 4, 4, 8, {9, 9, 9, 255});
  writeUniform("in.0003.png", 4, 4, 8, {9, 9, 9, 255});
  const auto before = snapshot();
  const std::string frame2 = bytes("in.0002.png");
  const std::vector<std::vector<std::string>> refused = {
      {"render", "--displacement", "same.png", "-o", "same.png"},
      {"render", "--icon", "noise.png", "-o", "link.png"},
      {"render", "--icon", "link.png", "-o", "noise.png"},
      {"render", "--icon", "noise.png", "-o", "./hard.png"},
      {"render", "--icon", "in.####.png", "--frames", "0-4", "-o", "in.####.png"},
      {"render", "--displacement", "in.%04d.png", "--icon", "noise.png", "--frames", "0-4", "-o",
       "in.####.png"},
  };
  for (const auto& args : refused) {
    const RunResult r = run(args);
    EXPECT_TRUE(OneLineError(r)) << args[4];
    EXPECT_NE(r.err.find("destroy the input"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(args[1]), std::string::npos) << r.err;  // the option that reads it
    EXPECT_EQ(snapshot(), before) << args[4];
  }
  // New frames beside the frames read are no threat to them.
  ASSERT_EQ(run({"render", "--icon", "in.####.png", "--frames", "4-5", "-o", "in.####.png"}).status,
            0);
  EXPECT_EQ(bytes("in.0002.png"), frame2);
  EXPECT_TRUE(fs::exists(path("in.0005.png")));
}

TEST_F(Outputs, ALinkedOutputIsWrittenThroughItsLink) {
  fs::create_directory(path("real"));
  writeUniform("real/target.png", 4, 4, 8, {1, 2, 3, 255});
  fs::create_symlink("real/target.png", path("link.png"));
  fs::create_symlink("real/new.png", path("new-link.png"));  // to a file yet to be made
  for (const auto& [link, target] :
       {std::pair{"link.png", "real/target.png"}, std::pair{"new-link.png", "real/new.png"}}) {
    ASSERT_EQ(run(Render(link)).status, 0) << link;
    EXPECT_TRUE(fs::is_symlink(path(link)));
    EXPECT_EQ(fs::read_symlink(path(link)), target);
    EXPECT_TRUE(Complete(target)) << target;
  }
  // Nothing else, hidden or not, beside the links or their targets.
  std::vector<std::string> all;
  for (const auto& [name, contents] : snapshot()) all.push_back(name);
  EXPECT_EQ(all, (std::vector<std::string>{"link.png", "new-link.png", "noise.png", "real/new.png",
                                           "real/target.png"}));
}

TEST_F(Outputs, PermissionsAreKeptAndReadOnlyOutputsRefused) {
  writeUniform("shared.png", 4, 4, 8, {1, 2, 3, 255});
  fs::permissions(path("shared.png"), fs::perms(0640));
  ASSERT_EQ(run(Render("shared.png")).status, 0);
  EXPECT_TRUE(Complete("shared.png"));
  EXPECT_EQ(Mode("shared.png"), 0640);
  // The set-group-ID and sticky bits too (setting them needs the file's group).
  fs::permissions(path("shared.png"), fs::perms(03640));
  if (Mode("shared.png") == 03640) {
    ASSERT_EQ(run(Render("shared.png")).status, 0);
    EXPECT_EQ(Mode("shared.png"), 03640);
  }

  writeUniform("locked.png", 4, 4, 8, {1, 2, 3, 255});
  fs::permissions(path("locked.png"), fs::perms(0444));
  fs::create_directory(path("folder.png"));
  const auto before = snapshot();
  for (const auto& [out, fragment] :
       {std::pair{"locked.png", "read-only"}, std::pair{"folder.png", "not a regular file"}}) {
    const RunResult r = run(Render(out));
    EXPECT_TRUE(OneLineError(r)) << out;
    EXPECT_NE(r.err.find(fragment), std::string::npos) << r.err;
    EXPECT_EQ(snapshot(), before);
  }
}

// Root may write anywhere but on a read-only file system.
TEST_F(Outputs, AReadOnlyFileSystemIsRefusedBeforeRendering) {
  const std::string locked = path("locked");
  fs::create_directory(locked);
  if (mount("tmpfs", locked.c_str(), "tmpfs", MS_RDONLY, "size=80k") != 0) {
    GTEST_SKIP() << "cannot mount a read-only tmpfs here: " << std::strerror(errno);
  }
  mounted_ = locked;
  const RunResult r = run(Render("locked/o.png"));
  EXPECT_TRUE(OneLineError(r));
  EXPECT_NE(r.err.find("directory 'locked' is not writable"), std::string::npos) << r.err;
}

TEST_F(Outputs, NoOverwriteRefusesExistingOutputsBeforeRendering) {
  writeUniform("out.0002.png", 4, 4, 8, {1, 2, 3, 255});
  const auto before = snapshot();
  for (const char* flag : {"-n", "--no-overwrite"}) {
    const RunResult r = run(Render("out.####.png", {"--frames", "0-3", flag}));
    EXPECT_TRUE(OneLineError(r));
    EXPECT_NE(r.err.find("'out.0002.png' exists"), std::string::npos) << r.err;
    EXPECT_EQ(snapshot(), before);
  }
  ASSERT_EQ(run(Render("fresh.png", {"-n"})).status, 0);
  EXPECT_TRUE(Complete("fresh.png"));
}

}  // namespace
}  // namespace tilvane_test
