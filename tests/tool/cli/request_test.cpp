// The typed request from the options as given: each option's value rule and
// the outputs it applies to, read from the option table itself, so an option
// added to the table is checked here without a line of its own.
#include "tools/tilvane/cli/request.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/tool/tool_support.h"
#include "tools/tilvane/core/errors.h"

namespace tilvane_tool {
namespace {

// Standard output onto /dev/null while it lives: -o - refuses a terminal.
class StandardOutputAside {
 public:
  StandardOutputAside() : saved_(dup(STDOUT_FILENO)) {
    std::fflush(stdout);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  ~StandardOutputAside() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  StandardOutputAside(const StandardOutputAside&) = delete;
  StandardOutputAside& operator=(const StandardOutputAside&) = delete;

 private:
  int saved_;
};

// A value the option takes: the table's own where it has a rule.
std::optional<std::string> Sample(const RenderOption& o) {
  if (o.range) return std::to_string(o.range->max);
  if (o.choices) return o.choices().back();
  if (o.kind() == ValueKind::Flag) return "true";
  static const std::map<std::string, std::string> others = {{"icon", "i.png"},
                                                            {"displacement", "d.png"},
                                                            {"size", "8x8"},
                                                            {"rate", "24"},
                                                            {"time-step", "2"},
                                                            {"time-scale", "48"},
                                                            {"icon-rate", "24"},
                                                            {"displacement-rate", "24"},
                                                            {"duration", "10"},
                                                            {"frame", "1"},
                                                            {"frames", "0-1"},
                                                            {"start-number", "1"},
                                                            {"fit-displacement", "stretch"},
                                                            {"settings", "s.json"},
                                                            {"save-settings", "s.json"}};
  const auto it = others.find(o.key());
  return it == others.end() ? std::nullopt : std::optional(it->second);
}

// Sets the option as the command line or a settings file would.
void Give(RenderArgs& args, const RenderOption& o, const std::string& value, bool fromSettings) {
  SetFromSettings(o, args, value, true, "");
  if (!fromSettings) args.fromSettings.erase(o.key());
}

std::string Refusal(const RenderArgs& args) {
  try {
    ParseRequest(args);
  } catch (const UsageError& e) {
    return e.what();
  }
  return "";
}

class Requests : public tilvane_test::ToolTest {
 protected:
  // An output of each kind, numbered so that a range and --start-number fit.
  std::vector<std::pair<Outputs, std::string>> outputs() const {
    return {{kPngOutput, path("o.####.png")}, {kTiffOutput, path("o.####.tiff")},
            {kExrOutput, path("o.####.exr")}, {kJpegOutput, path("o.####.jpeg")},
            {kDpxOutput, path("o.####.dpx")}, {kWebpOutput, path("o.####.webp")},
            {kMovieOutput, path("o.mkv")},    {kStreamOutput, "-"}};
  }
  RenderArgs args(const std::string& output) const {
    RenderArgs a;
    a.icon = "i.png";
    a.output = output;
    return a;
  }
  std::string output(Outputs kind) const {
    for (const auto& [k, name] : outputs()) {
      if (k & kind) return name;
    }
    return "";
  }

  const StandardOutputAside aside_;
};

TEST_F(Requests, EveryOptionIsTakenForItsOutputsAndRefusedByNameForTheOthers) {
  for (const auto& [kind, name] : outputs()) EXPECT_EQ(OutputKindOf(name), kind) << name;
  for (const RenderOption& o : RenderOptions()) {
    if (o.key() == "output") continue;
    const auto value = Sample(o);
    ASSERT_TRUE(value) << "give --" << o.key() << " a sample value here";
    for (const auto& [kind, name] : outputs()) {
      RenderArgs a = args(name);
      Give(a, o, *value, false);
      const std::string refusal = Refusal(a);
      if (o.outputs & kind) {
        EXPECT_EQ(refusal, "") << "--" << o.key() << " " << *value << " -o " << name;
      } else {
        EXPECT_EQ(refusal.rfind("--" + o.key() + " ", 0), 0u) << refusal;
        EXPECT_NE(refusal.find(kind == kStreamOutput ? "does not apply to -o -" : "end -o with"),
                  std::string::npos)
            << refusal;
      }
    }
  }
  // As worked out by hand: the stream's refusal once lacked --webp-quality.
  RenderArgs webp = args("-");
  webp.webpQuality = "50";
  EXPECT_EQ(Refusal(webp),
            "--webp-quality does not apply to -o -, which writes the frames to standard output "
            "as raw RGBA; leave it out, or give -o a file name");
  RenderArgs png = args(path("o.jpg"));
  png.pngCompression = "9";
  EXPECT_EQ(Refusal(png),
            "--png-compression applies to .png outputs only; end -o with .png, or leave it out");
  RenderArgs start = args(path("o.mov"));
  start.startNumber = "7";
  EXPECT_EQ(Refusal(start),
            "--start-number applies to image outputs only; end -o with .png, .tif, .exr, .jpg, "
            ".dpx or .webp, or leave it out");
}

// A look saved from one output renders any other: what a settings file gives
// for another kind of output waits, unread, for one it fits.
TEST_F(Requests, ASettingsFilesValueWaitsForAnOutputItFits) {
  for (const RenderOption& o : RenderOptions()) {
    if (o.key() == "output") continue;
    for (const auto& [kind, name] : outputs()) {
      RenderArgs a = args(name);
      Give(a, o, Sample(o).value_or(""), true);
      EXPECT_EQ(Refusal(a), "") << "--" << o.key() << " from a settings file, -o " << name;
    }
  }
}

TEST_F(Requests, EachValueIsCheckedByItsRuleAndNamedInTheRefusal) {
  for (const RenderOption& o : RenderOptions()) {
    if (!o.range && !o.oneOfChoices) continue;
    const std::string where = output(o.outputs);
    std::vector<std::string> taken, refused = {"", "x"};
    if (o.range) {
      taken = {std::to_string(o.range->min), std::to_string(o.range->max)};
      refused.push_back(std::to_string(o.range->min - 1));
      refused.push_back(std::to_string(o.range->max + 1));
      refused.push_back(std::to_string(o.range->min) + ".5");
    } else {
      for (std::string c : o.choices()) {
        for (char& ch : c) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        taken.push_back(c);  // in any case
      }
    }
    for (const std::string& value : taken) {
      EXPECT_NO_THROW(CheckValue(o, value)) << "--" << o.key() << " " << value;
    }
    for (const std::string& value : refused) {
      try {
        CheckValue(o, value);
        ADD_FAILURE() << "--" << o.key() << " '" << value << "' taken";
      } catch (const UsageError& e) {
        EXPECT_EQ(
            std::string(e.what()).rfind("--" + o.key() + " '" + value + "' is not valid; give ", 0),
            0u)
            << e.what();
      }
    }
    // The request refuses what the rule refuses.
    if (o.set) {
      RenderArgs a = args(where);
      Give(a, o, "x", false);
      EXPECT_NE(Refusal(a), "") << "--" << o.key();
    }
  }
}

TEST_F(Requests, CheckedValuesReachTheRequest) {
  const auto parse = [&](const std::string& output,
                         std::vector<std::pair<std::string, std::string>> given) {
    RenderArgs a = args(path(output));
    for (const auto& [key, value] : given) Give(a, *FindRenderOption(key), value, false);
    return ParseRequest(a);
  };
  const RenderRequest exr =
      parse("a.exr", {{"depth", "16"}, {"exr-type", "FLOAT"}, {"exr-compression", "DWAA"}});
  EXPECT_EQ(exr.depth, 16);
  EXPECT_TRUE(exr.image.exrFloat);
  EXPECT_EQ(exr.image.exrCompression, "dwaa");
  const RenderRequest png = parse("a.png", {{"png-compression", "0"}, {"png-filter", "Paeth"}});
  EXPECT_EQ(png.depth, 8);
  EXPECT_EQ(png.image.png.compression, 0);
  EXPECT_EQ(png.image.png.filter, PngFilter::Paeth);
  EXPECT_EQ(parse("a.jpg", {{"jpeg-quality", "1"}}).image.jpegQuality, 1);
  EXPECT_EQ(parse("a.tif", {{"tiff-compression", "LZW"}}).image.tiffCompression, "lzw");
  EXPECT_EQ(parse("a.dpx", {{"dpx-bits", "16"}}).image.dpxBits, 16);
  EXPECT_EQ(parse("a.webp", {{"webp-quality", "0"}}).image.webpQuality, 0);
  EXPECT_EQ(parse("a.mov", {{"quality", "0"}}).quality, 0);
  EXPECT_EQ(parse("a.mov", {}).quality, std::nullopt);
  EXPECT_EQ(parse("a.png", {{"threads", "3"}}).threads, 3);
}

}  // namespace
}  // namespace tilvane_tool
