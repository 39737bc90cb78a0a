#include "tests/tool/tool_support.h"

#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace tilvane_test {
namespace fs = std::filesystem;

void PrintTo(const Rgba& p, std::ostream* os) {
  *os << "(" << p.r << ", " << p.g << ", " << p.b << ", " << p.a << ")";
}

std::vector<std::string> ShowDisplacement(const std::string& layer, const std::string& size,
                                          const std::string& fit) {
  return {"render",
          "--icon",
          "icon.png",
          "--displacement",
          layer,
          "--size",
          size,
          "--units",
          size.substr(0, size.find('x')),
          "--displacement-effect",
          "none",
          "--color-mapping",
          "displacement",
          "--color-a",
          "000000",
          "--color-b",
          "ffffff",
          "--fit-displacement",
          fit};
}

Rgba Image::at(int x, int y) const {
  const size_t i = (size_t(y) * width + x) * channels;
  auto v = [&](int c) { return static_cast<int>(values[i + c]); };
  if (channels >= 4) return {v(0), v(1), v(2), v(3)};
  return {v(0), v(1), v(2), -1};
}

float Image::value(int x, int y, int channel) const {
  return values[(size_t(y) * width + x) * channels + channel];
}

void ToolTest::SetUp() {
  std::string tmpl = (fs::temp_directory_path() / "tilvane-tool-XXXXXX").string();
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  dir_ = tmpl;
}

void ToolTest::TearDown() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

namespace {
std::string Slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
}  // namespace

RunResult ToolTest::run(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {TILVANE_TOOL_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return spawn(std::move(argv));
}

RunResult ToolTest::runWithFault(const std::string& fault,
                                 const std::vector<std::string>& args) const {
  // A sanitizer's run-time would refuse to come second to the preloaded shim.
  const char* asan = std::getenv("ASAN_OPTIONS");
  std::vector<std::string> argv = {
      "/usr/bin/env", "LD_PRELOAD=" TILVANE_FAULT_SHIM_PATH, "TILVANE_TEST_FAULT=" + fault,
      std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") +
          "verify_asan_link_order=0",
      TILVANE_TOOL_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return spawn(std::move(argv));
}

int ToolTest::shell(const std::string& command) const {
  return std::system(("cd '" + dir_.string() + "' && " + command + " >/dev/null 2>&1").c_str());
}

RunResult ToolTest::runUnderLimit(const std::string& limit,
                                  const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {"/bin/sh", "-c", "ulimit " + limit + " && exec \"$0\" \"$@\"",
                                   TILVANE_TOOL_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return spawn(std::move(argv));
}

RunResult ToolTest::spawn(std::vector<std::string> argv) const {
  std::vector<char*> cargs;
  for (std::string& a : argv) cargs.push_back(a.data());
  cargs.push_back(nullptr);
  const std::string out = (dir_ / ".stdout").string();
  const std::string err = (dir_ / ".stderr").string();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
  pid_t pid = 0;
  RunResult result;
  if (posix_spawn(&pid, cargs[0], &actions, nullptr, cargs.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  result.out = Slurp(out);
  result.err = Slurp(err);
  fs::remove(out);
  fs::remove(err);
  return result;
}

void ToolTest::writePng(const std::string& name, int width, int height, int bits,
                        const std::vector<Rgba>& pixels) const {
  using OIIO::TypeDesc;
  OIIO::ImageSpec spec(width, height, 4, bits == 16 ? TypeDesc::UINT16 : TypeDesc::UINT8);
  spec.attribute("oiio:UnassociatedAlpha", 1);  // the values are written as given
  std::vector<uint16_t> words;
  std::vector<uint8_t> bytes;
  for (const Rgba& p : pixels) {
    for (int c : {p.r, p.g, p.b, p.a}) {
      words.push_back(static_cast<uint16_t>(c));
      bytes.push_back(static_cast<uint8_t>(c));
    }
  }
  auto out = OIIO::ImageOutput::create(path(name));
  ASSERT_TRUE(out && out->open(path(name), spec));
  ASSERT_TRUE(bits == 16 ? out->write_image(TypeDesc::UINT16, words.data())
                         : out->write_image(TypeDesc::UINT8, bytes.data()));
  ASSERT_TRUE(out->close());
}

Image ToolTest::read(const std::string& name) const {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path(name), &config);
  Image image;
  if (!in) {
    ADD_FAILURE() << "cannot read " << name;
    return image;
  }
  const OIIO::ImageSpec& spec = in->spec();
  image.width = spec.width;
  image.height = spec.height;
  image.channels = spec.nchannels;
  image.format = spec.format.c_str();
  image.values.resize(size_t(spec.width) * spec.height * spec.nchannels);
  const bool integer =
      spec.format == OIIO::TypeDesc::UINT8 || spec.format == OIIO::TypeDesc::UINT16;
  if (integer) {
    std::vector<uint16_t> raw(image.values.size());
    in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::UINT16, raw.data());
    // Read as 16 bits an 8-bit file arrives scaled by 257.
    const int scale = spec.format == OIIO::TypeDesc::UINT8 ? 257 : 1;
    std::transform(raw.begin(), raw.end(), image.values.begin(),
                   [scale](uint16_t v) { return static_cast<float>(v / scale); });
  } else {
    in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::FLOAT, image.values.data());
  }
  return image;
}

std::string ToolTest::bytes(const std::string& name) const { return Slurp(dir_ / name); }

std::vector<std::string> ToolTest::files() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

::testing::AssertionResult OneLineError(const RunResult& r, int status) {
  if (r.status != status) {
    return ::testing::AssertionFailure() << "status " << r.status << ", stderr: " << r.err;
  }
  if (r.err.empty() || r.err.back() != '\n' || std::count(r.err.begin(), r.err.end(), '\n') != 1 ||
      r.err.rfind("tilvane: ", 0) != 0) {
    return ::testing::AssertionFailure() << "not one line: [" << r.err << "]";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace tilvane_test
