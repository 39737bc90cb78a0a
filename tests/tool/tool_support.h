// Running the built tilvane on small images made in a fresh directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace tilvane_test {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// One pixel of a test image, straight channels in file values.
struct Rgba {
  int r, g, b, a;
  bool operator==(const Rgba&) const = default;
};
void PrintTo(const Rgba& p, std::ostream* os);

// A render whose one-pixel cells each take their grey from the displacement
// layer's brightness at the cell's centre (an icon.png of white is expected):
// the output shows the layer as the tool fitted it to size ("WxH", one cell a
// pixel). Options for frames, threads and the output follow.
std::vector<std::string> ShowDisplacement(const std::string& layer, const std::string& size,
                                          const std::string& fit);

struct Image {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::string format;           // the file's channel type, e.g. "uint8", "uint16", "half"
  std::vector<float> values;    // file values: 0..255, 0..65535, or as stored for floats
  Rgba at(int x, int y) const;  // integer formats only
  float value(int x, int y, int channel) const;
};

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  // Runs tilvane with these arguments in the test directory.
  RunResult run(const std::vector<std::string>& args) const;
  // The same with one system call failing (TILVANE_TEST_FAULT in fault_shim.cpp).
  RunResult runWithFault(const std::string& fault, const std::vector<std::string>& args) const;
  // The same under a shell resource limit, e.g. "-f 8" (file size, 512-byte blocks).
  RunResult runUnderLimit(const std::string& limit, const std::vector<std::string>& args) const;
  // Writes a PNG with straight alpha, 8 or 16 bits, pixels row by row.
  void writePng(const std::string& name, int width, int height, int bits,
                const std::vector<Rgba>& pixels) const;
  void writeUniform(const std::string& name, int width, int height, int bits, Rgba pixel) const {
    writePng(name, width, height, bits, std::vector<Rgba>(size_t(width) * height, pixel));
  }
  Image read(const std::string& name) const;
  // Runs a shell command in the test directory, its output discarded; the
  // exit status (0 for success).
  int shell(const std::string& command) const;
  std::string bytes(const std::string& name) const;
  // The names in the test directory, sorted.
  std::vector<std::string> files() const;

  std::filesystem::path dir_;

 private:
  RunResult spawn(std::vector<std::string> argv) const;
};

// Every error is one line on standard error, status 2 unless stated.
::testing::AssertionResult OneLineError(const RunResult& r, int status = 2);

// An environment variable the tool inherits, for one test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) { setenv(name, value, 1); }
  ~ScopedEnv() { unsetenv(name_); }

 private:
  const char* name_;
};

}  // namespace tilvane_test
