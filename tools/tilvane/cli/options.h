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

// A number's range, and what its ends mean ("" for nothing to say). With
// `decimals`, the number may have up to that many digits after the point, and
// min, max and the checked number count in those steps (3: thousandths).
struct Range {
  int64_t min = 0, max = 0;
  const char* low = "";
  const char* high = "";
  const char* unit = "";  // what the number counts, after the range: "seconds"
  int decimals = 0;
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

// The farm's commands, as a set: the ones a farm option belongs to.
using FarmCommandSet = unsigned;
inline constexpr FarmCommandSet kFarmSubmit = 1u << 0, kFarmTask = 1u << 1, kFarmJoin = 1u << 2,
                                kFarmWait = 1u << 3, kFarmStatus = 1u << 4, kFarmResume = 1u << 5;
struct FarmCommandName {
  FarmCommandSet command;
  const char* name;
};
// Each farm command's name, in the order `tilvane farm --help` lists them.
inline constexpr FarmCommandName kFarmCommandNames[] = {
    {kFarmSubmit, "submit"}, {kFarmTask, "task"},     {kFarmJoin, "join"},
    {kFarmWait, "wait"},     {kFarmStatus, "status"}, {kFarmResume, "resume"}};

// The farm's own options, checked as the command line gives them.
struct FarmArgs {
  int64_t chunk = 0;       // frames a task; 0: by the range
  int64_t maxRunning = 0;  // 0: as many as the cluster takes
  std::string partition, jobName, jobDir;
  std::string dir;                   // the job folder the other commands read
  std::string frames;                // a task's, checked against the job's range
  int64_t intervalMilliseconds = 0;  // wait's; the table gives the default
};

// One option of the farm's commands, described once as a render option is:
// --help, the manual page, the reference and the completions read it, and the
// command line checks its value by its rule before `set` stores it.
struct FarmOption {
  const char* names;             // "--chunk"; a name without dashes is given bare ("dir")
  std::string typeName;          // the value's name; left out, the range ("1-1000000")
  std::string help;              // "{values}" in it is the range ("1 to 1000000 frames")
  FarmCommandSet commands = 0;   // the commands that take it
  std::optional<Range> range{};  // the value's rule; none: any text
  bool required = false;
  const char* byDefault = "";  // the value when not given, as the user would write it
  void (*set)(FarmArgs&, const CheckedValue&) = nullptr;

  // The name as the command line shows it: "--chunk", or "DIR" for one given bare.
  std::string shown() const;
  bool bare() const;
};

// Every farm option, in the order --help lists them.
const std::vector<FarmOption>& FarmOptions();

// The option of `command` (one farm command) named `name` ("--chunk"), or nullptr.
const FarmOption* FindFarmOption(const std::string& name, FarmCommandSet command);

// The names of the commands in `commands`, as "'tilvane farm submit'".
std::vector<std::string> FarmCommandsShown(FarmCommandSet commands);

CheckedValue CheckValue(const FarmOption& option, const std::string& text);

// Adds the options of the farm command `command` (one of the set), in `group`
// for --help ("" the command's own); each value is checked as it is parsed.
void AddFarmOptions(CLI::App& app, FarmCommandSet command, FarmArgs& args,
                    const std::string& group = "");

// Adds the demo command's options; --threads as given, for ParseThreads.
void AddDemoOptions(CLI::App& demo, DemoOptions& options, std::string& threads);

// Adds the render command's own options, and one per control of the plug-in.
void AddRenderOptions(CLI::App& render, RenderArgs& args);
void AddControlOptions(CLI::App& render, std::vector<ControlOption>& controls);

}  // namespace tilvane_tool
