// A movie's file, written by another library under a temporary name: what
// the name it takes over keeps, and what a signal leaves behind.
#include "tools/tilvane/output/output_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "tests/tool/tool_support.h"

namespace tilvane_tool {
namespace {

namespace fs = std::filesystem;
using tilvane_test::ToolTest;

class StreamedOutputs : public ToolTest {
 protected:
  int mode(const std::string& name) const {
    struct stat s;
    return stat(path(name).c_str(), &s) == 0 ? static_cast<int>(s.st_mode & 07777) : -1;
  }
  static void fill(const StreamedOutput& out) {
    std::ofstream(out.temporaryPath(), std::ios::binary) << "movie";
  }
};

// Overwriting keeps the permissions the user gave the old movie, which a new
// file (0666 less the umask) would not have.
TEST_F(StreamedOutputs, OverwritingKeepsTheTargetsPermissions) {
  std::ofstream(path("shared.mp4")) << "old";
  fs::permissions(path("shared.mp4"), fs::perms(0604));
  StreamedOutput out(path("shared.mp4"));
  fill(out);
  out.commit();
  EXPECT_EQ(bytes("shared.mp4"), "movie");
  EXPECT_EQ(mode("shared.mp4"), 0604);
  EXPECT_EQ(files(), std::vector<std::string>{"shared.mp4"});
}

// Ctrl-C, kill and a closed terminal each remove the file being written, then
// end the process as the signal would.
class StreamedOutputSignals : public StreamedOutputs, public ::testing::WithParamInterface<int> {};

TEST_P(StreamedOutputSignals, RemoveTheTemporaryFile) {
  const int sig = GetParam();
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    StreamedOutput out(path("long.mov"));
    fill(out);
    RemoveTemporaryFilesOnSignals();
    kill(getpid(), sig);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
  EXPECT_EQ(files(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Signals, StreamedOutputSignals, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

}  // namespace
}  // namespace tilvane_tool
