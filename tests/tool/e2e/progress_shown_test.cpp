// The progress the tool shows: plain lines in a log, a bar that fits the
// terminal it runs on.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

class ProgressOnATerminal : public ToolTest {};

using ProgressInALog = ToolTest;

// Not on a terminal (a pipe, a log file) the progress is plain lines; --quiet
// silences them.
TEST_F(ProgressInALog, ALogGetsPlainLines) {
  writeUniform("icon.png", 8, 8, 8, {255, 0, 0, 255});
  const std::vector<std::string> args = {"render", "--icon", "icon.png",  "--frames",
                                         "0-1",    "-o",     "o.####.png"};
  const RunResult r = run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.rfind("tilvane: frame 2 of 2, ", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
  std::vector<std::string> quiet = args;
  quiet.push_back("--quiet");
  EXPECT_EQ(run(quiet).err, "");
}

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
}  // namespace tilvane_test
