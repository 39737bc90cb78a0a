// The progress line: it fits the terminal, says how long is left, and shows
// 100% only once every frame is on disk.
#include "tools/tilvane/progress.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/tool/tool_support.h"

namespace tilvane_tool {
namespace {

ProgressState Busy() {
  ProgressState s;
  s.frames = 120;
  s.done = 30;
  s.inFlight = 0.5;
  s.seconds = 61;
  s.frame = 30;
  s.row = 12;
  s.rows = 40;
  return s;
}

bool Has(const std::string& line, const std::string& part) {
  return line.find(part) != std::string::npos;
}

TEST(ProgressLine, FitsEveryTerminalWidthDroppingTheDetailFirst) {
  for (int columns = 1; columns <= 200; ++columns) {
    const std::string line = ProgressLine(Busy(), columns);
    EXPECT_LT(static_cast<int>(line.size()), std::max(columns, 2)) << columns << ": " << line;
  }
  // 30.5 of 120 frames in 61 s: 89.5 more take 179 s.
  EXPECT_EQ(ProgressLine(Busy(), 200),
            "[##########..............................]  25%  frames 30/120  ETA 2:59  "
            "frame 30: rows 12/40");
  EXPECT_EQ(ProgressLine(Busy(), 50), "[####.............]  25%  frames 30/120  ETA 2:59");
  EXPECT_EQ(ProgressLine(Busy(), 33), "[##........]  25%  frames 30/120");
  EXPECT_EQ(ProgressLine(Busy(), 30), " 25%  frames 30/120");
  EXPECT_EQ(ProgressLine(Busy(), 10), " 25%  fra");
}

TEST(ProgressLine, ReachesAHundredOnlyWhenTheLastFrameIsWritten) {
  ProgressState s;
  s.frames = 3;
  s.done = 2;
  s.inFlight = 1.0;  // the last frame rendered, not yet on disk
  s.seconds = 5;
  const std::string writing = ProgressLine(s, 80);
  EXPECT_TRUE(Has(writing, " 99%  frames 2/3")) << writing;
  EXPECT_TRUE(Has(writing, ".]")) << writing;
  s.done = 3;
  s.inFlight = 0;
  const std::string done = ProgressLine(s, 80);
  EXPECT_TRUE(Has(done, "100%  frames 3/3")) << done;
  EXPECT_FALSE(Has(done, ".")) << done;
  EXPECT_FALSE(Has(done, "ETA")) << done;
}

TEST(ProgressLine, TheTimeLeftFollowsTheRateSoFar) {
  ProgressState s;
  s.frames = 100;
  s.done = 1;
  s.seconds = 100;  // one frame in 100 s: 99 more take 2 h 45 min
  EXPECT_TRUE(Has(ProgressLine(s, 80), "ETA 2:45:00")) << ProgressLine(s, 80);
  s.seconds = 0.5;  // too early to tell
  EXPECT_FALSE(Has(ProgressLine(s, 80), "ETA"));
  s.done = 0;
  s.seconds = 10;  // nothing done yet: no rate
  EXPECT_FALSE(Has(ProgressLine(s, 80), "ETA"));
}

class ProgressOnATerminal : public tilvane_test::ToolTest {};

// The tool asks the terminal its width: every redraw fits 40 columns.
TEST_F(ProgressOnATerminal, TheBarFitsANarrowTerminal) {
  writeUniform("icon.png", 8, 8, 8, {255, 0, 0, 255});
  winsize size{};
  size.ws_row = 24;
  size.ws_col = 40;
  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (chdir(dir_.c_str()) == 0) {
      execl(TILVANE_TOOL_PATH, TILVANE_TOOL_PATH, "render", "--icon", "icon.png", "--size",
            "256x256", "--units", "40", "--frames", "0-3", "-o", "o.####.png", nullptr);
    }
    _exit(127);
  }
  std::string shown;
  char buffer[4096];
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) {
    shown.append(buffer, static_cast<size_t>(n));
  }
  close(terminal);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;

  int bars = 0;
  size_t start = 0;
  for (size_t end; start < shown.size(); start = end + 1) {
    end = std::min(shown.find_first_of("\r\n", start), shown.size());
    std::string line = shown.substr(start, end - start);
    if (line.rfind("\033[K", 0) == 0) line.erase(0, 3);
    if (line.empty() || line.rfind("tilvane:", 0) == 0) continue;  // the summary
    ++bars;
    EXPECT_LT(line.size(), 40u) << line;
    EXPECT_NE(line.find("frames "), std::string::npos) << line;
  }
  EXPECT_GT(bars, 0) << shown;
}

}  // namespace
}  // namespace tilvane_tool
