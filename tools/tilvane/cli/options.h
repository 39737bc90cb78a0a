// The render command's options, each described once: its names, its value's
// name and help, where the command line puts it, whether a settings file
// keeps it and what --save-settings writes for it. Registration, settings
// files, --save-settings and --help all read this one table, so adding an
// option is one entry.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "tools/tilvane/job/controls.h"
#include "tools/tilvane/job/demo.h"
#include "tools/tilvane/job/plan.h"
#include "tools/tilvane/job/resolved.h"

namespace tilvane_tool {

// The render options as given, on the command line or in a settings file;
// ParseRequest checks them. A string's first value is the default --help shows.
struct RenderArgs {
  std::string icon, displacement, output, size, depth = "8";
  std::string rate, timeStep, timeScale, duration, frame, frames, startNumber;
  std::string iconRate, displacementRate;
  std::string fitDisplacement = "none";
  bool loopIcon = false;
  std::string pngCompression = std::to_string(kDefaultPngCompression);
  std::string pngFilter = PngFilterName(kDefaultPngFilter);
  // Not given: by each file's kind, and by the output's format. Given, even
  // empty, it must name a space that works.
  std::optional<std::string> inputColorSpace, outputColorSpace;
  std::string codec, quality;  // movies only
  bool noAudio = false;
  // Each for one image format only; "" the format's own default.
  std::string exrCompression, exrType, jpegQuality, tiffCompression, dpxBits, webpQuality;
  std::string threads, settings, saveSettings;
  bool quiet = false;
  bool noOverwrite = false;
  std::set<std::string> fromSettings;  // the keys a settings file set
};

// A value's type in a settings file.
enum class ValueKind { Text, Number, Flag };

// What --save-settings writes for an option: nothing, null (a default that is
// no value, such as "by the file's kind"), or a value.
struct SavedValue {
  enum class Is { Nothing, Null, Text, Number, Flag } is = Is::Nothing;
  std::string text{};
  int64_t number = 0;
  bool flag = false;
};

// What a render resolved, for --save-settings: the size, times and encoding
// it used, not only what was given.
struct Resolved {
  const RenderArgs& args;
  const RenderRequest& request;
  const ResolvedValues& values;
};

// The kinds of output, as a set: the ones an option applies to.
using Outputs = unsigned;
inline constexpr Outputs kPngOutput = 1u << 0, kTiffOutput = 1u << 1, kExrOutput = 1u << 2,
                         kJpegOutput = 1u << 3, kDpxOutput = 1u << 4, kWebpOutput = 1u << 5,
                         kMovieOutput = 1u << 6, kStreamOutput = 1u << 7;
inline constexpr Outputs kImageOutputs =
    kPngOutput | kTiffOutput | kExrOutput | kJpegOutput | kDpxOutput | kWebpOutput;
inline constexpr Outputs kEveryOutput = kImageOutputs | kMovieOutput | kStreamOutput;

// The kind of output -o names; 0 for a name the tool does not write.
Outputs OutputKindOf(const std::string& output);

// A whole number's range, and what its ends mean ("" for nothing to say).
struct Range {
  int64_t min = 0, max = 0;
  const char* low = "";
  const char* high = "";
};

// A value checked against its option's rule: the number, for a range or a
// number among choices, and the text as the rule takes it (a choice in lower
// case).
struct CheckedValue {
  int64_t number = 0;
  std::string text;
};

struct RenderOption {
  using Slot = std::variant<std::string RenderArgs::*, std::optional<std::string> RenderArgs::*,
                            bool RenderArgs::*>;
  const char* names;  // as CLI11 takes them: "-o,--output"
  // The value's name in --help; "" for a flag. Left out, it is the range
  // ("0-9") or the choices ("half|float").
  std::string typeName{};
  // "{values}" in it is the range ("1 (smallest) to 100 (best)") or the
  // choices ("8 or 16").
  std::string help;
  Slot slot;
  bool number = false;  // a settings file holds it as a JSON number
  // Whether settings files hold it. Options about this run alone (threads,
  // quiet, overwriting, the settings files themselves) are not kept.
  bool kept = false;
  // The values it takes, when they are a list: what completions offer.
  std::vector<std::string> (*choices)() = nullptr;
  // What --save-settings writes; nullptr: the value as given, null if none.
  SavedValue (*save)(const Resolved&) = nullptr;
  const char* excludes = nullptr;  // an option that cannot be given with it
  // Needed, but a settings file may give it, so the parse does not insist.
  bool required = false;
  // A file name: a settings file holds it relative to the file itself.
  bool path = false;
  // Not chosen, the render derives it from its layers (or a default): saved
  // marked so, and worked out again from the layers of a render reusing the file.
  bool derived = false;
  // The value's rule, checked by ParseRequest: a whole number in `range`, or
  // one of `choices` in any case (`oneOfChoices`). Others are checked where
  // they are used (a colour space by the colour library, a codec by its
  // container, the times by the job's timing).
  std::optional<Range> range{};
  bool oneOfChoices = false;
  // Where a checked value goes in the request.
  void (*set)(RenderRequest&, const CheckedValue&) = nullptr;
  // The outputs it applies to. Given on the command line for another, it is
  // refused by name; a settings file's waits for an output it fits.
  Outputs outputs = kEveryOutput;

  // The long name without dashes: the option's key in a settings file.
  std::string key() const;
  ValueKind kind() const;
};

// Every render option, in the order --help and settings files list them.
const std::vector<RenderOption>& RenderOptions();

// The option named key, or nullptr.
const RenderOption* FindRenderOption(const std::string& key);

// The option that cannot be given with this one, either way round, or nullptr.
const RenderOption* ExcludedWith(const RenderOption& option);

// Whether the option is set to other than its default: given, on the command
// line or by a settings file.
bool IsGiven(const RenderOption& option, const RenderArgs& args);

// The option's value in args as text ("" for none; a flag "true" or "").
std::string ValueOf(const RenderOption& option, const RenderArgs& args);

// text checked against the option's rule. Throws UsageError naming the option
// and what to give.
CheckedValue CheckValue(const RenderOption& option, const std::string& text);

// Why the option does not apply to `output` (one kind), and what to do.
std::string NotForOutput(const RenderOption& option, Outputs output);

// What a render option saves: the resolved value, or the one given.
SavedValue SavedFor(const RenderOption& option, const Resolved& resolved);

// Sets an option from a settings file's value, checked where the command
// line's are: a number as its digits, every one of a fraction kept, and a
// relative file name read from the directory of the file (`settings`).
void SetFromSettings(const RenderOption& option, RenderArgs& args, const std::string& text,
                     bool flag, const std::string& settings);

// Adds the demo command's options; --threads as given, for ParseThreads.
void AddDemoOptions(CLI::App& demo, DemoOptions& options, std::string& threads);

// Adds the render command's own options, and one per control of the plug-in.
void AddRenderOptions(CLI::App& render, RenderArgs& args);
void AddControlOptions(CLI::App& render, std::vector<ControlOption>& controls);

}  // namespace tilvane_tool
