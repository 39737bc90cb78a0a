// Messages a user can act on: help that leads to the completions and the
// manual page, a cut or damaged file said once and plainly, a movie shorter than its
// container promises, and an interrupted movie that was not written.
#include <signal.h>
#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <tuple>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

class Messages : public ToolTest {
 protected:
  // Runs a shell command in the test directory with its own redirections.
  int pipeline(const std::string& command) const {
    return std::system(("cd '" + dir_.string() + "' && (" + command + ")").c_str());
  }
};

TEST_F(Messages, HelpAndThePageLeadToTheCompletionsAndThePage) {
  const RunResult help = run({"--help"});
  ASSERT_EQ(help.status, 0) << help.err;
  EXPECT_NE(help.out.find("--completions bash|zsh"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("--man"), std::string::npos) << help.out;
  const RunResult page = run({"--man"});
  ASSERT_EQ(page.status, 0) << page.err;
  EXPECT_NE(page.out.find("\\-\\-completions"), std::string::npos);
  EXPECT_NE(page.out.find("\\-\\-man"), std::string::npos);
}

// libpng prints its own error as it fails on a cut file: the tool refuses the
// file first, in one line of its own.
TEST_F(Messages, ACutPngIsRefusedInOneLine) {
  ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i 'nullsrc=s=128x128,geq=random(1)*255:128:128' "
                  "-frames:v 1 full.png"),
            0);
  const std::string full = bytes("full.png");
  std::ofstream(path("cut.png"), std::ios::binary) << full.substr(0, full.size() / 2);
  const RunResult r = run({"render", "--icon", "cut.png", "-o", "out.png"});
  EXPECT_TRUE(OneLineError(r));
  EXPECT_NE(r.err.find("--icon 'cut.png' is cut short"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("libpng"), std::string::npos) << r.err;
}

// Damage inside a PNG is found by libpng as it reads: its text is shown once,
// within the one line that names the file, not also on a line of its own.
// The IDAT chunk's CRC is damaged, then (the CRC made good again) its zlib data.
TEST_F(Messages, ADamagedPngShowsLibpngsTextOnceInTheLineNamingIt) {
  ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i 'nullsrc=s=128x128,geq=random(1)*255:128:128' "
                  "-frames:v 1 full.png"),
            0);
  const std::string full = bytes("full.png");
  const size_t type = full.find("IDAT");
  ASSERT_NE(type, std::string::npos);
  const auto byte = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(full[at]));
  };
  const size_t length =
      byte(type - 4) << 24 | byte(type - 3) << 16 | byte(type - 2) << 8 | byte(type - 1);
  const size_t crc = type + 4 + length;
  ASSERT_LT(crc + 4, full.size());

  std::string badCrc = full;
  badCrc[crc] = static_cast<char>(badCrc[crc] ^ 0xFF);
  std::string badData = full;
  for (size_t i = type + 4 + length / 2; i < type + 4 + length / 2 + 16; ++i) {
    badData[i] = static_cast<char>(badData[i] ^ 0x5A);
  }
  uLong sum = crc32(0, reinterpret_cast<const Bytef*>(badData.data() + type),
                    static_cast<uInt>(4 + length));
  for (int k = 0; k < 4; ++k) badData[crc + k] = static_cast<char>(sum >> (24 - 8 * k));

  for (const auto& [name, content, text] : {std::tuple{"crc.png", badCrc, "IDAT: CRC error"},
                                            std::tuple{"data.png", badData, "IDAT: "}}) {
    SCOPED_TRACE(name);
    std::ofstream(path(name), std::ios::binary) << content;
    const RunResult r = run({"render", "--quiet", "--icon", name, "-o", "out.png"});
    EXPECT_TRUE(OneLineError(r));
    EXPECT_NE(r.err.find(std::string("--icon '") + name + "' cannot be read"), std::string::npos)
        << r.err;
    const size_t said = r.err.find(text);
    ASSERT_NE(said, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(text, said + 1), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("libpng"), std::string::npos) << r.err;
  }
}

// A Matroska file cut to 60% still says it lasts 4 s: the render takes the
// frames it holds, and says how many it expected.
TEST_F(Messages, AMovieShorterThanItsContainerSaysSoWithBothCounts) {
  ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc=s=64x48:r=25:d=4 -pix_fmt yuv420p "
                  "whole.mkv"),
            0);
  const std::string whole = bytes("whole.mkv");
  std::ofstream(path("cut.mkv"), std::ios::binary) << whole.substr(0, whole.size() * 6 / 10);
  RunResult r = run({"render", "--quiet", "--displacement", "cut.mkv", "-o", "cut.####.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  const size_t at = r.err.find("--displacement 'cut.mkv' holds ");
  ASSERT_NE(at, std::string::npos) << r.err;
  const int held = std::stoi(r.err.substr(at + 31));
  EXPECT_GT(held, 30);
  EXPECT_LT(held, 100);
  EXPECT_NE(r.err.find("frames, but its container promises 100;"), std::string::npos) << r.err;
  // The whole file says nothing.
  r = run({"render", "--quiet", "--displacement", "whole.mkv", "--frames", "0-1", "-o",
           "whole.####.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("promises"), std::string::npos) << r.err;
}

// A movie goes to its file whole at the end: interrupted, there is no movie,
// and the one there before is as it was.
TEST_F(Messages, AnInterruptedMovieSaysItWasNotWritten) {
  writeUniform("icon.png", 8, 8, 8, {255, 255, 255, 255});
  std::ofstream(path("long.mov")) << "the older file";
  ASSERT_EQ(pipeline(std::string(TILVANE_TOOL_PATH) +
                     " render --icon icon.png --size 320x240 --units 40 --frames 0-99999 "
                     "--loop-icon -o long.mov 2>err.txt & pid=$!; for i in $(seq 2400); do "
                     "ls .long.mov.tilvane-* >/dev/null 2>&1 && [ $(cat .long.mov.tilvane-* | wc "
                     "-c) -gt 0 ] && break; sleep 0.05; done; kill -TERM $pid; wait $pid "
                     "2>/dev/null; echo $? >status"),
            0);
  EXPECT_EQ(bytes("status"), std::to_string(128 + SIGTERM) + "\n");
  const std::string err = bytes("err.txt");
  EXPECT_NE(err.find("tilvane: interrupted; the movie 'long.mov' was not written; a file of that "
                     "name from before, if any, is unchanged\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(err.find("on disk"), std::string::npos) << err;
  EXPECT_EQ(bytes("long.mov"), "the older file");
}

}  // namespace
}  // namespace tilvane_test
